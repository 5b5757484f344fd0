// The block transform against hand-worked values and against its defining sum.
#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "tests/support/test_support.h"
#include "velour/velour_dsp.h"

namespace {

using Block = std::array<int16_t, 64>;

Block Filled(int16_t v) {
  Block b;
  b.fill(v);
  return b;
}

Block Transformed(Block b) {
  velour::Wht8x8_C(b.data());
  return b;
}

int Sign(int k, int n) { return std::popcount(static_cast<unsigned>(k & n)) % 2 ? -1 : 1; }

TEST(Wht8x8, FlatBlocksKeepOnlyTheDcTerm) {
  EXPECT_EQ(Transformed(Filled(0)), Filled(0));
  for (int x : {-512, -1, 1, 7, 100, 255, 511}) {
    Block expected = Filled(0);
    expected[0] = static_cast<int16_t>(8 * x);
    EXPECT_EQ(Transformed(Filled(static_cast<int16_t>(x))), expected) << "x = " << x;
  }
}

TEST(Wht8x8, SaturatedSumChangesTheDifference) {
  // 64 values of 512: the last horizontal stage adds 16384 + 16384, which clamps to 32767, and
  // the difference derived from the clamped sum is 32767 - 32768 = -1.
  Block expected = Filled(0);
  expected[0] = 4095;
  expected[4] = -1;
  EXPECT_EQ(Transformed(Filled(512)), expected);
}

TEST(Wht8x8, ButterflyOfTwoHalfRangeValues) {
  // Two columns of 16384 in rows 0 and 1 meet in the first vertical stage: S = 32767, D = -1.
  Block b = Filled(0);
  b[0] = 16384;
  b[8] = 16384;
  velour::WhtColumns_C(b.data());
  EXPECT_EQ(b[0], 32767);  // x0 after three stages: S then S + 0 twice
  EXPECT_EQ(b[8], -1);
}

TEST(Wht8x8, SingleDcValueSpreadsWithFloorRounding) {
  const std::pair<int, int> cases[] = {{1, 0}, {7, 0}, {8, 1}, {15, 1}, {-1, -1}, {-8, -1}, {-9, -2}};
  for (auto [in, out] : cases) {
    Block b = Filled(0);
    b[0] = static_cast<int16_t>(in);
    EXPECT_EQ(Transformed(b), Filled(static_cast<int16_t>(out))) << "value " << in;
  }
}

TEST(Wht8x8, OrientationOfRowsAndColumns) {
  Block b = Filled(0);
  b[1] = 8;  // row 0, column 1
  Block r = Transformed(b);
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) EXPECT_EQ(r[8 * v + u], u % 2 ? -1 : 1) << v << "," << u;
  b = Filled(0);
  b[8] = 8;  // row 1, column 0
  r = Transformed(b);
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) EXPECT_EQ(r[8 * v + u], v % 2 ? -1 : 1) << v << "," << u;
}

TEST(Wht8x8, MatchesTheDefiningSumWithinTheUnclampedRange) {
  testsupport::Rng rng(testsupport::TestSeed());
  for (int iter = 0; iter < 500; ++iter) {
    Block in;
    for (auto& v : in) v = static_cast<int16_t>(rng.Uniform(-512, 511));
    const Block out = Transformed(in);
    for (int v = 0; v < 8; ++v) {
      for (int u = 0; u < 8; ++u) {
        int sum = 0;
        for (int i = 0; i < 8; ++i)
          for (int j = 0; j < 8; ++j) sum += Sign(v, i) * Sign(u, j) * in[8 * i + j];
        const int expected = sum >= 0 ? sum / 8 : -((-sum + 7) / 8);  // floor
        ASSERT_EQ(out[8 * v + u], expected) << "iter " << iter << " coefficient " << v << "," << u;
      }
    }
  }
}

TEST(Wht8x8, MultiplesOfEightComeBackFromTwoApplications) {
  testsupport::Rng rng(testsupport::TestSeed());
  for (int iter = 0; iter < 2000; ++iter) {
    Block in;
    for (auto& v : in) v = static_cast<int16_t>(8 * rng.Uniform(-64, 63));
    if (iter == 0) in = Filled(-512);
    if (iter == 1) in = Filled(504);
    ASSERT_EQ(Transformed(Transformed(in)), in) << "iter " << iter;
  }
}

TEST(Wht8x8, ResultsStayWithinThirteenBitsForAnyInput) {
  testsupport::Rng rng(testsupport::TestSeed());
  for (int iter = 0; iter < 2000; ++iter) {
    Block in;
    for (auto& v : in)
      v = static_cast<int16_t>(iter % 2 ? rng.Uniform(-32768, 32767) : (rng.Next() & 1 ? 32767 : -32768));
    for (int16_t v : Transformed(in)) ASSERT_TRUE(v >= -4096 && v <= 4095) << v;
  }
}

}  // namespace
