// Whole frames through the core with the kernels of each tier, for partition counts 1, 2, 3 and 8
// computed by other numbers of workers, bit for bit against the reference, in guarded planes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/cpu.h"
#include "core/rgba_dsp.h"
#include "core/worker_pool.h"
#include "deblock/deblock.h"
#include "tests/deblock/deblock_test_util.h"
#include "tests/support/test_support.h"
#include "tests/support/tiers.h"

namespace {

using testsupport::GuardedFrame;
using testsupport::Rng;

class DeblockTierFrameTest : public ::testing::TestWithParam<core::CpuTier> {
 protected:
  void SetUp() override { SKIP_UNLESS_CPU_HAS(GetParam()); }
};

std::string RunFrame(core::CpuFlags flags, int w, int h, int stride, int partitions, int workers,
                     const int32_t* tracks, deblocktest::Content content, uint64_t seed) {
  GuardedFrame plug(w, h, stride, seed % 2 == 1), ref(w, h, stride, true);
  Rng a(seed), b(seed);
  deblocktest::FillPicture(plug.edit.data(), w, h, stride, a, content);
  deblocktest::FillPicture(ref.edit.data(), w, h, stride, b, content);
  if (auto e = deblocktest::RunCore(flags, plug, tracks, partitions, workers, false); !e.empty()) return e;
  deblock::ReferenceFilterFrame(deblock::ParamsFromTracks(tracks), ref.EditPlane(), partitions);
  return testsupport::DiffPictures(testsupport::Picture(ref.edit.data(), w, h, stride),
                                   testsupport::Picture(plug.edit.data(), w, h, stride), w, h);
}

TEST_P(DeblockTierFrameTest, MatchesReferenceForEveryPartitionAndWorkerCount) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int counts[] = {1, 2, 3, 8};
  for (int iter = 0; iter < 48; ++iter) {
    // Shapes around the 4-pixel grid, segments of a grid row and the vector widths, bands of a
    // few rows, and frames as wide as a full-HD row and one more.
    int w, h;
    switch (iter % 5) {
      case 0: w = rng.Uniform(1, 20), h = rng.Uniform(1, 20); break;
      case 1:
        w = 4 * rng.Uniform(2, 40) + rng.Uniform(0, 3), h = 4 * rng.Uniform(2, 12) + rng.Uniform(0, 3);
        break;
      case 2: w = rng.Uniform(20, 300), h = rng.Uniform(7, 40); break;
      case 3: w = rng.Uniform(25, 90), h = rng.Uniform(60, 170); break;
      default: w = iter % 2 ? 1921 : 1920, h = iter % 2 ? 23 : 36;
    }
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 7));
    const int partitions = counts[iter % 4], workers = counts[(iter / 4 + iter) % 4];
    int32_t tracks[3] = {rng.Uniform(0, 60), rng.Uniform(0, 60), rng.Uniform(0, 60)};
    if (iter % 6 == 0) tracks[0] = 25, tracks[1] = 0, tracks[2] = 0;  // the defaults
    if (iter % 6 == 1) tracks[0] = 60, tracks[1] = 60, tracks[2] = 60;
    const deblocktest::Content content = iter % 3 == 0   ? deblocktest::Content::kBlocky
                                         : iter % 3 == 1 ? deblocktest::Content::kNearLimits
                                                         : deblocktest::Content::kFullRange;
    ASSERT_EQ(RunFrame(GetParam().flags, w, h, stride, partitions, workers, tracks, content, seed + iter), "")
        << w << "x" << h << " stride " << stride << " partitions " << partitions << " workers " << workers
        << " tracks " << tracks[0] << "," << tracks[1] << "," << tracks[2] << " seed " << seed << " iter "
        << iter;
  }
}

// An RGBA image gives exactly what converting it whole with the scalar conversion, the reference
// filter and converting back give, alpha untouched: pictures tall enough for the ring of sample
// rows (one partition) and the small ones and other partitions that go through a whole plane, by
// one to three workers, the rows of the ring reused many times over.
TEST_P(DeblockTierFrameTest, RgbaImagesGiveTheResultOfTheirConvertedPictures) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  int changed = 0;
  for (int iter = 0; iter < 24; ++iter) {
    const int w = iter % 4 == 0 ? rng.Uniform(1, 40) : rng.Uniform(40, 300);
    const int h = iter % 6 == 0 ? rng.Uniform(1, 40) : rng.Uniform(128, 600);
    const int partitions = iter % 5 == 4 ? 2 : 1, workers = 1 + iter % 3;
    const int32_t tracks[3] = {rng.Uniform(20, 45), rng.Uniform(0, 10), rng.Uniform(0, 10)};
    const size_t n = static_cast<size_t>(w) * h;
    // Blocks of 4 x 4 pixels of a level with noise, so that most edges are filtered.
    std::vector<uint8_t> rgba(4 * n);
    for (size_t i = 0; i < n; ++i) {
      const int level = 60 + 9 * static_cast<int>((i % w / 4 * 7 + i / w / 4 * 3) % 13);
      for (int c = 0; c < 3; ++c) rgba[4 * i + c] = static_cast<uint8_t>(level + c * 12 + rng.Uniform(-3, 3));
      rgba[4 * i + 3] = static_cast<uint8_t>(rng.Uniform(0, 255));
    }
    const std::vector<uint8_t> want = testsupport::ThroughSamples(rgba, w, h, [&](const core::Plane& p) {
      deblock::ReferenceFilterFrame(deblock::ParamsFromTracks(tracks), p, partitions);
    });
    changed += want != rgba;

    deblock::DeblockDsp dsp;
    deblock::InitDeblockDsp(dsp, GetParam().flags);
    core::RgbaDsp rgba_dsp;
    core::InitRgbaDsp(rgba_dsp, GetParam().flags);
    std::vector<core::YcPixel> temp(n);
    core::WorkerPool pool(workers, false);
    deblock::FilterFrameRgba(dsp, rgba_dsp, deblock::ParamsFromTracks(tracks), rgba.data(), w, h,
                             {temp.data(), w, h, w}, partitions, pool.workers());
    ASSERT_EQ(rgba, want) << w << "x" << h << " partitions " << partitions << " workers " << workers
                          << " seed " << seed << " iter " << iter;
  }
  EXPECT_GT(changed, 15) << "the images should mostly change";
}

INSTANTIATE_TEST_SUITE_P(Isa, DeblockTierFrameTest, ::testing::ValuesIn(testsupport::AllTiers()),
                         testsupport::TierParamName);

}  // namespace
