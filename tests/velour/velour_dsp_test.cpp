// Each vector kernel against its scalar twin, for every tier this CPU has: extreme inputs first,
// then random ones, widths that reach every vector tail, canaries around what a kernel writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/cpu.h"
#include "tests/support/test_support.h"
#include "velour/velour.h"
#include "velour/velour_dsp.h"

namespace {

using testsupport::Rng;
using velour::VelourDsp;

struct Tier {
  const char* name;
  host::CpuFlags flags;
};
const Tier kTiers[] = {{"sse2", host::kCpuSse2}, {"avx2", host::kCpuSse2 | host::kCpuAvx2}};

class VelourDspTest : public ::testing::TestWithParam<Tier> {
 protected:
  void SetUp() override {
    if ((host::DetectCpuFlags() & GetParam().flags) != GetParam().flags) GTEST_SKIP() << "CPU lacks " << GetParam().name;
    velour::InitVelourDsp(ref_, 0);
    velour::InitVelourDsp(new_, GetParam().flags);
  }
  VelourDsp ref_{}, new_{};
};

std::string TierName(const ::testing::TestParamInfo<Tier>& info) { return info.param.name; }
void PrintTo(const Tier& t, std::ostream* os) { *os << t.name; }

constexpr int16_t kMin = -32768, kMax = 32767;

// Blocks of samples: the first ones extreme (all min, all max, alternating, one spike, byte-range
// edges), then random over the whole 16-bit range or over 8-bit luma.
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
      case 7: v = k == 63 ? 256 : 255; break;  // one sample just past the byte range
      case 8: v = i % 2 ? -2048 : 2047; break;
      default: v = kind % 3 == 0 ? rng.Uniform(kMin, kMax) : kind % 3 == 1 ? rng.Uniform(0, 255) : rng.Uniform(-300, 300);
    }
    b[k] = static_cast<int16_t>(v);
  }
}

std::string BlockDiff(const int16_t* want, const int16_t* got) {
  std::string s;
  for (int k = 0; k < 64; ++k)
    if (want[k] != got[k]) {
      if (s.empty())
        s = "first mismatch at " + std::to_string(k) + ": want " + std::to_string(want[k]) + " got " + std::to_string(got[k]) + "\n";
    }
  if (s.empty()) return s;
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) s += want[8 * i + j] == got[8 * i + j] ? '.' : 'x';
    s += '\n';
  }
  return s;
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

TEST_P(VelourDspTest, Wht8x8) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 3000; ++iter) {
    int16_t a[64], b[64];
    FillBlock(a, iter, rng);
    std::copy(a, a + 64, b);
    ref_.Wht8x8(a);
    new_.Wht8x8(b);
    ASSERT_EQ(BlockDiff(a, b), "") << "seed " << seed << " iter " << iter;
  }
}

// Every coefficient a forward transform can give, [-4096, 4095], against every vector step.
TEST_P(VelourDspTest, RequantizeEveryCoefficientAndStep) {
  for (int q = velour::kMinVectorStep; q <= velour::kMaxVectorStep; ++q) {
    int16_t steps[64];
    for (int16_t& s : steps) s = static_cast<int16_t>(q);
    steps[0] = 0;  // never read
    for (int e0 = -4096; e0 < 4096; e0 += 64) {
      int16_t a[64], b[64];
      for (int k = 0; k < 64; ++k) a[k] = b[k] = static_cast<int16_t>(e0 + k);
      ref_.Requantize(a, steps);
      new_.Requantize(b, steps);
      ASSERT_EQ(BlockDiff(a, b), "") << "step " << q << " from " << e0;
    }
  }
}

TEST_P(VelourDspTest, RequantizeMixedStepsAndStepsOutsideTheVectorRange) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 2000; ++iter) {
    int16_t steps[64], a[64], b[64];
    FillSteps(steps, iter, rng);
    if (iter % 7 == 3) steps[rng.Uniform(1, 63)] = static_cast<int16_t>(rng.Uniform(0, 1) ? rng.Uniform(1, 2) : rng.Uniform(256, 4000));
    for (int k = 0; k < 64; ++k) a[k] = b[k] = static_cast<int16_t>(iter < 8 ? (iter % 2 ? 4095 : -4096) : rng.Uniform(-4096, 4095));
    ref_.Requantize(a, steps);
    new_.Requantize(b, steps);
    ASSERT_EQ(BlockDiff(a, b), "") << "seed " << seed << " iter " << iter;
  }
}

// A row of blocks in a luma plane and an accumulator plane, each row with canary padding; the
// accumulator starts random so wrapping additions are exercised.
struct BlockRowCase {
  int count, row_begin, row_end;
  ptrdiff_t luma_stride, acc_stride;
};

TEST_P(VelourDspTest, FilterBlockRowEveryTailAndRowRange) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  constexpr int16_t kCanary = 0x5A5A;
  for (int iter = 0; iter < 600; ++iter) {
    BlockRowCase c;
    c.count = 1 + iter % 7;
    c.row_begin = iter % 5 == 1 ? rng.Uniform(0, 7) : 0;
    c.row_end = iter % 5 == 2 ? rng.Uniform(c.row_begin + 1, 8) : 8;
    const int width = 8 * c.count;
    c.luma_stride = width + rng.Uniform(0, 5);
    c.acc_stride = width + rng.Uniform(1, 5);
    // Exactly as large as read: a read past the last row's block ends outside the allocation.
    std::vector<int16_t> luma(7 * c.luma_stride + width);
    const int kind = iter < 40 ? iter % 10 : 9 + iter % 3;
    for (int b = 0; b < c.count; ++b) {
      int16_t block[64];
      FillBlock(block, iter % 4 == 3 ? 9 + b % 3 : kind, rng);  // some rows mix in- and out-of-byte blocks
      for (int k = 0; k < 64; ++k) luma[(k / 8) * c.luma_stride + 8 * b + k % 8] = block[k];
    }
    std::vector<int16_t> acc(8 * c.acc_stride, kCanary);
    for (int i = 0; i < 8; ++i)
      for (int x = 0; x < width; ++x) acc[i * c.acc_stride + x] = static_cast<int16_t>(rng.Uniform(kMin, kMax));
    std::vector<int16_t> want = acc, got = acc;
    int16_t steps[64];
    FillSteps(steps, iter, rng);
    if (iter % 11 == 5) steps[rng.Uniform(1, 63)] = 2;  // handed to the scalar kernel
    ref_.FilterBlockRow(luma.data(), c.luma_stride, want.data(), c.acc_stride, c.count, c.row_begin, c.row_end, steps);
    new_.FilterBlockRow(luma.data(), c.luma_stride, got.data(), c.acc_stride, c.count, c.row_begin, c.row_end, steps);
    for (size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(want[i], got[i]) << "seed " << seed << " iter " << iter << " count " << c.count << " rows " << c.row_begin
                                 << ".." << c.row_end << " at row " << i / c.acc_stride << " column " << i % c.acc_stride
                                 << (static_cast<int>(i % c.acc_stride) >= width ? " (padding)" : "");
  }
}

TEST_P(VelourDspTest, RowKernelsEveryWidth) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int n = 0; n <= 70; ++n) {
    for (int rep = 0; rep < 4; ++rep) {
      // Host pixels: Y, Cb, Cr; exactly n of them, so a read past the row leaves the allocation.
      std::vector<int16_t> pixels(3 * n);
      for (int16_t& v : pixels) v = static_cast<int16_t>(rep == 0 ? (&v - pixels.data()) % 2 ? kMin : kMax : rng.Uniform(kMin, kMax));
      std::vector<int16_t> luma_want(n + 1, 7), luma_got(n + 1, 7);
      ref_.LumaRow(pixels.data(), luma_want.data(), n);
      new_.LumaRow(pixels.data(), luma_got.data(), n);
      ASSERT_EQ(luma_want, luma_got) << "LumaRow width " << n;

      const int32_t weight = rep == 0 ? 64 : rng.Uniform(0, 64);
      std::vector<int16_t> acc_want(n + 1, 9), acc_got(n + 1, 9);
      ref_.SeedRow(luma_want.data(), acc_want.data(), n, weight);
      new_.SeedRow(luma_want.data(), acc_got.data(), n, weight);
      ASSERT_EQ(acc_want, acc_got) << "SeedRow width " << n << " weight " << weight;

      std::vector<int16_t> other(n);
      for (int16_t& v : other) v = static_cast<int16_t>(rng.Uniform(kMin, kMax));
      ref_.AddRow(other.data(), acc_want.data(), n);
      new_.AddRow(other.data(), acc_got.data(), n);
      ASSERT_EQ(acc_want, acc_got) << "AddRow width " << n;

      std::vector<int16_t> out_want = pixels, out_got = pixels;
      const int32_t w2 = rng.Uniform(1, 128);
      ref_.AverageRow(acc_want.data(), out_want.data(), n, w2);
      new_.AverageRow(acc_want.data(), out_got.data(), n, w2);
      ASSERT_EQ(out_want, out_got) << "AverageRow width " << n << " weight " << w2 << " (chroma must stay)";
    }
  }
}

// Every accumulator value with every weight a frame can have (1 .. 64 + 64).
TEST_P(VelourDspTest, AverageRowEveryValueAndWeight) {
  std::vector<int16_t> acc(65536);
  for (int v = 0; v < 65536; ++v) acc[v] = static_cast<int16_t>(v - 32768);
  std::vector<int16_t> want(3 * acc.size()), got(3 * acc.size());
  for (int32_t weight = 1; weight <= 128; ++weight) {
    ref_.AverageRow(acc.data(), want.data(), static_cast<int>(acc.size()), weight);
    new_.AverageRow(acc.data(), got.data(), static_cast<int>(acc.size()), weight);
    for (size_t i = 0; i < acc.size(); ++i)
      ASSERT_EQ(want[3 * i], got[3 * i]) << "accumulator " << acc[i] << " weight " << weight;
  }
}

INSTANTIATE_TEST_SUITE_P(Isa, VelourDspTest, ::testing::ValuesIn(kTiers), TierName);

}  // namespace
