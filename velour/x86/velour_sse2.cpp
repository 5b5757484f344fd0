// SSE2 kernels: one 8x8 block at a time, a block row per register (8 x 16-bit lanes).
#include <emmintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

#define VELOUR_INLINE inline __attribute__((always_inline))

// The scalar butterfly lane by lane: S = sat(a + b), D = sat(sat(S - b) - b).
VELOUR_INLINE void Butterfly(__m128i& a, __m128i& b) {
  const __m128i s = _mm_adds_epi16(a, b);
  b = _mm_subs_epi16(_mm_subs_epi16(s, b), b);
  a = s;
}

// When no sum leaves 16 bits the butterfly is a plain sum and difference.
VELOUR_INLINE void ButterflyExact(__m128i& a, __m128i& b) {
  const __m128i s = _mm_add_epi16(a, b);
  b = _mm_sub_epi16(a, b);
  a = s;
}

// The 1-D transform across the eight registers, lane by lane.
template <bool kSaturate>
VELOUR_INLINE void Columns(__m128i* r) {
  auto bf = [](__m128i& a, __m128i& b) {
    if (kSaturate) Butterfly(a, b);
    else ButterflyExact(a, b);
  };
  bf(r[0], r[1]), bf(r[2], r[3]), bf(r[4], r[5]), bf(r[6], r[7]);
  bf(r[0], r[2]), bf(r[1], r[3]), bf(r[4], r[6]), bf(r[5], r[7]);
  bf(r[0], r[4]), bf(r[1], r[5]), bf(r[2], r[6]), bf(r[3], r[7]);
}

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

VELOUR_INLINE void Shift3(__m128i* r) {
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = _mm_srai_epi16(r[i], 3);
}

// Steps with their reciprocals; vector i holds entries 8i .. 8i + 7 of the arrays.
struct StepVectors {
  alignas(16) int16_t q[64];
  alignas(16) uint16_t mul[64];
  alignas(16) uint16_t shift[64];
};

// Lane l of vector i takes coefficient 8i + l, or 8l + i when transposed. False when a step lies
// outside the vector range. Entry 0 (the DC term, kept as it is) gets a harmless step.
bool LoadSteps(const int16_t* steps, bool transposed, StepVectors* sv) {
  for (int k = 0; k < 64; ++k) {
    const int q = k == 0 ? 8 : steps[k];
    if (!IsVectorStep(q)) return false;
    const int at = transposed ? (k & 7) * 8 + (k >> 3) : k;
    sv->q[at] = static_cast<int16_t>(q);
    sv->mul[at] = kStepReciprocals.entry[q].mul;
    sv->shift[at] = kStepReciprocals.entry[q].shift;
  }
  return true;
}

// x in [-4096, 4095]: q * trunc(x / q) through the magnitude, sign restored by (t ^ s) - s.
VELOUR_INLINE __m128i RequantizeVector(__m128i x, const StepVectors& sv, int i) {
  const __m128i s = _mm_srai_epi16(x, 15);
  const __m128i a = _mm_sub_epi16(_mm_xor_si128(x, s), s);
  __m128i t = _mm_mulhi_epu16(a, _mm_load_si128(reinterpret_cast<const __m128i*>(sv.mul + 8 * i)));
  t = _mm_mulhi_epu16(t, _mm_load_si128(reinterpret_cast<const __m128i*>(sv.shift + 8 * i)));
  t = _mm_mullo_epi16(t, _mm_load_si128(reinterpret_cast<const __m128i*>(sv.q + 8 * i)));
  return _mm_sub_epi16(_mm_xor_si128(t, s), s);
}

VELOUR_INLINE void RequantizeBlock(__m128i* r, const StepVectors& sv) {
  const int dc = _mm_extract_epi16(r[0], 0);
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = RequantizeVector(r[i], sv, i);
  r[0] = _mm_insert_epi16(r[0], dc, 0);
}

// Every sample in [-256, 255]: then no sum of the forward or inverse transform leaves 16 bits
// (forward sums stay within 64 * 256; inverse ones within the sum of all |coefficients|, which is
// at most 8 * (L2 norm) <= 8 * (8 * 256 + 8)), so both can run without saturation, and the
// inverse may take its two directions in either order.
VELOUR_INLINE bool WithinByte(const __m128i* r) {
  const __m128i bias = _mm_set1_epi16(256);
  __m128i o = _mm_add_epi16(r[0], bias);
  #pragma GCC unroll 8
  for (int i = 1; i < 8; ++i) o = _mm_or_si128(o, _mm_add_epi16(r[i], bias));
  const __m128i high = _mm_and_si128(o, _mm_set1_epi16(-512));
  return _mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF;
}

// Forward transform, requantisation (steps transposed) and inverse transform of the block in r,
// rows in, rows out.
VELOUR_INLINE void FilterBlock(__m128i* r, const StepVectors& sv) {
  if (WithinByte(r)) {
    Columns<false>(r);
    Transpose(r);
    Columns<false>(r);
    Shift3(r);
    RequantizeBlock(r, sv);
    Columns<false>(r);  // inverse, horizontal first
    Transpose(r);
    Columns<false>(r);
    Shift3(r);
  } else {
    Columns<true>(r);
    Transpose(r);
    Columns<true>(r);
    Shift3(r);
    RequantizeBlock(r, sv);
    Transpose(r);
    Columns<true>(r);
    Transpose(r);
    Columns<true>(r);
    Transpose(r);
    Shift3(r);
  }
}

}  // namespace

void Wht8x8_SSE2(int16_t* block) {
  __m128i r[8];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  Columns<true>(r);
  Transpose(r);
  Columns<true>(r);
  Transpose(r);
  Shift3(r);
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

void Requantize_SSE2(int16_t* block, const int16_t* steps) {
  StepVectors sv;
  if (!LoadSteps(steps, false, &sv)) return Requantize_C(block, steps);
  __m128i r[8];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  RequantizeBlock(r, sv);
  #pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

void FilterBlockRow_SSE2(const int16_t* luma, ptrdiff_t luma_stride, int16_t* acc, ptrdiff_t acc_stride, int count,
                         int row_begin, int row_end, const int16_t* steps) {
  StepVectors sv;
  if (!LoadSteps(steps, true, &sv))
    return FilterBlockRow_C(luma, luma_stride, acc, acc_stride, count, row_begin, row_end, steps);
  const bool whole = row_begin == 0 && row_end == 8;
  for (int b = 0; b < count; ++b) {
    __m128i r[8];
    #pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
      r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i * luma_stride + 8 * b));
    FilterBlock(r, sv);
    int16_t* dst = acc + 8 * b;
    if (whole) {
      #pragma GCC unroll 8
      for (int i = 0; i < 8; ++i) {
        __m128i* p = reinterpret_cast<__m128i*>(dst + i * acc_stride);
        _mm_storeu_si128(p, _mm_add_epi16(_mm_loadu_si128(p), r[i]));
      }
    } else {
      alignas(16) int16_t out[64];
      #pragma GCC unroll 8
      for (int i = 0; i < 8; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * i), r[i]);
      for (int i = row_begin; i < row_end; ++i) {
        __m128i* p = reinterpret_cast<__m128i*>(dst + i * acc_stride);
        _mm_storeu_si128(p, _mm_add_epi16(_mm_loadu_si128(p), _mm_load_si128(reinterpret_cast<__m128i*>(out + 8 * i))));
      }
    }
  }
}

void SeedRow_SSE2(const int16_t* luma, int16_t* acc, int n, int32_t weight) {
  const __m128i w = _mm_set1_epi16(static_cast<int16_t>(weight));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + x), _mm_mullo_epi16(v, w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

void AddRow_SSE2(const int16_t* luma, int16_t* acc, int n) {
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    __m128i* p = reinterpret_cast<__m128i*>(acc + x);
    _mm_storeu_si128(p, _mm_add_epi16(_mm_loadu_si128(p), _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x))));
  }
  AddRow_C(luma + x, acc + x, n - x);
}

// |acc * 16| <= 2^19 is exact in a float, and the correctly rounded quotient of a float division
// never crosses an integer: a non-integer quotient lies at least 1 / weight from one, far more
// than half its ulp (<= quotient * 2^-24). So truncating it gives the integer quotient.
void AverageRow_SSE2(const int16_t* acc, int16_t* y, int n, int32_t weight) {
  const __m128 w = _mm_set1_ps(static_cast<float>(weight));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + x));
    const __m128i lo = _mm_slli_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16), 4);
    const __m128i hi = _mm_slli_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16), 4);
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

#undef VELOUR_INLINE

}  // namespace velour
