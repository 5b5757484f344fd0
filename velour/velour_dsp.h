#pragma once
// Kernels of the smoothing filter behind one table: the scalar ones are the oracle, vector tiers
// replace what they improve.
//
// The accumulator holds the exact sum of a pixel's contributions in 32 bits. Working luma is a
// luma sample shifted right by 4, in [-2048, 2047]; a transformed-back block value is a 16-bit
// value shifted right by 3, in [-4096, 4095]. So up to 64 seeded copies and 64 passes sum to at
// most 128 * 4096 = 2^19 in magnitude, and sum * 16 to 2^23.
#include <cstddef>
#include <cstdint>

#include "core/cpu.h"

namespace velour {

// An accumulator sample. Accumulator lines live inside the temp plane, whose storage is aligned to
// 2 bytes only.
typedef int32_t AccSample __attribute__((aligned(2)));

// Lines of luma and of sums are a pitch apart, a distance in bytes (the temp plane's rows are 6
// bytes a pixel long). The ISA files use the functions of this header too: each has internal
// linkage, so that every file keeps its own copy, compiled for its own instruction set.
static inline const int16_t* LumaLineAt(const int16_t* line, ptrdiff_t bytes) {
  return reinterpret_cast<const int16_t*>(reinterpret_cast<const char*>(line) + bytes);
}
static inline int16_t* PartialLineAt(int16_t* line, ptrdiff_t bytes) {
  return reinterpret_cast<int16_t*>(reinterpret_cast<char*>(line) + bytes);
}
static inline AccSample* AccLineAt(AccSample* line, ptrdiff_t bytes) {
  return reinterpret_cast<AccSample*>(reinterpret_cast<char*>(line) + bytes);
}

// Passes add into 16-bit partial sums, which a fold adds into the 32-bit sums at least every
// kPartialContributions contributions: each contribution lies in [-4096, 4095], so that many lie in
// [-32768, 32760] and the 16-bit partial sum is exact. (Where there is no room for partial sums,
// the passes add into the 32-bit sums directly: the Wide kernels.)
inline constexpr int kPartialContributions = 8;

// Filters a row of `count` blocks whose top-left pixels are 8 apart, starting at `luma`
// (working luma, rows `luma_pitch` bytes apart): forward transform, requantise coefficients 1..63
// with `steps`, inverse transform, then adds block rows row_begin .. row_end - 1 into `partial`
// (the partial sum of the first block's top-left pixel, rows `partial_pitch` bytes apart).
using FilterBlockRowFn = void (*)(const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial,
                                  ptrdiff_t partial_pitch, int count, int row_begin, int row_end,
                                  const int16_t* steps);
// The same, adding into 32-bit sums.
using FilterBlockRowWideFn = void (*)(const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc,
                                      ptrdiff_t acc_pitch, int count, int row_begin, int row_end,
                                      const int16_t* steps);
// luma[x] = y[3 * x] >> 4 for x in 0 .. n - 1: the pixels' luma (every third sample) to 8-bit scale.
using LumaRowFn = void (*)(const int16_t* y, int16_t* luma, int n);
// acc[x] = luma[x] * weight, weight in 0..64.
using SeedRowFn = void (*)(const int16_t* luma, AccSample* acc, int n, int32_t weight);
// partial[x] += luma[x].
using AddRowFn = void (*)(const int16_t* luma, int16_t* partial, int n);
// acc[x] += luma[x].
using AddRowWideFn = void (*)(const int16_t* luma, AccSample* acc, int n);
// acc[x] += partial[x], then partial[x] = 0.
using FoldRowFn = void (*)(int16_t* partial, AccSample* acc, int n);
// y[3 * x] = low 16 bits of trunc(acc[x] * 16 / weight), weight in 1..128, |acc[x]| <= 2^19.
using AverageRowFn = void (*)(const AccSample* acc, int16_t* y, int n, int32_t weight);

// The table's slots, X(type, name), declared once: they make the table's members, its scalar
// kernels (name_C) and the kernel checker's list of what it must compare.
// clang-format off
#define VELOUR_DSP_SLOTS(X)                   \
  X(FilterBlockRowFn, FilterBlockRow)         \
  X(FilterBlockRowWideFn, FilterBlockRowWide) \
  X(LumaRowFn, LumaRow)                       \
  X(SeedRowFn, SeedRow)                       \
  X(AddRowFn, AddRow)                         \
  X(AddRowWideFn, AddRowWide)                 \
  X(FoldRowFn, FoldRow)                       \
  X(AverageRowFn, AverageRow)
// clang-format on

struct VelourDsp {
  VELOUR_DSP_SLOTS(AUF_DSP_SLOT)
};

// The table of the best tier in `flags` that this CPU runs (core::TierTable).
const VelourDsp& VelourDspFor(core::CpuFlags flags);

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
static constexpr StepReciprocal MakeStepReciprocal(int q) {
  int r = 0;
  while ((2 << r) < q) ++r;  // 2^r < q <= 2^(r + 1)
  const uint32_t n = uint32_t{1} << (16 + r);
  return {static_cast<uint16_t>((n + q - 1) / q), static_cast<uint16_t>(1u << (16 - r))};
}
static constexpr bool IsVectorStep(int q) { return q >= kMinVectorStep && q <= kMaxVectorStep; }
struct StepReciprocalTable {
  StepReciprocal entry[kMaxVectorStep + 1];
};
static constexpr StepReciprocalTable MakeStepReciprocalTable() {
  StepReciprocalTable t{};
  for (int q = kMinVectorStep; q <= kMaxVectorStep; ++q) t.entry[q] = MakeStepReciprocal(q);
  return t;
}
inline constexpr StepReciprocalTable kStepReciprocals = MakeStepReciprocalTable();

// Scalar kernels (the oracle), and the transform and requantisation they are built from.
void WhtColumns_C(int16_t* block);
void Wht8x8_C(int16_t* block);
void Requantize_C(int16_t* block, const int16_t* steps);
void FilterBlockRow_C(const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial, ptrdiff_t partial_pitch,
                      int count, int row_begin, int row_end, const int16_t* steps);
void FilterBlockRowWide_C(const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc, ptrdiff_t acc_pitch,
                          int count, int row_begin, int row_end, const int16_t* steps);
void LumaRow_C(const int16_t* y, int16_t* luma, int n);
void SeedRow_C(const int16_t* luma, AccSample* acc, int n, int32_t weight);
void AddRow_C(const int16_t* luma, int16_t* partial, int n);
void AddRowWide_C(const int16_t* luma, AccSample* acc, int n);
void FoldRow_C(int16_t* partial, AccSample* acc, int n);
void AverageRow_C(const AccSample* acc, int16_t* y, int n, int32_t weight);

}  // namespace velour
