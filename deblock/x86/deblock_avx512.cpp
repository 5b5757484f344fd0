// AVX-512 kernels (F, BW, VL): the horizontal runs of deblock_simd.h in 32 lanes per register, and
// the vertical edges of deblock_vertical.h in 16; the tests of an edge line in mask registers.
#include <immintrin.h>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_simd.h"
#include "deblock/x86/deblock_vertical.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

// Masks held as the lanes where they are clear, which the masked operations take as they are.
template <class Bits>
struct ClearLanes {
  Bits clear;
};

// Traits NAME of registers REG (intrinsics P..., whole-register suffix SI) with LANES lanes, the
// tests of an edge line in mask registers of type BITS.
#define DEBLOCK_MASKED_TRAITS(NAME, REG, P, SI, BITS, LANES)                                    \
  struct NAME {                                                                                 \
    using Reg = REG;                                                                            \
    using Mask = ClearLanes<BITS>;                                                              \
    static constexpr int kLanes = LANES;                                                        \
    AUF_VECTOR_OPS(P, SI)                                                                       \
    static Mask NotBelowMask(Reg d, Reg t) { return {P##_cmplt_epu16_mask(d, t)}; }             \
    static Mask MaskOr(Mask a, Mask b) { return {static_cast<BITS>(a.clear & b.clear)}; }       \
    static Reg AddUnless(Reg v, Mask m, Reg w) { return P##_mask_add_epi16(v, m.clear, v, w); } \
    static Reg SubUnless(Reg v, Mask m, Reg w) { return P##_mask_sub_epi16(v, m.clear, v, w); } \
  };

DEBLOCK_MASKED_TRAITS(Avx512, __m512i, _mm512, si512, __mmask32, 32)
// The vertical edges' four rows fill no wider register than 256 bits; there the mask registers (VL)
// spare the vector registers the three masks of an edge line.
DEBLOCK_MASKED_TRAITS(Avx512Vl, __m256i, _mm256, si256, __mmask16, 16)

#undef DEBLOCK_MASKED_TRAITS

}  // namespace

void FilterHorizontalEdges_AVX512(core::YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha,
                                  int32_t beta, int32_t tc0) {
  FilterHorizontalEdgesT<Avx512>(pix, stride, count, alpha, beta, tc0);
}

void FilterVerticalEdges_AVX512(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                                int32_t beta, int32_t tc0) {
  FilterVerticalEdgesT<Avx512Vl>(pix, stride, edges, rows, alpha, beta, tc0);
}

}  // namespace deblock

#undef DEBLOCK_INLINE
#undef AUF_VECTOR_OPS
