// AVX2 kernels: two horizontally adjacent blocks at a time, a row of 16 samples per register; each
// 128-bit half holds one block, and every step works within the halves.
#include <immintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

struct Avx2 {
  using Reg = __m256i;
  static constexpr int kBlocks = 2;
  static Reg Load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(int16_t* p, Reg v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static Reg Add(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
  static Reg Sub(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
  static Reg AddSat(Reg a, Reg b) { return _mm256_adds_epi16(a, b); }
  static Reg SubSat(Reg a, Reg b) { return _mm256_subs_epi16(a, b); }
  static Reg ShiftRight3(Reg a) { return _mm256_srai_epi16(a, 3); }
  static Reg UnpackLo16(Reg a, Reg b) { return _mm256_unpacklo_epi16(a, b); }
  static Reg UnpackHi16(Reg a, Reg b) { return _mm256_unpackhi_epi16(a, b); }
  static Reg UnpackLo32(Reg a, Reg b) { return _mm256_unpacklo_epi32(a, b); }
  static Reg UnpackHi32(Reg a, Reg b) { return _mm256_unpackhi_epi32(a, b); }
  static Reg UnpackLo64(Reg a, Reg b) { return _mm256_unpacklo_epi64(a, b); }
  static Reg UnpackHi64(Reg a, Reg b) { return _mm256_unpackhi_epi64(a, b); }
  static Reg MulHiU16(Reg a, Reg b) { return _mm256_mulhi_epu16(a, b); }
  static Reg MulLo16(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
  static Reg Abs(Reg x) { return _mm256_abs_epi16(x); }
  static Reg CopySign(Reg t, Reg x) { return _mm256_sign_epi16(t, x); }
  static Reg KeepDc(Reg r, Reg original) { return _mm256_blend_epi16(r, original, 0x01); }
  static bool WithinByte(const Reg* r) {
    const Reg bias = _mm256_set1_epi16(256);
    Reg o = _mm256_add_epi16(r[0], bias);
#pragma GCC unroll 8
    for (int i = 1; i < 8; ++i) o = _mm256_or_si256(o, _mm256_add_epi16(r[i], bias));
    return _mm256_testz_si256(o, _mm256_set1_epi16(-512)) != 0;
  }
  static void AddRowToPartial(int16_t* partial, Reg r) { Store(partial, _mm256_add_epi16(Load(partial), r)); }
  static void AddRowToAcc(AccSample* acc, Reg r) {
    __m256i* p = reinterpret_cast<__m256i*>(acc);
    const __m256i lo = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(r));
    const __m256i hi = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(r, 1));
    _mm256_storeu_si256(p, _mm256_add_epi32(_mm256_loadu_si256(p), lo));
    _mm256_storeu_si256(p + 1, _mm256_add_epi32(_mm256_loadu_si256(p + 1), hi));
  }
};

}  // namespace
}  // namespace velour

#include "velour/x86/velour_simd.h"

namespace velour {

void FilterBlockRow_AVX2(const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial, ptrdiff_t partial_pitch,
                         int count, int row_begin, int row_end, const int16_t* steps) {
  FilterBlockRowT<Avx2, false>(luma, luma_pitch, reinterpret_cast<char*>(partial), partial_pitch, count, row_begin, row_end,
                              steps);
}

void FilterBlockRowWide_AVX2(const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc, ptrdiff_t acc_pitch,
                             int count, int row_begin, int row_end, const int16_t* steps) {
  FilterBlockRowT<Avx2, true>(luma, luma_pitch, reinterpret_cast<char*>(acc), acc_pitch, count, row_begin, row_end, steps);
}

// Eight pixels (48 bytes) per step; the luma words sit at sample offsets 0, 3, .. 21.
void LumaRow_AVX2(const int16_t* y, int16_t* luma, int n) {
  const __m128i m0 = _mm_setr_epi8(0, 1, 6, 7, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i m1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 3, 8, 9, 14, 15, -1, -1, -1, -1);
  const __m128i m2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 4, 5, 10, 11);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i* s = reinterpret_cast<const __m128i*>(y + 3 * x);
    const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(_mm_loadu_si128(s), m0),
                                                _mm_shuffle_epi8(_mm_loadu_si128(s + 1), m1)),
                                   _mm_shuffle_epi8(_mm_loadu_si128(s + 2), m2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x), _mm_srai_epi16(v, 4));
  }
  LumaRow_C(y + 3 * x, luma + x, n - x);
}

void SeedRow_AVX2(const int16_t* luma, AccSample* acc, int n, int32_t weight) {
  const __m256i w = _mm256_set1_epi32(weight);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + x), _mm256_mullo_epi32(v, w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

void AddRow_AVX2(const int16_t* luma, int16_t* partial, int n) {
  int x = 0;
  for (; x + 16 <= n; x += 16) Avx2::AddRowToPartial(partial + x, Avx2::Load(luma + x));
  AddRow_C(luma + x, partial + x, n - x);
}

void AddRowWide_AVX2(const int16_t* luma, AccSample* acc, int n) {
  int x = 0;
  for (; x + 16 <= n; x += 16) Avx2::AddRowToAcc(acc + x, Avx2::Load(luma + x));
  AddRowWide_C(luma + x, acc + x, n - x);
}

void FoldRow_AVX2(int16_t* partial, AccSample* acc, int n) {
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    Avx2::AddRowToAcc(acc + x, Avx2::Load(partial + x));
    Avx2::Store(partial + x, _mm256_setzero_si256());
  }
  FoldRow_C(partial + x, acc + x, n - x);
}

// Float division as in the SSE2 kernel (exact for |acc * 16| <= 2^23).
void AverageRow_AVX2(const AccSample* acc, int16_t* y, int n, int32_t weight) {
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

}  // namespace velour

#undef VELOUR_INLINE
