// The reference frame driver: passes in batches, each pass over the whole picture, adding into the
// exact sum of every pixel. Slow and literal; every faster path must match it.
#include <algorithm>
#include <vector>

#include "velour/velour.h"
#include "velour/velour_dsp.h"
#include "velour/velour_tables.h"

namespace velour {

void ReferenceAddBorderLuma(const int16_t* luma, int32_t* acc, int w, int h, int dx, int dy) {
  int ky = 0, kx = 0;
  for (int y = dy; y < h - 8; y += 8) ++ky;
  for (int x = dx; x < w - 8; x += 8) ++kx;
  const int ey = dy + 8 * ky, ex = dx + 8 * kx;
  auto add = [&](int y0, int y1, int x0, int x1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) acc[y * w + x] += luma[y * w + x];
  };
  add(0, std::min(dy, h), 0, w);
  add(ey, h, 0, w);
  add(dy, ey, 0, std::min(dx, w));
  add(dy, ey, ex, w);
}

void ReferenceShiftedGridPass(const int16_t* luma, int32_t* acc, int w, int h, const int16_t* steps, int s) {
  const int dx = ShiftTable[s][0], dy = ShiftTable[s][1];
  for (int y = dy; y < h - 8; y += 8) {
    for (int x = dx; x < w - 8; x += 8) {
      int16_t block[64];
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) block[8 * i + j] = luma[(y + i) * w + x + j];
      Wht8x8_C(block);
      Requantize_C(block, steps);
      Wht8x8_C(block);
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) acc[(y + i) * w + x + j] += block[8 * i + j];
    }
  }
  ReferenceAddBorderLuma(luma, acc, w, h, dx, dy);
}

void ReferenceFilterFrame(const VelourParams& params, const core::Plane& edit, int32_t partitions) {
  const int T = std::max(partitions, 1);
  int16_t steps[64];
  LoadStepTable(steps, params.matrix);
  ScaleStepTable(steps, params.quant);

  const int w = std::max(edit.w, 0), h = std::max(edit.h, 0);
  std::vector<int16_t> luma(static_cast<size_t>(w) * h);
  std::vector<int32_t> acc(luma.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int16_t v = static_cast<int16_t>(core::PlaneRow(edit, y)[x].y >> 4);
      luma[y * w + x] = v;
      acc[y * w + x] = int32_t{v} * params.zero_weight;
    }
  }

  int32_t weight = params.zero_weight;
  for (int b = 0; b < params.n_shift; b += T) {
    for (int t = 0; t < T; ++t) {
      const int s = b + t;
      if (s > 63) break;
      ReferenceShiftedGridPass(luma.data(), acc.data(), w, h, steps, s);
      ++weight;
    }
  }

  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) core::PlaneRow(edit, y)[x].y = AverageSample(acc[y * w + x], weight);
}

void ReferenceWithTracks(const int32_t* tracks, const core::Plane& edit, int32_t partitions) {
  ReferenceFilterFrame(ParamsFromTracks(tracks), edit, partitions);
}

}  // namespace velour
