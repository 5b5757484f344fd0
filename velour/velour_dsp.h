#pragma once
// Kernels of the smoothing filter behind one table: the scalar ones are the oracle, vector tiers
// replace what they improve.
#include <cstddef>
#include <cstdint>

#include "host/cpu.h"

namespace velour {

// In-place 8x8 Walsh-Hadamard transform with saturating butterflies and a final floor(x / 8).
using Wht8x8Fn = void (*)(int16_t* block);
// Filters a row of `count` blocks whose top-left pixels are 8 apart, starting at `luma`
// (working luma, rows `luma_stride` samples apart): forward transform, requantise coefficients
// 1..63 with `steps`, inverse transform, then adds block rows row_begin .. row_end - 1 into `acc`
// (the accumulator sample of the first block's top-left pixel, rows `acc_stride` apart),
// wrapping modulo 65536.
using FilterBlockRowFn = void (*)(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride,
                                  int count, int row_begin, int row_end, const int16_t* steps);

struct VelourDsp {
  Wht8x8Fn Wht8x8;
  FilterBlockRowFn FilterBlockRow;
};

void InitVelourDsp(VelourDsp& dsp, host::CpuFlags flags);
// The table for this CPU, built on first use.
const VelourDsp& DetectedVelourDsp();

// Scalar kernels (the oracle).
void WhtColumns_C(int16_t* block);
void Wht8x8_C(int16_t* block);
void Requantize_C(int16_t* block, const int16_t* steps);
void FilterBlockRow_C(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride, int count,
                      int row_begin, int row_end, const int16_t* steps);

}  // namespace velour
