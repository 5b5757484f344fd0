#pragma once
// A filter as every host and tool sees it, apart from any editor's records: its names, its tracks,
// and its core.
#include <cstdint>

#include "core/cpu.h"
#include "core/pixel.h"
#include "core/rgba_dsp.h"
#include "core/tracks.h"
#include "core/workers.h"

namespace core {

struct FilterCore {
  const char* name;   // short name, e.g. "velour": the tools' name and the plug-in files' base name
  const char* title;  // full name, e.g. "Velour for AviUtl"
  const Track* tracks;
  int32_t track_count;
  bool needs_temp;  // `filter` overwrites `temp`; without it, `temp` may be an empty plane
  // Filters the picture of `edit` in place with the kernels of tier `flags`, giving the result for
  // `partitions` (>= 1), whatever the number of `workers` that compute it. `temp` is a scratch plane
  // of the same shape. Track values in the tracks' order; values outside their ranges are clamped.
  void (*filter)(CpuFlags flags, const int32_t* tracks, const Plane& edit, const Plane& temp,
                 int32_t partitions, const Workers& workers);
  // The same result from the plain scalar reference, on the calling thread.
  void (*reference)(const int32_t* tracks, const Plane& edit, int32_t partitions);
  // Null, or the same filter on an RGBA image of either depth (core/rgba_dsp.h): the result of
  // converting it to samples, filtering, and converting back, alpha untouched, computed without a
  // plane of samples; `temp` is scratch of w x h samples. Where `changes_nothing` holds, the image
  // may be left as it is instead. (A filter that changes only luma can convert each row as it takes
  // and leaves it.)
  void (*filter_rgba)(CpuFlags flags, const int32_t* tracks, const RgbaImage& image, const Plane& temp,
                      int32_t partitions, const Workers& workers);
  // Null, or true when these track values leave every sample of any picture as it is, so that a
  // host may pass frames on untouched.
  bool (*changes_nothing)(const int32_t* tracks);
};

}  // namespace core
