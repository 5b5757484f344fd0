// The reference frame driver, taken literally. One thread walks the bands of the partition for T
// workers one after another, each band's grid rows top to bottom, each grid row left to right, the
// horizontal and then the vertical edge at each grid point, one edge line (position and component)
// at a time by picture coordinates. A line with any of its six samples outside the w x h picture is
// left out. Slow and literal; every faster path must match it.
#include <cstddef>

#include "deblock/deblock.h"

namespace deblock {
namespace {

using core::YcPixel;

struct Plane {
  YcPixel* base;
  int w, h, stride;
  bool Inside(int x, int y) const { return x >= 0 && x < w && y >= 0 && y < h; }
  int16_t& At(int x, int y, int c) const {
    YcPixel& p = base[static_cast<ptrdiff_t>(y) * stride + x];
    return c == 0 ? p.y : (c == 1 ? p.cb : p.cr);
  }
};

int32_t Abs(int32_t v) { return v < 0 ? -v : v; }
int32_t Clip(int32_t v, int32_t bound) { return v < -bound ? -bound : (v > bound ? bound : v); }

// The line whose q0 is (x, y), p0 one step (dx, dy) back.
void FilterLine(const Plane& pl, int x, int y, int dx, int dy, int c, const Thresholds& t) {
  for (int k = -3; k <= 2; ++k)
    if (!pl.Inside(x + k * dx, y + k * dy)) return;
  int16_t& s_p2 = pl.At(x - 3 * dx, y - 3 * dy, c);
  int16_t& s_p1 = pl.At(x - 2 * dx, y - 2 * dy, c);
  int16_t& s_p0 = pl.At(x - dx, y - dy, c);
  int16_t& s_q0 = pl.At(x, y, c);
  int16_t& s_q1 = pl.At(x + dx, y + dy, c);
  int16_t& s_q2 = pl.At(x + 2 * dx, y + 2 * dy, c);
  const int32_t p2 = s_p2, p1 = s_p1, p0 = s_p0, q0 = s_q0, q1 = s_q1, q2 = s_q2;
  if (!(Abs(p0 - q0) < t.alpha)) return;
  if (!(Abs(p1 - p0) < t.beta)) return;
  if (!(Abs(q1 - q0) < t.beta)) return;
  const int32_t ap = Abs(p2 - p0);
  const int32_t aq = Abs(q2 - q0);
  int32_t tc = t.tc0;
  if (ap < t.beta) tc += 1;
  if (aq < t.beta) tc += 1;
  const int32_t delta = Clip(((q0 - p0) * 4 + (p1 - q1) + 4) >> 3, tc);
  s_p0 = static_cast<int16_t>(p0 + delta);
  s_q0 = static_cast<int16_t>(q0 - delta);
  const int32_t m = (int32_t{s_p0} + int32_t{s_q0} + 1) >> 1;
  if (ap < t.beta) s_p1 = static_cast<int16_t>(p1 + Clip((p2 + m - 2 * p1) >> 1, t.tc0));
  if (aq < t.beta) s_q1 = static_cast<int16_t>(q1 + Clip((q2 + m - 2 * q1) >> 1, t.tc0));
}

// FilterHorizontalEdge at (x, y): columns x..x+3, each Y, Cb, Cr.
void HorizontalEdge(const Plane& pl, int x, int y, const Thresholds& t) {
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) FilterLine(pl, x + i, y, 0, 1, c, t);
}

// FilterVerticalEdge at (x, y): rows y..y+3, each Y, Cb, Cr.
void VerticalEdge(const Plane& pl, int x, int y, const Thresholds& t) {
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) FilterLine(pl, x, y + i, 1, 0, c, t);
}

}  // namespace

void ReferenceFilterFrame(const DeblockParams& params, const core::Plane& edit, int32_t partitions) {
  const Thresholds t = ThresholdsFor(params);
  const Plane pl{edit.pixels, edit.w, edit.h, edit.stride};
  const int T = partitions < 1 ? 1 : partitions;
  for (int i = 0; i < T; ++i) {
    int start = static_cast<int>(int64_t{pl.h} * i / T);
    const int end = static_cast<int>(int64_t{pl.h} * (i + 1) / T);
    if (start == 0) start = 4;
    for (int y = start; y < end; y += 4) {
      for (int x = 4; x < pl.w; x += 4) {
        HorizontalEdge(pl, x, y, t);
        VerticalEdge(pl, x, y, t);
      }
    }
  }
}

void ReferenceWithTracks(const int32_t* tracks, const core::Plane& edit, int32_t partitions) {
  ReferenceFilterFrame(ParamsFromTracks(tracks), edit, partitions);
}

}  // namespace deblock
