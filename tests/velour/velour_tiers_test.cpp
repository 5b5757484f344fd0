// Whole frames through the core with the kernels of each tier, for partition counts 1, 2, 3 and 8
// computed by other numbers of workers, bit for bit against the reference, in guarded planes.
#include <gtest/gtest.h>

#include <string>

#include "core/cpu.h"
#include "core/rgba_dsp.h"
#include "core/worker_pool.h"
#include "tests/support/test_support.h"
#include "tests/support/tiers.h"
#include "velour/velour.h"

namespace {

using testsupport::GuardedFrame;
using testsupport::Rng;

class VelourTierFrameTest : public ::testing::TestWithParam<core::CpuTier> {
 protected:
  void SetUp() override { SKIP_UNLESS_CPU_HAS(GetParam()); }
};

enum class Content { kLuma12Bit, kFullRange, kMixed };

void Fill(GuardedFrame& f, Content content, Rng& rng) {
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) {
      int v;
      switch (content) {
        case Content::kLuma12Bit: v = rng.Uniform(0, 4095); break;
        case Content::kFullRange: v = rng.Uniform(-32768, 32767); break;
        default:
          v = (x / 8 + y / 8) % 3 == 0 ? rng.Uniform(-32768, 32767)
                                       : rng.Uniform(0, 4095);  // blocks of both paths
      }
      f.edit.at(x, y) = {static_cast<int16_t>(v), static_cast<int16_t>(x - y), static_cast<int16_t>(x * y)};
      f.temp.at(x, y) = {static_cast<int16_t>(rng.Uniform(-32768, 32767)), 1, 2};
    }
}

std::string RunFrame(core::CpuFlags flags, int w, int h, int stride, int partitions, int workers,
                     const int32_t* tracks, Content content, uint64_t seed) {
  GuardedFrame plug(w, h, stride, seed % 2 == 1), ref(w, h, stride, true);
  Rng a(seed), b(seed);
  Fill(plug, content, a);
  Fill(ref, content, b);
  core::WorkerPool pool(workers, false);
  velour::VelourDsp dsp;
  velour::InitVelourDsp(dsp, flags);
  const velour::VelourParams params = velour::ParamsFromTracks(tracks);
  velour::FilterFrame(dsp, params, plug.EditPlane(), plug.TempPlane(), partitions, pool.workers());
  velour::ReferenceFilterFrame(params, ref.EditPlane(), partitions);
  if (auto c = plug.edit.CheckCanaries(); !c.empty()) return "edit plane: " + c;
  if (auto c = plug.temp.CheckCanaries(); !c.empty()) return "temp plane: " + c;
  // The reference leaves chroma alone too, so the whole pixels must agree.
  return testsupport::DiffPictures(testsupport::Picture(ref.edit.data(), w, h, stride),
                                   testsupport::Picture(plug.edit.data(), w, h, stride), w, h);
}

TEST_P(VelourTierFrameTest, MatchesReferenceForEveryPartitionAndWorkerCount) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int counts[] = {1, 2, 3, 8};
  for (int iter = 0; iter < 40; ++iter) {
    // Shapes around the 8-pixel grid and the vector widths (16 samples = 2 blocks), bands of
    // fewer rows than a block reaches, and one wide frame.
    int w, h;
    switch (iter % 5) {
      case 0: w = rng.Uniform(1, 24), h = rng.Uniform(1, 24); break;
      case 1:
        w = 8 * rng.Uniform(2, 9) + rng.Uniform(0, 1), h = 8 * rng.Uniform(2, 6) + rng.Uniform(0, 1);
        break;
      case 2: w = rng.Uniform(17, 90), h = rng.Uniform(9, 40); break;
      case 3: w = rng.Uniform(25, 70), h = rng.Uniform(75, 160); break;
      default: w = iter % 2 ? 333 : 1921, h = iter % 2 ? 47 : 40;
    }
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 7));
    const int partitions = counts[iter % 4], workers = counts[(iter / 4 + iter) % 4];
    int32_t tracks[4] = {rng.Uniform(1, 31), rng.Uniform(1, 64), rng.Uniform(0, 4), rng.Uniform(0, 64)};
    if (iter % 6 == 0) tracks[0] = 1, tracks[1] = 8, tracks[2] = 3, tracks[3] = 0;  // the defaults
    const Content content = iter % 3 == 0   ? Content::kLuma12Bit
                            : iter % 3 == 1 ? Content::kMixed
                                            : Content::kFullRange;
    ASSERT_EQ(RunFrame(GetParam().flags, w, h, stride, partitions, workers, tracks, content, seed + iter), "")
        << w << "x" << h << " stride " << stride << " partitions " << partitions << " workers " << workers
        << " tracks " << tracks[0] << "," << tracks[1] << "," << tracks[2] << "," << tracks[3] << " seed "
        << seed << " iter " << iter;
  }
}

// An RGBA image filtered row by row gives exactly what converting it whole with the scalar
// conversion, the reference filter and converting back give, alpha untouched: widths around the
// conversion's chunks of 256 pixels, every kind of band, any partition and worker count.
TEST_P(VelourTierFrameTest, RgbaImagesGiveTheResultOfTheirConvertedPictures) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int counts[] = {1, 2, 3, 8};
  const int widths[] = {1, 9, 17, 255, 256, 257, 300};
  int changed = 0;
  for (int iter = 0; iter < 21; ++iter) {
    const int w = widths[iter % 7], h = iter % 3 == 0 ? rng.Uniform(1, 12) : rng.Uniform(13, 140);
    const int partitions = counts[iter % 4], workers = counts[(iter / 4 + iter) % 4];
    const int32_t tracks[4] = {rng.Uniform(1, 31), rng.Uniform(1, 64), rng.Uniform(0, 4), rng.Uniform(0, 64)};
    const size_t n = static_cast<size_t>(w) * h;
    // Blocks of levels with noise, so the filter changes them, and random alpha.
    std::vector<uint8_t> rgba(4 * n);
    for (size_t i = 0; i < n; ++i) {
      const int level = 40 + 20 * static_cast<int>((i % w / 8 + i / w / 8) % 9);
      for (int c = 0; c < 3; ++c)
        rgba[4 * i + c] = static_cast<uint8_t>(level + c * 10 + rng.Uniform(-12, 12));
      rgba[4 * i + 3] = static_cast<uint8_t>(rng.Uniform(0, 255));
    }
    const std::vector<uint8_t> want = testsupport::ThroughSamples(rgba, w, h, [&](const core::Plane& p) {
      velour::ReferenceFilterFrame(velour::ParamsFromTracks(tracks), p, partitions);
    });
    changed += want != rgba;

    velour::VelourDsp dsp;
    velour::InitVelourDsp(dsp, GetParam().flags);
    core::RgbaDsp rgba_dsp;
    core::InitRgbaDsp(rgba_dsp, GetParam().flags);
    std::vector<core::YcPixel> temp(n);
    core::WorkerPool pool(workers, false);
    velour::FilterFrameRgba(dsp, rgba_dsp, velour::ParamsFromTracks(tracks), rgba.data(), w, h,
                            {temp.data(), w, h, w}, partitions, pool.workers());
    ASSERT_EQ(rgba, want) << w << "x" << h << " partitions " << partitions << " workers " << workers
                          << " seed " << seed << " iter " << iter;
  }
  EXPECT_GT(changed, 10) << "the images should mostly change";
}

INSTANTIATE_TEST_SUITE_P(Isa, VelourTierFrameTest, ::testing::ValuesIn(testsupport::AllTiers()),
                         testsupport::TierParamName);

}  // namespace
