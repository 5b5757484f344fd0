#pragma once
// Vector kernels of the deblocking filter; signatures and footprints as in deblock_dsp.h.
#include <cstddef>
#include <cstdint>

#include "core/pixel.h"

namespace deblock {

void FilterHorizontalEdges_SSE2(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                int32_t alpha, int32_t beta, int32_t tc0);
void FilterTile_SSE2(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                     int32_t alpha, int32_t beta, int32_t tc0);
void FilterVerticalEdges_SSE2(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                              int32_t beta, int32_t tc0);

void FilterHorizontalEdges_AVX2(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                int32_t alpha, int32_t beta, int32_t tc0);
void FilterTile_AVX2(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                     int32_t alpha, int32_t beta, int32_t tc0);
void FilterVerticalEdges_AVX2(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                              int32_t beta, int32_t tc0);

void FilterHorizontalEdges_AVX512(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                  int32_t alpha, int32_t beta, int32_t tc0);
void FilterTile_AVX512(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                       int32_t alpha, int32_t beta, int32_t tc0);
void FilterVerticalEdges_AVX512(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                                int32_t beta, int32_t tc0);
// The same with the horizontal runs on 256-bit registers.
void FilterHorizontalEdges_AVX512Ymm(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                     int32_t alpha, int32_t beta, int32_t tc0);
void FilterTile_AVX512Ymm(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                          int32_t alpha, int32_t beta, int32_t tc0);

// Thresholds for which the 16-bit lane arithmetic is exact (see deblock_sse2.cpp); the vector
// kernels hand any other call to the scalar ones.
inline bool VectorThresholds(int32_t alpha, int32_t beta, int32_t tc0) {
  return alpha >= 0 && alpha <= 4096 && beta >= 0 && beta <= 4096 && tc0 >= 0 && tc0 <= 4096;
}

}  // namespace deblock
