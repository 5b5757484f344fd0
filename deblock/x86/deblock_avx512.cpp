// AVX-512 kernels (F, BW, VL): the horizontal runs of deblock_simd.h in 32 lanes per register, the
// tests of an edge line in mask registers. The vertical edges stay with the AVX2 kernel: their four
// rows of a few pixels fill no wider register.
#include <immintrin.h>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_simd.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

struct Avx512 {
  using Reg = __m512i;
  static constexpr int kLanes = 32;
  AUF_VECTOR_OPS(_mm512, si512)
  // A mask is held as the lanes where it is clear, which the masked operations take as they are.
  struct Mask {
    __mmask32 clear;
  };
  static Mask NotBelowMask(Reg d, Reg t) { return {_mm512_cmplt_epu16_mask(d, t)}; }
  static Mask MaskOr(Mask a, Mask b) { return {static_cast<__mmask32>(a.clear & b.clear)}; }
  static Reg AddUnless(Reg v, Mask m, Reg w) { return _mm512_mask_add_epi16(v, m.clear, v, w); }
  static Reg SubUnless(Reg v, Mask m, Reg w) { return _mm512_mask_sub_epi16(v, m.clear, v, w); }
};

}  // namespace

void FilterHorizontalEdges_AVX512(host::YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha, int32_t beta,
                                  int32_t tc0) {
  FilterHorizontalEdgesT<Avx512>(pix, stride, count, alpha, beta, tc0);
}

}  // namespace deblock

#undef DEBLOCK_INLINE
#undef AUF_VECTOR_OPS
