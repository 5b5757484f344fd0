#pragma once
// A filter's settings, its tracks: each a whole number in a range with a default, shown as a bar or
// as a list of labels. Every host derives what it shows and what it checks from one list of them.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace core {

enum class TrackKind : int32_t {
  kBar,   // a bar over min .. max
  kList,  // a choice of max - min + 1 labels, label i for the value min + i
};

struct Track {
  const char* name;  // short, ASCII: hosts save and set tracks by it
  TrackKind kind;
  int32_t min;
  int32_t max;
  int32_t def;
  const char* const* labels;  // kList: max - min + 1 ASCII labels; kBar: null
};

// The value a filter takes for v: v inside the track's range, else the nearer end. The one range
// check of a track value; a host that refuses values outside the range asks whether v comes back.
constexpr int32_t ClampTrack(const Track& t, int64_t v) {
  return v < t.min ? t.min : v > t.max ? t.max : static_cast<int32_t>(v);
}

// What every host relies on in a track: a name, min <= def <= max, and labels exactly for a list.
constexpr bool TrackIsSound(const Track& t) {
  if (t.name == nullptr || t.min > t.max || ClampTrack(t, t.def) != t.def) return false;
  if (t.kind == TrackKind::kBar) return t.labels == nullptr;
  // (Compilers that keep null checks of addresses cannot compare a named array's with null at compile
  // time; there a list without labels fails to compile at the first label read.)
  if (!std::is_constant_evaluated() && t.labels == nullptr) return false;
  for (int64_t i = 0; i <= int64_t{t.max} - t.min; ++i)
    if (t.labels[i] == nullptr) return false;
  return true;
}

template <size_t N>
constexpr bool TracksAreSound(const Track (&tracks)[N]) {
  for (const Track& t : tracks)
    if (!TrackIsSound(t)) return false;
  return true;
}

}  // namespace core
