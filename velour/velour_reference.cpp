// The reference frame driver: passes in batches, each pass over the whole frame, with the
// accumulator in the temp plane's luma. Slow and literal; every faster path must match it.
#include <algorithm>

#include "velour/velour.h"
#include "velour/velour_dsp.h"
#include "velour/velour_tables.h"

namespace velour {
namespace {

using host::FrameInfo;
using host::YcPixel;

inline void AddWrap(int16_t& acc, int32_t v) {
  acc = static_cast<int16_t>(static_cast<uint16_t>(acc) + static_cast<uint16_t>(v));
}

}  // namespace

void ReferenceAddBorderLuma(FrameInfo* fi, int dx, int dy) {
  const int w = fi->w, h = fi->h, stride = fi->stride;
  int ky = 0, kx = 0;
  for (int y = dy; y < h - 8; y += 8) ++ky;
  for (int x = dx; x < w - 8; x += 8) ++kx;
  const int ey = dy + 8 * ky, ex = dx + 8 * kx;
  auto add = [&](int y0, int y1, int x0, int x1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) AddWrap(fi->temp[y * stride + x].y, fi->edit[y * stride + x].y);
  };
  add(0, std::min(dy, h), 0, w);
  add(ey, h, 0, w);
  add(dy, ey, 0, std::min(dx, w));
  add(dy, ey, ex, w);
}

void ReferenceShiftedGridPass(FrameInfo* fi, const int16_t* steps, int s) {
  const int dx = ShiftTable[s][0], dy = ShiftTable[s][1];
  const int w = fi->w, h = fi->h, stride = fi->stride;
  for (int y = dy; y < h - 8; y += 8) {
    for (int x = dx; x < w - 8; x += 8) {
      int16_t block[64];
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) block[8 * i + j] = fi->edit[(y + i) * stride + x + j].y;
      Wht8x8_C(block);
      Requantize_C(block, steps);
      Wht8x8_C(block);
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) AddWrap(fi->temp[(y + i) * stride + x + j].y, block[8 * i + j]);
    }
  }
  ReferenceAddBorderLuma(fi, dx, dy);
}

void ReferenceProcessFrame(FrameInfo* fi, const int32_t* tracks, int threads) {
  const int32_t quant = std::clamp(tracks[kTrackQuant], kTrackMinimums[kTrackQuant], kTrackMaximums[kTrackQuant]);
  const int32_t n_shift =
      std::clamp(tracks[kTrackNShift], kTrackMinimums[kTrackNShift], kTrackMaximums[kTrackNShift]);
  const int32_t matrix =
      std::clamp(tracks[kTrackMatrix], kTrackMinimums[kTrackMatrix], kTrackMaximums[kTrackMatrix]);
  const int32_t zero_weight =
      std::clamp(tracks[kTrackZeroWeight], kTrackMinimums[kTrackZeroWeight], kTrackMaximums[kTrackZeroWeight]);
  const int T = std::max(threads, 1);

  int16_t steps[64];
  LoadStepTable(steps, matrix);
  ScaleStepTable(steps, quant);

  const int w = fi->w, h = fi->h, stride = fi->stride;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      YcPixel& e = fi->edit[y * stride + x];
      e.y = static_cast<int16_t>(e.y >> 4);
      fi->temp[y * stride + x].y = static_cast<int16_t>(e.y * zero_weight);
    }
  }

  int32_t weight = zero_weight;
  for (int b = 0; b < n_shift; b += T) {
    for (int t = 0; t < T; ++t) {
      const int s = b + t;
      if (s > 63) break;
      ReferenceShiftedGridPass(fi, steps, s);
      ++weight;
    }
  }

  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      fi->edit[y * stride + x].y = AverageSample(fi->temp[y * stride + x].y, weight);
}

}  // namespace velour
