// AVX2 kernels: the edge-line arithmetic of deblock_simd.h in 16 lanes per register; a vertical
// edge takes its four rows in one register (deblock_vertical.h).
#include <immintrin.h>

#include <cstring>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_simd.h"
#include "deblock/x86/deblock_tile.h"
#include "deblock/x86/deblock_vertical.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

struct Avx2 {
  using Reg = __m256i;
  static constexpr int kLanes = 16;
  AUF_VECTOR_OPS(_mm256, si256)
  static Reg Equal(Reg a, Reg b) { return _mm256_cmpeq_epi16(a, b); }
  static Reg ShiftRight1(Reg a) { return _mm256_srai_epi16(a, 1); }
};

}  // namespace

void FilterHorizontalEdges_AVX2(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                int32_t alpha, int32_t beta, int32_t tc0) {
  FilterHorizontalEdgesT<Avx2>(pix, above, stride, count, alpha, beta, tc0);
}

void FilterVerticalEdges_AVX2(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                              int32_t beta, int32_t tc0) {
  FilterVerticalEdgesT<Avx2>(pix, stride, edges, rows, alpha, beta, tc0);
}

void FilterTile_AVX2(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                     int32_t alpha, int32_t beta, int32_t tc0) {
  FilterTileT<Avx2, FilterHorizontalEdges_AVX2, FilterVerticalEdges_AVX2>(groups, stride, w, x_begin, x_end,
                                                                          alpha, beta, tc0);
}

#undef DEBLOCK_INLINE
#undef AUF_VECTOR_OPS

}  // namespace deblock
