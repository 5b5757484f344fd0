#pragma once
// The edge-line arithmetic of every vector tier and its horizontal runs, written once over a
// vector-traits type V of V::kLanes 16-bit lanes, one edge line per lane.
//
// Why 16-bit lanes are exact, for 0 <= alpha, beta, tc0 <= 4096 (VectorThresholds; the tables
// reach 4080, 432 and 560):
// - |a - b| of two int16 is max - min taken modulo 2^16: exact as an unsigned 16-bit value
//   (0..65535), and d < t is "t -sat d is not 0" in unsigned saturating arithmetic.
// - Only lines that pass the three tests are stored, and for them |q0 - p0| < alpha and
//   |p1 - q1| < alpha + 2 * beta, so |(q0 - p0) * 4 + (p1 - q1) + 4| <= 7 * 4095 + 4 < 2^15:
//   formed modulo 2^16 it is the exact value, and the arithmetic shift is exact too.
// - (a + b + 1) >> 1 of two int16 is the unsigned rounding average of a ^ 0x8000 and b ^ 0x8000,
//   flipped back; (a + b) >> 1 is that minus (a ^ b) & 1.
// - (p2 + m - 2 * p1) >> 1 = ((p2 + m) >> 1) - p1; that difference can leave 16 bits, but it is
//   clipped to [-tc0, tc0] next, so saturating it first changes nothing.
// - Stores keep the low 16 bits, as the wrapping adds and subtracts do.
//
// Included only by the ISA files, after their intrinsics header and the definition of their V.
// Everything here has internal linkage: each ISA file keeps its own copy, compiled for its own
// instruction set.
//
// V provides: Reg; kLanes; the operations of AUF_VECTOR_OPS (core/x86/vector_ops.h); and lane
// masks, either as registers of all-ones lanes (Equal) or, where V has mask registers, as V::Mask
// with NotBelowMask(d, t) (unsigned d >= t), MaskOr, AddUnless(v, mask, w) and SubUnless(v, mask,
// w) (v + w and v - w where mask is clear).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/x86/vector_ops.h"
#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_x86.h"

#define DEBLOCK_INLINE inline __attribute__((always_inline))

namespace deblock {
namespace {

template <class V>
struct Limits {
  typename V::Reg alpha, beta, tc0;
};

template <class V>
DEBLOCK_INLINE Limits<V> MakeLimits(int32_t alpha, int32_t beta, int32_t tc0) {
  return {V::Set1(static_cast<int16_t>(alpha)), V::Set1(static_cast<int16_t>(beta)),
          V::Set1(static_cast<int16_t>(tc0))};
}

template <class V>
DEBLOCK_INLINE typename V::Reg AbsDiff(typename V::Reg a, typename V::Reg b) {
  return V::Sub(V::Max(a, b), V::Min(a, b));
}

template <class V>
inline constexpr bool kMaskRegisters = requires {
  typename V::Mask;
};

// Set where the unsigned d is not below t.
template <class V>
DEBLOCK_INLINE auto NotBelow(typename V::Reg d, typename V::Reg t) {
  if constexpr (kMaskRegisters<V>) return V::NotBelowMask(d, t);
  else return V::Equal(V::SubSatU(t, d), V::Zero());
}

template <class V, class Mask>
DEBLOCK_INLINE Mask Either(Mask a, Mask b) {
  if constexpr (kMaskRegisters<V>) return V::MaskOr(a, b);
  else return V::Or(a, b);
}

// v + w and v - w where mask is clear, v where it is set.
template <class V, class Mask>
DEBLOCK_INLINE typename V::Reg AddUnless(typename V::Reg v, Mask mask, typename V::Reg w) {
  if constexpr (kMaskRegisters<V>) return V::AddUnless(v, mask, w);
  else return V::Add(v, V::AndNot(mask, w));
}

template <class V, class Mask>
DEBLOCK_INLINE typename V::Reg SubUnless(typename V::Reg v, Mask mask, typename V::Reg w) {
  if constexpr (kMaskRegisters<V>) return V::SubUnless(v, mask, w);
  else return V::Sub(v, V::AndNot(mask, w));
}

template <class V>
DEBLOCK_INLINE typename V::Reg Clip(typename V::Reg v, typename V::Reg limit) {
  return V::Min(V::Max(v, V::Sub(V::Zero(), limit)), limit);
}

// One edge line per lane: p2 .. q2 in, p1 .. q1 filtered in place.
template <class V>
DEBLOCK_INLINE void FilterLanes(typename V::Reg p2, typename V::Reg& p1, typename V::Reg& p0,
                                typename V::Reg& q0, typename V::Reg& q1, typename V::Reg q2,
                                const Limits<V>& t) {
  using Reg = typename V::Reg;
  const Reg bias = V::Set1(-0x8000);
  const Reg one = V::Set1(1);
  const auto skip =
      Either<V>(NotBelow<V>(AbsDiff<V>(p0, q0), t.alpha),
                Either<V>(NotBelow<V>(AbsDiff<V>(p1, p0), t.beta), NotBelow<V>(AbsDiff<V>(q1, q0), t.beta)));
  const auto keep_p1 = Either<V>(skip, NotBelow<V>(AbsDiff<V>(p2, p0), t.beta));
  const auto keep_q1 = Either<V>(skip, NotBelow<V>(AbsDiff<V>(q2, q0), t.beta));
  const Reg tc = AddUnless<V>(AddUnless<V>(t.tc0, keep_p1, one), keep_q1, one);
  Reg d = V::Add(V::ShiftLeft2(V::Sub(q0, p0)), V::Sub(p1, q1));
  d = Clip<V>(V::ShiftRight3(V::Add(d, V::Set1(4))), tc);
  // m from the new p0 and q0 as stored. Each sample takes its change where its line is filtered,
  // in place, so that few values are live at once.
  const Reg mb = V::AverageU(V::Xor(V::Add(p0, d), bias), V::Xor(V::Sub(q0, d), bias));  // m ^ 0x8000
  p0 = AddUnless<V>(p0, skip, d);
  q0 = SubUnless<V>(q0, skip, d);
  const Reg m = V::Xor(mb, bias);
  const Reg hp = V::Sub(V::Xor(V::AverageU(V::Xor(p2, bias), mb), bias), V::And(V::Xor(p2, m), one));
  p1 = AddUnless<V>(p1, keep_p1, Clip<V>(V::SubSat(hp, p1), t.tc0));
  const Reg hq = V::Sub(V::Xor(V::AverageU(V::Xor(q2, bias), mb), bias), V::And(V::Xor(q2, m), one));
  q1 = AddUnless<V>(q1, keep_q1, Clip<V>(V::SubSat(hq, q1), t.tc0));
}

// kLanes samples of the horizontal edge above row q; rs = row step in samples.
template <class V>
DEBLOCK_INLINE void FilterRun(int16_t* q, ptrdiff_t rs, const Limits<V>& t) {
  typename V::Reg p1 = V::Load(q - 2 * rs), p0 = V::Load(q - rs), q0 = V::Load(q), q1 = V::Load(q + rs);
  FilterLanes<V>(V::Load(q - 3 * rs), p1, p0, q0, q1, V::Load(q + 2 * rs), t);
  V::Store(q - 2 * rs, p1);
  V::Store(q - rs, p0);
  V::Store(q, q0);
  V::Store(q + rs, q1);
}

template <class V>
void FilterHorizontalEdgesT(core::YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha, int32_t beta,
                            int32_t tc0) {
  constexpr int kLanes = V::kLanes;
  if (!VectorThresholds(alpha, beta, tc0))
    return FilterHorizontalEdges_C(pix, stride, count, alpha, beta, tc0);
  const Limits<V> t = MakeLimits<V>(alpha, beta, tc0);
  // Rows y-3 .. y+2 of these columns are runs of 3 * count samples, every sample an edge line of
  // its own: the components need not be told apart.
  int16_t* q = &pix->y;
  const ptrdiff_t rs = 3 * stride;
  const int n = 3 * count;
  if (n % kLanes == 0) {
    for (int i = 0; i < n; i += kLanes) FilterRun<V>(q + i, rs, t);
    return;
  }
  if (n > kLanes) {
    // The last kLanes samples, filtered from the unfiltered rows and stored after the others:
    // where they overlap the last whole vector, both give the same values.
    int16_t* e = q + n - kLanes;
    typename V::Reg p1 = V::Load(e - 2 * rs), p0 = V::Load(e - rs), q0 = V::Load(e), q1 = V::Load(e + rs);
    FilterLanes<V>(V::Load(e - 3 * rs), p1, p0, q0, q1, V::Load(e + 2 * rs), t);
    for (int i = 0; i + kLanes <= n; i += kLanes) FilterRun<V>(q + i, rs, t);
    V::Store(e - 2 * rs, p1);
    V::Store(e - rs, p0);
    V::Store(e, q0);
    V::Store(e + rs, q1);
    return;
  }
  // Fewer samples than lanes through a zeroed copy: nothing past the run is read or written.
  int16_t buf[6 * kLanes] = {};
  const size_t bytes = sizeof(int16_t) * static_cast<size_t>(n);
  for (int r = 0; r < 6; ++r) std::memcpy(buf + kLanes * r, q + (r - 3) * rs, bytes);
  FilterRun<V>(buf + 3 * kLanes, kLanes, t);
  for (int r = 1; r < 5; ++r) std::memcpy(q + (r - 3) * rs, buf + kLanes * r, bytes);
}

// One pixel into lanes 0..2 of an SSE register (lane 3 zero).
DEBLOCK_INLINE __m128i LoadPixel(const core::YcPixel* p) {
  int32_t ycb;
  std::memcpy(&ycb, p, 4);
  return _mm_insert_epi16(_mm_cvtsi32_si128(ycb), p->cr, 2);
}

DEBLOCK_INLINE __m128i Load16(const core::YcPixel* p, int byte) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(p) + byte));
}

}  // namespace
}  // namespace deblock
