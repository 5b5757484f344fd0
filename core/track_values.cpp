#include "core/track_values.h"

#include <string>

namespace core {

std::vector<int32_t> DefaultTrackValues(const Track* tracks, int32_t count) {
  std::vector<int32_t> values;
  for (int32_t i = 0; i < count; ++i) values.push_back(tracks[i].def);
  return values;
}

void SetTrackByName(std::string_view title, const Track* tracks, int32_t count, int32_t* values,
                    std::string_view name, int64_t value, std::string_view text) {
  const std::string filter(title), track(name);
  for (int32_t i = 0; i < count; ++i) {
    const Track& t = tracks[i];
    if (name != t.name) continue;
    if (ClampTrack(t, value) != value)
      throw TrackError("track bar '" + track + "' of '" + filter + "' takes " + std::to_string(t.min) + ".." +
                       std::to_string(t.max) + ", not " + std::string(text));
    values[i] = static_cast<int32_t>(value);
    return;
  }
  std::string names;
  for (int32_t i = 0; i < count; ++i) names += (i == 0 ? "" : ", ") + std::string(tracks[i].name);
  throw TrackError("'" + filter + "' has no track bar '" + track + "' (it has: " + names + ")");
}

void SetTrackByName(const FilterCore& core, std::vector<int32_t>& values, std::string_view name,
                    int64_t value) {
  SetTrackByName(core.title, core.tracks, core.track_count, values.data(), name, value,
                 std::to_string(value));
}

}  // namespace core
