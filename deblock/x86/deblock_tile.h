#pragma once
// Tiles of four grid rows (deblock_dsp.h) in 256-bit registers of 16 lanes, one lane per pixel row of
// the tile: the sixteen rows' vertical edges at once, each a lane of its own, and no edge waiting
// for another except the one before it in its own row. Included by the AVX2 and AVX-512 files
// after deblock_simd.h and deblock_vertical.h; V is a traits type of 16 lanes on __m256i.
//
// A step filters two grid points of every row. Its columns come in as a window of eight pixels
// (24 samples) per pixel row, turned so that each register holds one sample of the window for all
// sixteen rows: the three 8 x 8 blocks of samples, rows 0..7 in the low halves of the registers and
// rows 8..15 in the high halves, each transposed within the halves. The window of the step at u
// is pixels u-1 .. u+6 of each row (shifted by its grid row's lag): p0 .. q2 of the point u, and
// p0 .. q2 of the point u+4, whose p2 and p1 are the window's pixels 2 and 3. The point u's p2 and
// p1 (pixels u-3, u-2) come from the step before: its q1 as filtered, and its q2. After the step,
// pixels u-2 .. u+5 are final for the vertical edges and go back the same way; pixels u+5 and u+6
// stay in registers as the next step's p2 and p1.
#include <immintrin.h>

#include "deblock/x86/deblock_simd.h"
#include "deblock/x86/deblock_vertical.h"

namespace deblock {
namespace {

// The rows of a tile at one place of each grid row (shifted by its lag), as sample pointers: pixel
// row 4k + i of the tile (grid row k, i = 0 .. 3) at Row(4k + i, 0), grid row k's horizontal edge
// at EdgeQ(k, 0) and EdgeA(k, 0) (FilterRun). Lane i of a register holds pixel row i (i < 8) in its
// low half, pixel row 8 + i in its high half.
struct TileRows {
  static constexpr int kRows = kQuadTile.rows;
  int16_t* groups[kRows + 1];  // the same pixel of rows y - 3, y, y + 4, ... (not shifted)
  ptrdiff_t rs;
  static constexpr int kShift = 3 * kQuadTile.shift;  // samples
  int16_t* Row(int r, ptrdiff_t at) const {
    return groups[(r >> 2) + 1] + (r & 3) * rs + at - kShift * (r >> 2);
  }
  int16_t* EdgeQ(int k, ptrdiff_t at) const { return groups[k + 1] + at - kShift * k; }
  int16_t* EdgeA(int k, ptrdiff_t at) const {
    return (k == 0 ? groups[0] : groups[k] + rs) + at - kShift * k;
  }
};

// Samples at .. at + 7 of the sixteen rows: c[k] holds sample at + k, lane by lane.
template <class V>
AUF_INLINE void LoadBlock(const TileRows& t, ptrdiff_t at, __m256i* c) {
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i)
    c[i] = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(t.Row(8 + i, at)),
                               reinterpret_cast<const __m128i*>(t.Row(i, at)));
  simd::Transpose8x8<V>(c);
}

// LoadBlock's inverse.
template <class V>
AUF_INLINE void StoreBlock(const TileRows& t, ptrdiff_t at, __m256i c0, __m256i c1, __m256i c2, __m256i c3,
                           __m256i c4, __m256i c5, __m256i c6, __m256i c7) {
  __m256i r[8] = {c0, c1, c2, c3, c4, c5, c6, c7};
  simd::Transpose8x8<V>(r);
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i)
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(t.Row(8 + i, at)),
                         reinterpret_cast<__m128i*>(t.Row(i, at)), r[i]);
}

// Eight samples of the horizontal edge above row q (low halves) and eight above row q2 (high
// halves); a and a2 as for FilterRun.
template <class V>
AUF_INLINE void HorizontalPair(int16_t* q, int16_t* a, int16_t* q2, int16_t* a2, ptrdiff_t rs,
                               const Limits<V>& t) {
  auto load = [&](int k) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(EdgeRow(q2, a2, rs, k)),
                               reinterpret_cast<const __m128i*>(EdgeRow(q, a, rs, k)));
  };
  auto store = [&](int k, __m256i v) {
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(EdgeRow(q2, a2, rs, k)),
                         reinterpret_cast<__m128i*>(EdgeRow(q, a, rs, k)), v);
  };
  __m256i p1 = load(-2), p0 = load(-1), q0 = load(0), q1 = load(1);
  FilterLanes<V>(load(-3), p1, p0, q0, q1, load(2), t);
  store(-2, p1), store(-1, p0), store(0, q0), store(1, q1);
}

// The horizontal edges of each grid row's two points of a step (pixel u of grid row k, shifted, is
// sample 3 of its window): their first 16 samples, then the last 8 of two grid rows in one register.
template <class V>
AUF_INLINE void StepHorizontal(const TileRows& tr, ptrdiff_t at, const Limits<V>& t) {
  for (int k = 0; k < TileRows::kRows; ++k) FilterRun<V>(tr.EdgeQ(k, at + 3), tr.EdgeA(k, at + 3), tr.rs, t);
  for (int k = 0; k < TileRows::kRows; k += 2)
    HorizontalPair<V>(tr.EdgeQ(k, at + 19), tr.EdgeA(k, at + 19), tr.EdgeQ(k + 1, at + 19),
                      tr.EdgeA(k + 1, at + 19), tr.rs, t);
}

// `pairs` steps of the tile (TileFn), row 0's first point at u: every point full (x + 3 < w) and
// each row's first at 4 or more.
template <class V>
void TileSteps(core::YcPixel* const* groups, ptrdiff_t stride, int u, int pairs, const Limits<V>& t) {
  TileRows tr;
  for (int g = 0; g <= TileRows::kRows; ++g) tr.groups[g] = &groups[g][u - 1].y;
  tr.rs = 3 * stride;
  // p2 and p1 of the first points: pixels u-3 and u-2.
  __m256i p2[3], p1[3];
  {
    __m256i c[8];
    LoadBlock<V>(tr, -6, c);
    for (int k = 0; k < 3; ++k) p2[k] = c[k], p1[k] = c[3 + k];
  }
  for (int i = 0; i < pairs; ++i) {
    const ptrdiff_t at = 24 * i;
    StepHorizontal<V>(tr, at, t);
    __m256i c[24];
    LoadBlock<V>(tr, at, c);
    LoadBlock<V>(tr, at + 8, c + 8);
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) FilterLanes<V>(p2[k], p1[k], c[k], c[3 + k], c[6 + k], c[9 + k], t);
    // Pixels u-2, u-1 and the first two samples of u are final.
    StoreBlock<V>(tr, at - 3, p1[0], p1[1], p1[2], c[0], c[1], c[2], c[3], c[4]);
    LoadBlock<V>(tr, at + 16, c + 16);
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k)
      FilterLanes<V>(c[6 + k], c[9 + k], c[12 + k], c[15 + k], c[18 + k], c[21 + k], t);
    StoreBlock<V>(tr, at + 5, c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12]);
    StoreBlock<V>(tr, at + 13, c[13], c[14], c[15], c[16], c[17], c[18], c[19], c[20]);
    for (int k = 0; k < 3; ++k) p2[k] = c[18 + k], p1[k] = c[21 + k];
  }
}

// TileFn: the rows' common part in steps, the rest row by row with the run kernels kH and kV.
template <class V, HorizontalEdgesFn kH, VerticalEdgesFn kV>
void FilterTileT(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end, int32_t alpha,
                 int32_t beta, int32_t tc0) {
  constexpr int kRows = kQuadTile.rows, kShift = kQuadTile.shift;
  if (!VectorThresholds(alpha, beta, tc0) || NothingPasses(alpha, beta))
    return FilterTileByRows<kQuadTile, kH, kV>(groups, stride, w, x_begin, x_end, alpha, beta, tc0);
  // In row 0's columns: where every row has begun, and where the first row's full points end
  // (a point x is full when x + 3 < w).
  int x0[kRows], x1[kRows];
  int lo = 0, hi = w / 4 * 4;
  for (int j = 0; j < kRows; ++j) {
    TileRun(kShift, j, x_begin, x_end, &x0[j], &x1[j]);
    const int begun = x0[j] + j * kShift, full = (x1[j] < w / 4 * 4 ? x1[j] : w / 4 * 4) + j * kShift;
    if (begun > lo) lo = begun;
    if (full < hi) hi = full;
  }
  const int pairs = hi > lo ? (hi - lo) / 8 : 0;
  if (pairs == 0)
    return FilterTileByRows<kQuadTile, kH, kV>(groups, stride, w, x_begin, x_end, alpha, beta, tc0);
  for (int j = 0; j < kRows; ++j)
    FilterGridRun(kH, kV, groups[j + 1], TileAbove(groups, stride, j), stride, w, 4, true, x0[j],
                  lo - j * kShift, alpha, beta, tc0);
  TileSteps<V>(groups, stride, lo, pairs, MakeLimits<V>(alpha, beta, tc0));
  const int end = lo + 8 * pairs;
  for (int j = 0; j < kRows; ++j)
    FilterGridRun(kH, kV, groups[j + 1], TileAbove(groups, stride, j), stride, w, 4, true, end - j * kShift,
                  x1[j], alpha, beta, tc0);
}

// The kernels of the tiers of 256-bit registers: the horizontal runs in registers of Wide, the
// vertical edges and the tiles' steps in those of V (16 lanes).
template <class Wide, class V>
void SetVectorKernels(DeblockDsp& dsp) {
  dsp.FilterHorizontalEdges = FilterHorizontalEdgesT<Wide>;
  dsp.FilterVerticalEdges = FilterVerticalEdgesT<V>;
  dsp.FilterTile = FilterTileT<V, FilterHorizontalEdgesT<Wide>, FilterVerticalEdgesT<V>>;
  dsp.tile = kQuadTile;
}

}  // namespace
}  // namespace deblock
