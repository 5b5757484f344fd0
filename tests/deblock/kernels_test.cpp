// The edge kernels on hand-worked lines, their footprints, and the row kernels against
// the four-position kernels (including the reordering the frame driver relies on).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "deblock/deblock_dsp.h"
#include "tests/support/test_support.h"

namespace {

using core::YcPixel;
using deblock::FilterHorizontalEdge_C;
using deblock::FilterHorizontalEdges_C;
using deblock::FilterVerticalEdge_C;
using deblock::FilterVerticalEdges_C;
using testsupport::GuardedPlane;
using testsupport::Rng;

using Line = std::array<int32_t, 6>;  // p2, p1, p0, q0, q1, q2

// Twelve edge lines of one kernel call: [position][component].
struct Patch {
  Line line[4][3];
  bool operator==(const Patch& o) const {
    for (int i = 0; i < 4; ++i)
      for (int c = 0; c < 3; ++c)
        if (line[i][c] != o.line[i][c]) return false;
    return true;
  }
};

int16_t& Comp(YcPixel& p, int c) { return c == 0 ? p.y : (c == 1 ? p.cb : p.cr); }

std::string ToString(const Line& l) {
  std::string s;
  for (int k = 0; k < 6; ++k) s += (k == 3 ? " / " : (k ? ", " : "")) + std::to_string(l[k]);
  return s;
}

enum class Kernel { kHorizontal, kVertical };

// Runs one kernel call on a plane that is exactly its read footprint (plus row padding holding
// canaries when pad > 0), against a guard page before or after; a read or write outside faults or
// damages a canary.
Patch Apply(Kernel k, const Patch& in, int32_t alpha, int32_t beta, int32_t tc0, int pad = 0,
            bool guard_after = true) {
  const bool hz = k == Kernel::kHorizontal;
  const int w = hz ? 4 : 6, h = hz ? 6 : 4, stride = w + pad;
  GuardedPlane plane(w, h, stride, guard_after);
  auto at = [&](int pos, int s) -> YcPixel& {
    return hz ? plane.at(pos, s) : plane.at(s, pos);
  };
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c)
      for (int s = 0; s < 6; ++s) Comp(at(i, s), c) = static_cast<int16_t>(in.line[i][c][s]);
  if (hz) {
    FilterHorizontalEdge_C(&plane.at(0, 3), stride, alpha, beta, tc0);
  } else {
    FilterVerticalEdge_C(&plane.at(3, 0), stride, alpha, beta, tc0);
  }
  EXPECT_EQ(plane.CheckCanaries(), "");
  Patch out;
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c)
      for (int s = 0; s < 6; ++s) out.line[i][c][s] = Comp(at(i, s), c);
  return out;
}

// A line no threshold up to the largest lets through: |p0 - q0| = 5000 >= 4080.
constexpr Line kBlocked = {0, 0, 0, 5000, 5000, 5000};

Patch Filled(const Line& l) {
  Patch p;
  for (auto& pos : p.line)
    for (auto& c : pos) c = l;
  return p;
}

// Puts `in` at every position and component in turn, the other lines blocked, through both kernels;
// expects `out` there and nothing else changed.
void ExpectLine(const Line& in, int32_t alpha, int32_t beta, int32_t tc0, const Line& out) {
  for (Kernel k : {Kernel::kHorizontal, Kernel::kVertical}) {
    for (int i = 0; i < 4; ++i) {
      for (int c = 0; c < 3; ++c) {
        Patch p = Filled(kBlocked);
        p.line[i][c] = in;
        Patch want = Filled(kBlocked);
        want.line[i][c] = out;
        const Patch got = Apply(k, p, alpha, beta, tc0);
        EXPECT_EQ(got.line[i][c], out)
            << (k == Kernel::kHorizontal ? "horizontal" : "vertical") << " position " << i << " component "
            << c << ": " << ToString(in) << " gave " << ToString(got.line[i][c]) << ", expected "
            << ToString(out);
        EXPECT_TRUE(got == want) << "another line changed";
      }
    }
  }
}

const Line kExample = {600, 610, 620, 700, 705, 712};

TEST(DeblockKernels, WorkedExamples) {
  ExpectLine(kExample, 208, 64, 16, {600, 626, 638, 682, 689, 712});
  ExpectLine({600, 610, 620, 700, 705, 800}, 208, 64, 16, {600, 626, 637, 683, 705, 800});
  ExpectLine({500, 500, 500, 490, 490, 490}, 208, 64, 16, {500, 497, 496, 494, 492, 490});
}

TEST(DeblockKernels, AlphaIsAStrictBound) {
  ExpectLine(kExample, 80, 64, 16, kExample);
  ExpectLine(kExample, 81, 64, 16, {600, 626, 638, 682, 689, 712});
}

TEST(DeblockKernels, BetaBoundsTheTestsAndTheSideTerms) {
  ExpectLine(kExample, 208, 10, 16, kExample);                        // |p1 - p0| = 10: not below
  ExpectLine(kExample, 208, 11, 16, {600, 610, 636, 684, 705, 712});  // ap 20, aq 12 not below 11
  ExpectLine(kExample, 208, 20, 16, {600, 610, 637, 683, 689, 712});  // ap = beta: p side adds nothing
}

TEST(DeblockKernels, Tc0ZeroKeepsP1AndQ1) {
  ExpectLine(kExample, 208, 64, 0, {600, 610, 622, 698, 705, 712});
  // ap and aq both at least beta: tc = 0, nothing moves.
  ExpectLine({500, 610, 620, 700, 705, 900}, 208, 64, 0, {500, 610, 620, 700, 705, 900});
}

TEST(DeblockKernels, NegativeSamplesShiftArithmetically) {
  ExpectLine({-300, -290, -280, -200, -195, -188}, 208, 64, 16, {-300, -274, -262, -218, -211, -188});
}

TEST(DeblockKernels, StoredResultsWrapAndMUsesTheStoredValues) {
  // tests pass (0, 10, 0); ap = aq = 0, tc = 18; delta = (0 - 10 + 4) >> 3 = -1; p0 -> 32766,
  // q0 -> 32768, stored as -32768; m = (32766 - 32768 + 1) >> 1 = -1 (not 32767); p1 term
  // (32767 - 1 - 65514) >> 1 = -16374, clipped to -16; q1 term (32767 - 1 - 65534) >> 1 = -16384,
  // clipped to -16.
  ExpectLine({32767, 32757, 32767, 32767, 32767, 32767}, 208, 64, 16,
             {32767, 32741, 32766, -32768, 32751, 32767});
}

TEST(DeblockKernels, ComponentsOfAPositionAreIndependent) {
  for (Kernel k : {Kernel::kHorizontal, Kernel::kVertical}) {
    Patch p = Filled(kBlocked);
    p.line[1][0] = kBlocked;                              // Y fails the alpha test
    p.line[1][1] = kExample;                              // Cb is filtered
    p.line[1][2] = {500, 500, 500, 490, 490, 490};        // Cr too
    p.line[2][0] = {600, 610, 620, 700, 705, 800};        // next position: Y filtered,
    p.line[2][1] = {-300, -290, -280, -200, -195, -188};  // Cb filtered, Cr blocked
    const Patch got = Apply(k, p, 208, 64, 16);
    Patch want = p;
    want.line[1][1] = {600, 626, 638, 682, 689, 712};
    want.line[1][2] = {500, 497, 496, 494, 492, 490};
    want.line[2][0] = {600, 626, 637, 683, 705, 800};
    want.line[2][1] = {-300, -274, -262, -218, -211, -188};
    EXPECT_TRUE(got == want) << (k == Kernel::kHorizontal ? "horizontal" : "vertical");
  }
}

Line RandomLine(Rng& rng, int spread) {
  const int32_t base = rng.Uniform(-30000, 30000);
  Line l;
  for (auto& s : l) s = base + rng.Uniform(-spread, spread);
  return l;
}

Patch RandomPatch(Rng& rng) {
  Patch p;
  const int spread = rng.Uniform(0, 3) == 0 ? 32767 : rng.Uniform(1, 300);
  for (auto& pos : p.line)
    for (auto& c : pos) {
      c = spread == 32767 ? Line{} : RandomLine(rng, spread);
      if (spread == 32767)
        for (auto& s : c) s = rng.Uniform(-32768, 32767);
    }
  return p;
}

TEST(DeblockKernels, ZeroAlphaOrBetaChangesNothing) {
  Rng rng(testsupport::TestSeed());
  for (int iter = 0; iter < 200; ++iter) {
    const Patch p = RandomPatch(rng);
    for (Kernel k : {Kernel::kHorizontal, Kernel::kVertical}) {
      EXPECT_TRUE(Apply(k, p, 0, 432, 560) == p) << "alpha 0, iter " << iter;
      EXPECT_TRUE(Apply(k, p, 4080, 0, 560) == p) << "beta 0, iter " << iter;
    }
  }
}

TEST(DeblockKernels, FootprintP2AndQ2NeverWrittenNothingOutsideTouched) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  int changed = 0;
  for (int iter = 0; iter < 400; ++iter) {
    const Patch p = RandomPatch(rng);
    const int32_t alpha = 16 * rng.Uniform(0, 255), beta = 16 * rng.Uniform(0, 27),
                  tc0 = 16 * rng.Uniform(0, 35);
    for (Kernel k : {Kernel::kHorizontal, Kernel::kVertical}) {
      for (int pad : {0, 5}) {
        for (bool guard_after : {true, false}) {
          const Patch got = Apply(k, p, alpha, beta, tc0, pad, guard_after);
          for (int i = 0; i < 4; ++i)
            for (int c = 0; c < 3; ++c) {
              ASSERT_EQ(got.line[i][c][0], p.line[i][c][0])
                  << "p2 written, seed " << seed << " iter " << iter;
              ASSERT_EQ(got.line[i][c][5], p.line[i][c][5])
                  << "q2 written, seed " << seed << " iter " << iter;
              if (tc0 == 0) {
                ASSERT_EQ(got.line[i][c][1], p.line[i][c][1]) << "p1 moved with tc0 0";
                ASSERT_EQ(got.line[i][c][4], p.line[i][c][4]) << "q1 moved with tc0 0";
              }
              changed += got.line[i][c] != p.line[i][c];
            }
        }
      }
    }
  }
  EXPECT_GT(changed, 1000) << "the random patches hardly ever filtered";
}

// A plane of blocky random pictures for the row kernels.
std::vector<YcPixel> RandomPlane(Rng& rng, int h, int stride) {
  std::vector<YcPixel> v(static_cast<size_t>(stride) * h);
  const int32_t base = rng.Uniform(-1000, 3000);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < stride; ++x) {
      const int32_t b = ((x / 4) * 37 + (y / 4) * 53) % 150;
      v[static_cast<size_t>(y) * stride + x] = {static_cast<int16_t>(base + b + rng.Uniform(-20, 20)),
                                                static_cast<int16_t>(b - 75 + rng.Uniform(-20, 20)),
                                                static_cast<int16_t>(75 - b + rng.Uniform(-20, 20))};
    }
  return v;
}

TEST(DeblockRowKernels, EqualTheFourPositionKernelsInTheGridOrder) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  deblock::DeblockDsp dsp;
  deblock::InitDeblockDsp(dsp, 0);
  for (int iter = 0; iter < 100; ++iter) {
    const int w = 4 * rng.Uniform(2, 20), h = 12, stride = w + rng.Uniform(0, 3), y = rng.Uniform(3, 5);
    const int32_t alpha = 16 * rng.Uniform(10, 255), beta = 16 * rng.Uniform(2, 27),
                  tc0 = 16 * rng.Uniform(0, 35);
    const std::vector<YcPixel> src = RandomPlane(rng, h, stride);
    auto pix = [&](std::vector<YcPixel>& v, int x) {
      return v.data() + static_cast<size_t>(y) * stride + x;
    };
    // The driver's order over one grid row: H(x), V(x) for x = 4, 8, ..., w - 4 (all lines inside).
    std::vector<YcPixel> a = src;
    for (int x = 4; x < w; x += 4) {
      FilterHorizontalEdge_C(pix(a, x), stride, alpha, beta, tc0);
      FilterVerticalEdge_C(pix(a, x), stride, alpha, beta, tc0);
    }
    // All horizontal edges of the row, then all vertical edges.
    std::vector<YcPixel> b = src;
    dsp.FilterHorizontalEdges(pix(b, 4), pix(b, 4) - 3 * stride, stride, w - 4, alpha, beta, tc0);
    dsp.FilterVerticalEdges(pix(b, 4), stride, (w - 4) / 4, 4, alpha, beta, tc0);
    // Cut into runs of grid columns, each run's H before its V.
    std::vector<YcPixel> c = src;
    for (int x0 = 4; x0 < w;) {
      const int n = std::min(rng.Uniform(1, 4), (w - x0) / 4);
      dsp.FilterHorizontalEdges(pix(c, x0), pix(c, x0) - 3 * stride, stride, 4 * n, alpha, beta, tc0);
      dsp.FilterVerticalEdges(pix(c, x0), stride, n, 4, alpha, beta, tc0);
      x0 += 4 * n;
    }
    ASSERT_NE(std::memcmp(a.data(), src.data(), a.size() * sizeof(YcPixel)), 0) << "nothing filtered";
    ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(YcPixel)), 0)
        << "seed " << seed << " iter " << iter;
    ASSERT_EQ(std::memcmp(a.data(), c.data(), a.size() * sizeof(YcPixel)), 0)
        << "seed " << seed << " iter " << iter;
  }
}

TEST(DeblockRowKernels, VerticalEdgesOnFewerRowsLeaveTheOthersAlone) {
  Rng rng(testsupport::TestSeed());
  const int h = 8, stride = 26;
  for (int rows = 0; rows <= 4; ++rows) {
    const std::vector<YcPixel> src = RandomPlane(rng, h, stride);
    std::vector<YcPixel> full = src, part = src;
    FilterVerticalEdges_C(full.data() + 2 * stride + 4, stride, 4, 4, 2000, 400, 200);
    FilterVerticalEdges_C(part.data() + 2 * stride + 4, stride, 4, rows, 2000, 400, 200);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < stride; ++x) {
        const YcPixel want = (y >= 2 && y < 2 + rows) ? full[y * stride + x] : src[y * stride + x];
        const YcPixel got = part[y * stride + x];
        ASSERT_TRUE(want.y == got.y && want.cb == got.cb && want.cr == got.cr)
            << rows << " rows, at " << x << "," << y;
      }
  }
}

}  // namespace
