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
#include <cstddef>
#include <cstdint>

#include "core/cpu.h"
#include "core/pixel.h"

namespace deblock {

// The horizontal edge between rows y-1 and y on `count` columns x .. x+count-1 (count >= 0).
using HorizontalEdgesFn = void (*)(core::YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha,
                                   int32_t beta, int32_t tc0);
// The vertical edges at columns x, x+4, ..., x+4*(edges-1) on rows y .. y+rows-1 (rows 0..4); in
// each row the edges left to right. Reads columns x-3 .. x+4*(edges-1)+2.
using VerticalEdgesFn = void (*)(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                                 int32_t beta, int32_t tc0);

struct DeblockDsp {
  HorizontalEdgesFn FilterHorizontalEdges;
  VerticalEdgesFn FilterVerticalEdges;
};

void InitDeblockDsp(DeblockDsp& dsp, core::CpuFlags flags);
// The table for this CPU, built on first use.
const DeblockDsp& DetectedDeblockDsp();

// Scalar kernels (the oracle), and the two single-edge kernels they are made of. pix = pixel
// (x, y), stride in pixels. FilterHorizontalEdge_C: the edge between rows y-1 and y on columns
// x..x+3; reads rows y-3..y+2. FilterVerticalEdge_C: the edge between columns x-1 and x on rows
// y..y+3; reads columns x-3..x+2.
void FilterHorizontalEdge_C(core::YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0);
void FilterVerticalEdge_C(core::YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0);
void FilterHorizontalEdges_C(core::YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha, int32_t beta,
                             int32_t tc0);
void FilterVerticalEdges_C(core::YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha,
                           int32_t beta, int32_t tc0);

}  // namespace deblock
