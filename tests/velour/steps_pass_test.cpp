// Step tables, pass counts, and the coverage of one shifted-grid pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "host/frame.h"
#include "tests/support/test_support.h"
#include "velour/velour.h"
#include "velour/velour_tables.h"

namespace {

std::vector<int> Steps(int matrix, int quant) {
  int16_t t[64];
  velour::LoadStepTable(t, matrix);
  velour::ScaleStepTable(t, quant);
  return {t, t + 64};
}

TEST(StepTable, DefaultsAreMatrixThree) {
  const auto s = Steps(3, 1);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(s[k], velour::QuantMatrices[3][k]);
  EXPECT_EQ(s[8 * 4 + 6], 20);  // the two asymmetric entries
  EXPECT_EQ(s[8 * 6 + 4], 21);
}

TEST(StepTable, ScalingAndCap) {
  EXPECT_EQ(Steps(4, 31), std::vector<int>(64, 248));
  const auto twice = Steps(0, 2);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(twice[k], 2 * velour::QuantMatrices[0][k]);
  EXPECT_EQ(*std::max_element(twice.begin(), twice.end()), 242);
  const auto thrice = Steps(0, 3);
  int capped = 0;
  for (int k = 0; k < 64; ++k) {
    const int base = velour::QuantMatrices[0][k];
    EXPECT_EQ(thrice[k], base >= 86 ? 255 : 3 * base);
    capped += thrice[k] == 255;
  }
  EXPECT_EQ(capped, 18);
  const auto m2 = Steps(2, 31);
  EXPECT_EQ(m2[0], 186);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(m2[k], 255);
}

TEST(StepTable, CapFirstActsWhereExpectedForEveryMatrix) {
  // First quant at which some entry 1..63 reaches the cap, and how many entries it caps there.
  const int first_quant[5] = {3, 4, 7, 11, 0};
  const int capped_there[5] = {18, 3, 6, 3, 0};
  for (int m = 0; m < 5; ++m) {
    int first = 0, count = 0;
    for (int q = 1; q <= 31 && first == 0; ++q) {
      const auto s = Steps(m, q);
      for (int k = 1; k < 64; ++k) count += s[k] == 255 && velour::QuantMatrices[m][k] * q > 255;
      if (count > 0) first = q;
    }
    EXPECT_EQ(first, first_quant[m]) << "matrix " << m;
    EXPECT_EQ(count, capped_there[m]) << "matrix " << m;
    for (int q = 1; q <= 31; ++q) {
      const auto s = Steps(m, q);
      for (int k = 1; k < 64; ++k) EXPECT_TRUE(s[k] >= 8 && s[k] <= 255) << m << " " << q << " " << k;
      EXPECT_TRUE(s[0] >= 6 && s[0] <= 248);
    }
  }
  EXPECT_EQ(Steps(0, 31), Steps(1, 31));  // all 255 but entry 0, which is 8 * 31 for both
}

TEST(StepTable, ReloadingNeverCarriesTheLastScale) {
  int16_t t[64];
  velour::LoadStepTable(t, 1);
  velour::ScaleStepTable(t, 3);
  velour::LoadStepTable(t, 1);
  velour::ScaleStepTable(t, 2);
  EXPECT_EQ(std::vector<int>(t, t + 64), Steps(1, 2));
}

TEST(ShiftTable, HoldsEveryOffsetOnceAndEndsUnshifted) {
  bool seen[8][8] = {};
  for (const auto& e : velour::ShiftTable) {
    ASSERT_TRUE(e[0] >= 0 && e[0] < 8 && e[1] >= 0 && e[1] < 8);
    EXPECT_FALSE(seen[e[0]][e[1]]) << e[0] << "," << e[1];
    seen[e[0]][e[1]] = true;
  }
  EXPECT_EQ(velour::ShiftTable[0][0], 3);
  EXPECT_EQ(velour::ShiftTable[0][1], 4);
  EXPECT_EQ(velour::ShiftTable[63][0], 0);
  EXPECT_EQ(velour::ShiftTable[63][1], 0);
}

TEST(PassCount, RoundsUpToWholeBatchesWithinTheTable) {
  EXPECT_EQ(velour::PassCount(8, 1), 8);
  EXPECT_EQ(velour::PassCount(8, 4), 8);
  EXPECT_EQ(velour::PassCount(8, 3), 9);
  EXPECT_EQ(velour::PassCount(1, 8), 8);
  EXPECT_EQ(velour::PassCount(64, 3), 64);
  EXPECT_EQ(velour::PassCount(61, 6), 64);
  EXPECT_EQ(velour::PassCount(52, 13), 52);
  EXPECT_EQ(velour::PassCount(53, 13), 64);
  EXPECT_EQ(velour::PassCount(1, 65), 64);
  EXPECT_EQ(velour::PassCount(64, 64), 64);
}

TEST(Average, TruncatesTowardZero) {
  EXPECT_EQ(velour::AverageSample(-7, 3), -37);
  EXPECT_EQ(velour::AverageSample(7, 3), 37);
  EXPECT_EQ(velour::AverageSample(32767, 1), static_cast<int16_t>(32767 * 16));  // low 16 bits kept
}

// Marks, with weight 1 per pass, which pixels a pass's border step covers.
std::vector<int> BorderMap(int w, int h, int dx, int dy) {
  host::Frame f(w, h, w + 3);
  for (auto& p : f.edit) p.y = 1;
  host::FrameInfo fi = f.Info();
  velour::ReferenceAddBorderLuma(&fi, dx, dy);
  std::vector<int> map(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) map[y * w + x] = f.temp[y * f.stride + x].y;
  return map;
}

// 0 inside [x0, x1) x [y0, y1), 1 elsewhere.
std::vector<int> Outside(int w, int h, int x0, int x1, int y0, int y1) {
  std::vector<int> map(static_cast<size_t>(w) * h, 1);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) map[y * w + x] = 0;
  return map;
}

TEST(ShiftedGridPass, BorderCoversExactlyWhatNoBlockCovers) {
  EXPECT_EQ(BorderMap(16, 16, 0, 0), Outside(16, 16, 0, 8, 0, 8));
  EXPECT_EQ(BorderMap(16, 16, 7, 7), Outside(16, 16, 7, 15, 7, 15));
  EXPECT_EQ(BorderMap(20, 20, 0, 0), Outside(20, 20, 0, 16, 0, 16));
  EXPECT_EQ(BorderMap(20, 20, 5, 5), Outside(20, 20, 5, 13, 5, 13));
  for (int n : {1, 5, 8}) EXPECT_EQ(BorderMap(n, 40, 2, 3), std::vector<int>(40 * n, 1)) << "width " << n;
  EXPECT_EQ(BorderMap(40, 8, 0, 0), std::vector<int>(40 * 8, 1));
}

TEST(ShiftedGridPass, EveryPixelGetsExactlyOneContribution) {
  // Flat luma comes back flat from every block, so a pass adds the luma once per pixel exactly
  // when blocks and border strips tile the frame.
  const auto steps = Steps(3, 5);
  std::vector<int16_t> st(steps.begin(), steps.end());
  const int sizes[][2] = {{1, 1}, {8, 8}, {9, 9}, {16, 16}, {17, 23}, {20, 20}, {64, 8}, {8, 64}, {33, 70}, {100, 41}};
  for (const auto& sz : sizes) {
    for (int s = 0; s < 64; ++s) {
      testsupport::GuardedFrame f(sz[0], sz[1], sz[0] + 2, s % 2 == 0);
      for (int y = 0; y < sz[1]; ++y)
        for (int x = 0; x < sz[0]; ++x) {
          f.edit.at(x, y) = {37, 11, 12};
          f.temp.at(x, y) = {100, 13, 14};
        }
      host::FrameInfo fi = f.Info();
      velour::ReferenceShiftedGridPass(&fi, st.data(), s);
      for (int y = 0; y < sz[1]; ++y)
        for (int x = 0; x < sz[0]; ++x) {
          ASSERT_EQ(f.temp.at(x, y).y, 137) << sz[0] << "x" << sz[1] << " shift " << s << " at " << x << "," << y;
          ASSERT_EQ(f.temp.at(x, y).cb, 13);
          ASSERT_EQ(f.edit.at(x, y).y, 37);
        }
      ASSERT_EQ(f.edit.CheckCanaries(), "");
      ASSERT_EQ(f.temp.CheckCanaries(), "");
    }
  }
}

TEST(ShiftedGridPass, HugeStepsLeaveOnlyTheBlockMean) {
  // Every step exceeds every coefficient: each block comes back as its flat DC reconstruction.
  std::vector<int16_t> st(64, 32767);
  host::Frame f(16, 16);
  testsupport::Rng rng(testsupport::TestSeed());
  for (auto& p : f.edit) p.y = static_cast<int16_t>(rng.Uniform(0, 255));
  int sum = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) sum += f.edit[y * 16 + x].y;
  host::FrameInfo fi = f.Info();
  velour::ReferenceShiftedGridPass(&fi, st.data(), 63);  // grid (0, 0): one block at the origin
  const int dc = sum >> 3;  // coefficient (0, 0) = floor(sum / 8); inverse of a lone DC = floor(dc / 8)
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(f.temp[y * 16 + x].y, dc >> 3);
}

}  // namespace
