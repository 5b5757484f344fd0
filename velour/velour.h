#pragma once
// The smoothing filter's core, independent of any host: its parameters, one frame through the
// kernels of a tier on any worker service, and the plain reference that defines every output bit.
#include <cstdint>

#include "core/filter_core.h"
#include "core/pixel.h"
#include "core/workers.h"
#include "velour/velour_dsp.h"
#include "velour/velour_tables.h"

namespace core {
struct RgbaDsp;
}

namespace velour {

struct VelourParams {
  int32_t quant;        // 1..31: multiplies every quantiser step
  int32_t n_shift;      // 1..64: shifted grids asked for
  int32_t matrix;       // 0..4: the base quantiser matrix
  int32_t zero_weight;  // 0..64: copies of the unfiltered luma in the average
};

// Track values in declaration order (quant, n_shift, matrix, zero_weight), each clamped into its
// range.
VelourParams ParamsFromTracks(const int32_t* tracks);

// Filters the luma of `edit` in place; chroma and everything outside the w x h picture stay as they
// are. `temp` is scratch of the same shape whose picture is overwritten. The result is that for
// `partitions` (>= 1; below 1 counts as 1): n_shift rounded up to a multiple of it, at most 64 passes.
// Any number of workers computes it; pictures of any size, 0 x 0 included.
void FilterFrame(const VelourDsp& dsp, const VelourParams& params, const core::Plane& edit,
                 const core::Plane& temp, int32_t partitions, const core::Workers& workers);

// The same on an RGBA image of 8 or 16 bits a channel: the result equals converting the image to
// samples (core::RgbToYc or core::Pa64ToYc), filtering them, and converting back (core::YcToRgb or
// core::YcToPa64), with every alpha value as it was; but each row is converted as the filter takes
// and leaves it, so no plane of samples is needed. `temp` is scratch of w x h samples.
void FilterFrameRgba(const VelourDsp& dsp, const core::RgbaDsp& rgba_dsp, const VelourParams& params,
                     const core::RgbaImage& image, const core::Plane& temp, int32_t partitions,
                     const core::Workers& workers);

// The same result computed literally on the calling thread, one pass after another over the whole
// picture with the scalar kernels, the exact sums in a buffer of its own.
void ReferenceFilterFrame(const VelourParams& params, const core::Plane& edit, int32_t partitions);

// The step table of a frame: base matrix `matrix` scaled by `quant`, capped at 255.
void LoadStepTable(int16_t* steps, int32_t matrix);
void ScaleStepTable(int16_t* steps, int32_t quant);

// Number of passes a frame runs for n_shift and a partition count T: T * ceil(n_shift / T), at
// most 64.
int PassCount(int32_t n_shift, int32_t partitions);

// The output sample: accumulator x 16 / weight, truncated toward zero, low 16 bits kept.
inline int16_t AverageSample(int32_t acc, int32_t weight) { return static_cast<int16_t>(acc * 16 / weight); }

// One pass of the reference over the whole picture: `luma` holds working luma and `acc` the exact
// sums, both w x h, row-major. Shift index s in 0..63.
void ReferenceShiftedGridPass(const int16_t* luma, int32_t* acc, int w, int h, const int16_t* steps, int s);
// Adds working luma into the sum of every pixel outside the blocks of grid (dx, dy).
void ReferenceAddBorderLuma(const int16_t* luma, int32_t* acc, int w, int h, int dx, int dy);

// The filter as its core record gives it to hosts and tools.
void FilterWithTracks(core::CpuFlags flags, const int32_t* tracks, const core::Plane& edit,
                      const core::Plane& temp, int32_t partitions, const core::Workers& workers);
void FilterRgbaWithTracks(core::CpuFlags flags, const int32_t* tracks, const core::RgbaImage& image,
                          const core::Plane& temp, int32_t partitions, const core::Workers& workers);
void ReferenceWithTracks(const int32_t* tracks, const core::Plane& edit, int32_t partitions);
inline constexpr core::FilterCore kVelourCore = {.name = "velour",
                                                 .title = kTitle,
                                                 .tracks = kTracks,
                                                 .track_count = kTrackCount,
                                                 .needs_temp = true,
                                                 .filter = &FilterWithTracks,
                                                 .reference = &ReferenceWithTracks,
                                                 .filter_rgba = &FilterRgbaWithTracks,
                                                 .changes_nothing = nullptr};

}  // namespace velour
