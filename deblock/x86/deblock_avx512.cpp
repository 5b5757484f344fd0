// AVX-512 kernels (F, BW, VL): the horizontal runs of deblock_simd.h in 32 lanes per register, and
// the vertical edges of deblock_vertical.h in 16; the tests of an edge line in mask registers.
#include <immintrin.h>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_simd.h"
#include "deblock/x86/deblock_tile.h"
#include "deblock/x86/deblock_vertical.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

// Traits NAME of registers REG (intrinsics P..., whole-register suffix SI) with LANES lanes, the
// tests of an edge line in mask registers of type Mask.
#define DEBLOCK_MASKED_TRAITS(NAME, REG, P, SI, MASK, LANES)                             \
  struct NAME {                                                                          \
    using Reg = REG;                                                                     \
    using Mask = MASK;                                                                   \
    static constexpr int kLanes = LANES;                                                 \
    AUF_VECTOR_OPS(P, SI)                                                                \
    static Reg ShiftRight1(Reg a) { return P##_srai_epi16(a, 1); }                       \
    static Mask Below(Reg d, Reg t) { return P##_cmplt_epu16_mask(d, t); }               \
    static Mask MaskAnd(Mask a, Mask b) { return static_cast<Mask>(a & b); }             \
    static Reg AddWhere(Reg v, Mask m, Reg w) { return P##_mask_add_epi16(v, m, v, w); } \
    static Reg MinOrZero(Mask m, Reg a, Reg b) { return P##_maskz_min_epi16(m, a, b); }  \
  };

DEBLOCK_MASKED_TRAITS(Avx512, __m512i, _mm512, si512, __mmask32, 32)
// The vertical edges' four rows fill no wider register than 256 bits; there the mask registers (VL)
// spare the vector registers the three masks of an edge line.
DEBLOCK_MASKED_TRAITS(Avx512Vl, __m256i, _mm256, si256, __mmask16, 16)

#undef DEBLOCK_MASKED_TRAITS

}  // namespace

void FilterHorizontalEdges_AVX512(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                  int32_t alpha, int32_t beta, int32_t tc0) {
  FilterHorizontalEdgesT<Avx512>(pix, above, stride, count, alpha, beta, tc0);
}

void FilterVerticalEdges_AVX512(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                                int32_t beta, int32_t tc0) {
  FilterVerticalEdgesT<Avx512Vl>(pix, stride, edges, rows, alpha, beta, tc0);
}

void FilterTile_AVX512(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                       int32_t alpha, int32_t beta, int32_t tc0) {
  FilterTileT<Avx512Vl, FilterHorizontalEdges_AVX512, FilterVerticalEdges_AVX512>(groups, stride, w, x_begin,
                                                                                  x_end, alpha, beta, tc0);
}

void FilterHorizontalEdges_AVX512Ymm(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                     int32_t alpha, int32_t beta, int32_t tc0) {
  FilterHorizontalEdgesT<Avx512Vl>(pix, above, stride, count, alpha, beta, tc0);
}

void FilterTile_AVX512Ymm(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                          int32_t alpha, int32_t beta, int32_t tc0) {
  FilterTileT<Avx512Vl, FilterHorizontalEdges_AVX512Ymm, FilterVerticalEdges_AVX512>(
      groups, stride, w, x_begin, x_end, alpha, beta, tc0);
}

}  // namespace deblock

#undef DEBLOCK_INLINE
#undef AUF_VECTOR_OPS
