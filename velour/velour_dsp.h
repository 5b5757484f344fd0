#pragma once
// Kernels of the smoothing filter behind one table: the scalar ones are the oracle, vector tiers
// replace what they improve.
#include <cstddef>
#include <cstdint>

#include "host/cpu.h"

namespace velour {

// In-place 8x8 Walsh-Hadamard transform with saturating butterflies and a final floor(x / 8).
using Wht8x8Fn = void (*)(int16_t* block);
// Coefficients 1..63 of a transformed block become steps[k] * trunc(block[k] / steps[k]). Vector
// kernels take coefficients as Wht8x8 leaves them, in [-4096, 4095].
using RequantizeFn = void (*)(int16_t* block, const int16_t* steps);
// Filters a row of `count` blocks whose top-left pixels are 8 apart, starting at `luma`
// (working luma, rows `luma_stride` samples apart): forward transform, requantise coefficients
// 1..63 with `steps`, inverse transform, then adds block rows row_begin .. row_end - 1 into `acc`
// (the accumulator sample of the first block's top-left pixel, rows `acc_stride` apart),
// wrapping modulo 65536.
using FilterBlockRowFn = void (*)(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride,
                                  int count, int row_begin, int row_end, const int16_t* steps);
// luma[x] = y[3 * x] >> 4 for x in 0 .. n - 1: the host's luma (every third sample) to 8-bit scale.
using LumaRowFn = void (*)(const int16_t* y, int16_t* luma, int n);
// acc[x] = luma[x] * weight, keeping the low 16 bits.
using SeedRowFn = void (*)(const int16_t* luma, int16_t* acc, int n, int32_t weight);
// acc[x] += luma[x], wrapping modulo 65536.
using AddRowFn = void (*)(const int16_t* luma, int16_t* acc, int n);
// y[3 * x] = low 16 bits of trunc(acc[x] * 16 / weight), weight in 1..128.
using AverageRowFn = void (*)(const int16_t* acc, int16_t* y, int n, int32_t weight);

struct VelourDsp {
  Wht8x8Fn Wht8x8;
  RequantizeFn Requantize;
  FilterBlockRowFn FilterBlockRow;
  LumaRowFn LumaRow;
  SeedRowFn SeedRow;
  AddRowFn AddRow;
  AverageRowFn AverageRow;
};

void InitVelourDsp(VelourDsp& dsp, host::CpuFlags flags);
// The table for this CPU, built on first use.
const VelourDsp& DetectedVelourDsp();

// Vector requantisation divides a magnitude a in [0, 4096] (every |coefficient| a forward transform
// gives) by a step q in [kMinVectorStep, 255] as floor(floor(a * mul / 2^16) * shift / 2^16), with
// 2^r < q <= 2^(r + 4), mul = ceil(2^(16 + r) / q) < 2^16 and shift = 2^(16 - r). It is exact because
// mul * q - 2^(16 + r) < q <= 2^(r + 4), so a * (mul * q - 2^(16 + r)) < 2^(16 + r) for every a <= 4096.
// Vector kernels hand step tables with other steps to the scalar kernels.
inline constexpr int kMinVectorStep = 3;
inline constexpr int kMaxVectorStep = 255;
struct StepReciprocal {
  uint16_t mul;
  uint16_t shift;
};
constexpr StepReciprocal MakeStepReciprocal(int q) {
  int r = 0;
  while ((2 << r) < q) ++r;  // 2^r < q <= 2^(r + 1)
  const uint32_t n = uint32_t{1} << (16 + r);
  return {static_cast<uint16_t>((n + q - 1) / q), static_cast<uint16_t>(1u << (16 - r))};
}
inline constexpr bool IsVectorStep(int q) { return q >= kMinVectorStep && q <= kMaxVectorStep; }
struct StepReciprocalTable {
  StepReciprocal entry[kMaxVectorStep + 1];
};
constexpr StepReciprocalTable MakeStepReciprocalTable() {
  StepReciprocalTable t{};
  for (int q = kMinVectorStep; q <= kMaxVectorStep; ++q) t.entry[q] = MakeStepReciprocal(q);
  return t;
}
inline constexpr StepReciprocalTable kStepReciprocals = MakeStepReciprocalTable();

// Scalar kernels (the oracle).
void WhtColumns_C(int16_t* block);
void Wht8x8_C(int16_t* block);
void Requantize_C(int16_t* block, const int16_t* steps);
void FilterBlockRow_C(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride, int count,
                      int row_begin, int row_end, const int16_t* steps);
void LumaRow_C(const int16_t* y, int16_t* luma, int n);
void SeedRow_C(const int16_t* luma, int16_t* acc, int n, int32_t weight);
void AddRow_C(const int16_t* luma, int16_t* acc, int n);
void AverageRow_C(const int16_t* acc, int16_t* y, int n, int32_t weight);

}  // namespace velour
