// SSE2 kernels of the RGBA conversion: eight pixels an iteration, the sums in 32-bit lanes
// (rgba_simd.h); the last n % 8 pixels by the scalar functions.
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

void RgbaToYcRow(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  // A pixel's words are (r, b) and (g, a); alpha gets coefficient 0.
  const Reg round = V::Set32(1 << (kRgbToYcShift - 1));
  const Reg y_rb = Pair<V>(kRgbToY[0], kRgbToY[2]), y_g = Pair<V>(kRgbToY[1], 0);
  const Reg cb_rb = Pair<V>(kRgbToCb[0], kRgbToCb[2]), cb_g = Pair<V>(kRgbToCb[1], 0);
  const Reg cr_rb = Pair<V>(kRgbToCr[0], kRgbToCr[2]), cr_g = Pair<V>(kRgbToCr[1], 0);
  const Reg low_word = V::Set32(0xFFFF);
  // Four pixels to [y cb cr 0] each, as two registers of two pixels.
  auto convert4 = [&](const uint8_t* p, Reg* lo, Reg* hi) {
    Reg rb, ga;
    SplitRgba<V>(V::Load(p), &rb, &ga);
    auto sum = [&](Reg k_rb, Reg k_g) {
      return RoundShift<V>(Dot<V>(rb, ga, k_rb, k_g), round, kRgbToYcShift);
    };
    const Reg ycb = V::Or(V::And(sum(y_rb, y_g), low_word), V::ShiftLeft32(sum(cb_rb, cb_g), 16));
    const Reg cr = V::And(sum(cr_rb, cr_g), low_word);
    *lo = V::UnpackLo32(ycb, cr);
    *hi = V::UnpackHi32(ycb, cr);
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    Reg p01, p23, p45, p67;
    convert4(rgba + 4 * i, &p01, &p23);
    convert4(rgba + 4 * i + 16, &p45, &p67);
    const Reg c01 = Compact(p01), c23 = Compact(p23), c45 = Compact(p45), c67 = Compact(p67);
    char* out = reinterpret_cast<char*>(yc + i);
    V::Store(out, V::Or(c01, _mm_slli_si128(c23, 12)));
    V::Store(out + 16, V::Or(_mm_srli_si128(c23, 4), _mm_slli_si128(c45, 8)));
    V::Store(out + 32, V::Or(_mm_srli_si128(c45, 8), _mm_slli_si128(c67, 4)));
  }
  RgbaToYcRow_C(rgba + 4 * i, yc + i, n - i);
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

void YcToRgbaRow(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  // Per pixel, [y cr y cb] gives r and b in one multiply-add, [y cb cr *] the two halves of g.
  const Reg rb = _mm_setr_epi16(kYcToRgbY, kCrToR, kYcToRgbY, kCbToB, kYcToRgbY, kCrToR, kYcToRgbY, kCbToB);
  const Reg g = _mm_setr_epi16(kYcToRgbY, kCbToG, kCrToG, 0, kYcToRgbY, kCbToG, kCrToG, 0);
  const Reg round = V::Set32(1 << (kYcToRgbShift - 1));
  const Reg alpha = V::Set32(static_cast<int32_t>(0xFF000000u));
  const Reg zero = V::Zero();
  // Four pixels from two expanded pairs into the r, g, b bytes at p.
  auto convert4 = [&](Reg e01, Reg e23, uint8_t* p) {
    auto yryb = [](Reg e) {
      return _mm_shufflehi_epi16(_mm_shufflelo_epi16(e, _MM_SHUFFLE(1, 0, 2, 0)), _MM_SHUFFLE(1, 0, 2, 0));
    };
    const Reg rb01 = RoundShift<V>(V::MulAdd(yryb(e01), rb), round, kYcToRgbShift);
    const Reg rb23 = RoundShift<V>(V::MulAdd(yryb(e23), rb), round, kYcToRgbShift);
    const __m128 g01 = _mm_castsi128_ps(V::MulAdd(e01, g)), g23 = _mm_castsi128_ps(V::MulAdd(e23, g));
    const Reg g0123 = V::Add32(_mm_castps_si128(_mm_shuffle_ps(g01, g23, _MM_SHUFFLE(2, 0, 2, 0))),
                               _mm_castps_si128(_mm_shuffle_ps(g01, g23, _MM_SHUFFLE(3, 1, 3, 1))));
    const Reg gz = V::UnpackLo16(V::PackSigned(RoundShift<V>(g0123, round, kYcToRgbShift), zero), zero);
    // [r b r b ...] and [g 0 g 0 ...] interleave to [r g b 0] per pixel; bytes saturate to 0..255.
    const Reg words = V::PackSigned(rb01, rb23);
    const Reg bytes = V::PackBytes(V::UnpackLo16(words, gz), V::UnpackHi16(words, gz));
    V::Store(p, V::Or(V::And(V::Load(p), alpha), bytes));
  };
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const char* in = reinterpret_cast<const char*>(yc + i);
    const Reg a = V::Load(in), b = V::Load(in + 16), c = V::Load(in + 32);
    const Reg t23 = V::Or(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4));
    const Reg t45 = V::Or(_mm_srli_si128(b, 8), _mm_slli_si128(c, 8));
    convert4(Expand(a), Expand(t23), rgba + 4 * i);
    convert4(Expand(t45), Expand(_mm_srli_si128(c, 4)), rgba + 4 * i + 16);
  }
  YcToRgbaRow_C(yc + i, rgba + 4 * i, n - i);
}

}  // namespace

void InitRgbaDsp_SSE2(RgbaDsp& dsp) {
  dsp.RgbaToYcRow = RgbaToYcRow;
  dsp.YcToRgbaRow = YcToRgbaRow;
  dsp.RgbaToLumaRow = RgbaToLumaRow;
}

}  // namespace core
