// AVX2 kernels: two horizontally adjacent blocks at a time, a row of 16 samples per register; each
// 128-bit half holds one block, and every step works within the halves.
#include <immintrin.h>

#include <cstring>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

#define VELOUR_INLINE inline __attribute__((always_inline))

// The scalar butterfly lane by lane: S = sat(a + b), D = sat(sat(S - b) - b).
VELOUR_INLINE void Butterfly(__m256i& a, __m256i& b) {
  const __m256i s = _mm256_adds_epi16(a, b);
  b = _mm256_subs_epi16(_mm256_subs_epi16(s, b), b);
  a = s;
}

// When no sum leaves 16 bits the butterfly is a plain sum and difference.
VELOUR_INLINE void ButterflyExact(__m256i& a, __m256i& b) {
  const __m256i s = _mm256_add_epi16(a, b);
  b = _mm256_sub_epi16(a, b);
  a = s;
}

template <bool kSaturate>
VELOUR_INLINE void Columns(__m256i* r) {
  auto bf = [](__m256i& a, __m256i& b) {
    if (kSaturate) Butterfly(a, b);
    else ButterflyExact(a, b);
  };
  bf(r[0], r[1]), bf(r[2], r[3]), bf(r[4], r[5]), bf(r[6], r[7]);
  bf(r[0], r[2]), bf(r[1], r[3]), bf(r[4], r[6]), bf(r[5], r[7]);
  bf(r[0], r[4]), bf(r[1], r[5]), bf(r[2], r[6]), bf(r[3], r[7]);
}

// Transposes both 8x8 halves at once (the unpacks work within 128-bit lanes).
VELOUR_INLINE void Transpose(__m256i* r) {
  const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
  const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
  const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
  const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
  const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  r[0] = _mm256_unpacklo_epi64(b0, b4), r[1] = _mm256_unpackhi_epi64(b0, b4);
  r[2] = _mm256_unpacklo_epi64(b1, b5), r[3] = _mm256_unpackhi_epi64(b1, b5);
  r[4] = _mm256_unpacklo_epi64(b2, b6), r[5] = _mm256_unpackhi_epi64(b2, b6);
  r[6] = _mm256_unpacklo_epi64(b3, b7), r[7] = _mm256_unpackhi_epi64(b3, b7);
}

VELOUR_INLINE void Shift3(__m256i* r) {
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = _mm256_srai_epi16(r[i], 3);
}

// Steps with their reciprocals; vector i holds entries 16i .. 16i + 15 of the arrays.
struct StepVectors {
  alignas(32) int16_t q[128];
  alignas(32) uint16_t mul[128];
  alignas(32) uint16_t shift[128];
};

VELOUR_INLINE void Transpose(__m128i* r) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4), r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5), r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6), r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7), r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Natural 8x8 layout to the pair layout: vector i = column i of the block, in both halves.
VELOUR_INLINE void StorePairLayout(const int16_t* natural, int16_t* out) {
  __m128i r[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(natural + 8 * i));
  Transpose(r);
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) _mm256_store_si256(reinterpret_cast<__m256i*>(out + 16 * i), _mm256_broadcastsi128_si256(r[i]));
}

// Pair layout: lanes l and l + 8 of vector i take coefficient 8l + i (both blocks, transposed).
// Block layout: vector i holds coefficients 16i .. 16i + 15 (four vectors). False when a step
// lies outside the vector range. Entry 0 (the DC term, kept as it is) gets a harmless step.
bool LoadSteps(const int16_t* steps, bool pairs, StepVectors* sv) {
  alignas(16) int16_t q[64];
  alignas(16) uint16_t mul[64], shift[64];
  for (int k = 0; k < 64; ++k) {
    const int s = k == 0 ? 8 : steps[k];
    if (!IsVectorStep(s)) return false;
    q[k] = static_cast<int16_t>(s);
    mul[k] = kStepReciprocals.entry[s].mul;
    shift[k] = kStepReciprocals.entry[s].shift;
  }
  if (pairs) {
    StorePairLayout(q, sv->q);
    StorePairLayout(reinterpret_cast<const int16_t*>(mul), reinterpret_cast<int16_t*>(sv->mul));
    StorePairLayout(reinterpret_cast<const int16_t*>(shift), reinterpret_cast<int16_t*>(sv->shift));
  } else {
    std::memcpy(sv->q, q, sizeof q);
    std::memcpy(sv->mul, mul, sizeof mul);
    std::memcpy(sv->shift, shift, sizeof shift);
  }
  return true;
}

// x in [-4096, 4095]: q * trunc(x / q) through the magnitude.
VELOUR_INLINE __m256i RequantizeVector(__m256i x, const StepVectors& sv, int i) {
  __m256i t = _mm256_mulhi_epu16(_mm256_abs_epi16(x), _mm256_load_si256(reinterpret_cast<const __m256i*>(sv.mul + 16 * i)));
  t = _mm256_mulhi_epu16(t, _mm256_load_si256(reinterpret_cast<const __m256i*>(sv.shift + 16 * i)));
  t = _mm256_mullo_epi16(t, _mm256_load_si256(reinterpret_cast<const __m256i*>(sv.q + 16 * i)));
  return _mm256_sign_epi16(t, x);
}

// Pair layout: the DC terms are lanes 0 and 8 of vector 0.
VELOUR_INLINE void RequantizePair(__m256i* r, const StepVectors& sv) {
  const __m256i dc = r[0];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = RequantizeVector(r[i], sv, i);
  r[0] = _mm256_blend_epi16(r[0], dc, 0x01);
}

// Every sample in [-256, 255]: then no sum of the forward or inverse transform leaves 16 bits
// (see the SSE2 kernels), so both run without saturation and the inverse goes horizontal first.
VELOUR_INLINE bool WithinByte(const __m256i* r) {
  const __m256i bias = _mm256_set1_epi16(256);
  __m256i o = _mm256_add_epi16(r[0], bias);
  #pragma GCC unroll 8
  for (int i = 1; i < 8; ++i) o = _mm256_or_si256(o, _mm256_add_epi16(r[i], bias));
  return _mm256_testz_si256(o, _mm256_set1_epi16(-512)) != 0;
}

VELOUR_INLINE void FilterPair(__m256i* r, const StepVectors& sv) {
  if (WithinByte(r)) {
    Columns<false>(r);
    Transpose(r);
    Columns<false>(r);
    Shift3(r);
    RequantizePair(r, sv);
    Columns<false>(r);
    Transpose(r);
    Columns<false>(r);
    Shift3(r);
  } else {
    Columns<true>(r);
    Transpose(r);
    Columns<true>(r);
    Shift3(r);
    RequantizePair(r, sv);
    Transpose(r);
    Columns<true>(r);
    Transpose(r);
    Columns<true>(r);
    Transpose(r);
    Shift3(r);
  }
}

}  // namespace

void Requantize_AVX2(int16_t* block, const int16_t* steps) {
  StepVectors sv;
  if (!LoadSteps(steps, false, &sv)) return Requantize_C(block, steps);
  __m256i r[4];
  #pragma GCC unroll 8
  for (int i = 0; i < 4; ++i) r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * i));
  const __m256i dc = r[0];
  #pragma GCC unroll 8
  for (int i = 0; i < 4; ++i) r[i] = RequantizeVector(r[i], sv, i);
  r[0] = _mm256_blendv_epi8(r[0], dc, _mm256_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  #pragma GCC unroll 8
  for (int i = 0; i < 4; ++i) _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 16 * i), r[i]);
}

void FilterBlockRow_AVX2(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride, int count,
                         int row_begin, int row_end, const int16_t* steps) {
  StepVectors sv;
  if (!LoadSteps(steps, true, &sv))
    return FilterBlockRow_C(luma, luma_stride, acc, acc_stride, count, row_begin, row_end, steps);
  const bool whole = row_begin == 0 && row_end == 8;
  int b = 0;
  for (; b + 2 <= count; b += 2) {
    __m256i r[8];
    #pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
      r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + i * luma_stride + 8 * b));
    FilterPair(r, sv);
    int16_t* dst = acc + 8 * b;
    if (whole) {
      #pragma GCC unroll 8
      for (int i = 0; i < 8; ++i) {
        __m256i* p = reinterpret_cast<__m256i*>(dst + i * acc_stride);
        _mm256_storeu_si256(p, _mm256_add_epi16(_mm256_loadu_si256(p), r[i]));
      }
    } else {
      alignas(32) int16_t out[128];
      #pragma GCC unroll 8
      for (int i = 0; i < 8; ++i) _mm256_store_si256(reinterpret_cast<__m256i*>(out + 16 * i), r[i]);
      for (int i = row_begin; i < row_end; ++i) {
        __m256i* p = reinterpret_cast<__m256i*>(dst + i * acc_stride);
        _mm256_storeu_si256(p, _mm256_add_epi16(_mm256_loadu_si256(p),
                                                _mm256_load_si256(reinterpret_cast<__m256i*>(out + 16 * i))));
      }
    }
  }
  if (b < count) {
    // Last odd block: the same block in both halves, the low half added.
    __m256i r[8];
    #pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
      r[i] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i * luma_stride + 8 * b)));
    FilterPair(r, sv);
    int16_t* dst = acc + 8 * b;
    alignas(32) int16_t out[128];
    #pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) _mm256_store_si256(reinterpret_cast<__m256i*>(out + 16 * i), r[i]);
    for (int i = row_begin; i < row_end; ++i) {
      __m128i* p = reinterpret_cast<__m128i*>(dst + i * acc_stride);
      _mm_storeu_si128(p, _mm_add_epi16(_mm_loadu_si128(p), _mm_load_si128(reinterpret_cast<__m128i*>(out + 16 * i))));
    }
  }
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

void SeedRow_AVX2(const int16_t* luma, int16_t* acc, int n, int32_t weight) {
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>(weight));
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + x));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + x), _mm256_mullo_epi16(v, w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

void AddRow_AVX2(const int16_t* luma, int16_t* acc, int n) {
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    __m256i* p = reinterpret_cast<__m256i*>(acc + x);
    _mm256_storeu_si256(p, _mm256_add_epi16(_mm256_loadu_si256(p),
                                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + x))));
  }
  AddRow_C(luma + x, acc + x, n - x);
}

// Float division as in the SSE2 kernel (exact for |acc * 16| <= 2^19).
void AverageRow_AVX2(const int16_t* acc, int16_t* y, int n, int32_t weight) {
  const __m256 w = _mm256_set1_ps(static_cast<float>(weight));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + x)));
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

#undef VELOUR_INLINE

}  // namespace velour
