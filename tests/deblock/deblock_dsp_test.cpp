// Each vector kernel against its scalar twin, for every tier this CPU has: extreme inputs first,
// then random ones; run lengths that reach every vector tail; canaries around every picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/cpu.h"
#include "deblock/deblock_dsp.h"
#include "deblock/deblock_tables.h"
#include "tests/support/test_support.h"
#include "tests/support/tiers.h"

namespace {

using core::YcPixel;
using deblock::DeblockDsp;
using testsupport::GuardedPlane;
using testsupport::Rng;

class DeblockDspTest : public ::testing::TestWithParam<core::CpuTier> {
 protected:
  void SetUp() override {
    SKIP_UNLESS_CPU_HAS(GetParam());
    deblock::InitDeblockDsp(ref_, 0);
    deblock::InitDeblockDsp(new_, GetParam().flags);
  }
  DeblockDsp ref_{}, new_{};
};

struct Limits {
  int32_t alpha, beta, tc0;
};

// Table corners and in-between, the largest the vector lanes take and one past it (scalar path).
Limits PickLimits(int iter, Rng& rng) {
  switch (iter % 8) {
    case 0: return {0, 0, 0};
    case 1: return {16 * deblock::AlphaTable[60], 16 * deblock::BetaTable[60], 16 * deblock::Tc0Table[60]};
    case 2: return {4096, 4096, 4096};
    case 3: return {4097, 300, 4097};
    case 4: return {16 * 255, 0, 16 * 35};
    default: {
      const int a = rng.Uniform(16, 60), b = rng.Uniform(16, 60);
      return {16 * deblock::AlphaTable[a], 16 * deblock::BetaTable[b], 16 * deblock::Tc0Table[a]};
    }
  }
}

// Extreme pictures first (all min, all max, alternating, a spike), then lines that mostly pass the
// thresholds: around mid-range, near both ends of int16 (stores wrap), or with steps just at the
// thresholds; then any int16.
int16_t Sample(int kind, int x, int y, int c, const Limits& l, int32_t base, Rng& rng) {
  int32_t v;
  switch (kind) {
    case 0: v = -32768; break;
    case 1: v = 32767; break;
    case 2: v = (x + y + c) % 2 ? -32768 : 32767; break;
    case 3: v = (x == 5 && c == 0) ? 32767 : 0; break;
    case 4:
      v = base + rng.Uniform(-l.beta, l.beta) + (x % 4 == 0 ? rng.Uniform(-l.alpha, l.alpha) : 0);
      break;
    case 5: v = (c % 2 ? 32767 : -32768) + (c % 2 ? -1 : 1) * rng.Uniform(0, l.beta + 2 * l.tc0 + 8); break;
    case 6: {
      const int32_t steps[] = {l.alpha - 1, l.alpha, l.beta - 1, l.beta, 0, 1};
      v = base + (x + y) % 3 * steps[rng.Uniform(0, 5)] * (rng.Uniform(0, 1) ? 1 : -1);
      break;
    }
    default: v = rng.Uniform(-32768, 32767);
  }
  return static_cast<int16_t>(v);  // wraps, as a stored result may
}

void Fill(GuardedPlane& a, GuardedPlane& b, int w, int h, int kind, const Limits& l, Rng& rng) {
  const int32_t base = rng.Uniform(-32768, 32767);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const YcPixel p = {Sample(kind, x, y, 0, l, base, rng), Sample(kind, x, y, 1, l, base, rng),
                         Sample(kind, x, y, 2, l, base, rng)};
      a.at(x, y) = p;
      b.at(x, y) = p;
    }
}

std::string Compare(GuardedPlane& want, GuardedPlane& got, int w, int h, int stride) {
  if (auto c = got.CheckCanaries(); !c.empty()) return c;
  return testsupport::DiffPictures(testsupport::Picture(want.data(), w, h, stride),
                                   testsupport::Picture(got.data(), w, h, stride), w, h);
}

constexpr int kKinds = 9;

// Rows y-3 .. y+2 exactly, columns from 0 or 1 to the run's end: 1 to 44 columns reach every
// tail of 8 and 16 samples (3 per column), twice; the rows above the edge after the others in
// memory half the time, as in a ring of rows.
TEST_P(DeblockDspTest, HorizontalEdgesMatchScalar) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 1500; ++iter) {
    const int count = iter % 45;
    const int x0 = iter / 45 % 2;
    const int w = x0 + count > 0 ? x0 + count : 1, h = 6;
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 5));
    const Limits l = PickLimits(iter / 3, rng);
    const int kind = iter < 4 * kKinds ? iter % kKinds : rng.Uniform(0, kKinds - 1);
    GuardedPlane a(w, h, stride, iter % 2 == 0), b(w, h, stride, iter % 2 == 0);
    Fill(a, b, w, h, kind, l, rng);
    const int q = iter % 4 < 2 ? 3 : 0, above = 3 - q;  // first rows of the two sides
    ref_.FilterHorizontalEdges(a.data() + q * stride + x0, a.data() + above * stride + x0, stride, count,
                               l.alpha, l.beta, l.tc0);
    new_.FilterHorizontalEdges(b.data() + q * stride + x0, b.data() + above * stride + x0, stride, count,
                               l.alpha, l.beta, l.tc0);
    ASSERT_EQ(Compare(a, b, w, h, stride), "")
        << "count " << count << " x0 " << x0 << " kind " << kind << " alpha " << l.alpha << " beta " << l.beta
        << " tc0 " << l.tc0 << " seed " << seed << " iter " << iter;
  }
}

// Columns x-3 .. x+4*(edges-1)+2 exactly, four picture rows of which the kernel filters 0..4.
TEST_P(DeblockDspTest, VerticalEdgesMatchScalar) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 1500; ++iter) {
    const int edges = 1 + iter % 7;
    const int rows = iter / 7 % 5;
    const int w = 4 * (edges - 1) + 6, h = 4;
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 5));
    const Limits l = PickLimits(iter / 5, rng);
    const int kind = iter < 4 * kKinds ? iter % kKinds : rng.Uniform(0, kKinds - 1);
    GuardedPlane a(w, h, stride, iter % 2 == 1), b(w, h, stride, iter % 2 == 1);
    Fill(a, b, w, h, kind, l, rng);
    ref_.FilterVerticalEdges(a.data() + 3, stride, edges, rows, l.alpha, l.beta, l.tc0);
    new_.FilterVerticalEdges(b.data() + 3, stride, edges, rows, l.alpha, l.beta, l.tc0);
    ASSERT_EQ(Compare(a, b, w, h, stride), "")
        << "edges " << edges << " rows " << rows << " kind " << kind << " alpha " << l.alpha << " beta "
        << l.beta << " tc0 " << l.tc0 << " seed " << seed << " iter " << iter;
  }
}

// Four grid rows at once, over runs that start at the picture's left edge, inside it, or past its
// right edge, end before it, inside it, or never: the rows' common part and the parts each row
// does alone, at widths around the full grid points and the 8-pixel steps. The tile's five groups
// of rows (the three above it, then four of four) lie in five slots of four rows, in turn from any
// slot on, as in a ring of rows.
TEST_P(DeblockDspTest, TilesMatchScalar) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 600; ++iter) {
    const int w = iter % 4 == 0   ? rng.Uniform(1, 48)
                  : iter % 4 == 3 ? rng.Uniform(600, 700)
                                  : rng.Uniform(48, 160);
    const int h = 20, turn = iter % 2 == 0 ? 0 : rng.Uniform(1, 4);
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 5));
    const int x_begin = iter % 3 == 0 ? 4 : 4 * rng.Uniform(1, (w + 60) / 4);
    const int x_end = iter % 5 == 0 ? 1 << 20 : x_begin + 4 * rng.Uniform(0, 70);
    const Limits l = PickLimits(iter / 2, rng);
    const int kind = iter < 4 * kKinds ? iter % kKinds : rng.Uniform(0, kKinds - 1);
    GuardedPlane a(w, h, stride, iter % 2 == 0), b(w, h, stride, iter % 2 == 0);
    Fill(a, b, w, h, kind, l, rng);
    YcPixel* ga[5];
    YcPixel* gb[5];
    for (int g = 0; g < 5; ++g) {
      const int row = 4 * ((g + turn) % 5) + (g == 0 ? 1 : 0);
      ga[g] = a.data() + row * stride, gb[g] = b.data() + row * stride;
    }
    ref_.FilterTile(ga, stride, w, x_begin, x_end, l.alpha, l.beta, l.tc0);
    new_.FilterTile(gb, stride, w, x_begin, x_end, l.alpha, l.beta, l.tc0);
    ASSERT_EQ(Compare(a, b, w, h, stride), "")
        << w << " wide, turned by " << turn << ", stride " << stride << " run " << x_begin << ".." << x_end
        << " kind " << kind << " alpha " << l.alpha << " beta " << l.beta << " tc0 " << l.tc0 << " seed "
        << seed << " iter " << iter;
  }
}

// Every line of the left and right sides, one component at a time, through thresholds 0..max:
// the sign and wrap cases of each step of the arithmetic, counted so the test shows it reached them.
TEST_P(DeblockDspTest, SingleLinesOverTheWholeRange) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int16_t corners[] = {-32768, -32767, -32766, -2, -1, 0, 1, 2, 32765, 32766, 32767};
  int changed = 0;
  for (int iter = 0; iter < 20000; ++iter) {
    const Limits l = PickLimits(iter, rng);
    GuardedPlane a(6, 1, 6, true), b(6, 1, 6, true);
    const int16_t q0 =
        iter % 2 ? corners[rng.Uniform(0, 10)] : static_cast<int16_t>(rng.Uniform(-32768, 32767));
    for (int x = 0; x < 6; ++x) {
      const int32_t spread = rng.Uniform(0, 2) == 0 ? l.alpha : l.beta;
      const int16_t v = static_cast<int16_t>(q0 + rng.Uniform(-spread, spread));
      const int c = iter % 3;
      YcPixel p = {static_cast<int16_t>(x), static_cast<int16_t>(-x), static_cast<int16_t>(7 * x)};
      (c == 0 ? p.y : c == 1 ? p.cb : p.cr) = v;
      a.at(x, 0) = p;
      b.at(x, 0) = p;
    }
    const std::vector<YcPixel> before = testsupport::Picture(a.data(), 6, 1, 6);
    ref_.FilterVerticalEdges(a.data() + 3, 6, 1, 1, l.alpha, l.beta, l.tc0);
    new_.FilterVerticalEdges(b.data() + 3, 6, 1, 1, l.alpha, l.beta, l.tc0);
    if (testsupport::DiffPictures(before, testsupport::Picture(a.data(), 6, 1, 6), 6, 1) != "") ++changed;
    ASSERT_EQ(Compare(a, b, 6, 1, 6), "") << "alpha " << l.alpha << " beta " << l.beta << " tc0 " << l.tc0
                                          << " seed " << seed << " iter " << iter;
  }
  EXPECT_GT(changed, 2000) << "too few lines were filtered to say much";
}

INSTANTIATE_TEST_SUITE_P(Isa, DeblockDspTest, ::testing::ValuesIn(testsupport::VectorTiers()),
                         testsupport::TierParamName);

}  // namespace
