// AVX2 kernels of the RGBA conversion: eight pixels an iteration, the sums in 32-bit lanes
// (rgba_simd.h), at 8 and 16 bits, the 6-byte samples moved with byte shuffles (which stay within
// each 128-bit half); the last n % 8 pixels by the scalar functions.
#include <immintrin.h>

#include "core/rgba_dsp.h"
#include "core/x86/rgba_simd.h"
#include "core/x86/rgba_x86.h"

namespace core {
namespace {

using V = simd::Avx2;
using Xmm = simd::Sse2;

constexpr int8_t kZ = -1;  // a word lane that the shuffle clears

// The byte shuffle that moves 16-bit words: words[i] is the source word of word i (per 128-bit
// half: 0..7 within that half), or kZ for zero.
__m256i WordShuffle(const int8_t (&words)[16]) {
  alignas(32) int8_t bytes[32];
  for (int i = 0; i < 16; ++i) {
    const int8_t w = words[i];
    bytes[2 * i] = w == kZ ? int8_t{-128} : static_cast<int8_t>(2 * w);
    bytes[2 * i + 1] = w == kZ ? int8_t{-128} : static_cast<int8_t>(2 * w + 1);
  }
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

// The words (r, b) and (g, 1) of eight pixels: the alpha word becomes 1, and its coefficient the
// rounding term.
void SplitRgb1(__m256i v, __m256i* rb, __m256i* g1) {
  SplitRgba<V>(v, rb, g1);
  *g1 = _mm256_blend_epi16(*g1, V::Set32(1 << 16), 0xAA);
}

// Stores the samples of eight pixels, one a 32-bit lane of y, cb and cr (each within 16 bits), as
// their 48 bytes. After packing, each half holds [y0 y1 y2 y3 cb0 cb1 cb2 cb3] and [cr0 cr1 cr2 cr3
// ...] of its four pixels. The low half's 24 output bytes are `first` and the low 8 bytes of
// `middle`; the high half's are the high 8 bytes of `middle` and `last`.
struct SampleStore {
  __m256i first_ycb = WordShuffle({0, 4, kZ, 1, 5, kZ, 2, 6, 5, kZ, 2, 6, kZ, 3, 7, kZ});
  __m256i first_cr = WordShuffle({kZ, kZ, 0, kZ, kZ, 1, kZ, kZ, kZ, 1, kZ, kZ, 2, kZ, kZ, 3});
  __m256i middle_ycb = WordShuffle({kZ, 3, 7, kZ, kZ, kZ, kZ, kZ, kZ, kZ, kZ, kZ, 0, 4, kZ, 1});
  __m256i middle_cr = WordShuffle({2, kZ, kZ, 3, kZ, kZ, kZ, kZ, kZ, kZ, kZ, kZ, kZ, kZ, 0, kZ});

  void Store(YcPixel* yc, __m256i y, __m256i cb, __m256i cr) const {
    const __m256i ycb = V::PackSigned(y, cb);
    const __m256i crcr = V::PackSigned(cr, cr);
    const __m256i ends = V::Or(_mm256_shuffle_epi8(ycb, first_ycb), _mm256_shuffle_epi8(crcr, first_cr));
    const __m256i middle = V::Or(_mm256_shuffle_epi8(ycb, middle_ycb), _mm256_shuffle_epi8(crcr, middle_cr));
    char* out = reinterpret_cast<char*>(yc);
    Xmm::Store(out, _mm256_castsi256_si128(ends));
    Xmm::Store(out + 16, Xmm::Or(_mm256_castsi256_si128(middle), _mm256_extracti128_si256(middle, 1)));
    Xmm::Store(out + 32, _mm256_extracti128_si256(ends, 1));
  }
};

void RgbaToYcRow(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  const int32_t round = 1 << (kRgbToYcShift - 1);
  const __m256i y_rb = Pair<V>(kRgbToY[0], kRgbToY[2]), y_g = Pair<V>(kRgbToY[1], round);
  const __m256i cb_rb = Pair<V>(kRgbToCb[0], kRgbToCb[2]), cb_g = Pair<V>(kRgbToCb[1], round);
  const __m256i cr_rb = Pair<V>(kRgbToCr[0], kRgbToCr[2]), cr_g = Pair<V>(kRgbToCr[1], round);
  const SampleStore store;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i rb, g1;
    SplitRgb1(V::Load(rgba + 4 * i), &rb, &g1);
    auto sum = [&](__m256i k_rb, __m256i k_g1) {
      return V::ShiftRight32(Dot<V>(rb, g1, k_rb, k_g1), kRgbToYcShift);
    };
    store.Store(yc + i, sum(y_rb, y_g), sum(cb_rb, cb_g), sum(cr_rb, cr_g));
  }
  RgbaToYcRow_C(rgba + 4 * i, yc + i, n - i);
}

// Eight 16-bit pixels, the 64 bytes at p: the words (r, g) of each gathered into a 32-bit lane of rg,
// and (b, a) into one of ba, in pixel order.
void GatherPa64(const uint16_t* p, __m256i* rg, __m256i* ba) {
  const __m256 a = _mm256_castsi256_ps(V::Load(p)), b = _mm256_castsi256_ps(V::Load(p + 16));
  auto ordered = [](__m256 lanes) {
    return _mm256_permute4x64_epi64(_mm256_castps_si256(lanes), _MM_SHUFFLE(3, 1, 2, 0));
  };
  *rg = ordered(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  *ba = ordered(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

void Pa64ToYcRow(const uint16_t* pa64, YcPixel* yc, int32_t n) {
  const SampleStore store;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i rg, ba, y, cb, cr;
    GatherPa64(pa64 + 4 * i, &rg, &ba);
    Pa64Samples<V>(rg, ba, &y, &cb, &cr);
    store.Store(yc + i, y, cb, cr);
  }
  Pa64ToYcRow_C(pa64 + 4 * i, yc + i, n - i);
}

void RgbaToLumaRow(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift) {
  const __m256i y_rb = Pair<V>(kRgbToY[0], kRgbToY[2]), y_g = Pair<V>(kRgbToY[1], 1 << (kRgbToYcShift - 1));
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + shift);
  // Eight pixels' luma in 32-bit lanes, shifted; y < 2^12, so the pack cannot saturate.
  auto luma8 = [&](const uint8_t* p) {
    __m256i rb, g1;
    SplitRgb1(V::Load(p), &rb, &g1);
    return _mm256_sra_epi32(Dot<V>(rb, g1, y_rb, y_g), count);
  };
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i packed = V::PackSigned(luma8(rgba + 4 * i), luma8(rgba + 4 * i + 32));
    V::Store(luma + i, _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  RgbaToLumaRow_C(rgba + 4 * i, luma + i, n - i, shift);
}

void Pa64ToLumaRow(const uint16_t* pa64, int16_t* luma, int32_t n, int32_t shift) {
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + kPa64LevelBits + shift);
  // Eight pixels' luma in 32-bit lanes, shifted; y < 2^12, so the pack cannot saturate.
  auto luma8 = [&](const uint16_t* p) {
    __m256i rg, ba;
    GatherPa64(p, &rg, &ba);
    return _mm256_sra_epi32(Pa64LumaSumOf<V>(rg, ba), count);
  };
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i packed = V::PackSigned(luma8(pa64 + 4 * i), luma8(pa64 + 4 * i + 32));
    V::Store(luma + i, _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  Pa64ToLumaRow_C(pa64 + 4 * i, luma + i, n - i, shift);
}

// The sums of YcToRgb of eight pixels, unshifted, in two registers of four pixels each: pixels
// [0 1 | 2 3] and [4 5 | 6 7] by halves, each half [r b r' b'] in `rb` and [g * g' *] in `g`.
struct YcSums8 {
  // Each 128-bit half works on two pixels [y cb cr y' cb' cr' * *]: [y cr y cb] gives r and b in one
  // multiply-add, [y cb cr 0] the two halves of g.
  __m256i to_yryb = WordShuffle({0, 2, 0, 1, 3, 5, 3, 4, 0, 2, 0, 1, 3, 5, 3, 4});
  __m256i to_ycbcr = WordShuffle({0, 1, 2, kZ, 3, 4, 5, kZ, 0, 1, 2, kZ, 3, 4, 5, kZ});
  __m256i rb_k =
      _mm256_setr_epi16(kYcToRgbY, kCrToR, kYcToRgbY, kCbToB, kYcToRgbY, kCrToR, kYcToRgbY, kCbToB, kYcToRgbY,
                        kCrToR, kYcToRgbY, kCbToB, kYcToRgbY, kCrToR, kYcToRgbY, kCbToB);
  __m256i g_k = _mm256_setr_epi16(kYcToRgbY, kCbToG, kCrToG, 0, kYcToRgbY, kCbToG, kCrToG, 0, kYcToRgbY,
                                  kCbToG, kCrToG, 0, kYcToRgbY, kCbToG, kCrToG, 0);
  // Pixels 0..3 of the eight at bytes 0..31 (dwords 0..7), 4..7 at bytes 16..47: the halves start at
  // pixels 0 and 2, and 4 and 6.
  __m256i pairs_lo = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
  __m256i pairs_hi = _mm256_setr_epi32(2, 3, 4, 5, 5, 6, 7, 7);

  void Sums4(__m256i x, __m256i* rb, __m256i* g) const {
    *rb = V::MulAdd(_mm256_shuffle_epi8(x, to_yryb), rb_k);
    const __m256i g_halves = V::MulAdd(_mm256_shuffle_epi8(x, to_ycbcr), g_k);
    *g = V::Add32(g_halves, _mm256_srli_epi64(g_halves, 32));
  }
  // rb[0], g[0]: pixels 0..3; rb[1], g[1]: pixels 4..7.
  void Sums(const YcPixel* yc, __m256i* rb, __m256i* g) const {
    const char* in = reinterpret_cast<const char*>(yc);
    Sums4(_mm256_permutevar8x32_epi32(V::Load(in), pairs_lo), &rb[0], &g[0]);
    Sums4(_mm256_permutevar8x32_epi32(V::Load(in + 16), pairs_hi), &rb[1], &g[1]);
  }
};

void YcToRgbaRow(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  const YcSums8 sums;
  const __m256i round = V::Set32(1 << (kYcToRgbShift - 1));
  // Bytes [r b r' b' g * g' *] of two pixels (per half of each packed source) to [r g b 0 r' g' b' 0].
  alignas(32) static constexpr int8_t kToRgb0[32] = {0,    4,    1,  -128, 2,    6,    3,  -128, 8,    12,  9,
                                                     -128, 10,   14, 11,   -128, 0,    4,  1,    -128, 2,   6,
                                                     3,    -128, 8,  12,   9,    -128, 10, 14,   11,   -128};
  const __m256i to_rgb0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(kToRgb0));
  const __m256i alpha = V::Set32(static_cast<int32_t>(0xFF000000u));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i rb[2], g[2], words[2];
    sums.Sums(yc + i, rb, g);
    for (int k = 0; k < 2; ++k)
      words[k] = V::PackSigned(RoundShift<V>(rb[k], round, kYcToRgbShift),
                               RoundShift<V>(g[k], round, kYcToRgbShift));
    // Unsigned saturation clamps to 0..255; the halves hold pixels [0 1 4 5] and [2 3 6 7].
    const __m256i bytes = _mm256_shuffle_epi8(V::PackBytes(words[0], words[1]), to_rgb0);
    uint8_t* out = rgba + 4 * i;
    const __m256i rgb = _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(3, 1, 2, 0));
    V::Store(out, V::Or(V::And(V::Load(out), alpha), rgb));
  }
  YcToRgbaRow_C(yc + i, rgba + 4 * i, n - i);
}

void YcToPa64Row(const YcPixel* yc, uint16_t* pa64, int32_t n) {
  const YcSums8 sums;
  // Words [r b r' b' g * g' *] of two pixels (per half) to [r g b * r' g' b' *].
  const __m256i to_rgb = WordShuffle({0, 4, 1, kZ, 2, 6, 3, kZ, 0, 4, 1, kZ, 2, 6, 3, kZ});
  const __m256i top = V::Set1(static_cast<int16_t>(0x8000));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i rb[2], g[2];
    sums.Sums(yc + i, rb, g);
    for (int k = 0; k < 2; ++k) {
      const __m256i words = V::PackSigned(Pa64WordsLess32768<V>(rb[k]), Pa64WordsLess32768<V>(g[k]));
      uint16_t* out = pa64 + 4 * i + 16 * k;
      const __m256i rgb = V::Xor(_mm256_shuffle_epi8(words, to_rgb), top);
      V::Store(out, _mm256_blend_epi16(rgb, V::Load(out), 0x88));
    }
  }
  YcToPa64Row_C(yc + i, pa64 + 4 * i, n - i);
}

}  // namespace

void InitRgbaDsp_Avx2(RgbaDsp& dsp) {
  dsp.RgbaToYcRow = RgbaToYcRow;
  dsp.YcToRgbaRow = YcToRgbaRow;
  dsp.RgbaToLumaRow = RgbaToLumaRow;
  dsp.Pa64ToYcRow = Pa64ToYcRow;
  dsp.YcToPa64Row = YcToPa64Row;
  dsp.Pa64ToLumaRow = Pa64ToLumaRow;
}

}  // namespace core
