#pragma once
// The deblocking filter's core, independent of any host: its parameters and thresholds, one frame
// through the kernels of a tier on any worker service, and the plain reference that defines every
// output bit.
#include <cstdint>

#include "core/filter_core.h"
#include "core/pixel.h"
#include "core/workers.h"
#include "deblock/deblock_dsp.h"
#include "deblock/deblock_tables.h"

namespace core {
struct RgbaDsp;
}  // namespace core

namespace deblock {

struct DeblockParams {
  int32_t quant;     // 0..60: base of both table indexes
  int32_t a_offset;  // 0..60: added to quant for alpha and tc0
  int32_t b_offset;  // 0..60: added to quant for beta
};

// Track values in declaration order (quant, aOffset, bOffset), each clamped into 0..60.
DeblockParams ParamsFromTracks(const int32_t* tracks);

// Edge thresholds in sample units, 16 to an 8-bit level (table value x 16).
struct Thresholds {
  int32_t alpha;
  int32_t beta;
  int32_t tc0;
};
// indexA = quant + a_offset and indexB = quant + b_offset, each limited to 0..60; alpha and tc0
// come from indexA, beta from indexB.
Thresholds ComputeThresholds(int32_t quant, int32_t a_offset, int32_t b_offset);
inline Thresholds ThresholdsFor(const DeblockParams& p) {
  return ComputeThresholds(p.quant, p.a_offset, p.b_offset);
}
// No line passes |p0 - q0| < 0 or |p1 - p0| < 0: with either threshold 0 (quant + offset up to 15)
// every frame stays as it is.
inline bool ChangesNothing(const Thresholds& t) { return t.alpha == 0 || t.beta == 0; }

// Filters `edit` in place, Y, Cb and Cr alike, the result for `partitions` (>= 1; below 1 counts as
// 1): the picture's rows fall into that many bands, and each band's grid rows continue its own first
// row in steps of 4. Any number of workers computes it; nothing outside the w x h picture is read or
// written, and every edge line with a sample outside it is left out. Where alpha or beta is 0 no
// line can pass, and the workers are not even started.
void FilterFrame(const DeblockDsp& dsp, const DeblockParams& params, const core::Plane& edit,
                 int32_t partitions, const core::Workers& workers);

// The same on an 8-bit RGBA image of w x h pixels, rows 4 w bytes apart: the result equals converting
// the image to samples (core::RgbToYc), filtering them, and converting back (core::YcToRgb), every
// alpha byte as it was. With one partition the rows pass through a ring of sample rows at the top of
// `temp` (scratch of w x h samples) as the filter reaches them, so the picture crosses memory once
// each way.
void FilterFrameRgba(const DeblockDsp& dsp, const core::RgbaDsp& rgba_dsp, const DeblockParams& params,
                     uint8_t* rgba, int32_t w, int32_t h, const core::Plane& temp, int32_t partitions,
                     const core::Workers& workers);

// The same result computed literally on the calling thread: the bands one after another, each grid
// row left to right, horizontal then vertical edge at each grid point, one edge line at a time.
void ReferenceFilterFrame(const DeblockParams& params, const core::Plane& edit, int32_t partitions);

// The filter as its core record gives it to hosts and tools.
void FilterWithTracks(core::CpuFlags flags, const int32_t* tracks, const core::Plane& edit,
                      const core::Plane& temp, int32_t partitions, const core::Workers& workers);
void FilterRgbaWithTracks(core::CpuFlags flags, const int32_t* tracks, uint8_t* rgba, int32_t w, int32_t h,
                          const core::Plane& temp, int32_t partitions, const core::Workers& workers);
void ReferenceWithTracks(const int32_t* tracks, const core::Plane& edit, int32_t partitions);
inline bool ChangesNothingWithTracks(const int32_t* tracks) {
  return ChangesNothing(ThresholdsFor(ParamsFromTracks(tracks)));
}
inline constexpr core::FilterCore kDeblockCore = {.name = "deblock",
                                                  .title = kTitle,
                                                  .tracks = kTracks,
                                                  .track_count = kTrackCount,
                                                  .needs_temp = false,
                                                  .filter = &FilterWithTracks,
                                                  .reference = &ReferenceWithTracks,
                                                  .filter_rgba = &FilterRgbaWithTracks,
                                                  .changes_nothing = &ChangesNothingWithTracks};

}  // namespace deblock
