#pragma once
// The deblocking filter as the rest of the project sees it: its filter records, the thresholds and
// the plain reference that defines every output bit.
#include <cstdint>

#include "host/cpu.h"
#include "host/host_abi.h"

namespace deblock {

// The record the plug-in hands to the host; its processing function picks kernels by CPUID.
host::FilterTable* DeblockFilterTable();
// The same record with kernels of a forced tier (flags as from host::CpuFlagsForTier).
host::FilterTable* DeblockFilterTableForTier(host::CpuFlags flags);

// Edge thresholds in host sample units (table value x 16).
struct Thresholds {
  int32_t alpha;
  int32_t beta;
  int32_t tc0;
};
// indexA = quant + a_offset and indexB = quant + b_offset, each limited to 0..60; alpha and tc0
// come from indexA, beta from indexB.
Thresholds ComputeThresholds(int32_t quant, int32_t a_offset, int32_t b_offset);
// Track values as the filter uses them: each clamped into 0..60 (values a host never sends).
Thresholds ThresholdsForTracks(const int32_t* tracks);

// Filters one frame as the host-driven filter does with T workers, on the calling thread: the bands
// of T one after another, each grid row left to right, horizontal then vertical edge at each grid
// point, every edge line with a sample outside the w x h picture left out. Tracks: quant, aOffset,
// bOffset.
void ReferenceProcessFrame(host::FrameInfo* frame, const int32_t* tracks, int threads);

}  // namespace deblock
