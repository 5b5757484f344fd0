// AVX2 kernels: two horizontally adjacent blocks at a time, a row of 16 samples per register; each
// 128-bit half holds one block, and every step works within the halves.
#include <immintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_simd.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

struct Avx2 {
  using Reg = __m256i;
  static constexpr int kBlocks = 2;
  AUF_VECTOR_OPS(_mm256, si256)
  static Reg Abs(Reg x) { return _mm256_abs_epi16(x); }
  static Reg CopySign(Reg t, Reg x) { return _mm256_sign_epi16(t, x); }
  static Reg KeepDc(Reg r, Reg original) { return _mm256_blend_epi16(r, original, 0x01); }
  static bool NoneInBoth(Reg a, Reg b) { return _mm256_testz_si256(a, b) != 0; }
  static Reg WidenLo(Reg r) { return _mm256_cvtepi16_epi32(_mm256_castsi256_si128(r)); }
  static Reg WidenHi(Reg r) { return _mm256_cvtepi16_epi32(_mm256_extracti128_si256(r, 1)); }
};

// Eight pixels (48 bytes) per step; the luma words sit at sample offsets 0, 3, .. 21.
void LumaRow(const int16_t* y, int16_t* luma, int n) {
  const __m128i m0 = _mm_setr_epi8(0, 1, 6, 7, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i m1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 3, 8, 9, 14, 15, -1, -1, -1, -1);
  const __m128i m2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 4, 5, 10, 11);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i* s = reinterpret_cast<const __m128i*>(y + 3 * x);
    const __m128i v = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(_mm_loadu_si128(s), m0), _mm_shuffle_epi8(_mm_loadu_si128(s + 1), m1)),
        _mm_shuffle_epi8(_mm_loadu_si128(s + 2), m2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x), _mm_srai_epi16(v, 4));
  }
  LumaRow_C(y + 3 * x, luma + x, n - x);
}

void SeedRow(const int16_t* luma, AccSample* acc, int n, int32_t weight) {
  const __m256i w = _mm256_set1_epi32(weight);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + x), _mm256_mullo_epi32(v, w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

// Float division as in the SSE2 kernel (exact for |acc * 16| <= 2^23).
void AverageRow(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  const __m256 w = _mm256_set1_ps(static_cast<float>(weight));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + x));
    __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(_mm256_slli_epi32(v, 4)), w));
    q = _mm256_srai_epi32(_mm256_slli_epi32(q, 16), 16);  // low 16 bits, so the pack cannot saturate
    const __m128i p = _mm_packs_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    int16_t* d = y + 3 * x;
    d[0] = static_cast<int16_t>(_mm_extract_epi16(p, 0));
    d[3] = static_cast<int16_t>(_mm_extract_epi16(p, 1));
    d[6] = static_cast<int16_t>(_mm_extract_epi16(p, 2));
    d[9] = static_cast<int16_t>(_mm_extract_epi16(p, 3));
    d[12] = static_cast<int16_t>(_mm_extract_epi16(p, 4));
    d[15] = static_cast<int16_t>(_mm_extract_epi16(p, 5));
    d[18] = static_cast<int16_t>(_mm_extract_epi16(p, 6));
    d[21] = static_cast<int16_t>(_mm_extract_epi16(p, 7));
  }
  AverageRow_C(acc + x, y + 3 * x, n - x, weight);
}

}  // namespace

void InitVelourDsp_AVX2(VelourDsp& dsp) {
  SetVectorKernels<Avx2>(dsp);
  dsp.LumaRow = LumaRow;
  dsp.SeedRow = SeedRow;
  dsp.AverageRow = AverageRow;
}

}  // namespace velour

#undef AUF_VECTOR_OPS
#undef VELOUR_INLINE
