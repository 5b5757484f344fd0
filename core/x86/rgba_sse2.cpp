// SSE2 kernels of the RGBA conversion: eight pixels an iteration, the sums in 32-bit lanes
// (rgba_simd.h), at 8 and 16 bits; the last n % 8 pixels by the scalar functions.
#include <emmintrin.h>

#include "core/rgba_dsp.h"
#include "core/x86/rgba_simd.h"
#include "core/x86/rgba_x86.h"

namespace core {
namespace {

using V = simd::Sse2;
using Reg = V::Reg;

// Two pixels [y cb cr 0 | y cb cr 0] to their 12 bytes [y cb cr y cb cr] in the low lanes, the
// rest zero.
Reg Compact(Reg p) { return V::Or(_mm_move_epi64(p), _mm_slli_si128(_mm_srli_si128(p, 8), 6)); }

// 12 bytes [y cb cr y' cb' cr'] at the bottom of t to [y cb cr * | y' cb' cr' *].
Reg Expand(Reg t) { return V::UnpackLo64(t, _mm_srli_si128(t, 6)); }

// The samples of four pixels, one a 32-bit lane of y, cb and cr, to [y cb cr 0] each, as two
// registers of two pixels.
void Interleave4(Reg y, Reg cb, Reg cr, Reg* lo, Reg* hi) {
  const Reg low_word = V::Set32(0xFFFF);
  const Reg ycb = V::Or(V::And(y, low_word), V::ShiftLeft32(cb, 16));
  const Reg cr0 = V::And(cr, low_word);
  *lo = V::UnpackLo32(ycb, cr0);
  *hi = V::UnpackHi32(ycb, cr0);
}

// Eight pixels' [y cb cr 0] in four registers to their 48 bytes at out.
void Store8(char* out, Reg p01, Reg p23, Reg p45, Reg p67) {
  const Reg c01 = Compact(p01), c23 = Compact(p23), c45 = Compact(p45), c67 = Compact(p67);
  V::Store(out, V::Or(c01, _mm_slli_si128(c23, 12)));
  V::Store(out + 16, V::Or(_mm_srli_si128(c23, 4), _mm_slli_si128(c45, 8)));
  V::Store(out + 32, V::Or(_mm_srli_si128(c45, 8), _mm_slli_si128(c67, 4)));
}

// The samples of n pixels of 4 values each at `in`, eight an iteration, four of them at a time from
// convert4(pixels, &lo, &hi) as two registers of [y cb cr 0] pairs; the pixels done.
template <class T, class Convert4>
int32_t SamplesBy8(const T* in, YcPixel* yc, int32_t n, const Convert4& convert4) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    Reg p01, p23, p45, p67;
    convert4(in + 4 * i, &p01, &p23);
    convert4(in + 4 * i + 16, &p45, &p67);
    Store8(reinterpret_cast<char*>(yc + i), p01, p23, p45, p67);
  }
  return i;
}

void RgbaToYcRow(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  // A pixel's words are (r, b) and (g, a); alpha gets coefficient 0.
  const Reg round = V::Set32(1 << (kRgbToYcShift - 1));
  const Reg y_rb = Pair<V>(kRgbToY[0], kRgbToY[2]), y_g = Pair<V>(kRgbToY[1], 0);
  const Reg cb_rb = Pair<V>(kRgbToCb[0], kRgbToCb[2]), cb_g = Pair<V>(kRgbToCb[1], 0);
  const Reg cr_rb = Pair<V>(kRgbToCr[0], kRgbToCr[2]), cr_g = Pair<V>(kRgbToCr[1], 0);
  // Four pixels to [y cb cr 0] each, as two registers of two pixels.
  auto convert4 = [&](const uint8_t* p, Reg* lo, Reg* hi) {
    Reg rb, ga;
    SplitRgba<V>(V::Load(p), &rb, &ga);
    auto sum = [&](Reg k_rb, Reg k_g) {
      return RoundShift<V>(Dot<V>(rb, ga, k_rb, k_g), round, kRgbToYcShift);
    };
    Interleave4(sum(y_rb, y_g), sum(cb_rb, cb_g), sum(cr_rb, cr_g), lo, hi);
  };
  const int32_t i = SamplesBy8(rgba, yc, n, convert4);
  RgbaToYcRow_C(rgba + 4 * i, yc + i, n - i);
}

// Four 16-bit pixels, the 32 bytes at p: the words (r, g) and (b, a) of each gathered into a 32-bit
// lane each.
void GatherPa64(const uint16_t* p, Reg* rg, Reg* ba) {
  const __m128 a = _mm_castsi128_ps(V::Load(p)), b = _mm_castsi128_ps(V::Load(p + 8));
  *rg = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  *ba = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

void Pa64ToYcRow(const uint16_t* pa64, YcPixel* yc, int32_t n) {
  // Four pixels to [y cb cr 0] each, as two registers of two pixels.
  auto convert4 = [&](const uint16_t* p, Reg* lo, Reg* hi) {
    Reg rg, ba, y, cb, cr;
    GatherPa64(p, &rg, &ba);
    Pa64Samples<V>(rg, ba, &y, &cb, &cr);
    Interleave4(y, cb, cr, lo, hi);
  };
  const int32_t i = SamplesBy8(pa64, yc, n, convert4);
  Pa64ToYcRow_C(pa64 + 4 * i, yc + i, n - i);
}

void RgbaToLumaRow(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift) {
  const Reg round = V::Set32(1 << (kRgbToYcShift - 1));
  const Reg y_rb = Pair<V>(kRgbToY[0], kRgbToY[2]), y_g = Pair<V>(kRgbToY[1], 0);
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + shift);
  // Four pixels' luma in 32-bit lanes, shifted; y < 2^12, so the pack cannot saturate.
  auto luma4 = [&](const uint8_t* p) {
    Reg rb, ga;
    SplitRgba<V>(V::Load(p), &rb, &ga);
    return _mm_sra_epi32(V::Add32(Dot<V>(rb, ga, y_rb, y_g), round), count);
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) V::Store(luma + i, V::PackSigned(luma4(rgba + 4 * i), luma4(rgba + 4 * i + 16)));
  RgbaToLumaRow_C(rgba + 4 * i, luma + i, n - i, shift);
}

void Pa64ToLumaRow(const uint16_t* pa64, int16_t* luma, int32_t n, int32_t shift) {
  const __m128i count = _mm_cvtsi32_si128(kRgbToYcShift + kPa64LevelBits + shift);
  // Four pixels' luma in 32-bit lanes, shifted; y < 2^12, so the pack cannot saturate.
  auto luma4 = [&](const uint16_t* p) {
    Reg rg, ba;
    GatherPa64(p, &rg, &ba);
    return _mm_sra_epi32(Pa64LumaSumOf<V>(rg, ba), count);
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) V::Store(luma + i, V::PackSigned(luma4(pa64 + 4 * i), luma4(pa64 + 4 * i + 16)));
  Pa64ToLumaRow_C(pa64 + 4 * i, luma + i, n - i, shift);
}

// The sums of YcToRgb of four pixels from two expanded pairs: [r b r b] of pixels 0, 1 and 2, 3,
// and [g g g g], in 32-bit lanes, unshifted.
struct Sums4 {
  Reg rb01, rb23, g0123;
};
AUF_INLINE Sums4 YcSums4(Reg e01, Reg e23) {
  // Per pixel, [y cr y cb] gives r and b in one multiply-add, [y cb cr *] the two halves of g.
  const Reg rb = _mm_setr_epi16(kYcToRgbY, kCrToR, kYcToRgbY, kCbToB, kYcToRgbY, kCrToR, kYcToRgbY, kCbToB);
  const Reg g = _mm_setr_epi16(kYcToRgbY, kCbToG, kCrToG, 0, kYcToRgbY, kCbToG, kCrToG, 0);
  auto yryb = [](Reg e) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(e, _MM_SHUFFLE(1, 0, 2, 0)), _MM_SHUFFLE(1, 0, 2, 0));
  };
  const __m128 g01 = _mm_castsi128_ps(V::MulAdd(e01, g)), g23 = _mm_castsi128_ps(V::MulAdd(e23, g));
  return {V::MulAdd(yryb(e01), rb), V::MulAdd(yryb(e23), rb),
          V::Add32(_mm_castps_si128(_mm_shuffle_ps(g01, g23, _MM_SHUFFLE(2, 0, 2, 0))),
                   _mm_castps_si128(_mm_shuffle_ps(g01, g23, _MM_SHUFFLE(3, 1, 3, 1))))};
}

// Eight pixels' samples at `in` as four expanded pairs [y cb cr * y' cb' cr' *].
AUF_INLINE void LoadPairs8(const YcPixel* yc, Reg* e) {
  const char* in = reinterpret_cast<const char*>(yc);
  const Reg a = V::Load(in), b = V::Load(in + 16), c = V::Load(in + 32);
  e[0] = Expand(a);
  e[1] = Expand(V::Or(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4)));
  e[2] = Expand(V::Or(_mm_srli_si128(b, 8), _mm_slli_si128(c, 8)));
  e[3] = Expand(_mm_srli_si128(c, 4));
}

// n samples back into pixels of 4 values each at `out`, eight an iteration, four of them at a time by
// convert4(pair of pixels 0 and 1, pair of 2 and 3, pixels); the pixels done.
template <class T, class Convert4>
int32_t PixelsBy8(const YcPixel* yc, T* out, int32_t n, const Convert4& convert4) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    Reg e[4];
    LoadPairs8(yc + i, e);
    convert4(e[0], e[1], out + 4 * i);
    convert4(e[2], e[3], out + 4 * i + 16);
  }
  return i;
}

void YcToRgbaRow(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  const Reg round = V::Set32(1 << (kYcToRgbShift - 1));
  const Reg alpha = V::Set32(static_cast<int32_t>(0xFF000000u));
  const Reg zero = V::Zero();
  // Four pixels from two expanded pairs into the r, g, b bytes at p.
  auto convert4 = [&](Reg e01, Reg e23, uint8_t* p) {
    const Sums4 s = YcSums4(e01, e23);
    const Reg rb01 = RoundShift<V>(s.rb01, round, kYcToRgbShift);
    const Reg rb23 = RoundShift<V>(s.rb23, round, kYcToRgbShift);
    const Reg gz = V::UnpackLo16(V::PackSigned(RoundShift<V>(s.g0123, round, kYcToRgbShift), zero), zero);
    // [r b r b ...] and [g 0 g 0 ...] interleave to [r g b 0] per pixel; bytes saturate to 0..255.
    const Reg words = V::PackSigned(rb01, rb23);
    const Reg bytes = V::PackBytes(V::UnpackLo16(words, gz), V::UnpackHi16(words, gz));
    V::Store(p, V::Or(V::And(V::Load(p), alpha), bytes));
  };
  const int32_t i = PixelsBy8(yc, rgba, n, convert4);
  YcToRgbaRow_C(yc + i, rgba + 4 * i, n - i);
}

void YcToPa64Row(const YcPixel* yc, uint16_t* pa64, int32_t n) {
  const Reg alpha = _mm_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1), top = V::Set1(static_cast<int16_t>(0x8000));
  // Four pixels from two expanded pairs into the r, g, b words at p.
  auto convert4 = [&](Reg e01, Reg e23, uint16_t* p) {
    const Sums4 s = YcSums4(e01, e23);
    // [r b r b r b r b] of the four pixels, and their g twice each: interleaved, [r g b g] per pixel.
    const Reg rb = V::PackSigned(Pa64WordsLess32768<V>(s.rb01), Pa64WordsLess32768<V>(s.rb23));
    const Reg g = Pa64WordsLess32768<V>(s.g0123), g4 = V::PackSigned(g, g);
    const Reg gpairs = V::UnpackLo16(g4, g4);
    auto store = [&](uint16_t* at, Reg words) {
      V::Store(at, V::Or(V::And(V::Load(at), alpha), V::AndNot(alpha, V::Xor(words, top))));
    };
    store(p, V::UnpackLo16(rb, gpairs));
    store(p + 8, V::UnpackHi16(rb, gpairs));
  };
  const int32_t i = PixelsBy8(yc, pa64, n, convert4);
  YcToPa64Row_C(yc + i, pa64 + 4 * i, n - i);
}

}  // namespace

void InitRgbaDsp_Sse2(RgbaDsp& dsp) {
  dsp.RgbaToYcRow = RgbaToYcRow;
  dsp.YcToRgbaRow = YcToRgbaRow;
  dsp.RgbaToLumaRow = RgbaToLumaRow;
  dsp.Pa64ToYcRow = Pa64ToYcRow;
  dsp.YcToPa64Row = YcToPa64Row;
  dsp.Pa64ToLumaRow = Pa64ToLumaRow;
}

}  // namespace core
