#pragma once
// What the vector tiers of the RGBA conversion share, over a tier's vector operations V
// (core/x86/vector_ops.h): the sums of coefficient pairs of rgba_dsp.h in 32-bit lanes through
// MulAdd. Included only by the ISA files; everything here has internal linkage.
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

}  // namespace
}  // namespace core
