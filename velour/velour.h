#pragma once
// The smoothing filter as the rest of the project sees it: its filter records and the plain
// reference that defines every output bit.
#include <cstdint>

#include "host/cpu.h"
#include "host/host_abi.h"

namespace velour {

// The record the plug-in hands to the host; its processing function picks kernels by CPUID.
host::FilterTable* VelourFilterTable();
// The same record with kernels of a forced tier (flags as from host::CpuFlagsForTier).
host::FilterTable* VelourFilterTableForTier(host::CpuFlags flags);

// The step table of a frame: base matrix `matrix` scaled by `quant`, capped at 255.
void LoadStepTable(int16_t* steps, int32_t matrix);
void ScaleStepTable(int16_t* steps, int32_t quant);

// Number of passes a frame runs for n_shift and T workers: T * ceil(n_shift / T), at most 64.
int PassCount(int32_t n_shift, int32_t threads);

// The output sample: accumulator x 16 / weight, truncated toward zero, low 16 bits kept.
inline int16_t AverageSample(int16_t acc, int32_t weight) { return static_cast<int16_t>(int32_t{acc} * 16 / weight); }

// One pass of the reference on the whole frame: the edit plane's luma is working luma, the temp
// plane's luma the accumulator. Shift index s in 0..63.
void ReferenceShiftedGridPass(host::FrameInfo* frame, const int16_t* steps, int s);
// Adds working luma into the accumulator of every pixel outside the blocks of grid (dx, dy).
void ReferenceAddBorderLuma(host::FrameInfo* frame, int dx, int dy);

// Filters one frame exactly as the host-driven filter does with T workers, on the calling thread,
// one pass after another with the scalar kernels. Tracks: quant, n_shift, matrix, zero_weight.
void ReferenceProcessFrame(host::FrameInfo* frame, const int32_t* tracks, int threads);

}  // namespace velour
