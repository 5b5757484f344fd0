// The RGBA conversion's pixel functions against BT.601 worked by hand, grey, the clamping of samples no
// colour gives, and conversions split among workers. (The row kernels of every tier, every colour's
// round trip and the exact inverse are the kernel checker's: tests/kernels/rgba_check.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "core/rgba_dsp.h"
#include "core/worker_pool.h"
#include "tests/support/test_support.h"

namespace core {
inline bool operator==(const YcPixel& a, const YcPixel& b) {
  return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}
inline void PrintTo(const YcPixel& p, std::ostream* os) {
  *os << "(" << p.y << ", " << p.cb << ", " << p.cr << ")";
}
}  // namespace core

namespace {

using core::YcPixel;
using testsupport::Rng;

std::string Show(const YcPixel& p) {
  return "(" + std::to_string(p.y) + ", " + std::to_string(p.cb) + ", " + std::to_string(p.cr) + ")";
}

TEST(RgbaConversion, GreyStaysGrey) {
  for (int v = 0; v < 256; ++v) {
    const YcPixel p = core::RgbToYc(v, v, v);
    EXPECT_EQ(p, (YcPixel{static_cast<int16_t>(16 * v), 0, 0})) << v << " gives " << Show(p);
    uint8_t rgb[3];
    core::YcToRgb({static_cast<int16_t>(16 * v), 0, 0}, rgb);
    EXPECT_EQ(rgb[0], v);
    EXPECT_EQ(rgb[1], v);
    EXPECT_EQ(rgb[2], v);
  }
}

// Values worked by hand from y = 0.299 r + 0.587 g + 0.114 b, cb = (b - y) / 1.772 and
// cr = (r - y) / 1.402, times 16 and rounded.
TEST(RgbaConversion, Bt601SpotValues) {
  struct Spot {
    int r, g, b;
    YcPixel yc;
  };
  const Spot spots[] = {
      {255, 0, 0, {1220, -688, 2040}},    // 1219.92, -688.44, 2040
      {0, 255, 0, {2395, -1352, -1708}},  // 2394.96, -1351.56, -1708.25
      {0, 0, 255, {465, 2040, -332}},     // 465.12, 2040, -331.75
      {255, 255, 0, {3615, -2040, 332}},  // yellow: 3614.88, -2040, 331.75
      {0, 255, 255, {2860, 688, -2040}},  // cyan: 2860.08, 688.44, -2040
      {255, 0, 255, {1685, 1352, 1708}},  // magenta: 1685.04, 1351.56, 1708.25
      {200, 100, 50, {1987, -670, 865}},  // 1987.2, -669.96, 865.05
      {12, 34, 56, {479, 235, -205}},     // 478.88, 235.39, -204.62
  };
  for (const Spot& s : spots) {
    const YcPixel p = core::RgbToYc(s.r, s.g, s.b);
    EXPECT_EQ(p, s.yc) << "(" << s.r << ", " << s.g << ", " << s.b << ") gives " << Show(p) << ", not "
                       << Show(s.yc);
  }
  // Every colour lies within 0.6 of a unit (1/16 of a level) of the exact values.
  double worst = 0;
  for (int r = 0; r < 256; r += 3)
    for (int g = 0; g < 256; g += 5)
      for (int b = 0; b < 256; ++b) {
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const YcPixel p = core::RgbToYc(r, g, b);
        worst = std::max({worst, std::abs(p.y - 16 * y), std::abs(p.cb - 16 * (b - y) / 1.772),
                          std::abs(p.cr - 16 * (r - y) / 1.402)});
      }
  EXPECT_LT(worst, 0.6);
}

// Samples no colour gives, as filters may leave them: each channel clamps, nothing overflows.
TEST(RgbaConversion, SamplesOutsideTheColoursClamp) {
  uint8_t rgb[3];
  core::YcToRgb({32767, 32767, 32767}, rgb);
  EXPECT_EQ(rgb[0], 255);
  EXPECT_EQ(rgb[1], 0);  // y + big negative colour terms
  EXPECT_EQ(rgb[2], 255);
  core::YcToRgb({-32768, -32768, -32768}, rgb);
  EXPECT_EQ(rgb[0], 0);
  EXPECT_EQ(rgb[1], 119);  // (-32768 + 0.344136 x 32768 + 0.714136 x 32768) / 16 = 119.2
  EXPECT_EQ(rgb[2], 0);
  core::YcToRgb({4200, 0, 0}, rgb);  // above white
  EXPECT_EQ(rgb[0], 255);
  core::YcToRgb({-9, 0, 0}, rgb);  // -0.5625 of a level
  EXPECT_EQ(rgb[1], 0);
  core::YcToRgb({8, 0, 0}, rgb);  // half a level rounds up
  EXPECT_EQ(rgb[2], 1);
  core::YcToRgb({7, 0, 0}, rgb);
  EXPECT_EQ(rgb[2], 0);
}

// Split among workers, the pixels convert as in one row, around the size below which the calling
// thread does it alone.
TEST(RgbaConversion, WorkersConvertLikeOneRow) {
  core::WorkerPool pool(3, false);
  const core::RgbaDsp& dsp = core::RgbaDspFor(core::DetectCpuFlags());
  for (int n : {0, 1, 100, 16383, 16384, 100003}) {
    std::vector<uint8_t> rgba(4 * static_cast<size_t>(n));
    Rng rng(n);
    for (auto& b : rgba) b = static_cast<uint8_t>(rng.Next());
    std::vector<YcPixel> one(n), split(n);
    dsp.RgbaToYcRow(rgba.data(), one.data(), n);
    const core::RgbaImage image{rgba.data(), n, 1, false};
    core::RgbaImageToYcOnWorkers(dsp, pool.workers(), image, split.data());
    for (int i = 0; i < n; ++i) ASSERT_EQ(split[i], one[i]) << n << " pixels, pixel " << i;
    for (auto& p : split) p.y = static_cast<int16_t>(p.y + 40);
    std::vector<uint8_t> want = rgba, got = rgba;
    dsp.YcToRgbaRow(split.data(), want.data(), n);
    core::YcToRgbaImageOnWorkers(dsp, pool.workers(), split.data(), {got.data(), n, 1, false});
    ASSERT_EQ(got, want) << n << " pixels";
  }
}

}  // namespace
