#pragma once
// Track values as hosts and tools set them from outside: the defaults, and a value set by its
// track's name, refused with a message when the track has no such name or range.
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/filter_core.h"
#include "core/tracks.h"

namespace core {

class TrackError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The default of every track, in order.
std::vector<int32_t> DefaultTrackValues(const Track* tracks, int32_t count);
inline std::vector<int32_t> DefaultTrackValues(const FilterCore& core) {
  return DefaultTrackValues(core.tracks, core.track_count);
}

// Sets values[i] for the track i named `name`. Throws TrackError, naming the filter by `title`, when
// no track has that name or `value` lies outside its range; `text` is the value as it was given.
void SetTrackByName(std::string_view title, const Track* tracks, int32_t count, int32_t* values,
                    std::string_view name, int64_t value, std::string_view text);
void SetTrackByName(const FilterCore& core, std::vector<int32_t>& values, std::string_view name,
                    int64_t value);

}  // namespace core
