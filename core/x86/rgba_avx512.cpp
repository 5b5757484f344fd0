// AVX-512 kernels (F, BW) of the RGBA conversion: sixteen pixels an iteration, the sums in 32-bit
// lanes (rgba_simd.h), the 6-byte samples gathered and scattered with two-source word permutes (no
// 128-bit lanes in the way); the last n % 16 pixels by the scalar functions.
#include <immintrin.h>

#include "core/rgba_dsp.h"
#include "core/x86/rgba_simd.h"
#include "core/x86/rgba_x86.h"

namespace core {
namespace {

using V = simd::Avx512;

// Word indexes for _mm512_permutex2var_epi16, lane l taking word index[l] of (a, b) (b's from 32).
struct WordIndex {
  int16_t index[32];
};

// Samples of sixteen pixels [y cb cr ...] from (y0..15, cb0..15) and cr0..15: lane s of the first
// output is sample s, of the second sample 32 + s.
constexpr WordIndex MakeInterleave(int first) {
  WordIndex t{};
  for (int l = 0; l < 32; ++l) {
    const int s = first + l, p = (s / 3) % 16, c = s % 3;
    t.index[l] = static_cast<int16_t>(c == 2 ? 32 + p : 16 * c + p);
  }
  return t;
}
constexpr WordIndex kInterleave[2] = {MakeInterleave(0), MakeInterleave(32)};

// Pairs of samples (sample c0, sample c1) of sixteen pixels, from their 48 samples in (a, b).
constexpr WordIndex MakePairs(int c0, int c1) {
  WordIndex t{};
  for (int p = 0; p < 16; ++p) {
    t.index[2 * p] = static_cast<int16_t>(3 * p + c0);
    t.index[2 * p + 1] = static_cast<int16_t>(3 * p + c1);
  }
  return t;
}
constexpr WordIndex kYCr = MakePairs(0, 2), kYCb = MakePairs(0, 1);

__m512i LoadIndex(const WordIndex& w) { return V::Load(w.index); }

// The sums of sixteen pixels with the coefficients k (r, g, b), rounded and shifted: 32-bit lanes.
struct RgbSums {
  __m512i rb, g1;  // words (r, b) and (g, 1) of each pixel
  __m512i Sum(const int32_t* k) const {
    return Dot<V>(rb, g1, Pair<V>(k[0], k[2]), Pair<V>(k[1], 1 << (kRgbToYcShift - 1)));
  }
};

// The alpha byte becomes the word 1, so its coefficient is the rounding term.
RgbSums SumsOf(const uint8_t* p) {
  RgbSums s;
  SplitRgba<V>(V::Load(p), &s.rb, &s.g1);
  s.g1 = V::Blend(0xAAAAAAAAu, s.g1, V::Set32(1 << 16));
  return s;
}

void RgbaToYcRow(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  const __m512i first = LoadIndex(kInterleave[0]), second = LoadIndex(kInterleave[1]);
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const RgbSums s = SumsOf(rgba + 4 * i);
    // Each sum shifted lies within 16 bits; the word conversion keeps it.
    auto words = [&](const int32_t* k) {
      return _mm512_cvtepi32_epi16(V::ShiftRight32(s.Sum(k), kRgbToYcShift));
    };
    const __m512i ycb = _mm512_inserti64x4(_mm512_zextsi256_si512(words(kRgbToY)), words(kRgbToCb), 1);
    const __m512i cr = _mm512_zextsi256_si512(words(kRgbToCr));
    int16_t* out = &yc[i].y;
    V::Store(out, _mm512_permutex2var_epi16(ycb, first, cr));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm512_castsi512_si256(_mm512_permutex2var_epi16(ycb, second, cr)));
  }
  RgbaToYcRow_C(rgba + 4 * i, yc + i, n - i);
}

void RgbaToLumaRow(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift) {
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + shift);
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i y = _mm512_sra_epi32(SumsOf(rgba + 4 * i).Sum(kRgbToY), count);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma + i), _mm512_cvtepi32_epi16(y));
  }
  RgbaToLumaRow_C(rgba + 4 * i, luma + i, n - i, shift);
}

void YcToRgbaRow(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  const __m512i ycr = LoadIndex(kYCr), ycb = LoadIndex(kYCb);
  const __m512i round = V::Set32(1 << (kYcToRgbShift - 1));
  const __m512i r_k = Pair<V>(kYcToRgbY, kCrToR), b_k = Pair<V>(kYcToRgbY, kCbToB);
  const __m512i g_k = Pair<V>(kYcToRgbY, kCbToG), g_cr = Pair<V>(0, kCrToG);
  // Per 128-bit lane, bytes [r0..3 g0..3 b0..3 0 0 0 0] of four pixels to [r g b 0] each.
  // (bytes 0, 4, 8, none; 1, 5, 9, none; ...)
  const __m512i to_rgb0 =
      _mm512_set4_epi32(static_cast<int32_t>(0xFF0B0703u), static_cast<int32_t>(0xFF0A0602u),
                        static_cast<int32_t>(0xFF090501u), static_cast<int32_t>(0xFF080400u));
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const int16_t* in = &yc[i].y;
    const __m512i a = V::Load(in);
    const __m512i b = _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32)));
    const __m512i p_ycr = _mm512_permutex2var_epi16(a, ycr, b), p_ycb = _mm512_permutex2var_epi16(a, ycb, b);
    auto shifted = [&](__m512i sum) {
      return RoundShift<V>(sum, round, kYcToRgbShift);
    };
    const __m512i r = shifted(V::MulAdd(p_ycr, r_k));
    const __m512i g = shifted(Dot<V>(p_ycb, p_ycr, g_k, g_cr));
    const __m512i bl = shifted(V::MulAdd(p_ycb, b_k));
    // Each within 16 bits; unsigned saturation clamps to 0..255.
    const __m512i bytes = V::PackBytes(V::PackSigned(r, g), V::PackSigned(bl, bl));
    uint8_t* out = rgba + 4 * i;
    const __m512i old = V::Load(out);
    V::Store(out, _mm512_mask_blend_epi8(0x8888888888888888ull, _mm512_shuffle_epi8(bytes, to_rgb0), old));
  }
  YcToRgbaRow_C(yc + i, rgba + 4 * i, n - i);
}

}  // namespace

void InitRgbaDsp_AVX512(RgbaDsp& dsp) {
  dsp.RgbaToYcRow = RgbaToYcRow;
  dsp.YcToRgbaRow = YcToRgbaRow;
  dsp.RgbaToLumaRow = RgbaToLumaRow;
}

}  // namespace core
