// The threshold tables and ComputeThresholds on hand-worked track values.
#include <gtest/gtest.h>

#include "deblock/deblock.h"
#include "deblock/deblock_tables.h"

namespace {

using deblock::ComputeThresholds;
using deblock::Thresholds;

struct Example {
  int32_t quant, a_offset, b_offset;
  int32_t alpha, beta, tc0;
};

TEST(DeblockThresholds, HandWorkedExamples) {
  const Example examples[] = {
      {25, 0, 0, 208, 64, 16},       // defaults
      {40, 5, 0, 2304, 208, 128},    // indexA 45, indexB 40
      {50, 30, 5, 4080, 352, 560},   // indexA 80 becomes 60, indexB 55
      {60, 60, 60, 4080, 432, 560},  // the largest values
      {0, 20, 0, 112, 0, 0},         // indexA 20, indexB 0
      {21, 0, 0, 128, 48, 16},       // first tc0 that is not 0
      {51, 0, 0, 4080, 288, 272},    // row 51
      {52, 0, 0, 4080, 304, 304},    // row 52, the first continued one
  };
  for (const Example& e : examples) {
    const Thresholds t = ComputeThresholds(e.quant, e.a_offset, e.b_offset);
    EXPECT_EQ(t.alpha, e.alpha) << e.quant << "," << e.a_offset << "," << e.b_offset;
    EXPECT_EQ(t.beta, e.beta) << e.quant << "," << e.a_offset << "," << e.b_offset;
    EXPECT_EQ(t.tc0, e.tc0) << e.quant << "," << e.a_offset << "," << e.b_offset;
  }
}

TEST(DeblockThresholds, QuantUpToFifteenGivesZeros) {
  for (int q = 0; q <= 15; ++q) {
    const Thresholds t = ComputeThresholds(q, 0, 0);
    EXPECT_EQ(t.alpha, 0) << q;
    EXPECT_EQ(t.beta, 0) << q;
    EXPECT_EQ(t.tc0, 0) << q;
  }
}

TEST(DeblockThresholds, TablesNeverFall) {
  for (int i = 1; i < deblock::kTableSize; ++i) {
    EXPECT_GE(deblock::AlphaTable[i], deblock::AlphaTable[i - 1]) << i;
    EXPECT_GE(deblock::BetaTable[i], deblock::BetaTable[i - 1]) << i;
    EXPECT_GE(deblock::Tc0Table[i], deblock::Tc0Table[i - 1]) << i;
  }
}

TEST(DeblockThresholds, IndexesAreLimitedAndTc0FollowsIndexA) {
  // Every sum from 60 to 120 gives row 60.
  for (int s = 60; s <= 120; ++s) {
    const Thresholds t = ComputeThresholds(60, s - 60, s - 60);
    EXPECT_EQ(t.alpha, 4080);
    EXPECT_EQ(t.beta, 432);
    EXPECT_EQ(t.tc0, 560);
  }
  // tc0 takes indexA: a large bOffset moves beta only.
  const Thresholds t = ComputeThresholds(20, 0, 40);
  EXPECT_EQ(t.alpha, 7 * 16);
  EXPECT_EQ(t.tc0, 0);
  EXPECT_EQ(t.beta, 27 * 16);
  // Negative sums become index 0.
  const Thresholds n = ComputeThresholds(-30, 5, 5);
  EXPECT_EQ(n.alpha, 0);
  EXPECT_EQ(n.beta, 0);
  EXPECT_EQ(n.tc0, 0);
}

TEST(DeblockThresholds, TrackValuesOutsideTheirRangesAreClampedFirst) {
  // quant -10 becomes 0 before the sum: indexA = 0 + 20 = 20, not 10.
  const int32_t low[] = {-10, 20, 0};
  const Thresholds a = deblock::ThresholdsFor(deblock::ParamsFromTracks(low));
  EXPECT_EQ(a.alpha, 112);
  EXPECT_EQ(a.beta, 0);
  const int32_t high[] = {1000, -1000, 2147483647};
  const Thresholds b =
      deblock::ThresholdsFor(deblock::ParamsFromTracks(high));  // 60, 0, 60: no overflow in the sums
  EXPECT_EQ(b.alpha, 4080);
  EXPECT_EQ(b.beta, 432);
  EXPECT_EQ(b.tc0, 560);
}

}  // namespace
