#pragma once
// Vector kernels of the smoothing filter; signatures as in velour_dsp.h.
#include <cstddef>
#include <cstdint>

namespace velour {

void Wht8x8_SSE2(int16_t* block);
void Requantize_SSE2(int16_t* block, const int16_t* steps);
void FilterBlockRow_SSE2(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride, int count,
                         int row_begin, int row_end, const int16_t* steps);
void SeedRow_SSE2(const int16_t* luma, int16_t* acc, int n, int32_t weight);
void AddRow_SSE2(const int16_t* luma, int16_t* acc, int n);
void AverageRow_SSE2(const int16_t* acc, int16_t* y, int n, int32_t weight);

void Requantize_AVX2(int16_t* block, const int16_t* steps);
void FilterBlockRow_AVX2(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride, int count,
                         int row_begin, int row_end, const int16_t* steps);
void LumaRow_AVX2(const int16_t* y, int16_t* luma, int n);
void SeedRow_AVX2(const int16_t* luma, int16_t* acc, int n, int32_t weight);
void AddRow_AVX2(const int16_t* luma, int16_t* acc, int n);
void AverageRow_AVX2(const int16_t* acc, int16_t* y, int n, int32_t weight);

}  // namespace velour
