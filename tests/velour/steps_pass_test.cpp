// Step tables, pass counts, and the coverage of one shifted-grid pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

// The base matrices and the shift table against sums taken from their published forms: the plain
// sum catches a wrong entry, the sum weighted by index two swapped ones.
TEST(Tables, MatchTheirPublishedSums) {
  const int sums[5] = {3680, 2114, 1680, 1062, 512};
  const int weighted[5] = {147554, 76922, 60417, 36853, 16128};
  for (int m = 0; m < 5; ++m) {
    int sum = 0, by_index = 0;
    for (int k = 0; k < 64; ++k)
      sum += velour::QuantMatrices[m][k], by_index += k * velour::QuantMatrices[m][k];
    EXPECT_EQ(sum, sums[m]) << "matrix " << m;
    EXPECT_EQ(by_index, weighted[m]) << "matrix " << m;
  }
  // Selected entries: the JPEG-derived matrix starts at 8, not 16; the MPEG-2 one ends at 83.
  EXPECT_EQ(velour::QuantMatrices[0][0], 8);
  EXPECT_EQ(velour::QuantMatrices[0][8 * 6 + 5], 121);
  EXPECT_EQ(velour::QuantMatrices[1][63], 83);
  // Matrix 2 depends on v + u alone, but for entry (1, 1).
  const int by_diagonal[15] = {6, 10, 13, 16, 18, 23, 25, 27, 29, 31, 33, 36, 38, 40, 42};
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u)
      EXPECT_EQ(velour::QuantMatrices[2][8 * v + u], v == 1 && u == 1 ? 11 : by_diagonal[v + u])
          << v << "," << u;
  // Matrix 3 is symmetric but for entries (4, 6) and (6, 4).
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < v; ++u) {
      if (v == 6 && u == 4) continue;
      EXPECT_EQ(velour::QuantMatrices[3][8 * v + u], velour::QuantMatrices[3][8 * u + v]) << v << "," << u;
    }
  EXPECT_EQ(velour::QuantMatrices[3][8 * 4 + 6], 20);
  EXPECT_EQ(velour::QuantMatrices[3][8 * 6 + 4], 21);
  int shift_dx = 0, shift_dy = 0;
  for (int s = 0; s < 64; ++s)
    shift_dx += s * velour::ShiftTable[s][0], shift_dy += s * velour::ShiftTable[s][1];
  EXPECT_EQ(shift_dx, 7197);
  EXPECT_EQ(shift_dy, 6791);
  const int first_row[8][2] = {{3, 4}, {1, 0}, {6, 7}, {2, 2}, {5, 5}, {0, 6}, {7, 1}, {2, 5}};
  for (int s = 0; s < 8; ++s) {
    EXPECT_EQ(velour::ShiftTable[s][0], first_row[s][0]) << s;
    EXPECT_EQ(velour::ShiftTable[s][1], first_row[s][1]) << s;
  }
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
  // Sums beyond 16 bits are exact: 128 contributions of nominal white average to nominal white.
  EXPECT_EQ(velour::AverageSample(128 * 256, 128), 4096);
  EXPECT_EQ(velour::AverageSample(-128 * 2048, 128), -32768);
}

// Marks, with weight 1 per pass, which pixels a pass's border step covers.
std::vector<int> BorderMap(int w, int h, int dx, int dy) {
  const std::vector<int16_t> luma(static_cast<size_t>(w) * h, 1);
  std::vector<int32_t> acc(luma.size(), 0);
  velour::ReferenceAddBorderLuma(luma.data(), acc.data(), w, h, dx, dy);
  return {acc.begin(), acc.end()};
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
  const int sizes[][2] = {{1, 1},   {8, 8},  {9, 9},  {16, 16}, {17, 23},
                          {20, 20}, {64, 8}, {8, 64}, {33, 70}, {100, 41}};
  for (const auto& sz : sizes) {
    const int w = sz[0], h = sz[1];
    for (int s = 0; s < 64; ++s) {
      const std::vector<int16_t> luma(static_cast<size_t>(w) * h, 37);
      std::vector<int32_t> acc(luma.size(), 100000);
      velour::ReferenceShiftedGridPass(luma.data(), acc.data(), w, h, st.data(), s);
      for (int i = 0; i < w * h; ++i)
        ASSERT_EQ(acc[i], 100037) << w << "x" << h << " shift " << s << " at " << i;
    }
  }
}

TEST(ShiftedGridPass, HugeStepsLeaveOnlyTheBlockMean) {
  // Every step exceeds every coefficient: each block comes back as its flat DC reconstruction.
  std::vector<int16_t> st(64, 32767);
  std::vector<int16_t> luma(16 * 16);
  testsupport::Rng rng(testsupport::TestSeed());
  for (auto& v : luma) v = static_cast<int16_t>(rng.Uniform(0, 255));
  int sum = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) sum += luma[y * 16 + x];
  std::vector<int32_t> acc(luma.size(), 0);
  velour::ReferenceShiftedGridPass(luma.data(), acc.data(), 16, 16, st.data(), 63);  // grid (0, 0): one block
  const int dc = sum >> 3;  // coefficient (0, 0) = floor(sum / 8); inverse of a lone DC = floor(dc / 8)
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(acc[y * 16 + x], dc >> 3);
}

}  // namespace
