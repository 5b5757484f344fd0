// Each vector kernel against its scalar twin, for every tier this CPU has: extreme inputs first,
// then random ones, widths that reach every vector tail, accumulator lines aligned to 2 bytes only,
// canaries around what a kernel writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "tests/support/test_support.h"
#include "tests/support/tiers.h"
#include "velour/velour.h"
#include "velour/velour_dsp.h"

namespace {

using testsupport::Rng;
using velour::AccSample;
using velour::VelourDsp;

class VelourDspTest : public ::testing::TestWithParam<core::CpuTier> {
 protected:
  void SetUp() override {
    SKIP_UNLESS_CPU_HAS(GetParam());
    velour::InitVelourDsp(ref_, 0);
    velour::InitVelourDsp(new_, GetParam().flags);
  }
  VelourDsp ref_{}, new_{};
};

constexpr int16_t kMin = -32768, kMax = 32767;

// Blocks of samples: the first ones extreme (all min, all max, alternating, one spike, byte-range
// edges, the edges of the vector kernels' exact path), then random over the whole 16-bit range, over
// 8-bit luma, or across those edges.
void FillBlock(int16_t* b, int kind, Rng& rng) {
  for (int k = 0; k < 64; ++k) {
    const int i = k / 8, j = k % 8;
    int v;
    switch (kind) {
      case 0: v = kMin; break;
      case 1: v = kMax; break;
      case 2: v = (i + j) % 2 ? kMin : kMax; break;
      case 3: v = k == 27 ? kMax : kMin; break;
      case 4: v = k == 0 ? kMin : 0; break;
      case 5: v = (i * 8 + j) % 3 ? 255 : -256; break;
      case 6: v = j < 4 ? 255 : -256; break;
      case 7: v = k == 63 ? 256 : 255; break;  // full white
      case 8: v = i % 2 ? -2048 : 2047; break;
      // At the bound of the vector kernels' exact path: a Walsh pattern that makes one coefficient as
      // large as it gets there, the same with the signs of a few samples turned, and one sample past it.
      case 9: v = (__builtin_popcount((i & 5) | (j & 3) << 3) % 2) ? -384 : 384; break;
      case 10: v = ((__builtin_popcount((i & 6) | (j & 5) << 3) + (k % 13 == 0)) % 2) ? -384 : 384; break;
      case 11: v = k == 36 ? -385 : 384; break;
      case 12: v = 512; break;  // 64 of them leave 16 bits: the saturating path
      default:
        v = kind % 3 == 0   ? rng.Uniform(kMin, kMax)
            : kind % 3 == 1 ? rng.Uniform(0, 255)
                            : rng.Uniform(-400, 400);
    }
    b[k] = static_cast<int16_t>(v);
  }
}

// A step table the filter can produce (matrix x quant) or random steps in 8..255.
void FillSteps(int16_t* steps, int iter, Rng& rng) {
  if (iter % 2 == 0) {
    velour::LoadStepTable(steps, iter / 2 % 5);
    velour::ScaleStepTable(steps, rng.Uniform(1, 31));
  } else {
    for (int k = 0; k < 64; ++k) steps[k] = static_cast<int16_t>(rng.Uniform(8, 255));
  }
}

TEST(StepReciprocal, DividesEveryCoefficientMagnitudeExactly) {
  for (int q = velour::kMinVectorStep; q <= velour::kMaxVectorStep; ++q) {
    const velour::StepReciprocal r = velour::kStepReciprocals.entry[q];
    for (uint32_t a = 0; a <= 4096; ++a) {
      const uint32_t t = ((a * r.mul) >> 16) * r.shift >> 16;
      ASSERT_EQ(t, a / q) << "step " << q << " magnitude " << a << " mul " << r.mul << " shift " << r.shift;
    }
  }
}

// Lines of 16-bit luma and of 32-bit sums at a byte pitch, in one allocation that ends with the
// last byte a kernel may touch; a pitch of 2 modulo 4 puts every other accumulator line on a 2-byte
// boundary, as in the temp plane.
struct LineBuffer {
  LineBuffer(int lines, ptrdiff_t pitch, size_t last_line_bytes)
      : pitch(pitch), bytes((lines - 1) * pitch + last_line_bytes) {}
  int16_t* Luma(int line) { return reinterpret_cast<int16_t*>(bytes.data() + line * pitch); }
  int16_t* Partial(int line) { return Luma(line); }
  AccSample* Acc(int line) { return reinterpret_cast<AccSample*>(bytes.data() + line * pitch); }
  ptrdiff_t pitch;
  std::vector<char> bytes;
};

TEST_P(VelourDspTest, FilterBlockRowEveryTailAndRowRange) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 600; ++iter) {
    const int count = 1 + iter % 9;
    const int row_begin = iter % 5 == 1 ? rng.Uniform(0, 7) : 0;
    const int row_end = iter % 5 == 2 ? rng.Uniform(row_begin + 1, 8) : 8;
    const int width = 8 * count;
    // Exactly as large as read: a read past the last row's blocks ends outside the allocation.
    LineBuffer luma(8, 2 * (width + rng.Uniform(0, 5)), 2 * width);
    const int kind = iter < 65 ? iter % 13 : 13 + iter % 3;
    for (int b = 0; b < count; ++b) {
      int16_t block[64];
      FillBlock(block, iter % 4 == 3 ? 13 + b % 3 : kind, rng);  // some rows mix blocks of both paths
      for (int k = 0; k < 64; ++k) luma.Luma(k / 8)[8 * b + k % 8] = block[k];
    }
    int16_t steps[64];
    FillSteps(steps, iter, rng);
    if (iter % 11 == 5) steps[rng.Uniform(1, 63)] = 2;  // handed to the scalar kernel
    const std::string where = "seed " + std::to_string(seed) + " iter " + std::to_string(iter) + " count " +
                              std::to_string(count) + " rows " + std::to_string(row_begin) + ".." +
                              std::to_string(row_end);

    // 32-bit sums with a canary sample after each line and sums anywhere in their range.
    const ptrdiff_t acc_pitch = 4 * (width + 1) + (iter % 2 ? 2 : 0);
    LineBuffer acc(8, acc_pitch, acc_pitch);
    for (int i = 0; i < 8; ++i)
      for (int x = 0; x <= width; ++x)
        acc.Acc(i)[x] = x == width ? 0x5A5A5A5A : rng.Uniform(-(1 << 20), 1 << 20);
    LineBuffer want = acc, got = acc;
    ref_.FilterBlockRowWide(luma.Luma(0), luma.pitch, want.Acc(0), acc_pitch, count, row_begin, row_end,
                            steps);
    new_.FilterBlockRowWide(luma.Luma(0), luma.pitch, got.Acc(0), acc_pitch, count, row_begin, row_end,
                            steps);
    for (int i = 0; i < 8; ++i)
      for (int x = 0; x <= width; ++x) {
        const int32_t a = want.Acc(i)[x], b = got.Acc(i)[x];  // copies: the lines are aligned to 2 bytes
        ASSERT_EQ(a, b) << where << " wide, at row " << i << " column " << x
                        << (x == width ? " (canary)" : "");
      }

    // 16-bit partial sums: any value (they wrap alike), a canary sample after each line.
    const ptrdiff_t partial_pitch = 2 * (width + 1) + 2 * rng.Uniform(0, 3);
    LineBuffer partial(8, partial_pitch, partial_pitch);
    for (int i = 0; i < 8; ++i)
      for (int x = 0; x <= width; ++x)
        partial.Partial(i)[x] = static_cast<int16_t>(x == width ? 0x5A5A : rng.Uniform(kMin, kMax));
    LineBuffer pwant = partial, pgot = partial;
    ref_.FilterBlockRow(luma.Luma(0), luma.pitch, pwant.Partial(0), partial_pitch, count, row_begin, row_end,
                        steps);
    new_.FilterBlockRow(luma.Luma(0), luma.pitch, pgot.Partial(0), partial_pitch, count, row_begin, row_end,
                        steps);
    for (int i = 0; i < 8; ++i)
      for (int x = 0; x <= width; ++x)
        ASSERT_EQ(pwant.Partial(i)[x], pgot.Partial(i)[x])
            << where << " partial, at row " << i << " column " << x << (x == width ? " (canary)" : "");
  }
}

TEST_P(VelourDspTest, RowKernelsEveryWidth) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int n = 0; n <= 70; ++n) {
    for (int rep = 0; rep < 4; ++rep) {
      // Host pixels: Y, Cb, Cr; exactly n of them, so a read past the row leaves the allocation.
      std::vector<int16_t> pixels(3 * n);
      for (int16_t& v : pixels)
        v = static_cast<int16_t>(rep == 0 ? (&v - pixels.data()) % 2 ? kMin : kMax : rng.Uniform(kMin, kMax));
      std::vector<int16_t> luma_want(n + 1, 7), luma_got(n + 1, 7);
      ref_.LumaRow(pixels.data(), luma_want.data(), n);
      new_.LumaRow(pixels.data(), luma_got.data(), n);
      ASSERT_EQ(luma_want, luma_got) << "LumaRow width " << n;

      // Accumulator lines starting 2 bytes past a 4-byte boundary, one canary sample after them.
      std::vector<int16_t> storage_want(2 * n + 4, 9), storage_got(2 * n + 4, 9);
      AccSample* acc_want = reinterpret_cast<AccSample*>(storage_want.data() + 1);
      AccSample* acc_got = reinterpret_cast<AccSample*>(storage_got.data() + 1);
      const int32_t weight = rep == 0 ? 64 : rng.Uniform(0, 64);
      ref_.SeedRow(luma_want.data(), acc_want, n, weight);
      new_.SeedRow(luma_want.data(), acc_got, n, weight);
      ASSERT_EQ(storage_want, storage_got) << "SeedRow width " << n << " weight " << weight;

      std::vector<int16_t> other(n);
      for (int16_t& v : other) v = static_cast<int16_t>(rng.Uniform(-2048, 2047));
      ref_.AddRowWide(other.data(), acc_want, n);
      new_.AddRowWide(other.data(), acc_got, n);
      ASSERT_EQ(storage_want, storage_got) << "AddRowWide width " << n;

      // Partial sums, a canary sample after them: added to, then folded into the sums and cleared.
      std::vector<int16_t> partial_want(n + 1, 11), partial_got(n + 1, 11);
      for (int x = 0; x < n; ++x)
        partial_want[x] = partial_got[x] = static_cast<int16_t>(rng.Uniform(kMin, kMax));
      ref_.AddRow(other.data(), partial_want.data(), n);
      new_.AddRow(other.data(), partial_got.data(), n);
      ASSERT_EQ(partial_want, partial_got) << "AddRow width " << n;
      ref_.FoldRow(partial_want.data(), acc_want, n);
      new_.FoldRow(partial_got.data(), acc_got, n);
      ASSERT_EQ(storage_want, storage_got) << "FoldRow width " << n;
      ASSERT_EQ(partial_want, partial_got) << "FoldRow width " << n;
      for (int x = 0; x < n; ++x) ASSERT_EQ(partial_got[x], 0) << "FoldRow clears the partial sums";

      std::vector<int16_t> out_want = pixels, out_got = pixels;
      const int32_t w2 = rng.Uniform(1, 128);
      ref_.AverageRow(acc_want, out_want.data(), n, w2);
      new_.AverageRow(acc_want, out_got.data(), n, w2);
      ASSERT_EQ(out_want, out_got) << "AverageRow width " << n << " weight " << w2 << " (chroma must stay)";
    }
  }
}

// Sums over the whole range a frame can reach, |sum| <= 2^19, with every weight a frame can have
// (1 .. 64 + 64): every sum near zero and near the ends, and a sweep with an odd step between.
TEST_P(VelourDspTest, AverageRowEverySumRangeAndWeight) {
  std::vector<int32_t> sums;
  for (int32_t v = -70000; v <= 70000; ++v) sums.push_back(v);
  for (int32_t v = -(1 << 19); v <= (1 << 19); v += 97) sums.push_back(v);
  for (int32_t v = (1 << 19) - 3000; v <= (1 << 19); ++v) sums.push_back(v), sums.push_back(-v);
  std::vector<int32_t> acc(sums.begin(), sums.end());
  std::vector<int16_t> want(3 * acc.size()), got(3 * acc.size());
  for (int32_t weight = 1; weight <= 128; ++weight) {
    ref_.AverageRow(acc.data(), want.data(), static_cast<int>(acc.size()), weight);
    new_.AverageRow(acc.data(), got.data(), static_cast<int>(acc.size()), weight);
    for (size_t i = 0; i < acc.size(); ++i)
      ASSERT_EQ(want[3 * i], got[3 * i]) << "sum " << sums[i] << " weight " << weight;
  }
}

INSTANTIATE_TEST_SUITE_P(Isa, VelourDspTest, ::testing::ValuesIn(testsupport::VectorTiers()),
                         testsupport::TierParamName);

}  // namespace
