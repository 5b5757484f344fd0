// Scalar kernels. Samples are signed 16-bit, widened to 32 bits; sums, differences and clips are
// exact in 32 bits (|q0 - p0| * 4 < 2^18); right shifts are arithmetic (floor); each stored result
// keeps its low 16 bits, wrapping. Nothing is clipped to a sample range.
#include "deblock/deblock_dsp.h"

namespace deblock {
namespace {

using host::YcPixel;

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }
inline int32_t Clip(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// One edge line of component c: q0 at line[0], p0 at line[-step], q1 at line[step], and so on.
inline void FilterLine(YcPixel* line, ptrdiff_t step, int16_t YcPixel::*c, int32_t alpha, int32_t beta,
                       int32_t tc0) {
  const int32_t p0 = line[-step].*c;
  const int32_t q0 = line[0].*c;
  if (Abs(p0 - q0) >= alpha) return;
  const int32_t p1 = line[-2 * step].*c;
  const int32_t q1 = line[step].*c;
  if (Abs(p1 - p0) >= beta || Abs(q1 - q0) >= beta) return;
  const int32_t p2 = line[-3 * step].*c;
  const int32_t q2 = line[2 * step].*c;
  const int32_t ap = Abs(p2 - p0);
  const int32_t aq = Abs(q2 - q0);
  const int32_t tc = tc0 + (ap < beta ? 1 : 0) + (aq < beta ? 1 : 0);
  const int32_t delta = Clip(((q0 - p0) * 4 + (p1 - q1) + 4) >> 3, -tc, tc);
  const int16_t new_p0 = static_cast<int16_t>(p0 + delta);
  const int16_t new_q0 = static_cast<int16_t>(q0 - delta);
  line[-step].*c = new_p0;
  line[0].*c = new_q0;
  const int32_t m = (int32_t{new_p0} + int32_t{new_q0} + 1) >> 1;  // from the stored (wrapped) values
  if (ap < beta) line[-2 * step].*c = static_cast<int16_t>(p1 + Clip((p2 + m - 2 * p1) >> 1, -tc0, tc0));
  if (aq < beta) line[step].*c = static_cast<int16_t>(q1 + Clip((q2 + m - 2 * q1) >> 1, -tc0, tc0));
}

inline void FilterPosition(YcPixel* line, ptrdiff_t step, int32_t alpha, int32_t beta, int32_t tc0) {
  FilterLine(line, step, &YcPixel::y, alpha, beta, tc0);
  FilterLine(line, step, &YcPixel::cb, alpha, beta, tc0);
  FilterLine(line, step, &YcPixel::cr, alpha, beta, tc0);
}

}  // namespace

void FilterHorizontalEdges_C(YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha, int32_t beta,
                             int32_t tc0) {
  for (int i = 0; i < count; ++i) FilterPosition(pix + i, stride, alpha, beta, tc0);
}

void FilterVerticalEdges_C(YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha, int32_t beta,
                           int32_t tc0) {
  for (int r = 0; r < rows; ++r) {
    YcPixel* row = pix + r * stride;
    for (int e = 0; e < edges; ++e) FilterPosition(row + 4 * e, 1, alpha, beta, tc0);
  }
}

void FilterTile_C(YcPixel* row, ptrdiff_t stride, int w, int x_begin, int x_end, int32_t alpha, int32_t beta,
                  int32_t tc0) {
  FilterTileByRows<FilterHorizontalEdges_C, FilterVerticalEdges_C>(row, stride, w, x_begin, x_end, alpha,
                                                                   beta, tc0);
}

void FilterHorizontalEdge_C(YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0) {
  FilterHorizontalEdges_C(pix, stride, 4, alpha, beta, tc0);
}

void FilterVerticalEdge_C(YcPixel* pix, ptrdiff_t stride, int32_t alpha, int32_t beta, int32_t tc0) {
  FilterVerticalEdges_C(pix, stride, 1, 4, alpha, beta, tc0);
}

}  // namespace deblock
