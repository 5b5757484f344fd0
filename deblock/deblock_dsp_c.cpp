// Scalar kernels. Samples are signed 16-bit, widened to 32 bits; sums, differences and clips are
// exact in 32 bits (|q0 - p0| * 4 < 2^18); right shifts are arithmetic (floor); each stored result
// keeps its low 16 bits, wrapping. Nothing is clipped to a sample range.
#include "deblock/deblock_dsp.h"

namespace deblock {
namespace {

using core::YcPixel;

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }
inline int32_t Clip(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// One edge line of component c, its six samples in the pixels p2 .. q2.
inline void FilterLine(YcPixel* p2, YcPixel* p1, YcPixel* p0, YcPixel* q0, YcPixel* q1, YcPixel* q2,
                       int16_t YcPixel::*c, int32_t alpha, int32_t beta, int32_t tc0) {
  const int32_t sp0 = p0->*c;
  const int32_t sq0 = q0->*c;
  if (Abs(sp0 - sq0) >= alpha) return;
  const int32_t sp1 = p1->*c;
  const int32_t sq1 = q1->*c;
  if (Abs(sp1 - sp0) >= beta || Abs(sq1 - sq0) >= beta) return;
  const int32_t sp2 = p2->*c;
  const int32_t sq2 = q2->*c;
  const int32_t ap = Abs(sp2 - sp0);
  const int32_t aq = Abs(sq2 - sq0);
  const int32_t tc = tc0 + (ap < beta ? 1 : 0) + (aq < beta ? 1 : 0);
  const int32_t delta = Clip(((sq0 - sp0) * 4 + (sp1 - sq1) + 4) >> 3, -tc, tc);
  const int16_t new_p0 = static_cast<int16_t>(sp0 + delta);
  const int16_t new_q0 = static_cast<int16_t>(sq0 - delta);
  p0->*c = new_p0;
  q0->*c = new_q0;
  const int32_t m = (int32_t{new_p0} + int32_t{new_q0} + 1) >> 1;  // from the stored (wrapped) values
  if (ap < beta) p1->*c = static_cast<int16_t>(sp1 + Clip((sp2 + m - 2 * sp1) >> 1, -tc0, tc0));
  if (aq < beta) q1->*c = static_cast<int16_t>(sq1 + Clip((sq2 + m - 2 * sq1) >> 1, -tc0, tc0));
}

inline void FilterPosition(YcPixel* p2, YcPixel* p1, YcPixel* p0, YcPixel* q0, YcPixel* q1, YcPixel* q2,
                           int32_t alpha, int32_t beta, int32_t tc0) {
  FilterLine(p2, p1, p0, q0, q1, q2, &YcPixel::y, alpha, beta, tc0);
  FilterLine(p2, p1, p0, q0, q1, q2, &YcPixel::cb, alpha, beta, tc0);
  FilterLine(p2, p1, p0, q0, q1, q2, &YcPixel::cr, alpha, beta, tc0);
}

}  // namespace

void FilterHorizontalEdges_C(YcPixel* pix, YcPixel* above, ptrdiff_t stride, int count, int32_t alpha,
                             int32_t beta, int32_t tc0) {
  for (int i = 0; i < count; ++i) {
    YcPixel* a = above + i;
    YcPixel* q = pix + i;
    FilterPosition(a, a + stride, a + 2 * stride, q, q + stride, q + 2 * stride, alpha, beta, tc0);
  }
}

void FilterVerticalEdges_C(YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha, int32_t beta,
                           int32_t tc0) {
  for (int r = 0; r < rows; ++r) {
    YcPixel* row = pix + r * stride;
    for (int e = 0; e < edges; ++e) {
      YcPixel* q = row + 4 * e;
      FilterPosition(q - 3, q - 2, q - 1, q, q + 1, q + 2, alpha, beta, tc0);
    }
  }
}

void FilterTile_C(YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin, int x_end, int32_t alpha,
                  int32_t beta, int32_t tc0) {
  FilterTileShaped_C(kQuadTile, groups, stride, w, x_begin, x_end, alpha, beta, tc0);
}

void FilterTileShaped_C(TileShape shape, YcPixel* const* groups, ptrdiff_t stride, int w, int x_begin,
                        int x_end, int32_t alpha, int32_t beta, int32_t tc0) {
  FilterTileRows(FilterHorizontalEdges_C, FilterVerticalEdges_C, shape, groups, stride, w, x_begin, x_end,
                 alpha, beta, tc0);
}

void FilterHorizontalEdge_C(YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0) {
  FilterHorizontalEdges_C(pix, pix - 3 * stride, stride, 4, alpha, beta, tc0);
}

void FilterVerticalEdge_C(YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0) {
  FilterVerticalEdges_C(pix, stride, 1, 4, alpha, beta, tc0);
}

}  // namespace deblock
