#pragma once
// Tiles of pairs of grid rows (deblock_dsp.h) in 512-bit registers, for CPUs whose units are 512 bits
// wide, and for 32-bit code on any CPU with AVX-512: a register holds one pixel column of a pair's
// eight pixel rows, each pixel in a slot of four lanes (its three samples and a spare), so that the
// vertical edges of all eight rows at a grid point are one edge line per lane. An edge needs six such
// columns, p2 .. q2, and the arithmetic two registers more (deblock_simd.h): the eight vector
// registers of 32-bit code hold one pair, an edge at a time, with next to nothing spilled to the
// stack (a twentieth of the loop's instructions, around the horizontal edges). With the 32
// registers of 64-bit code a tile takes two pairs, and each pair two edges at a time.
//
// A step covers 32 pixels of each grid row (eight grid points): the horizontal edges of every grid
// row, three full registers of samples each, then the vertical edges of the pairs left to right. An
// edge at x takes p2 and p1 from the edge before (its q1 as filtered, and its q2) and loads p0 .. q2
// (pixels x-1 .. x+2, 24 bytes of each row); after it pixels x-2 .. x+1 are final and go back. Two
// edges at a time load pixels x-1 .. x+6 and store x-2 .. x+5 (48 bytes of each row).
//
// Each grid row lags 36 pixels behind the one above, the least that steps of 32 allow (S >= C + 4).
//
// Rows to columns: two rows' pixels, loaded with a mask, are spread into one register per four
// pixels, the first row's in slots 0 .. 3 and the second row's in slots 4 .. 7 (one permute of both);
// four such registers (rows 0 1, 2 3, 4 5, 6 7) turn into four columns by 64-bit unpacks within
// 128-bit lanes and 128-bit lane shuffles. The columns hold the rows in the slot order 0 2 1 3 4 6 5
// 7; the way back reverses each step, and a last permute puts each row's bytes at the top of the
// width of a masked store. A masked store counts, for the loads after it, as a store of its whole
// width: with the rows' bytes at the top, the width ends where they end, and the next edge's loads
// (6 bytes on) never overlap it.
#include <immintrin.h>

#include "deblock/x86/deblock_simd.h"

namespace deblock {
namespace {

using PairV = simd::Avx512;

// A tile of kPairs pairs of grid rows (one in the eight vector registers of 32-bit code, two with 32
// registers), and its shape (deblock_dsp.h): kPairs pairs go side by side, each kEdges vertical
// edges at a time (a window of 4 kEdges + 2 columns); with one pair, the horizontal edges load rows
// p2 and q2 again rather than keep them (PairRunPart).
template <int kPairs>
struct PairTile {
  static constexpr TileShape kShape = {2 * kPairs, 36};
  static constexpr int kEdges = kPairs == 1 ? 1 : 2;
  static constexpr bool kReload = kPairs == 1;
};
#if defined(__i386__)
constexpr int kTilePairs = 1;
#else
constexpr int kTilePairs = 2;
#endif
// Pixels of a step of each grid row.
constexpr int kPairStep = 32;

// The rows of one pair of grid rows at one place of each (the second shifted by the tile's shift), as
// sample pointers: pixel row r (0 .. 7) at Row(r).
struct PairRows {
  int16_t* top[2];  // pixel row 0 of each grid row
  ptrdiff_t rs;     // samples from one pixel row to the next
  int16_t* Row(int r) const { return top[r >> 2] + (r & 3) * rs; }
};

// An index vector of 32 lanes, built at compile time.
struct LaneIndex {
  alignas(64) int16_t v[32];
};

template <const LaneIndex& kIndex>
AUF_INLINE __m512i LoadIndex() {
  return _mm512_load_si512(kIndex.v);
}

// The spread of pixels `first` .. `first` + 3 of two rows (lanes 3 first .. of a, and of b as lanes
// 32 + ...) into slots of four lanes, the spare lane taken from a lane past them.
constexpr LaneIndex SpreadIndex(int first) {
  LaneIndex r{};
  for (int row = 0; row < 2; ++row)
    for (int j = 0; j < 4; ++j)
      for (int c = 0; c < 4; ++c)
        r.v[16 * row + 4 * j + c] =
            static_cast<int16_t>(32 * row + 3 * (first + (c < 3 ? j : 4)) + (c < 3 ? c : 0));
  return r;
}

// The packing of `pixels` pixels of the first (second) row of a pair from the slots the way back
// leaves (first row in slots 0 1 4 5, second in 2 3 6 7; pixels 4 .. 7 from the register in lanes 32
// and up) into the top 3 * pixels lanes of `width` lanes.
constexpr LaneIndex PackIndex(int row, int pixels, int width) {
  LaneIndex r{};
  constexpr int kSlots[2][4] = {{0, 1, 4, 5}, {2, 3, 6, 7}};
  for (int j = 0; j < pixels; ++j)
    for (int c = 0; c < 3; ++c)
      r.v[width - 3 * pixels + 3 * j + c] = static_cast<int16_t>(32 * (j / 4) + 4 * kSlots[row][j % 4] + c);
  return r;
}

constexpr LaneIndex kSpreadLow = SpreadIndex(0), kSpreadHigh = SpreadIndex(4);
// Four pixels of each row in the top of a 256-bit half, the second row's in the upper half.
constexpr LaneIndex kPackQuad = [] {
  LaneIndex r = PackIndex(0, 4, 16);
  const LaneIndex second = PackIndex(1, 4, 16);
  for (int i = 0; i < 16; ++i) r.v[16 + i] = second.v[i];
  return r;
}();
constexpr LaneIndex kPackFirst = PackIndex(0, 8, 32), kPackSecond = PackIndex(1, 8, 32);

// Four registers of slots (p[k]: rows 2k and 2k+1) to four columns, and back.
AUF_INLINE void SlotsToColumns(const __m512i* p, __m512i* c) {
  // Lane by lane: u0 (rows 0 2) pixel 0, 2, (rows 1 3) pixel 0, 2; u1 the same for pixels 1 and 3;
  // w0 and w1 for rows 4 .. 7.
  const __m512i u0 = _mm512_unpacklo_epi64(p[0], p[1]), u1 = _mm512_unpackhi_epi64(p[0], p[1]);
  const __m512i w0 = _mm512_unpacklo_epi64(p[2], p[3]), w1 = _mm512_unpackhi_epi64(p[2], p[3]);
  c[0] = _mm512_shuffle_i64x2(u0, w0, _MM_SHUFFLE(2, 0, 2, 0));
  c[1] = _mm512_shuffle_i64x2(u1, w1, _MM_SHUFFLE(2, 0, 2, 0));
  c[2] = _mm512_shuffle_i64x2(u0, w0, _MM_SHUFFLE(3, 1, 3, 1));
  c[3] = _mm512_shuffle_i64x2(u1, w1, _MM_SHUFFLE(3, 1, 3, 1));
}

// The way back: u0, u1, w0, w1 of SlotsToColumns with their lanes 1 and 2 swapped, and so the rows'
// slots.
AUF_INLINE void ColumnsToSlots(const __m512i* c, __m512i* p) {
  const __m512i u0 = _mm512_shuffle_i64x2(c[0], c[2], _MM_SHUFFLE(1, 0, 1, 0));
  const __m512i u1 = _mm512_shuffle_i64x2(c[1], c[3], _MM_SHUFFLE(1, 0, 1, 0));
  const __m512i w0 = _mm512_shuffle_i64x2(c[0], c[2], _MM_SHUFFLE(3, 2, 3, 2));
  const __m512i w1 = _mm512_shuffle_i64x2(c[1], c[3], _MM_SHUFFLE(3, 2, 3, 2));
  p[0] = _mm512_unpacklo_epi64(u0, u1), p[1] = _mm512_unpackhi_epi64(u0, u1);
  p[2] = _mm512_unpacklo_epi64(w0, w1), p[3] = _mm512_unpackhi_epi64(w0, w1);
}

// Pixels `at` .. `at` + 4 n - 1 (in samples from each row's pointer, n = 1 or 2) of the eight rows:
// c[j] holds pixel j, row r in slot 0 2 1 3 4 6 5 7 [r].
template <int kN>
AUF_INLINE void LoadColumns(const PairRows& pr, ptrdiff_t at, __m512i* c) {
  __m512i lo[4], hi[4];
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    const __m512i a = _mm512_maskz_loadu_epi16((1u << 12 * kN) - 1, pr.Row(2 * k) + at);
    const __m512i b = _mm512_maskz_loadu_epi16((1u << 12 * kN) - 1, pr.Row(2 * k + 1) + at);
    lo[k] = _mm512_permutex2var_epi16(a, LoadIndex<kSpreadLow>(), b);
    if (kN == 2) hi[k] = _mm512_permutex2var_epi16(a, LoadIndex<kSpreadHigh>(), b);
  }
  SlotsToColumns(lo, c);
  if (kN == 2) SlotsToColumns(hi, c + 4);
}

// LoadColumns' inverse: pixels `at` .. `at` + 4 n - 1 from c[0 .. 4 n - 1].
template <int kN>
AUF_INLINE void StoreColumns(const PairRows& pr, ptrdiff_t at, const __m512i* c) {
  __m512i lo[4], hi[4];
  ColumnsToSlots(c, lo);
  if (kN == 2) ColumnsToSlots(c + 4, hi);
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    if (kN == 1) {
      // Each 256-bit half's lanes 4 .. 15 to its row: the store starts 4 samples before.
      const __m512i v = _mm512_permutexvar_epi16(LoadIndex<kPackQuad>(), lo[k]);
      _mm256_mask_storeu_epi16(pr.Row(2 * k) + at - 4, 0xFFF0, _mm512_castsi512_si256(v));
      _mm256_mask_storeu_epi16(pr.Row(2 * k + 1) + at - 4, 0xFFF0, _mm512_extracti64x4_epi64(v, 1));
    } else {
      // Each row's lanes 8 .. 31: the store starts 8 samples before.
      _mm512_mask_storeu_epi16(pr.Row(2 * k) + at - 8, 0xFFFFFF00,
                               _mm512_permutex2var_epi16(lo[k], LoadIndex<kPackFirst>(), hi[k]));
      _mm512_mask_storeu_epi16(pr.Row(2 * k + 1) + at - 8, 0xFFFFFF00,
                               _mm512_permutex2var_epi16(lo[k], LoadIndex<kPackSecond>(), hi[k]));
    }
  }
}

// 32 samples of the horizontal edge above row q (FilterRun), or the first of them in mask m: whole
// registers stored unmasked, as the vertical edges load what these store, and a store with a mask
// does not hand its bytes on to a load. In 32-bit code, with no register to keep them in, rows p2
// and q2 are loaded a second time for the changes of p1 and q1, through a pointer the compiler
// cannot see is the same (and the loads keep a mask, all ones for a whole register, which the
// compiler reloads where it would spill plain ones).
template <bool kWhole, bool kReload>
AUF_INLINE void PairRunPart(int16_t* q, int16_t* a, ptrdiff_t rs, __mmask32 m, const Limits<PairV>& t) {
  auto row = [&](int k) {
    return EdgeRow(q, a, rs, k);
  };
  auto load = [&](const int16_t* p) {
    return _mm512_maskz_loadu_epi16(m, p);
  };
  auto store = [&](int k, __m512i v) {
    if (kWhole) PairV::Store(row(k), v);
    else _mm512_mask_storeu_epi16(row(k), m, v);
  };
  __m512i p1 = load(row(-2)), p0 = load(row(-1)), q0 = load(row(0)), q1 = load(row(1));
  if constexpr (kReload) {
    auto again = [&](int k) {
      int16_t* p = row(k);
      asm("" : "+r"(p));
      return load(p);
    };
    FilterLanes<PairV>(load(row(-3)), p1, p0, q0, q1, load(row(2)), t, again);
  } else {
    FilterLanes<PairV>(load(row(-3)), p1, p0, q0, q1, load(row(2)), t);
  }
  store(-2, p1), store(-1, p0), store(0, q0), store(1, q1);
}

// `n` samples (n >= 0) of the horizontal edge above row q.
template <bool kReload>
AUF_INLINE void PairRun(int16_t* q, int16_t* a, ptrdiff_t rs, int n, const Limits<PairV>& t) {
  int i = 0;
  for (; i + PairV::kLanes <= n; i += PairV::kLanes) PairRunPart<true, kReload>(q + i, a + i, rs, ~0u, t);
  if (i < n) PairRunPart<false, kReload>(q + i, a + i, rs, (1u << (n - i)) - 1, t);
}

// The vertical edges of the pairs [kFirst, kLast), kN at a time, from the edge at pixel x (`at` its
// sample offset) on: p2[i] and p1[i] in, the next edge's out. The pairs go side by side, edge by
// edge: each edge waits for the one before it in its pair, and meanwhile the other pair's goes on.
template <int kN, int kFirst, int kLast>
AUF_INLINE void PairEdges(const PairRows* pr, ptrdiff_t at, __m512i* p2, __m512i* p1,
                          const Limits<PairV>& t) {
  __m512i c[kLast][4 * kN + 2];  // pixels x-2 .. x + 4 kN - 1 of each pair
#pragma GCC unroll 2
  for (int i = kFirst; i < kLast; ++i) {
    c[i][0] = p1[i];
    LoadColumns<kN>(pr[i], at - 3, c[i] + 1);
  }
#pragma GCC unroll 2
  for (int i = kFirst; i < kLast; ++i)
    FilterLanes<PairV>(p2[i], c[i][0], c[i][1], c[i][2], c[i][3], c[i][4], t);
  if (kN == 2) {
#pragma GCC unroll 2
    for (int i = kFirst; i < kLast; ++i)
      FilterLanes<PairV>(c[i][3], c[i][4], c[i][5], c[i][6], c[i][7], c[i][8], t);
  }
#pragma GCC unroll 2
  for (int i = kFirst; i < kLast; ++i) {
    StoreColumns<kN>(pr[i], at - 6, c[i]);
    p2[i] = c[i][4 * kN - 1];
    p1[i] = c[i][4 * kN];
  }
}

// Grid points u .. u + 4 (points - 1) of the pairs [kFirst, kLast) of the tile (in row 0's columns;
// grid row j's at u - j * shift): every point full (x + 3 < w), each row's first at 4 or more. Kept
// out of line: its thresholds come through the pointer of a reference, not from the stack frame of
// its loop.
template <int kPairs, int kFirst, int kLast>
__attribute__((noinline)) void PairSteps(core::YcPixel* const* groups, ptrdiff_t stride, int u, int points,
                                         const Limits<PairV>& t) {
  using Tile = PairTile<kPairs>;
  constexpr int kShift = Tile::kShape.shift;
  int16_t* top[Tile::kShape.rows];    // pixel row 0 of each grid row, at its place in the step
  int16_t* above[Tile::kShape.rows];  // the row 3 above it
  for (int k = 2 * kFirst; k < 2 * kLast; ++k) {
    top[k] = &groups[k + 1][u - k * kShift].y;
    above[k] = &TileAbove(groups, stride, k)[u - k * kShift].y;
  }
  const ptrdiff_t rs = 3 * stride;
  PairRows pr[kPairs];
  // p2 and p1 of each pair's first edge: pixels u-3 and u-2.
  __m512i p2[kPairs], p1[kPairs];
#pragma GCC unroll 2
  for (int i = kFirst; i < kLast; ++i) {
    pr[i] = {{top[2 * i], top[2 * i + 1]}, rs};
    __m512i c[4];
    LoadColumns<1>(pr[i], -9, c);
    p2[i] = c[0], p1[i] = c[1];
  }
  for (int done = 0; done < points; done += kPairStep / 4) {
    const int n = points - done < kPairStep / 4 ? points - done : kPairStep / 4;
    const ptrdiff_t at = 12 * done;
#pragma GCC unroll 4
    for (int k = 2 * kFirst; k < 2 * kLast; ++k)
      PairRun<Tile::kReload>(top[k] + at, above[k] + at, rs, 12 * n, t);
    int e = 0;
    for (; e + Tile::kEdges <= n; e += Tile::kEdges)
      PairEdges<Tile::kEdges, kFirst, kLast>(pr, at + 12 * e, p2, p1, t);
    for (; e < n; ++e) PairEdges<1, kFirst, kLast>(pr, at + 12 * e, p2, p1, t);
  }
}

// TileFn of PairTile<kPairs>. In row 0's columns, grid row j's run begins at b_j and its full points end at
// e_j, both growing with j (b_j = max(x_begin, 4 + j S), e_j = min(x_end, w / 4 * 4 + j S)); the rows
// have [b_R-1, e_0) in common, and there all pairs go in steps together. Where a run starts inside
// the picture, before that: for each pair in turn, its first row alone up to where its second
// begins, then the pair in steps up to b_R-1. Where it ends inside the picture, after that: for
// each pair in turn, the pair in steps up to where its first row's full points end, then its rows
// alone, each to its run's end. The rest of a row alone goes through the run kernels kH and kV. In
// every part, what a later row does lies S or more pixels behind what the rows above it have done
// by then, and S or more ahead of what they do later (deblock_dsp.h): the order is the defined one
// wherever samples are shared.
template <int kPairs, HorizontalEdgesFn kH, VerticalEdgesFn kV>
void FilterPairTileT(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                     int32_t alpha, int32_t beta, int32_t tc0) {
  constexpr TileShape kShape = PairTile<kPairs>::kShape;
  constexpr int kS = kShape.shift;
  static_assert(kShape.rows <= kMaxTileRows && kShape.shift >= kPairStep + 4);
  if (!VectorThresholds(alpha, beta, tc0) || NothingPasses(alpha, beta))
    return FilterTileRows(kH, kV, kShape, groups, stride, w, x_begin, x_end, alpha, beta, tc0);
  int b[kShape.rows], e[kShape.rows];
  for (int j = 0; j < kShape.rows; ++j) {
    int x0, x1;
    TileRun(kS, j, x_begin, x_end, &x0, &x1);
    b[j] = x0 + j * kS;
    e[j] = (x1 < w / 4 * 4 ? x1 : w / 4 * 4) + j * kS;
  }
  const int lo = b[kShape.rows - 1], hi = e[0];
  if (hi <= lo) return FilterTileRows(kH, kV, kShape, groups, stride, w, x_begin, x_end, alpha, beta, tc0);
  const Limits<PairV> t = MakeLimits<PairV>(alpha, beta, tc0);
  // Grid row j alone from x0 (in row 0's columns) to x1, or to its run's end.
  auto alone = [&](int j, int x0, int x1) {
    FilterGridRun(kH, kV, groups[j + 1], TileAbove(groups, stride, j), stride, w, 4, true, x0 - j * kS,
                  x1 - j * kS, alpha, beta, tc0);
  };
  // Pair i alone in steps, from x0 to x1.
  auto steps = [&](int i, int x0, int x1) {
    if (x1 <= x0) return;
    if (i == 0) PairSteps<kPairs, 0, 1>(groups, stride, x0, (x1 - x0) / 4, t);
    else PairSteps<kPairs, kPairs - 1, kPairs>(groups, stride, x0, (x1 - x0) / 4, t);
  };
  const int run_end = x_end;  // of row 0; row j's is x_end - j S, the same in row 0's columns
  for (int i = 0; i < kPairs; ++i) {
    alone(2 * i, b[2 * i], b[2 * i + 1]);
    steps(i, b[2 * i + 1], lo);
  }
  PairSteps<kPairs, 0, kPairs>(groups, stride, lo, (hi - lo) / 4, t);
  for (int i = 0; i < kPairs; ++i) {
    steps(i, hi, e[2 * i]);
    alone(2 * i, e[2 * i], run_end);
    alone(2 * i + 1, e[2 * i], run_end);
  }
}

}  // namespace
}  // namespace deblock
