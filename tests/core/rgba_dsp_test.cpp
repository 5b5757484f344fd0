// The RGBA conversion: the scalar pixel functions against BT.601 and for losslessness over every
// colour, then each tier's row kernels against them bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "core/rgba_dsp.h"
#include "core/worker_pool.h"
#include "tests/support/test_support.h"
#include "tests/support/tiers.h"

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

// The 65536 colours with red r, as RGBA with alpha 255 - g.
std::vector<uint8_t> ColoursWithRed(int r) {
  std::vector<uint8_t> rgba(4 * 65536);
  for (int gb = 0; gb < 65536; ++gb) {
    uint8_t* p = &rgba[4 * gb];
    p[0] = static_cast<uint8_t>(r);
    p[1] = static_cast<uint8_t>(gb >> 8);
    p[2] = static_cast<uint8_t>(gb);
    p[3] = static_cast<uint8_t>(255 - p[1]);
  }
  return rgba;
}

TEST(RgbaConversion, EveryColourComesBackUnchanged) {
  int failures = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        uint8_t rgb[3];
        core::YcToRgb(core::RgbToYc(r, g, b), rgb);
        if ((rgb[0] != r || rgb[1] != g || rgb[2] != b) && ++failures <= 5)
          ADD_FAILURE() << "(" << r << ", " << g << ", " << b << ") comes back as (" << int{rgb[0]} << ", "
                        << int{rgb[1]} << ", " << int{rgb[2]} << ")";
      }
  EXPECT_EQ(failures, 0);
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

// ---- The exact inverse, BT.601 with kr = 0.299 and kb = 0.114, in integers. With Y, Cb and Cr the
// samples over 16: r = Y + 1.402 Cr, b = Y + 1.772 Cb and g = Y - (0.202008 Cb + 0.419198 Cr) / 0.587,
// each n / kDen levels for the integer n below.
constexpr int64_t kDen = 16 * 587000;

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The bytes a channel of exact value n / kDen may come out as: that value rounded half up, clamped
// to 0..255; and where it lies within slack / 2^19 of a level of the point between two bytes, the
// byte across that point too. The conversion keeps its coefficients to 14 fraction bits, each within
// 2^-15 of the exact one, which moves a channel by at most the sum of |cb| or |cr| it multiplies
// over 2^19 (their 16 units a level included).
struct Allowed {
  int lo, hi;
};
Allowed ExactChannel(int64_t n, int64_t slack) {
  const int64_t t = 2 * n + kDen;           // 2 kDen (value + 1/2)
  const int64_t k = FloorDiv(t, 2 * kDen);  // the value rounded half up
  const int64_t above = t - 2 * kDen * k;   // 2 kDen x how far the value lies above k - 1/2
  const int64_t lo = (above << 18) <= kDen * slack ? k - 1 : k;
  const int64_t hi = ((2 * kDen - above) << 18) <= kDen * slack ? k + 1 : k;
  return {static_cast<int>(std::clamp<int64_t>(lo, 0, 255)),
          static_cast<int>(std::clamp<int64_t>(hi, 0, 255))};
}

// "" when the bytes r, g, b may come from p; else what they should be.
std::string ExactInverseMismatch(const YcPixel& p, const uint8_t* rgb) {
  const int64_t y = 587000 * int64_t{p.y}, cb = p.cb, cr = p.cr;
  const Allowed want[3] = {ExactChannel(y + 822974 * cr, std::abs(cr)),
                           ExactChannel(y - 202008 * cb - 419198 * cr, std::abs(cb) + std::abs(cr)),
                           ExactChannel(y + 1040164 * cb, std::abs(cb))};
  std::string why;
  for (int c = 0; c < 3; ++c)
    if (rgb[c] < want[c].lo || rgb[c] > want[c].hi)
      why += std::string(" ") + "rgb"[c] + " " + std::to_string(rgb[c]) + ", not " +
             std::to_string(want[c].lo) +
             (want[c].hi != want[c].lo ? " or " + std::to_string(want[c].hi) : "");
  return why.empty() ? "" : Show(p) + ":" + why;
}

class RgbaTierTest : public ::testing::TestWithParam<core::CpuTier> {
 protected:
  void SetUp() override {
    SKIP_UNLESS_CPU_HAS(GetParam());
    core::InitRgbaDsp(dsp_, GetParam().flags);
  }
  core::RgbaDsp dsp_;
};

// The vector tiers against the scalar pixel functions. (The scalar rows call those functions pixel
// by pixel; their loops are checked by the guarded rows below.)
class RgbaVectorTierTest : public RgbaTierTest {};

// Every colour, in rows of the lengths the tails see, against the scalar functions, and back.
TEST_P(RgbaVectorTierTest, EveryColourMatchesTheScalarFunctionsAndComesBack) {
  std::vector<YcPixel> yc(65536);
  int failures = 0;
  for (int r = 0; r < 256; ++r) {
    const std::vector<uint8_t> rgba = ColoursWithRed(r);
    for (int at = 0, len = 1 + r % 19; at < 65536; at += len, len = len % 41 + 1)
      dsp_.RgbaToYcRow(&rgba[4 * at], &yc[at], std::min(len, 65536 - at));
    for (int i = 0; i < 65536; ++i) {
      const YcPixel want = core::RgbToYc(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
      if (!(yc[i] == want) && ++failures <= 5)
        ADD_FAILURE() << "colour " << r << "/" << (i >> 8) << "/" << (i & 255) << ": " << Show(yc[i])
                      << ", scalar " << Show(want);
    }
    std::vector<uint8_t> back(rgba.size(), 0);
    for (size_t i = 3; i < back.size(); i += 4) back[i] = rgba[i];
    dsp_.YcToRgbaRow(yc.data(), back.data(), 65536);
    if (back != rgba && ++failures <= 5) ADD_FAILURE() << "colours with red " << r << " do not come back";
  }
  EXPECT_EQ(failures, 0);
}

// The luma alone, shifted as its users shift it: every colour, rows of every tail length, against
// the scalar pixel function; nothing past a row's end is written.
TEST_P(RgbaVectorTierTest, LumaAloneOfEveryColour) {
  int failures = 0;
  for (int r = 0; r < 256; r += 3) {
    const std::vector<uint8_t> rgba = ColoursWithRed(r);
    for (int32_t shift : {0, 4}) {
      std::vector<int16_t> luma(65536 + 1, 0x5A5A);
      for (int at = 0, len = 1 + r % 23; at < 65536; at += len, len = len % 37 + 1)
        dsp_.RgbaToLumaRow(&rgba[4 * at], &luma[at], std::min(len, 65536 - at), shift);
      for (int i = 0; i < 65536; ++i) {
        const int16_t want =
            static_cast<int16_t>(core::RgbToYc(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]).y >> shift);
        if (luma[i] != want && ++failures <= 5)
          ADD_FAILURE() << "colour " << r << "/" << (i >> 8) << "/" << (i & 255) << " shift " << shift << ": "
                        << luma[i] << ", scalar " << want;
      }
      if (luma[65536] != 0x5A5A && ++failures <= 5) ADD_FAILURE() << "written past the row";
    }
  }
  EXPECT_EQ(failures, 0);
}

// Any samples back to RGB: extremes first, then random ones; alpha and the bytes past the row stay.
TEST_P(RgbaTierTest, AnySamplesMatchTheScalarFunctionAndKeepAlpha) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int16_t extremes[] = {-32768, -32767, -4096, -2049, -1, 0, 1, 8, 4080, 4095, 4096, 32767};
  constexpr int kMax = 67, kGuard = 16;
  for (int iter = 0; iter < 3000; ++iter) {
    const int n = iter < 100 ? iter % (kMax + 1) : rng.Uniform(0, kMax);
    const int offset = rng.Uniform(0, 3);  // the row's start moves against 16-byte alignment
    std::vector<YcPixel> storage(kMax + 4);
    YcPixel* yc = storage.data() + offset;
    for (int i = 0; i < n; ++i) {
      auto sample = [&] {
        return iter < 1000 ? extremes[rng.Uniform(0, 11)] : static_cast<int16_t>(rng.Uniform(-32768, 32767));
      };
      yc[i] = {sample(), sample(), sample()};
    }
    std::vector<uint8_t> want(4 * (kMax + 4) + kGuard), got;
    for (auto& b : want) b = static_cast<uint8_t>(rng.Next());
    got = want;
    core::YcToRgbaRow_C(yc, want.data() + 4 * offset, n);
    dsp_.YcToRgbaRow(yc, got.data() + 4 * offset, n);
    for (int i = 0; i < n; ++i) {
      uint8_t rgb[3];
      core::YcToRgb(yc[i], rgb);
      ASSERT_EQ(std::memcmp(rgb, &want[4 * (offset + i)], 3), 0) << "the scalar row kernel, pixel " << i;
    }
    ASSERT_EQ(got, want) << "seed " << seed << " iter " << iter << " n " << n << ": first difference at byte "
                         << (std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
  }
}

// Samples no colour gives, as a filter leaves them, against the exact inverse: every combination of
// extreme values, every luma without colour (exact to the byte), luma with colour differences too
// small to move a channel across a rounding point, random samples around the colours and anywhere.
// Rows of every length up to 41; alpha bytes and the bytes past the row stay as they were.
TEST_P(RgbaTierTest, AnySamplesGiveTheExactInverse) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int16_t extremes[] = {-32768, -32767, -4096, -2049, -2048, -1, 0, 1, 7, 8, 2040, 2047, 4080, 32767};
  std::vector<YcPixel> samples;
  for (int16_t y : extremes)
    for (int16_t cb : extremes)
      for (int16_t cr : extremes) samples.push_back({y, cb, cr});
  const auto any = [&](int lo, int hi) {
    return static_cast<int16_t>(rng.Uniform(lo, hi));
  };
  for (int y = -32768; y <= 32767; ++y) samples.push_back({static_cast<int16_t>(y), 0, 0});
  for (int i = 0; i < 1 << 16; ++i) {
    samples.push_back({any(-64, 4144), any(-1, 1), any(-1, 1)});
    samples.push_back({any(-64, 4144), any(-2100, 2100), any(-2100, 2100)});
    samples.push_back({any(-32768, 32767), any(-32768, 32767), any(-32768, 32767)});
  }
  const size_t n = samples.size();
  std::vector<uint8_t> rgba(4 * n + 16);
  for (auto& b : rgba) b = static_cast<uint8_t>(rng.Next());
  const std::vector<uint8_t> before = rgba;
  for (size_t at = 0, len = 1; at < n; at += len, len = len % 41 + 1)
    dsp_.YcToRgbaRow(&samples[at], &rgba[4 * at], static_cast<int32_t>(std::min(len, n - at)));
  int failures = 0;
  for (size_t i = 0; i < n; ++i) {
    const std::string why = ExactInverseMismatch(samples[i], &rgba[4 * i]);
    if (!why.empty() && ++failures <= 5) ADD_FAILURE() << "sample " << i << " " << why << ", seed " << seed;
    if (rgba[4 * i + 3] != before[4 * i + 3] && ++failures <= 5) ADD_FAILURE() << "alpha of sample " << i;
  }
  EXPECT_TRUE(std::equal(rgba.end() - 16, rgba.end(), before.end() - 16)) << "written past the row";
  EXPECT_EQ(failures, 0);
}

// Rows that end against an inaccessible page: the kernels read and write nothing past their n
// pixels, in either direction.
TEST_P(RgbaTierTest, RowsTouchNothingPastTheirPixels) {
  for (int n = 1; n <= 40; ++n) {
    // 12 n bytes, the last one before the page: the RGBA row takes the last 4 n.
    testsupport::GuardedPlane rgba_storage(2 * n, 1, 2 * n, true);
    uint8_t* rgba = reinterpret_cast<uint8_t*>(rgba_storage.data()) + 8 * n;
    const std::vector<uint8_t> colours = ColoursWithRed(n * 5);
    std::memcpy(rgba, colours.data(), 4 * n);
    testsupport::GuardedPlane yc(n, 1, n, true);
    dsp_.RgbaToYcRow(rgba, yc.data(), n);
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(yc.at(i, 0), core::RgbToYc(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]));
    EXPECT_EQ(yc.CheckCanaries(), "") << n;
    // The luma row: n samples, the last one before the page.
    const int luma_pixels = (n + 2) / 3;
    testsupport::GuardedPlane luma_storage(luma_pixels, 1, luma_pixels, true);
    int16_t* luma = reinterpret_cast<int16_t*>(luma_storage.data() + luma_pixels) - n;
    dsp_.RgbaToLumaRow(rgba, luma, n, 4);
    for (int i = 0; i < n; ++i) ASSERT_EQ(luma[i], yc.at(i, 0).y >> 4) << n;
    std::memset(rgba, 0, 4 * n);
    dsp_.YcToRgbaRow(yc.data(), rgba, n);
    for (int i = 0; i < 4 * n; ++i) ASSERT_EQ(rgba[i], i % 4 == 3 ? 0 : colours[i]) << n;
  }
}

// Split among workers, the pixels convert as in one row, around the size below which the calling
// thread does it alone.
TEST(RgbaConversion, WorkersConvertLikeOneRow) {
  core::WorkerPool pool(3, false);
  const core::RgbaDsp& dsp = core::DetectedRgbaDsp();
  for (int n : {0, 1, 100, 16383, 16384, 100003}) {
    std::vector<uint8_t> rgba(4 * static_cast<size_t>(n));
    Rng rng(n);
    for (auto& b : rgba) b = static_cast<uint8_t>(rng.Next());
    std::vector<YcPixel> one(n), split(n);
    dsp.RgbaToYcRow(rgba.data(), one.data(), n);
    core::RgbaToYcOnWorkers(dsp, pool.workers(), rgba.data(), split.data(), n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(split[i], one[i]) << n << " pixels, pixel " << i;
    for (auto& p : split) p.y = static_cast<int16_t>(p.y + 40);
    std::vector<uint8_t> want = rgba, got = rgba;
    dsp.YcToRgbaRow(split.data(), want.data(), n);
    core::YcToRgbaOnWorkers(dsp, pool.workers(), split.data(), got.data(), n);
    ASSERT_EQ(got, want) << n << " pixels";
  }
}

INSTANTIATE_TEST_SUITE_P(Isa, RgbaTierTest, ::testing::ValuesIn(testsupport::AllTiers()),
                         testsupport::TierParamName);
INSTANTIATE_TEST_SUITE_P(Isa, RgbaVectorTierTest, ::testing::ValuesIn(testsupport::VectorTiers()),
                         testsupport::TierParamName);

}  // namespace
