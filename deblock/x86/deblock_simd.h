#pragma once
// The edge-line arithmetic of every vector tier and its horizontal runs, written once over a
// vector-traits type V of V::kLanes 16-bit lanes, one edge line per lane.
//
// Why 16-bit lanes are exact, for 0 <= alpha, beta, tc0 <= 4096 (VectorThresholds; the tables
// reach 4080, 432 and 560; the kernels hand any other call to the scalar ones):
// - |a - b| < t for t >= 1: the saturating difference d of two int16 lies within t of 0 exactly when
//   the true one does, and then d + t - 1 lies in 0 .. 2t - 2; anywhere else it lies, read as
//   unsigned 16 bits, above 2t - 2 (up to 32766 + t, or wrapped below 0 into 32768 and up). With mask
//   registers the test is Abs(d) < t read unsigned instead: Abs is |d| for every d but -32768, whose
//   Abs reads as 32768, and a saturated d lies beyond t either way. (With alpha or beta 0 no line
//   passes, and the kernels return at once.)
// - For lines that pass the three tests, |q0 - p0| < alpha (so the saturating q0 - p0 is exact)
//   and |p1 - q1| < alpha + 2 * beta, so |(q0 - p0) * 4 + (p1 - q1) + 4| <= 7 * 4095 + 4 < 2^15:
//   formed modulo 2^16 it is the exact value, and the arithmetic shift is exact too. For the other
//   lines the clip bound is 0, so whatever that value is, delta is 0 and nothing changes.
// - (a + b + 1) >> 1 of two int16 is (a | b) - ((a ^ b) >> 1), with an arithmetic shift: exact,
//   as the result fits 16 bits.
// - (p2 + m - 2 * p1) >> 1 is formed as ((p2 - p1) + (m - p1)) >> 1 in saturating arithmetic.
//   Where p1 changes (the line passes and ap < beta), |p2 - p1| < 2 * beta: exact. m - p1 and the
//   sum are exact unless a stored p0 or q0 wrapped and moved m by 2^15; then the true sum is beyond
//   2^15 - 2 * beta in magnitude, and the saturated one has its sign and at least that magnitude, so
//   both halves lie beyond tc0 and clip to the same bound. Elsewhere the clip bound is 0.
// - Stores keep the low 16 bits, as the wrapping adds and subtracts do.
//
// Included only by the ISA files. Everything here has internal linkage: each ISA file keeps its own
// copy, compiled for its own instruction set. V is a tier's vector operations (core/x86/vector_ops.h):
// its lane masks in registers of all-ones lanes, or in mask registers where it has them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/x86/vector_ops.h"
#include "deblock/deblock_dsp.h"

namespace deblock {
namespace {

namespace simd = core::simd;

// Thresholds for which the 16-bit lane arithmetic is exact (above).
inline bool VectorThresholds(int32_t alpha, int32_t beta, int32_t tc0) {
  return alpha >= 0 && alpha <= 4096 && beta >= 0 && beta <= 4096 && tc0 >= 0 && tc0 <= 4096;
}

template <class V>
struct Limits {
  // The tests against alpha and beta: t - 1 and the bound 2t - 2 of d + t - 1 in registers of
  // all-ones lanes; t itself (the bound of Abs(d)) with mask registers, where the bias is unused.
  // Then tc0 and -tc0.
  typename V::Reg alpha_bias, alpha_span, beta_bias, beta_span, tc0, neg_tc0;
  // With mask registers only: tc0 + 1, and the constants 1 and 4 of the arithmetic, read from here
  // like the thresholds rather than kept in registers.
  typename V::Reg tc1, one, four;
};

template <class V>
inline constexpr bool kMaskRegisters = requires {
  typename V::Mask;
};

// No line passes |p0 - q0| < 0 or |p1 - p0| < 0: with alpha or beta 0 nothing changes.
inline bool NothingPasses(int32_t alpha, int32_t beta) { return alpha <= 0 || beta <= 0; }

template <class V>
AUF_INLINE Limits<V> MakeLimits(int32_t alpha, int32_t beta, int32_t tc0) {
  auto set = [](int32_t v) {
    return V::Set1(static_cast<int16_t>(v));
  };
  if constexpr (kMaskRegisters<V>)
    return {V::Zero(), set(alpha), V::Zero(), set(beta), set(tc0), set(-tc0), set(tc0 + 1), set(1), set(4)};
  else
    return {set(alpha - 1), set(2 * alpha - 2), set(beta - 1), set(2 * beta - 2), set(tc0),
            set(-tc0),      V::Zero(),          V::Zero(),     V::Zero()};
}

// (a + b + 1) >> 1 of int16 lanes, exact.
template <class V>
AUF_INLINE typename V::Reg CeilAverage(typename V::Reg a, typename V::Reg b) {
  return V::Sub(V::Or(a, b), V::ShiftRight(V::Xor(a, b), 1));
}

// The change of p1 (or q1) before its clip: (p2 + m - 2 * p1) >> 1, or one of its size and sign.
template <class V>
AUF_INLINE typename V::Reg OuterStep(typename V::Reg p2, typename V::Reg p1, typename V::Reg m) {
  return V::ShiftRight(V::AddSat(V::SubSat(p2, p1), V::SubSat(m, p1)), 1);
}

// One edge line per lane: p2 .. q2 in, p1 .. q1 filtered in place. The changes of p0 and q0 are
// bounded by tc, and those of p1 and q1 by tc0, each 0 in the lanes that keep their value. With mask
// registers, `again` (where given) gives p2 (k = -3) and q2 (k = 2) a second time for the changes of
// p1 and q1, loaded again rather than kept in a register since the tests.
template <class V, class Again = std::nullptr_t>
AUF_INLINE void FilterLanes(typename V::Reg p2, typename V::Reg& p1, typename V::Reg& p0, typename V::Reg& q0,
                            typename V::Reg& q1, typename V::Reg q2, const Limits<V>& t,
                            Again again = nullptr) {
  using Reg = typename V::Reg;
  const Reg zero = V::Zero();
  const Reg d0 = V::SubSat(q0, p0);
  if constexpr (kMaskRegisters<V>) {
    // Each test only where those before it passed, each difference used as soon as it is formed:
    // in the eight registers of 32-bit code, p2 .. q2 and two more are all this needs at once.
    auto within = [](auto where, Reg d, Reg limit) {
      return V::BelowWhere(where, V::Abs(d), limit);
    };
    const auto pass = within(within(V::Below(V::Abs(d0), t.alpha_span), V::SubSat(p1, p0), t.beta_span),
                             V::SubSat(q1, q0), t.beta_span);
    const auto up = within(pass, V::SubSat(p2, p0), t.beta_span);  // and the line passes
    const auto uq = within(pass, V::SubSat(q2, q0), t.beta_span);
    const Reg x = V::ShiftRight(V::Add(V::Add(V::ShiftLeft(d0, 2), V::Sub(p1, q1)), t.four), 3);
    const Reg tc = V::AddWhere(V::Blend(up, t.tc0, t.tc1), uq, t.one);
    const Reg d = V::MinOrZero(pass, V::Max(x, V::Sub(zero, tc)), tc);
    p0 = V::Add(p0, d);
    q0 = V::Sub(q0, d);
    const Reg m = CeilAverage<V>(p0, q0);
    if constexpr (!std::is_null_pointer_v<Again>) p2 = again(-3), q2 = again(2);
    p1 = V::Add(p1, V::MinOrZero(up, V::Max(OuterStep<V>(p2, p1, m), t.neg_tc0), t.tc0));
    q1 = V::Add(q1, V::MinOrZero(uq, V::Max(OuterStep<V>(q2, q1, m), t.neg_tc0), t.tc0));
  } else {
    // The tests' differences, each plus its threshold less 1.
    const Reg ca = V::Add(d0, t.alpha_bias);
    const Reg c1 = V::Add(V::SubSat(p1, p0), t.beta_bias), c2 = V::Add(V::SubSat(q1, q0), t.beta_bias);
    const Reg cp = V::Add(V::SubSat(p2, p0), t.beta_bias), cq = V::Add(V::SubSat(q2, q0), t.beta_bias);
    const Reg x = V::ShiftRight(V::Add(V::Add(V::ShiftLeft(d0, 2), V::Sub(p1, q1)), V::Set1(4)), 3);
    // All-ones lanes: where the line passes, and where ap and aq are below beta.
    const Reg far =
        V::Or(V::SubSatU(ca, t.alpha_span), V::Or(V::SubSatU(c1, t.beta_span), V::SubSatU(c2, t.beta_span)));
    const Reg pass = V::Equal(far, zero);
    const Reg up = V::Equal(V::SubSatU(cp, t.beta_span), zero);
    const Reg uq = V::Equal(V::SubSatU(cq, t.beta_span), zero);
    const Reg tc = V::And(V::Sub(V::Sub(t.tc0, up), uq), pass);  // tc0 + 1 + 1, 0 where it fails
    const Reg d = V::Min(V::Max(x, V::Sub(zero, tc)), tc);
    p0 = V::Add(p0, d);
    q0 = V::Sub(q0, d);
    const Reg m = CeilAverage<V>(p0, q0);
    const Reg dp = V::Min(V::Max(OuterStep<V>(p2, p1, m), t.neg_tc0), t.tc0);
    p1 = V::Add(p1, V::And(dp, V::And(up, pass)));
    const Reg dq = V::Min(V::Max(OuterStep<V>(q2, q1, m), t.neg_tc0), t.tc0);
    q1 = V::Add(q1, V::And(dq, V::And(uq, pass)));
  }
}

// The six rows of a horizontal edge: row k (-3 .. 2) of the edge above row q, whose rows -3 .. -1
// lie from a on (the row 3 above q in the picture); rs = row step in samples.
AUF_INLINE int16_t* EdgeRow(int16_t* q, int16_t* a, ptrdiff_t rs, int k) {
  return k < 0 ? a + (3 + k) * rs : q + k * rs;
}

// kLanes samples of the horizontal edge above row q.
template <class V>
AUF_INLINE void FilterRun(int16_t* q, int16_t* a, ptrdiff_t rs, const Limits<V>& t) {
  auto load = [&](int k) {
    return V::Load(EdgeRow(q, a, rs, k));
  };
  typename V::Reg p1 = load(-2), p0 = load(-1), q0 = load(0), q1 = load(1);
  FilterLanes<V>(load(-3), p1, p0, q0, q1, load(2), t);
  V::Store(EdgeRow(q, a, rs, -2), p1);
  V::Store(EdgeRow(q, a, rs, -1), p0);
  V::Store(q, q0);
  V::Store(q + rs, q1);
}

template <class V>
void FilterHorizontalEdgesT(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                            int32_t alpha, int32_t beta, int32_t tc0) {
  constexpr int kLanes = V::kLanes;
  if (!VectorThresholds(alpha, beta, tc0))
    return FilterHorizontalEdges_C(pix, above, stride, count, alpha, beta, tc0);
  if (NothingPasses(alpha, beta)) return;
  const Limits<V> t = MakeLimits<V>(alpha, beta, tc0);
  // Rows y-3 .. y+2 of these columns are runs of 3 * count samples, every sample an edge line of
  // its own: the components need not be told apart.
  int16_t* q = &pix->y;
  int16_t* a = &above->y;
  const ptrdiff_t rs = 3 * stride;
  const int n = 3 * count;
  if (n % kLanes == 0) {
    for (int i = 0; i < n; i += kLanes) FilterRun<V>(q + i, a + i, rs, t);
    return;
  }
  if (n > kLanes) {
    // The last kLanes samples, filtered from the unfiltered rows and stored after the others:
    // where they overlap the last whole vector, both give the same values.
    const int e = n - kLanes;
    typename V::Reg r[6];
    for (int k = -3; k < 3; ++k) r[k + 3] = V::Load(EdgeRow(q + e, a + e, rs, k));
    FilterLanes<V>(r[0], r[1], r[2], r[3], r[4], r[5], t);
    for (int i = 0; i + kLanes <= n; i += kLanes) FilterRun<V>(q + i, a + i, rs, t);
    for (int k = -2; k < 2; ++k) V::Store(EdgeRow(q + e, a + e, rs, k), r[k + 3]);
    return;
  }
  // Fewer samples than lanes through a zeroed copy: nothing past the run is read or written.
  int16_t buf[6 * kLanes] = {};
  const size_t bytes = sizeof(int16_t) * static_cast<size_t>(n);
  for (int k = -3; k < 3; ++k) std::memcpy(buf + kLanes * (k + 3), EdgeRow(q, a, rs, k), bytes);
  typename V::Reg r[6];
  for (int k = 0; k < 6; ++k) r[k] = V::Load(buf + kLanes * k);
  FilterLanes<V>(r[0], r[1], r[2], r[3], r[4], r[5], t);
  for (int k = 1; k < 5; ++k) V::Store(buf + kLanes * k, r[k]);
  for (int k = -2; k < 2; ++k) std::memcpy(EdgeRow(q, a, rs, k), buf + kLanes * (k + 3), bytes);
}

// One pixel into lanes 0..2 of an SSE register (lane 3 zero).
AUF_INLINE __m128i LoadPixel(const core::YcPixel* p) {
  int32_t ycb;
  std::memcpy(&ycb, p, 4);
  return _mm_insert_epi16(_mm_cvtsi32_si128(ycb), p->cr, 2);
}

AUF_INLINE __m128i Load16(const core::YcPixel* p, int byte) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(p) + byte));
}

}  // namespace
}  // namespace deblock
