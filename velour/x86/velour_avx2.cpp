// AVX2 kernels: two horizontally adjacent blocks at a time, a row of 16 samples per register; each
// 128-bit half holds one block, and every step works within the halves.
#include <immintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_simd.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

struct Avx2 : simd::Avx2 {
  static Reg CopySign(Reg t, Reg x) { return _mm256_sign_epi16(t, x); }
  static Reg KeepDc(Reg r, Reg original) { return _mm256_blend_epi16(r, original, 0x01); }
  static bool NoneInBoth(Reg a, Reg b) { return _mm256_testz_si256(a, b) != 0; }
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
    simd::Sse2::Store(luma + x, simd::Sse2::ShiftRight(v, 4));
  }
  LumaRow_C(y + 3 * x, luma + x, n - x);
}

void SeedRow(const int16_t* luma, AccSample* acc, int n, int32_t weight) {
  const __m256i w = Avx2::Set32(weight);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_cvtepi16_epi32(simd::Sse2::Load(luma + x));
    Avx2::Store(acc + x, _mm256_mullo_epi32(v, w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

// The quotients as in the SSE2 kernel, eight in one register.
struct Quotients {
  __m256 w;
  explicit Quotients(int32_t weight) : w(_mm256_set1_ps(static_cast<float>(weight))) {}
  __m128i Of(const AccSample* acc) const {
    using V = Avx2;
    __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(V::ShiftLeft32(V::Load(acc), 4)), w));
    q = V::ShiftRight32(V::ShiftLeft32(q, 16), 16);  // low 16 bits, so the pack cannot saturate
    return simd::Sse2::PackSigned(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
  }
};

}  // namespace

void InitVelourDsp_Avx2(VelourDsp& dsp) {
  SetVectorKernels<Avx2>(dsp);
  dsp.LumaRow = LumaRow;
  dsp.SeedRow = SeedRow;
  dsp.AverageRow = AverageRowT<Quotients>;
}

}  // namespace velour
