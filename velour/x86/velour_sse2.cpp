// SSE2 kernels: one 8x8 block at a time, a block row per register (8 x 16-bit lanes).
#include <emmintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_simd.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

struct Sse2 {
  using Reg = __m128i;
  static constexpr int kBlocks = 1;
  AUF_VECTOR_OPS(_mm, si128)
  // No abs or sign instructions: (x ^ s) - s with s the sign mask.
  static Reg Abs(Reg x) {
    const Reg s = _mm_srai_epi16(x, 15);
    return _mm_sub_epi16(_mm_xor_si128(x, s), s);
  }
  static Reg CopySign(Reg t, Reg x) {
    const Reg s = _mm_srai_epi16(x, 15);
    return _mm_sub_epi16(_mm_xor_si128(t, s), s);
  }
  static Reg KeepDc(Reg r, Reg original) { return _mm_insert_epi16(r, _mm_extract_epi16(original, 0), 0); }
  static bool NoneInBoth(Reg a, Reg b) {
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(a, b), _mm_setzero_si128())) == 0xFFFF;
  }
  static Reg WidenLo(Reg r) { return _mm_srai_epi32(_mm_unpacklo_epi16(r, r), 16); }
  static Reg WidenHi(Reg r) { return _mm_srai_epi32(_mm_unpackhi_epi16(r, r), 16); }
};

// luma * weight in 32 bits: pmaddwd of (luma, 0) pairs with (weight, 0).
void SeedRow(const int16_t* luma, AccSample* acc, int n, int32_t weight) {
  const __m128i w = _mm_set1_epi32(weight);
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
    __m128i* p = reinterpret_cast<__m128i*>(acc + x);
    _mm_storeu_si128(p, _mm_madd_epi16(_mm_unpacklo_epi16(v, zero), w));
    _mm_storeu_si128(p + 1, _mm_madd_epi16(_mm_unpackhi_epi16(v, zero), w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

// |acc * 16| <= 2^23 is exact in a float, and the correctly rounded quotient of a float division
// never crosses an integer: a non-integer quotient lies at least 1 / weight from one, more than
// half its ulp (<= quotient * 2^-24 <= 2^23 / weight * 2^-24). So truncating it gives the integer
// quotient.
void AverageRow(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  const __m128 w = _mm_set1_ps(static_cast<float>(weight));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i* p = reinterpret_cast<const __m128i*>(acc + x);
    const __m128i lo = _mm_slli_epi32(_mm_loadu_si128(p), 4);
    const __m128i hi = _mm_slli_epi32(_mm_loadu_si128(p + 1), 4);
    __m128i qlo = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(lo), w));
    __m128i qhi = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(hi), w));
    qlo = _mm_srai_epi32(_mm_slli_epi32(qlo, 16), 16);  // low 16 bits, so the pack cannot saturate
    qhi = _mm_srai_epi32(_mm_slli_epi32(qhi, 16), 16);
    const __m128i q = _mm_packs_epi32(qlo, qhi);
    int16_t* d = y + 3 * x;
    d[0] = static_cast<int16_t>(_mm_extract_epi16(q, 0));
    d[3] = static_cast<int16_t>(_mm_extract_epi16(q, 1));
    d[6] = static_cast<int16_t>(_mm_extract_epi16(q, 2));
    d[9] = static_cast<int16_t>(_mm_extract_epi16(q, 3));
    d[12] = static_cast<int16_t>(_mm_extract_epi16(q, 4));
    d[15] = static_cast<int16_t>(_mm_extract_epi16(q, 5));
    d[18] = static_cast<int16_t>(_mm_extract_epi16(q, 6));
    d[21] = static_cast<int16_t>(_mm_extract_epi16(q, 7));
  }
  AverageRow_C(acc + x, y + 3 * x, n - x, weight);
}

}  // namespace

void InitVelourDsp_SSE2(VelourDsp& dsp) {
  SetVectorKernels<Sse2>(dsp);
  dsp.SeedRow = SeedRow;
  dsp.AverageRow = AverageRow;
}

}  // namespace velour

#undef AUF_VECTOR_OPS
#undef VELOUR_INLINE
