#pragma once
// What the vector tiers of the RGBA conversion share, over a tier's vector operations V
// (core/x86/vector_ops.h): the sums of coefficient pairs of rgba_dsp.h in 32-bit lanes through
// MulAdd, and the arithmetic of the 16-bit pictures' conversions, the layouts left to each tier. Included
// only by the ISA files; everything here has internal linkage.
#include <cstdint>

#include "core/rgba_dsp.h"
#include "core/x86/vector_ops.h"

namespace core {
namespace {

namespace simd = core::simd;

// A coefficient pair for MulAdd: `lo` multiplies the even 16-bit lane, `hi` the odd one.
template <class V>
inline typename V::Reg Pair(int32_t lo, int32_t hi) {
  return V::Set32(
      static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | (static_cast<uint32_t>(lo) & 0xFFFF)));
}

// Pixels of bytes [r g b a] as the 16-bit words (r, b) and (g, a).
template <class V>
inline void SplitRgba(typename V::Reg v, typename V::Reg* rb, typename V::Reg* ga) {
  *rb = V::And(v, V::Set1(0x00FF));
  *ga = V::ShiftRightU(v, 8);
}

// A coefficient row's sum for each pixel: rb . k_rb + ga . k_ga, in 32-bit lanes.
template <class V>
inline typename V::Reg Dot(typename V::Reg rb, typename V::Reg ga, typename V::Reg k_rb,
                           typename V::Reg k_ga) {
  return V::Add32(V::MulAdd(rb, k_rb), V::MulAdd(ga, k_ga));
}

// (sum + round) >> shift, arithmetic, in 32-bit lanes: round is 2^(shift - 1) in each.
template <class V>
inline typename V::Reg RoundShift(typename V::Reg sum, typename V::Reg round, int shift) {
  return V::ShiftRight32(V::Add32(sum, round), shift);
}

// ---- 16-bit pictures (Pa64ToYc, YcToPa64).

// Pa64Level of every 16-bit lane: v - floor((v + 128) / 257), with floor(x / 257) as
// (x x 65281) >> 24 (exact for every 16-bit x) and v + 128 saturated at 65535, which changes no
// quotient: from v = 65407 on, every one is 255, as 65535 / 257 is.
template <class V>
inline typename V::Reg Pa64Levels(typename V::Reg v) {
  const typename V::Reg x = V::AddSatU(v, V::Set1(128));
  return V::Sub(v, V::ShiftRightU(V::MulHiU16(x, V::Set1(static_cast<int16_t>(65281))), 8));
}

// The operands of MulAdd for pixels whose words (r, g) are the 32-bit lanes of rg and (b, a) those
// of ba, a pixel a lane: levels less 32768 in signed words (so that MulAdd may take them), and the
// alpha word 16, so that the coefficient 2^14 beside b is the rounding term.
template <class V>
inline void Pa64Operands(typename V::Reg* rg, typename V::Reg* ba) {
  const typename V::Reg bias = V::Set1(static_cast<int16_t>(0x8000));
  *rg = V::Xor(Pa64Levels<V>(*rg), bias);
  *ba = V::Or(V::And(V::Xor(Pa64Levels<V>(*ba), bias), V::Set32(0xFFFF)), V::Set32(16 << 16));
}

// A coefficient row's rounded sum on the operands of Pa64Operands, unshifted, in 32-bit lanes. A row
// that sums to 0 loses nothing to the 32768s; luma's (summing to 2^15) is given back the 2^30 they
// took.
template <class V>
inline typename V::Reg Pa64Sum(typename V::Reg rg, typename V::Reg ba, const int32_t* k) {
  return V::Add32(V::MulAdd(rg, Pair<V>(k[0], k[1])), V::MulAdd(ba, Pair<V>(k[2], 1 << 14)));
}
template <class V>
inline typename V::Reg Pa64LumaSum(typename V::Reg rg, typename V::Reg ba) {
  return V::Add32(Pa64Sum<V>(rg, ba, kRgbToY), V::Set32(1 << 30));
}

// The luma sums alone (Pa64LumaSum) of pixels whose words are gathered as for Pa64Operands.
template <class V>
inline typename V::Reg Pa64LumaSumOf(typename V::Reg rg, typename V::Reg ba) {
  Pa64Operands<V>(&rg, &ba);
  return Pa64LumaSum<V>(rg, ba);
}

// The samples of pixels whose words are rg and ba as for Pa64Operands, shifted, in 32-bit lanes.
template <class V>
inline void Pa64Samples(typename V::Reg rg, typename V::Reg ba, typename V::Reg* y, typename V::Reg* cb,
                        typename V::Reg* cr) {
  constexpr int kShift = kRgbToYcShift + kPa64LevelBits;
  Pa64Operands<V>(&rg, &ba);
  *y = V::ShiftRight32(Pa64LumaSum<V>(rg, ba), kShift);
  *cb = V::ShiftRight32(Pa64Sum<V>(rg, ba, kRgbToCb), kShift);
  *cr = V::ShiftRight32(Pa64Sum<V>(rg, ba, kRgbToCr), kShift);
}

// The 16-bit words of the sums of YcToPa64 (32-bit lanes) less 32768: floor((257 sum + 2^17) / 2^18)
// is floor((sum + sum / 256 + 2^9) / 2^10), and as sum + 2^9 is whole, the fraction of sum / 256
// cannot carry: (sum + (sum >> 8) + 2^9 - 2^25) >> 10, within 32 bits for any samples (|sum| < 1.5
// x 2^30). PackSigned then clamps them, and a flip of the top bit of each word gives 0..65535.
static_assert(kYcToRgbShift == 18, "Pa64WordsLess32768 divides by 2^18");
template <class V>
inline typename V::Reg Pa64WordsLess32768(typename V::Reg sum) {
  const typename V::Reg whole =
      V::Add32(V::Add32(sum, V::ShiftRight32(sum, 8)), V::Set32((1 << 9) - (1 << 25)));
  return V::ShiftRight32(whole, 10);
}

}  // namespace
}  // namespace core
