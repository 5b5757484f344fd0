// SSE2 kernels of the RGBA conversion: eight pixels an iteration, the sums in 32-bit lanes through
// _mm_madd_epi16 with the coefficients of rgba_dsp.h; the last n % 8 pixels by the scalar functions.
#include <emmintrin.h>

#include "core/rgba_dsp.h"
#include "core/x86/rgba_x86.h"

namespace core {
namespace {

// A coefficient pair for _mm_madd_epi16: `lo` multiplies the even 16-bit lane, `hi` the odd one.
__m128i Pair(int32_t lo, int32_t hi) {
  return _mm_set1_epi32(
      static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | (static_cast<uint32_t>(lo) & 0xFFFF)));
}

// Two pixels [y cb cr 0 | y cb cr 0] to their 12 bytes [y cb cr y cb cr] in the low lanes, the
// rest zero.
__m128i Compact(__m128i p) {
  return _mm_or_si128(_mm_move_epi64(p), _mm_slli_si128(_mm_srli_si128(p, 8), 6));
}

// 12 bytes [y cb cr y' cb' cr'] at the bottom of t to [y cb cr * | y' cb' cr' *].
__m128i Expand(__m128i t) { return _mm_unpacklo_epi64(t, _mm_srli_si128(t, 6)); }

}  // namespace

void RgbaToYcRow_SSE2(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  // A pixel's words are (r, b) after masking and (g, a) after a shift; alpha gets coefficient 0.
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  const __m128i round = _mm_set1_epi32(1 << (kRgbToYcShift - 1));
  const __m128i y_rb = Pair(kRgbToY[0], kRgbToY[2]), y_g = Pair(kRgbToY[1], 0);
  const __m128i cb_rb = Pair(kRgbToCb[0], kRgbToCb[2]), cb_g = Pair(kRgbToCb[1], 0);
  const __m128i cr_rb = Pair(kRgbToCr[0], kRgbToCr[2]), cr_g = Pair(kRgbToCr[1], 0);
  const __m128i low_word = _mm_set1_epi32(0xFFFF);
  // Four pixels to [y cb cr 0] each, as two registers of two pixels.
  auto convert4 = [&](const uint8_t* p, __m128i* lo, __m128i* hi) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i rb = _mm_and_si128(v, low_bytes), ga = _mm_srli_epi16(v, 8);
    auto sum = [&](__m128i k_rb, __m128i k_g) {
      const __m128i s = _mm_add_epi32(_mm_madd_epi16(rb, k_rb), _mm_madd_epi16(ga, k_g));
      return _mm_srai_epi32(_mm_add_epi32(s, round), kRgbToYcShift);
    };
    const __m128i ycb =
        _mm_or_si128(_mm_and_si128(sum(y_rb, y_g), low_word), _mm_slli_epi32(sum(cb_rb, cb_g), 16));
    const __m128i cr = _mm_and_si128(sum(cr_rb, cr_g), low_word);
    *lo = _mm_unpacklo_epi32(ycb, cr);
    *hi = _mm_unpackhi_epi32(ycb, cr);
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i p01, p23, p45, p67;
    convert4(rgba + 4 * i, &p01, &p23);
    convert4(rgba + 4 * i + 16, &p45, &p67);
    const __m128i c01 = Compact(p01), c23 = Compact(p23), c45 = Compact(p45), c67 = Compact(p67);
    __m128i* out = reinterpret_cast<__m128i*>(yc + i);
    _mm_storeu_si128(out, _mm_or_si128(c01, _mm_slli_si128(c23, 12)));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(c23, 4), _mm_slli_si128(c45, 8)));
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c45, 8), _mm_slli_si128(c67, 4)));
  }
  RgbaToYcRow_C(rgba + 4 * i, yc + i, n - i);
}

void RgbaToLumaRow_SSE2(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift) {
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  const __m128i round = _mm_set1_epi32(1 << (kRgbToYcShift - 1));
  const __m128i y_rb = Pair(kRgbToY[0], kRgbToY[2]), y_g = Pair(kRgbToY[1], 0);
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + shift);
  // Four pixels' luma in 32-bit lanes, shifted; y < 2^12, so the pack cannot saturate.
  auto luma4 = [&](const uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i s = _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(v, low_bytes), y_rb),
                                    _mm_madd_epi16(_mm_srli_epi16(v, 8), y_g));
    return _mm_sra_epi32(_mm_add_epi32(s, round), count);
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + i),
                     _mm_packs_epi32(luma4(rgba + 4 * i), luma4(rgba + 4 * i + 16)));
  RgbaToLumaRow_C(rgba + 4 * i, luma + i, n - i, shift);
}

void YcToRgbaRow_SSE2(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  // Per pixel, [y cr y cb] gives r and b in one multiply-add, [y cb cr *] the two halves of g.
  const __m128i rb =
      _mm_setr_epi16(kYcToRgbY, kCrToR, kYcToRgbY, kCbToB, kYcToRgbY, kCrToR, kYcToRgbY, kCbToB);
  const __m128i g = _mm_setr_epi16(kYcToRgbY, kCbToG, kCrToG, 0, kYcToRgbY, kCbToG, kCrToG, 0);
  const __m128i round = _mm_set1_epi32(1 << (kYcToRgbShift - 1));
  const __m128i alpha = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m128i zero = _mm_setzero_si128();
  // Four pixels from two expanded pairs into the r, g, b bytes at p.
  auto convert4 = [&](__m128i e01, __m128i e23, uint8_t* p) {
    auto yryb = [](__m128i e) {
      return _mm_shufflehi_epi16(_mm_shufflelo_epi16(e, _MM_SHUFFLE(1, 0, 2, 0)), _MM_SHUFFLE(1, 0, 2, 0));
    };
    const __m128i rb01 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(yryb(e01), rb), round), kYcToRgbShift);
    const __m128i rb23 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(yryb(e23), rb), round), kYcToRgbShift);
    const __m128 g01 = _mm_castsi128_ps(_mm_madd_epi16(e01, g)),
                 g23 = _mm_castsi128_ps(_mm_madd_epi16(e23, g));
    const __m128i g0123 = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(g01, g23, _MM_SHUFFLE(2, 0, 2, 0))),
                                        _mm_castps_si128(_mm_shuffle_ps(g01, g23, _MM_SHUFFLE(3, 1, 3, 1))));
    const __m128i gz = _mm_unpacklo_epi16(
        _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(g0123, round), kYcToRgbShift), zero), zero);
    // [r b r b ...] and [g 0 g 0 ...] interleave to [r g b 0] per pixel; bytes saturate to 0..255.
    const __m128i words = _mm_packs_epi32(rb01, rb23);
    const __m128i bytes = _mm_packus_epi16(_mm_unpacklo_epi16(words, gz), _mm_unpackhi_epi16(words, gz));
    __m128i* out = reinterpret_cast<__m128i*>(p);
    _mm_storeu_si128(out, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(out), alpha), bytes));
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i* in = reinterpret_cast<const __m128i*>(yc + i);
    const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1), c = _mm_loadu_si128(in + 2);
    const __m128i t23 = _mm_or_si128(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4));
    const __m128i t45 = _mm_or_si128(_mm_srli_si128(b, 8), _mm_slli_si128(c, 8));
    convert4(Expand(a), Expand(t23), rgba + 4 * i);
    convert4(Expand(t45), Expand(_mm_srli_si128(c, 4)), rgba + 4 * i + 16);
  }
  YcToRgbaRow_C(yc + i, rgba + 4 * i, n - i);
}

}  // namespace core
