#pragma once
// Vector kernels of the smoothing filter; signatures as in velour_dsp.h.
#include <cstddef>
#include <cstdint>

#include "velour/velour_dsp.h"

namespace velour {

void FilterBlockRow_SSE2(const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial, ptrdiff_t partial_pitch,
                         int count, int row_begin, int row_end, const int16_t* steps);
void FilterBlockRowWide_SSE2(const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc, ptrdiff_t acc_pitch,
                             int count, int row_begin, int row_end, const int16_t* steps);
void SeedRow_SSE2(const int16_t* luma, AccSample* acc, int n, int32_t weight);
void AddRow_SSE2(const int16_t* luma, int16_t* partial, int n);
void AddRowWide_SSE2(const int16_t* luma, AccSample* acc, int n);
void FoldRow_SSE2(int16_t* partial, AccSample* acc, int n);
void AverageRow_SSE2(const AccSample* acc, int16_t* y, int n, int32_t weight);

void FilterBlockRow_AVX2(const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial, ptrdiff_t partial_pitch,
                         int count, int row_begin, int row_end, const int16_t* steps);
void FilterBlockRowWide_AVX2(const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc, ptrdiff_t acc_pitch,
                             int count, int row_begin, int row_end, const int16_t* steps);
void LumaRow_AVX2(const int16_t* y, int16_t* luma, int n);
void SeedRow_AVX2(const int16_t* luma, AccSample* acc, int n, int32_t weight);
void AddRow_AVX2(const int16_t* luma, int16_t* partial, int n);
void AddRowWide_AVX2(const int16_t* luma, AccSample* acc, int n);
void FoldRow_AVX2(int16_t* partial, AccSample* acc, int n);
void AverageRow_AVX2(const AccSample* acc, int16_t* y, int n, int32_t weight);

}  // namespace velour
