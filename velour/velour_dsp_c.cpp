// Scalar kernels. Samples are signed 16-bit; the transform saturates every sum and difference to
// [-32768, 32767]; requantisation truncates toward zero; sums are exact (partial sums by the bound
// on the contributions between folds, the others in 32 bits).
#include "velour/velour_dsp.h"

namespace velour {
namespace {

inline int32_t Clamp16(int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }

// S = clamp(a + b); D = clamp(clamp(S - b) - b), derived from the clamped sum.
inline void Butterfly(int16_t& a, int16_t& b) {
  const int32_t s = Clamp16(a + b);
  const int32_t d = Clamp16(Clamp16(s - b) - b);
  a = static_cast<int16_t>(s);
  b = static_cast<int16_t>(d);
}

}  // namespace

void WhtColumns_C(int16_t* block) {
  for (int j = 0; j < 8; ++j) {
    int16_t* c = block + j;
    for (int dist = 1; dist < 8; dist <<= 1)
      for (int k = 0; k < 8; ++k)
        if ((k & dist) == 0) Butterfly(c[8 * k], c[8 * (k + dist)]);
  }
}

void Wht8x8_C(int16_t* block) {
  int16_t scratch[64];
  WhtColumns_C(block);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) scratch[8 * j + i] = block[8 * i + j];
  WhtColumns_C(scratch);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) block[8 * i + j] = static_cast<int16_t>(scratch[8 * j + i] >> 3);
}

void Requantize_C(int16_t* block, const int16_t* steps) {
  for (int k = 1; k < 64; ++k) {
    const int32_t e = block[k];
    const int32_t q = steps[k];
    block[k] = static_cast<int16_t>(q * (e / q));
  }
}

namespace {

// Block b of a row: gathered, transformed, requantised and transformed back.
inline void FilterBlock(const int16_t* luma, ptrdiff_t luma_pitch, int b, const int16_t* steps,
                        int16_t* block) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) block[8 * i + j] = LumaLineAt(luma, i * luma_pitch)[8 * b + j];
  Wht8x8_C(block);
  Requantize_C(block, steps);
  Wht8x8_C(block);
}

}  // namespace

void FilterBlockRow_C(const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial, ptrdiff_t partial_pitch,
                      int count, int row_begin, int row_end, const int16_t* steps) {
  for (int b = 0; b < count; ++b) {
    int16_t block[64];
    FilterBlock(luma, luma_pitch, b, steps, block);
    for (int i = row_begin; i < row_end; ++i) {
      int16_t* line = PartialLineAt(partial, i * partial_pitch) + 8 * b;
      for (int j = 0; j < 8; ++j) line[j] = static_cast<int16_t>(line[j] + block[8 * i + j]);
    }
  }
}

void FilterBlockRowWide_C(const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc, ptrdiff_t acc_pitch,
                          int count, int row_begin, int row_end, const int16_t* steps) {
  for (int b = 0; b < count; ++b) {
    int16_t block[64];
    FilterBlock(luma, luma_pitch, b, steps, block);
    for (int i = row_begin; i < row_end; ++i)
      for (int j = 0; j < 8; ++j) AccLineAt(acc, i * acc_pitch)[8 * b + j] += block[8 * i + j];
  }
}

void LumaRow_C(const int16_t* y, int16_t* luma, int n) {
  for (int x = 0; x < n; ++x) luma[x] = static_cast<int16_t>(y[3 * x] >> 4);
}

void SeedRow_C(const int16_t* luma, AccSample* acc, int n, int32_t weight) {
  for (int x = 0; x < n; ++x) acc[x] = int32_t{luma[x]} * weight;
}

void AddRow_C(const int16_t* luma, int16_t* partial, int n) {
  for (int x = 0; x < n; ++x) partial[x] = static_cast<int16_t>(partial[x] + luma[x]);
}

void AddRowWide_C(const int16_t* luma, AccSample* acc, int n) {
  for (int x = 0; x < n; ++x) acc[x] += luma[x];
}

void FoldRow_C(int16_t* partial, AccSample* acc, int n) {
  for (int x = 0; x < n; ++x) {
    acc[x] += partial[x];
    partial[x] = 0;
  }
}

void AverageRow_C(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  for (int x = 0; x < n; ++x) y[3 * x] = static_cast<int16_t>(acc[x] * 16 / weight);
}

}  // namespace velour
