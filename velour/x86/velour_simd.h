#pragma once
// The block filter of every vector tier, written once over a vector-traits type V. A register holds
// one row of kLanes / 8 horizontally adjacent blocks, 8 samples of 16 bits per block, one block per
// 128-bit lane; every step works within the lanes, so each block is transformed on its own.
//
// Included only by the ISA files. Everything here has internal linkage: each ISA file keeps its own
// copy, compiled for its own instruction set, and the linker can never hand one tier's code to
// another (nor a tier's copy of a standard function such as std::min to any other file: none is
// called). Each ISA file defines its V and its InitVelourDsp_<TIER>, which calls
// SetVectorKernels<V> and adds the kernels of its own.
//
// V: a tier's vector operations (core/x86/vector_ops.h) and CopySign(t, x) (t with the sign of x,
// 0 where x is 0), KeepDc(r, original) (lane 0 of each block from original), NoneInBoth(a, b) (no
// bit set in both).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/x86/vector_ops.h"
#include "velour/velour_dsp.h"

namespace velour {
namespace {

namespace simd = core::simd;

// Blocks side by side in a register of V.
template <class V>
inline constexpr int kBlocks = V::kLanes / 8;

// The scalar butterfly lane by lane: S = sat(a + b), D = sat(sat(S - b) - b).
template <class V>
AUF_INLINE void Butterfly(typename V::Reg& a, typename V::Reg& b) {
  const typename V::Reg s = V::AddSat(a, b);
  b = V::SubSat(V::SubSat(s, b), b);
  a = s;
}

// When no sum leaves 16 bits the butterfly is a plain sum and difference.
template <class V>
AUF_INLINE void ButterflyExact(typename V::Reg& a, typename V::Reg& b) {
  const typename V::Reg s = V::Add(a, b);
  b = V::Sub(a, b);
  a = s;
}

// The samples of r added into 32-bit sums.
template <class V>
AUF_INLINE void AddRowToAcc(AccSample* acc, typename V::Reg r) {
  int16_t* p = reinterpret_cast<int16_t*>(acc);
  constexpr int kHalf = V::kLanes;  // 16-bit units in half a row of sums
  V::Store(p, V::Add32(V::Load(p), V::WidenLo(r)));
  V::Store(p + kHalf, V::Add32(V::Load(p + kHalf), V::WidenHi(r)));
}

// The 1-D transform across the eight registers, lane by lane.
template <class V, bool kSaturate>
AUF_INLINE void Columns(typename V::Reg* r) {
  auto bf = [](typename V::Reg& a, typename V::Reg& b) {
    if (kSaturate) Butterfly<V>(a, b);
    else ButterflyExact<V>(a, b);
  };
  bf(r[0], r[1]), bf(r[2], r[3]), bf(r[4], r[5]), bf(r[6], r[7]);
  bf(r[0], r[2]), bf(r[1], r[3]), bf(r[4], r[6]), bf(r[5], r[7]);
  bf(r[0], r[4]), bf(r[1], r[5]), bf(r[2], r[6]), bf(r[3], r[7]);
}

template <class V>
AUF_INLINE void Shift3(typename V::Reg* r) {
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = V::ShiftRight(r[i], 3);
}

// Steps and their reciprocals, transposed (the forward transform leaves the block transposed):
// lane l of each block in vector i takes coefficient 8l + i. Entry 0 (the DC term, kept as it is)
// gets a harmless step.
template <class V>
struct StepVectors {
  int16_t q[64 * kBlocks<V>];
  uint16_t mul[64 * kBlocks<V>];
  uint16_t shift[64 * kBlocks<V>];
};

// False when a step lies outside the vector range.
template <class V>
bool LoadSteps(const int16_t* steps, StepVectors<V>* sv) {
  for (int k = 0; k < 64; ++k) {
    const int q = k == 0 ? 8 : steps[k];
    if (!IsVectorStep(q)) return false;
    const int i = k & 7, l = k >> 3;
    for (int b = 0; b < kBlocks<V>; ++b) {
      const int at = (i * kBlocks<V> + b) * 8 + l;
      sv->q[at] = static_cast<int16_t>(q);
      sv->mul[at] = kStepReciprocals.entry[q].mul;
      sv->shift[at] = kStepReciprocals.entry[q].shift;
    }
  }
  return true;
}

// x in [-4096, 4095]: q * trunc(x / q) through the magnitude.
template <class V>
AUF_INLINE typename V::Reg RequantizeVector(typename V::Reg x, const StepVectors<V>& sv, int i) {
  const int at = 8 * kBlocks<V> * i;
  typename V::Reg t = V::MulHiU16(V::Abs(x), V::Load(reinterpret_cast<const int16_t*>(sv.mul) + at));
  t = V::MulHiU16(t, V::Load(reinterpret_cast<const int16_t*>(sv.shift) + at));
  t = V::MulLo16(t, V::Load(sv.q + at));
  return V::CopySign(t, x);
}

template <class V>
AUF_INLINE void RequantizeBlocks(typename V::Reg* r, const StepVectors<V>& sv) {
  const typename V::Reg dc = r[0];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = RequantizeVector<V>(r[i], sv, i);
  r[0] = V::KeepDc(r[0], dc);
}

// Rows 0..7 of the blocks at `src`, lines `pitch` bytes apart.
template <class V>
AUF_INLINE typename V::Reg LoadRow(const int16_t* src, ptrdiff_t pitch, int i) {
  return V::Load(LumaLineAt(src, i * pitch));
}

// Whether the range test of the blocks runs ahead of their transform (see FilterBlockRowT).
inline constexpr bool kTestAhead = sizeof(void*) < 8;

// Samples within +-kExactBound keep every sum of the forward and the inverse transform within 16
// bits. A forward sum adds at most 64 samples: within 64 * 384 = 24576. An inverse sum adds or
// subtracts coefficients, so it stays within the sum of their magnitudes, at most 8 times their L2
// norm (64 of them). The forward transform times 1/8 keeps the L2 norm of the block (the 8x8
// Hadamard matrix H has H'H = 64 I); the shift moves each coefficient by less than 1 and
// requantisation only shrinks them, so the norm is at most 8 * 384 + 8, and the sum 24640. So
// both directions can run without saturation, and the butterflies of any two index bits may run in
// either order. (Luma at full white is 256; 384 leaves room above and below.)
inline constexpr int kExactBound = 384;

// Whether every sample of the blocks at `src` lies within +-kExactBound: x + kExactBound, as an
// unsigned 16-bit value, exceeds 2 * kExactBound exactly where x lies outside.
template <class V>
AUF_INLINE bool RowsInExactRange(const int16_t* src, ptrdiff_t pitch) {
  using Reg = typename V::Reg;
  const Reg bias = V::Set1(kExactBound), span = V::Set1(2 * kExactBound);
  Reg o = V::SubSatU(V::Add(LoadRow<V>(src, pitch, 0), bias), span);
#pragma GCC unroll 8
  for (int i = 1; i < 8; ++i) o = V::Or(o, V::SubSatU(V::Add(LoadRow<V>(src, pitch, i), bias), span));
  return V::NoneInBoth(o, o);
}

// The exact path's two kinds of phase share these steps. On a group of four registers: the second
// unpack stage of the transpose on a0..a3, then the butterflies that pair its results by register
// bits 0 and 1, into s[0..3].
template <class V>
AUF_INLINE void UnpackInGroup(typename V::Reg a0, typename V::Reg a1, typename V::Reg a2, typename V::Reg a3,
                              typename V::Reg* s) {
  using Reg = typename V::Reg;
  Reg b0 = V::UnpackLo32(a0, a2), b1 = V::UnpackHi32(a0, a2), b2 = V::UnpackLo32(a1, a3),
      b3 = V::UnpackHi32(a1, a3);
  ButterflyExact<V>(b0, b1), ButterflyExact<V>(b2, b3), ButterflyExact<V>(b0, b2), ButterflyExact<V>(b1, b3);
  s[0] = b0, s[1] = b1, s[2] = b2, s[3] = b3;
}

// On a pair of registers four apart: their butterfly, the last unpack stage, and the butterfly of
// its two results.
template <class V>
AUF_INLINE void UnpackPair(typename V::Reg b, typename V::Reg c, typename V::Reg& lo, typename V::Reg& hi) {
  ButterflyExact<V>(b, c);
  lo = V::UnpackLo64(b, c), hi = V::UnpackHi64(b, c);
  ButterflyExact<V>(lo, hi);
}

// The exact case, every sample within +-kExactBound: the transform, requantisation and inverse run
// in phases that each hold at most four rows of blocks in registers, passing the others through the
// arrays s and r (in memory where registers run short, as in 32-bit code, which has eight). This is
// the order of FilterBlocksSaturating with butterflies moved: those of different index bits commute,
// and a butterfly between two registers commutes with an unpack stage that pairs registers by
// another bit, since that stage moves the lanes of both alike. Hands each filtered row i to
// sink(i, row).
template <class V, class Sink>
AUF_INLINE void FilterBlocksExact(const int16_t* src, ptrdiff_t pitch, const StepVectors<V>& sv,
                                  Sink&& sink) {
  using Reg = typename V::Reg;
  auto bf = [](Reg& a, Reg& b) {
    ButterflyExact<V>(a, b);
  };
  Reg s[8], r[8];
  // Rows 0..3, then 4..7: vertical butterflies of row bits 0 and 1, the first two unpack stages of
  // the transpose, and the horizontal butterflies that pair the registers by bits 1 and 2 after it.
#pragma GCC unroll 2
  for (int g = 0; g < 8; g += 4) {
    Reg x0 = LoadRow<V>(src, pitch, g), x1 = LoadRow<V>(src, pitch, g + 1);
    Reg x2 = LoadRow<V>(src, pitch, g + 2), x3 = LoadRow<V>(src, pitch, g + 3);
    bf(x0, x1), bf(x2, x3), bf(x0, x2), bf(x1, x3);
    UnpackInGroup<V>(V::UnpackLo16(x0, x1), V::UnpackHi16(x0, x1), V::UnpackLo16(x2, x3),
                     V::UnpackHi16(x2, x3), s + g);
  }
  // Pairs of registers: row bit 2, the last unpack stage, the horizontal butterflies of its bit,
  // which complete the forward transform; requantisation; the inverse's butterflies of that bit.
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    Reg lo, hi;
    UnpackPair<V>(s[i], s[i + 4], lo, hi);
    lo = V::ShiftRight(lo, 3), hi = V::ShiftRight(hi, 3);
    const Reg dc = lo;
    lo = RequantizeVector<V>(lo, sv, 2 * i), hi = RequantizeVector<V>(hi, sv, 2 * i + 1);
    if (i == 0) lo = V::KeepDc(lo, dc);
    bf(lo, hi);
    r[2 * i] = lo, r[2 * i + 1] = hi;
  }
  // Rows of registers 0..3, then 4..7: the other horizontal butterflies of the inverse around the
  // first unpack stage back, the second one, and the vertical butterflies of row bits 1 and 2.
#pragma GCC unroll 2
  for (int g = 0; g < 8; g += 4) {
    const Reg x0 = r[g], x1 = r[g + 1], x2 = r[g + 2], x3 = r[g + 3];
    Reg a0 = V::UnpackLo16(x0, x1), a1 = V::UnpackHi16(x0, x1), a2 = V::UnpackLo16(x2, x3),
        a3 = V::UnpackHi16(x2, x3);
    bf(a0, a2), bf(a1, a3);
    UnpackInGroup<V>(a0, a1, a2, a3, s + g);
  }
  // Pairs: the inverse's last horizontal butterflies, the last unpack stage, and the vertical
  // butterflies of row bit 0.
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    Reg lo, hi;
    UnpackPair<V>(s[i], s[i + 4], lo, hi);
    sink(2 * i, V::ShiftRight(lo, 3));
    sink(2 * i + 1, V::ShiftRight(hi, 3));
  }
}

// The scalar kernels' order, for blocks in which a sum may saturate.
template <class V, class Sink>
AUF_INLINE void FilterBlocksSaturating(const int16_t* src, ptrdiff_t pitch, const StepVectors<V>& sv,
                                       Sink&& sink) {
  typename V::Reg r[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) r[i] = LoadRow<V>(src, pitch, i);
  Columns<V, true>(r);
  simd::Transpose8x8<V>(r);
  Columns<V, true>(r);
  Shift3<V>(r);
  RequantizeBlocks<V>(r, sv);
  simd::Transpose8x8<V>(r);
  Columns<V, true>(r);
  simd::Transpose8x8<V>(r);
  Columns<V, true>(r);
  simd::Transpose8x8<V>(r);
  Shift3<V>(r);
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) sink(i, r[i]);
}

// The blocks at `src` filtered: forward transform, requantisation, inverse transform, on the exact
// path where `exact`; each filtered row i goes to sink(i, row).
template <class V, class Sink>
AUF_INLINE void FilterBlocks(const int16_t* src, ptrdiff_t pitch, bool exact, const StepVectors<V>& sv,
                             Sink&& sink) {
  if (exact) FilterBlocksExact<V>(src, pitch, sv, sink);
  else FilterBlocksSaturating<V>(src, pitch, sv, sink);
}

// One row of filtered blocks added into a line of sums: 16-bit partial sums, or 32-bit ones.
template <class V, bool kWide>
AUF_INLINE void AddRowOfBlocks(char* line, typename V::Reg r) {
  if constexpr (kWide) {
    AddRowToAcc<V>(reinterpret_cast<AccSample*>(line), r);
  } else {
    int16_t* p = reinterpret_cast<int16_t*>(line);
    V::Store(p, V::Add(V::Load(p), r));
  }
}

// Rows row_begin .. row_end - 1 of the filtered blocks in `out` (rows kLanes samples apart),
// their first `columns` samples, added into the lines of sums at `sums`, `pitch` bytes apart.
template <class V, bool kWide>
AUF_INLINE void AddColumns(const int16_t* out, char* sums, ptrdiff_t pitch, int row_begin, int row_end,
                           int columns) {
  constexpr int kWidth = V::kLanes;
  for (int i = row_begin; i < row_end; ++i) {
    char* line = sums + i * pitch;
    if constexpr (kWide) {
      for (int j = 0; j < columns; ++j) reinterpret_cast<AccSample*>(line)[j] += out[kWidth * i + j];
    } else {
      int16_t* p = reinterpret_cast<int16_t*>(line);
      for (int j = 0; j < columns; ++j) p[j] = static_cast<int16_t>(p[j] + out[kWidth * i + j]);
    }
  }
}

// The row of blocks of FilterBlockRow (kWide false: `sums` are 16-bit partial sums) or of
// FilterBlockRowWide (kWide true: 32-bit sums).
template <class V, bool kWide>
void FilterBlockRowT(const int16_t* luma, ptrdiff_t luma_pitch, char* sums, ptrdiff_t pitch, int count,
                     int row_begin, int row_end, const int16_t* steps) {
  using Reg = typename V::Reg;
  constexpr int kWidth = V::kLanes;
  constexpr size_t kSample = kWide ? sizeof(AccSample) : sizeof(int16_t);
  StepVectors<V> sv;
  if (!LoadSteps<V>(steps, &sv)) {
    if constexpr (kWide)
      FilterBlockRowWide_C(luma, luma_pitch, reinterpret_cast<AccSample*>(sums), pitch, count, row_begin,
                           row_end, steps);
    else
      FilterBlockRow_C(luma, luma_pitch, reinterpret_cast<int16_t*>(sums), pitch, count, row_begin, row_end,
                       steps);
    return;
  }
  int b = 0;
  while (b + kBlocks<V> <= count) {
    // Which of the next (up to 64) registers of blocks take the exact path. In 32-bit code that
    // test runs in a pass of its own: next to the transform, the compiler keeps the rows it loaded
    // for it, and spills them. With registers to spare it shares the transform's loads.
    const int left = (count - b) / kBlocks<V>, groups = left < 64 ? left : 64;
    uint64_t exact = 0;
    if (kTestAhead) {
      for (int g = 0; g < groups; ++g)
        exact |= uint64_t{RowsInExactRange<V>(luma + 8 * (b + g * kBlocks<V>), luma_pitch)} << g;
    }
    for (int g = 0; g < groups; ++g, b += kBlocks<V>) {
      char* at = sums + 8 * b * kSample;
      const bool within = kTestAhead ? (exact >> g & 1) != 0 : RowsInExactRange<V>(luma + 8 * b, luma_pitch);
      FilterBlocks<V>(luma + 8 * b, luma_pitch, within, sv, [&](int i, Reg row) {
        if (i >= row_begin && i < row_end) AddRowOfBlocks<V, kWide>(at + i * pitch, row);
      });
    }
  }
  if (b < count) {
    // The last blocks, fewer than a register holds, through a copy padded with zero blocks (which
    // stay zero): nothing past the row is read.
    const int columns = 8 * (count - b);
    int16_t in[8 * kWidth] = {}, out[8 * kWidth];
    for (int i = 0; i < 8; ++i)
      std::memcpy(in + kWidth * i, LumaLineAt(luma, i * luma_pitch) + 8 * b, sizeof(int16_t) * columns);
    const ptrdiff_t in_pitch = sizeof(int16_t) * kWidth;
    FilterBlocks<V>(in, in_pitch, RowsInExactRange<V>(in, in_pitch), sv,
                    [&](int i, Reg row) { V::Store(out + kWidth * i, row); });
    AddColumns<V, kWide>(out, sums + 8 * b * kSample, pitch, row_begin, row_end, columns);
  }
}

// Whole registers of the row, then the scalar kernel for the rest.
template <class V>
void AddRowT(const int16_t* luma, int16_t* partial, int n) {
  constexpr int kLanes = V::kLanes;
  int x = 0;
  for (; x + kLanes <= n; x += kLanes)
    AddRowOfBlocks<V, false>(reinterpret_cast<char*>(partial + x), V::Load(luma + x));
  AddRow_C(luma + x, partial + x, n - x);
}

template <class V>
void AddRowWideT(const int16_t* luma, AccSample* acc, int n) {
  constexpr int kLanes = V::kLanes;
  int x = 0;
  for (; x + kLanes <= n; x += kLanes) AddRowToAcc<V>(acc + x, V::Load(luma + x));
  AddRowWide_C(luma + x, acc + x, n - x);
}

template <class V>
void FoldRowT(int16_t* partial, AccSample* acc, int n) {
  constexpr int kLanes = V::kLanes;
  int x = 0;
  for (; x + kLanes <= n; x += kLanes) {
    AddRowToAcc<V>(acc + x, V::Load(partial + x));
    V::Store(partial + x, V::Zero());
  }
  FoldRow_C(partial + x, acc + x, n - x);
}

// y[3 x] for eight pixels from lanes 0..7 of q: the luma samples, every third, and nothing between.
AUF_INLINE void StoreLuma8(int16_t* y, __m128i q) {
  y[0] = static_cast<int16_t>(_mm_extract_epi16(q, 0));
  y[3] = static_cast<int16_t>(_mm_extract_epi16(q, 1));
  y[6] = static_cast<int16_t>(_mm_extract_epi16(q, 2));
  y[9] = static_cast<int16_t>(_mm_extract_epi16(q, 3));
  y[12] = static_cast<int16_t>(_mm_extract_epi16(q, 4));
  y[15] = static_cast<int16_t>(_mm_extract_epi16(q, 5));
  y[18] = static_cast<int16_t>(_mm_extract_epi16(q, 6));
  y[21] = static_cast<int16_t>(_mm_extract_epi16(q, 7));
}

// AverageRow eight pixels a step: Quotients(weight).Of(acc) gives the low 16 bits of the quotients
// of acc[0..7] in lanes 0..7. |acc * 16| <= 2^23 is exact in a float, and the correctly rounded
// quotient of a float division never crosses an integer: a non-integer quotient lies at least
// 1 / weight from one, more than half its ulp (<= quotient * 2^-24 <= 2^23 / weight * 2^-24). So
// truncating it gives the integer quotient.
template <class Quotients>
void AverageRowT(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  const Quotients quotients(weight);
  int x = 0;
  for (; x + 8 <= n; x += 8) StoreLuma8(y + 3 * x, quotients.Of(acc + x));
  AverageRow_C(acc + x, y + 3 * x, n - x, weight);
}

// The kernels every tier builds from its V alone.
template <class V>
void SetVectorKernels(VelourDsp& dsp) {
  dsp.FilterBlockRow = [](const int16_t* luma, ptrdiff_t luma_pitch, int16_t* partial,
                          ptrdiff_t partial_pitch, int count, int row_begin, int row_end,
                          const int16_t* steps) {
    FilterBlockRowT<V, false>(luma, luma_pitch, reinterpret_cast<char*>(partial), partial_pitch, count,
                              row_begin, row_end, steps);
  };
  dsp.FilterBlockRowWide = [](const int16_t* luma, ptrdiff_t luma_pitch, AccSample* acc, ptrdiff_t acc_pitch,
                              int count, int row_begin, int row_end, const int16_t* steps) {
    FilterBlockRowT<V, true>(luma, luma_pitch, reinterpret_cast<char*>(acc), acc_pitch, count, row_begin,
                             row_end, steps);
  };
  dsp.AddRow = AddRowT<V>;
  dsp.AddRowWide = AddRowWideT<V>;
  dsp.FoldRow = FoldRowT<V>;
}

}  // namespace
}  // namespace velour
