#pragma once
// Kernels of the deblocking filter behind one table: the scalar ones are the oracle, vector tiers
// replace what they improve. All kernels filter in place, all three components of each YcPixel with
// the same thresholds, and read or write nothing outside the footprints given below.
//
// Order of one grid row y, and why the row kernels may reorder it. The reference order is
// H(4) V(4) H(8) V(8) ... (H(x): horizontal edge at (x, y), V(x): vertical edge at (x, y)).
// - H(x') and V(x) commute when x' > x: H(x') touches columns x'..x'+3 >= x+4, V(x) only columns
//   x-3..x+2. Swapping such neighbours one by one turns the order into H(4) H(8) ... V(4) V(8) ...,
//   and also into the same with the row cut into runs of grid columns, each run's H edges before its
//   V edges (what the frame driver does).
// - H edges of one row touch disjoint columns: any order, or all at once, gives the same result.
// - V(x) writes column x+1, which V(x+4) reads as p2, so the V edges of one row of pixels must run
//   left to right; lines in different pixel rows share nothing, so the rows are independent.
// - The three components of a position share no sample: their order is free.
//
// Tiles: a few grid rows at once, in the shape of the table's tile kernel (TileShape): R grid rows,
// grid row j of a tile (rows y + 4j) lagging S pixels behind grid row j - 1. Its defined order is
// grid row 0's run, then grid row 1's, and so on. The vector kernels instead walk the rows together
// in steps of C pixels, S >= C + 4: at step i, grid row j does its points in [u + iC - jS, u + (i+1)C
// - jS) (u the first point of row 0), the H edges of all rows first, then the V edges of all the
// tile's pixel rows, lane by lane. Why that is the same result:
// - Every operation at a grid point x touches only columns x-3 .. x+3 (both footprints above), so
//   two operations share a sample only if their points are at most 4 apart. Within a step, a later
//   grid row's points lie S - (C - 4) >= 8 or more to the left of those of any row above: nothing of
//   one step's work in different rows shares a sample, in any order.
// - Across steps, row j's point x at step i and row j' < j's point x' at a later step i' > i lie
//   x' - x >= C (i' - i) + S (j - j') - (C - 4) >= S + 4 apart: no sample shared, so that swap
//   against the defined order (all of row j' before row j) changes nothing. Pairs that do share
//   samples (row j' at an earlier step, or the same row) keep their defined order.
// - Where a tile's run starts or ends inside the picture, the rows have unequal runs; the kernels
//   walk the part every row has together and do the rest row by row: before it, rows 0 .. R-1 in
//   turn up to the common start; after it, rows 0 .. R-1 in turn from the common end. The
//   row-by-row part of row j + 1 before the common start ends S pixels left of what row j does
//   together with the others, and the part of row j after the common end starts S pixels right of
//   what row j + 1 did together: again 8 pixels or more apart, so those swaps change nothing either.
// The tiles of 16 lanes take four grid rows, S = 12, in steps of two grid points (C = 8); those of
// 512-bit registers pairs of grid rows, S = 36, in steps of eight grid points (C = 32).
#include <cstddef>
#include <cstdint>

#include "core/cpu.h"
#include "core/pixel.h"

namespace deblock {

// The horizontal edge between rows y-1 and y on `count` columns x .. x+count-1 (count >= 0). pix =
// pixel (x, y) and above = pixel (x, y-3): rows y-3 .. y-1 lie `stride` pixels apart from above on,
// rows y .. y+2 from pix on; the two need not lie 3 rows apart in memory.
using HorizontalEdgesFn = void (*)(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                                   int32_t alpha, int32_t beta, int32_t tc0);
// The vertical edges at columns x, x+4, ..., x+4*(edges-1) on rows y .. y+rows-1 (rows 0..4); in
// each row the edges left to right. Reads columns x-3 .. x+4*(edges-1)+2.
using VerticalEdgesFn = void (*)(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                                 int32_t beta, int32_t tc0);

// The shape of a table's tiles: `rows` grid rows (1 .. kMaxTileRows), 4 pixel rows apart, grid row
// j lagging j * shift pixels behind the first.
struct TileShape {
  int rows;
  int shift;
  // The pixels the last grid row lags behind the first.
  constexpr int lag() const { return (rows - 1) * shift; }
};
inline constexpr int kMaxTileRows = 4;
// The tiles of the scalar table and of the tiers of 16 lanes.
inline constexpr TileShape kQuadTile = {4, 12};

// The tile of grid rows y, y + 4, ..., y + 4 (R - 1) in the table's shape (R rows, shift S): grid row
// j runs over the grid points max(4, x_begin - j S) <= x < x_end - j S, x < w (FilterGridRun), grid
// row after grid row. groups[0] is pixel (0, y - 3), the first of three rows `stride` pixels apart,
// and groups[g] pixel (0, y + 4 (g - 1)), g = 1 .. R, the first of four (the groups need not lie next
// to each other in memory). x_begin and x_end are multiples of 4; rows y - 3 .. y + 4R - 1 lie in the
// picture.
using TileFn = void (*)(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                        int32_t alpha, int32_t beta, int32_t tc0);

// The table's slots, X(type, name), declared once: they make the table's members, its scalar
// kernels (name_C) and the kernel checker's list of what it must compare.
// clang-format off
#define DEBLOCK_DSP_SLOTS(X)                  \
  X(HorizontalEdgesFn, FilterHorizontalEdges) \
  X(VerticalEdgesFn, FilterVerticalEdges)     \
  X(TileFn, FilterTile)
// clang-format on

struct DeblockDsp {
  DEBLOCK_DSP_SLOTS(AUF_DSP_SLOT)
  TileShape tile;  // of FilterTile
};

// A run of one grid row (row = pixel (0, y), above = pixel (0, y - 3)): the grid points x0, x0 + 4,
// ... below x1 and w (x0 >= 4, both multiples of 4); the horizontal edges over their columns inside
// the w columns (where `horizontal`), then the vertical edges of the points x <= w - 3 on rows y ..
// y + rows - 1. (The ISA files use the functions of this header too: each has internal linkage, so
// that every file keeps its own copy, compiled for its own instruction set.)
static inline void FilterGridRun(HorizontalEdgesFn h, VerticalEdgesFn v, core::YcPixel* row,
                                 core::YcPixel* above, ptrdiff_t stride, int w, int rows, bool horizontal,
                                 int x0, int x1, int32_t alpha, int32_t beta, int32_t tc0) {
  if (x0 >= x1 || x0 >= w) return;
  if (horizontal) h(row + x0, above + x0, stride, (x1 < w ? x1 : w) - x0, alpha, beta, tc0);
  const int last = x1 - 4 < w - 3 ? x1 - 4 : w - 3;
  if (last >= x0) v(row + x0, stride, (last - x0) / 4 + 1, rows, alpha, beta, tc0);
}

// Pixel (0, y + 4 j - 3) of a tile (TileFn): the first row above grid row j's horizontal edges.
static inline core::YcPixel* TileAbove(core::YcPixel* const* groups, ptrdiff_t stride, int j) {
  return j == 0 ? groups[0] : groups[j] + stride;
}

// The run of grid row j of a tile (TileFn) with rows lagging `shift` pixels.
static inline void TileRun(int shift, int j, int x_begin, int x_end, int* x0, int* x1) {
  *x0 = x_begin - j * shift < 4 ? 4 : x_begin - j * shift;
  *x1 = x_end - j * shift;
}

// A tile of `shape` as it is defined, grid row after grid row, with a tier's run kernels.
static inline void FilterTileRows(HorizontalEdgesFn h, VerticalEdgesFn v, TileShape shape,
                                  core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin,
                                  int x_end, int32_t alpha, int32_t beta, int32_t tc0) {
  for (int j = 0; j < shape.rows; ++j) {
    int x0, x1;
    TileRun(shape.shift, j, x_begin, x_end, &x0, &x1);
    FilterGridRun(h, v, groups[j + 1], TileAbove(groups, stride, j), stride, w, 4, true, x0, x1, alpha, beta,
                  tc0);
  }
}

// The same as a TileFn.
template <TileShape kShape, HorizontalEdgesFn kH, VerticalEdgesFn kV>
static void FilterTileByRows(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                             int32_t alpha, int32_t beta, int32_t tc0) {
  FilterTileRows(kH, kV, kShape, groups, stride, w, x_begin, x_end, alpha, beta, tc0);
}

// The table of the best tier in `flags` that this CPU runs (core::TierTable).
const DeblockDsp& DeblockDspFor(core::CpuFlags flags);
// The AVX-512 table with the tiles that 32-bit code builds (one pair of grid rows, in the eight
// vector registers it has), for checking them in any build; false where flags or the build have no
// AVX-512 kernels.
bool InitDeblockDspNarrow(DeblockDsp& dsp, core::CpuFlags flags);

// Scalar kernels (the oracle), and the two single-edge kernels they are made of. pix = pixel
// (x, y), stride in pixels. FilterHorizontalEdge_C: the edge between rows y-1 and y on columns
// x..x+3; reads rows y-3..y+2. FilterVerticalEdge_C: the edge between columns x-1 and x on rows
// y..y+3; reads columns x-3..x+2.
void FilterHorizontalEdge_C(core::YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0);
void FilterVerticalEdge_C(core::YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0);
void FilterHorizontalEdges_C(core::YcPixel* pix, core::YcPixel* above, ptrdiff_t stride, int count,
                             int32_t alpha, int32_t beta, int32_t tc0);
void FilterVerticalEdges_C(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                           int32_t beta, int32_t tc0);
void FilterTile_C(core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end,
                  int32_t alpha, int32_t beta, int32_t tc0);
// A tile of any shape by the scalar run kernels: what a vector tile of that shape must give.
void FilterTileShaped_C(TileShape shape, core::YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin,
                        int x_end, int32_t alpha, int32_t beta, int32_t tc0);

}  // namespace deblock
