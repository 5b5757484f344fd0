#pragma once
// The deblocking filter's core, independent of any host: its parameters and thresholds, one frame
// through the kernels of a tier on any worker service, and the plain reference that defines every
// output bit.
#include <cstdint>

#include "deblock/deblock_dsp.h"
#include "deblock/deblock_tables.h"
#include "host/filter_core.h"
#include "host/pixel.h"
#include "host/rgba_dsp.h"
#include "host/workers.h"

namespace deblock {

struct DeblockParams {
  int32_t quant;     // 0..60: base of both table indexes
  int32_t a_offset;  // 0..60: added to quant for alpha and tc0
  int32_t b_offset;  // 0..60: added to quant for beta
};

// Track values in declaration order (quant, aOffset, bOffset), each clamped into 0..60.
DeblockParams ParamsFromTracks(const int32_t* tracks);

// Edge thresholds in host sample units (table value x 16).
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

// Filters `edit` in place, Y, Cb and Cr alike, the result the editor gives with `partitions` worker
// threads: the picture's rows fall into that many bands, and each band's grid rows continue its own
// first row in steps of 4. partitions 0 takes the worker count of the run itself (the editor's own
// service). Any number of workers computes it; nothing outside the w x h picture is read or
// written, and every edge line with a sample outside it is left out. Where alpha or beta is 0 no
// line can pass, and the workers are not even started.
void FilterFrame(const DeblockDsp& dsp, const DeblockParams& params, const host::Plane& edit,
                 int32_t partitions, const host::Workers& workers);

// The same on an 8-bit RGBA image of w x h pixels, rows 4 w bytes apart: the result equals converting
// the image to samples (host::RgbaToYc), filtering them, and converting back (host::YcToRgb), every
// alpha byte as it was. With one partition the rows pass through a ring of sample rows at the top of
// `temp` (scratch of w x h samples) as the filter reaches them, so the picture crosses memory once
// each way.
void FilterFrameRgba(const DeblockDsp& dsp, const host::RgbaDsp& rgba_dsp, const DeblockParams& params,
                     uint8_t* rgba, int32_t w, int32_t h, const host::Plane& temp, int32_t partitions,
                     const host::Workers& workers);

// The same result computed literally on the calling thread: the bands one after another, each grid
// row left to right, horizontal then vertical edge at each grid point, one edge line at a time.
void ReferenceFilterFrame(const DeblockParams& params, const host::Plane& edit, int32_t partitions);

// The filter as hosts and tools see it.
void FilterWithTracks(host::CpuFlags flags, const int32_t* tracks, const host::Plane& edit,
                      const host::Plane& temp, int32_t partitions, const host::Workers& workers);
void FilterRgbaWithTracks(host::CpuFlags flags, const int32_t* tracks, uint8_t* rgba, int32_t w, int32_t h,
                          const host::Plane& temp, int32_t partitions, const host::Workers& workers);
void ReferenceWithTracks(const int32_t* tracks, const host::Plane& edit, int32_t partitions);
inline constexpr host::FilterCore kDeblockCore = {
    "deblock",      kTitle,         kTrackCount,       kTrackNames,          kTrackDefaults,
    kTrackMinimums, kTrackMaximums, &FilterWithTracks, &ReferenceWithTracks, &FilterRgbaWithTracks};

}  // namespace deblock
