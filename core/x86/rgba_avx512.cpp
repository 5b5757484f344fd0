// AVX-512 kernels (F, BW) of the RGBA conversion: sixteen pixels an iteration, the sums in 32-bit
// lanes (rgba_simd.h), at 8 and 16 bits, the 6-byte samples gathered and scattered with two-source
// word permutes (no 128-bit lanes in the way); the last n % 16 pixels by the scalar functions.
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

// The words [r g b *] of eight pixels from (r0..15, g0..15) and b0..15, from pixel `first` on.
constexpr WordIndex MakeRgb(int first) {
  WordIndex t{};
  for (int l = 0; l < 32; ++l) {
    const int p = first + l / 4, c = l % 4;
    t.index[l] = static_cast<int16_t>(c == 0 ? p : c == 1 ? 16 + p : 32 + p);
  }
  return t;
}
constexpr WordIndex kRgb[2] = {MakeRgb(0), MakeRgb(8)};

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

// Stores the samples of sixteen pixels, one a 32-bit lane of y, cb and cr (each within 16 bits, which
// the word conversion keeps), as their 96 bytes.
void StoreSamples(int16_t* out, __m512i y, __m512i cb, __m512i cr) {
  const __m512i ycb =
      _mm512_inserti64x4(_mm512_zextsi256_si512(_mm512_cvtepi32_epi16(y)), _mm512_cvtepi32_epi16(cb), 1);
  const __m512i cr0 = _mm512_zextsi256_si512(_mm512_cvtepi32_epi16(cr));
  V::Store(out, _mm512_permutex2var_epi16(ycb, LoadIndex(kInterleave[0]), cr0));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                      _mm512_castsi512_si256(_mm512_permutex2var_epi16(ycb, LoadIndex(kInterleave[1]), cr0)));
}

void RgbaToYcRow(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const RgbSums s = SumsOf(rgba + 4 * i);
    auto shifted = [&](const int32_t* k) {
      return V::ShiftRight32(s.Sum(k), kRgbToYcShift);
    };
    StoreSamples(&yc[i].y, shifted(kRgbToY), shifted(kRgbToCb), shifted(kRgbToCr));
  }
  RgbaToYcRow_C(rgba + 4 * i, yc + i, n - i);
}

// Sixteen 16-bit pixels, the 128 bytes at p: the words (r, g) of each gathered into a 32-bit lane of
// rg, and (b, a) into one of ba, in pixel order.
struct Pa64Gather {
  __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  __m512i odd = V::Add32(even, V::Set32(1));
  void Gather(const uint16_t* p, __m512i* rg, __m512i* ba) const {
    const __m512i a = V::Load(p), b = V::Load(p + 32);
    *rg = _mm512_permutex2var_epi32(a, even, b);
    *ba = _mm512_permutex2var_epi32(a, odd, b);
  }
};

void Pa64ToYcRow(const uint16_t* pa64, YcPixel* yc, int32_t n) {
  const Pa64Gather gather;
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m512i rg, ba, y, cb, cr;
    gather.Gather(pa64 + 4 * i, &rg, &ba);
    Pa64Samples<V>(rg, ba, &y, &cb, &cr);
    StoreSamples(&yc[i].y, y, cb, cr);
  }
  Pa64ToYcRow_C(pa64 + 4 * i, yc + i, n - i);
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

void Pa64ToLumaRow(const uint16_t* pa64, int16_t* luma, int32_t n, int32_t shift) {
  const Pa64Gather gather;
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + kPa64LevelBits + shift);
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m512i rg, ba;
    gather.Gather(pa64 + 4 * i, &rg, &ba);
    const __m512i y = _mm512_sra_epi32(Pa64LumaSumOf<V>(rg, ba), count);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma + i), _mm512_cvtepi32_epi16(y));
  }
  Pa64ToLumaRow_C(pa64 + 4 * i, luma + i, n - i, shift);
}

// The sums of YcToRgb of sixteen pixels, unshifted, in 32-bit lanes in pixel order.
struct YcSums {
  __m512i r, g, b;
};
YcSums SumsOf(const YcPixel* yc) {
  const __m512i r_k = Pair<V>(kYcToRgbY, kCrToR), b_k = Pair<V>(kYcToRgbY, kCbToB);
  const __m512i g_k = Pair<V>(kYcToRgbY, kCbToG), g_cr = Pair<V>(0, kCrToG);
  const int16_t* in = &yc->y;
  const __m512i a = V::Load(in);
  const __m512i b = _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32)));
  const __m512i p_ycr = _mm512_permutex2var_epi16(a, LoadIndex(kYCr), b);
  const __m512i p_ycb = _mm512_permutex2var_epi16(a, LoadIndex(kYCb), b);
  return {V::MulAdd(p_ycr, r_k), Dot<V>(p_ycb, p_ycr, g_k, g_cr), V::MulAdd(p_ycb, b_k)};
}

void YcToRgbaRow(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  const __m512i round = V::Set32(1 << (kYcToRgbShift - 1));
  // Per 128-bit lane, bytes [r0..3 g0..3 b0..3 0 0 0 0] of four pixels to [r g b 0] each.
  // (bytes 0, 4, 8, none; 1, 5, 9, none; ...)
  const __m512i to_rgb0 =
      _mm512_set4_epi32(static_cast<int32_t>(0xFF0B0703u), static_cast<int32_t>(0xFF0A0602u),
                        static_cast<int32_t>(0xFF090501u), static_cast<int32_t>(0xFF080400u));
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const YcSums s = SumsOf(yc + i);
    auto shifted = [&](__m512i sum) {
      return RoundShift<V>(sum, round, kYcToRgbShift);
    };
    const __m512i bl = shifted(s.b);
    // Each within 16 bits; unsigned saturation clamps to 0..255.
    const __m512i bytes = V::PackBytes(V::PackSigned(shifted(s.r), shifted(s.g)), V::PackSigned(bl, bl));
    uint8_t* out = rgba + 4 * i;
    const __m512i old = V::Load(out);
    V::Store(out, _mm512_mask_blend_epi8(0x8888888888888888ull, _mm512_shuffle_epi8(bytes, to_rgb0), old));
  }
  YcToRgbaRow_C(yc + i, rgba + 4 * i, n - i);
}

void YcToPa64Row(const YcPixel* yc, uint16_t* pa64, int32_t n) {
  const __m512i top = V::Set1(static_cast<int16_t>(0x8000));
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const YcSums s = SumsOf(yc + i);
    // Signed saturation clamps each to -32768..32767, 0..65535 once its top bit flips.
    auto words = [](__m512i sum) {
      return _mm512_cvtsepi32_epi16(Pa64WordsLess32768<V>(sum));
    };
    const __m512i rg = _mm512_inserti64x4(_mm512_zextsi256_si512(words(s.r)), words(s.g), 1);
    const __m512i b = _mm512_zextsi256_si512(words(s.b));
    for (int k = 0; k < 2; ++k) {
      uint16_t* out = pa64 + 4 * i + 32 * k;
      const __m512i rgb = V::Xor(_mm512_permutex2var_epi16(rg, LoadIndex(kRgb[k]), b), top);
      V::Store(out, V::Blend(0x88888888u, rgb, V::Load(out)));
    }
  }
  YcToPa64Row_C(yc + i, pa64 + 4 * i, n - i);
}

}  // namespace

void InitRgbaDsp_Avx512(RgbaDsp& dsp) {
  dsp.RgbaToYcRow = RgbaToYcRow;
  dsp.YcToRgbaRow = YcToRgbaRow;
  dsp.RgbaToLumaRow = RgbaToLumaRow;
  dsp.Pa64ToYcRow = Pa64ToYcRow;
  dsp.YcToPa64Row = YcToPa64Row;
  dsp.Pa64ToLumaRow = Pa64ToLumaRow;
}

}  // namespace core
