// Whole frames through the core: bit for bit against the reference with real worker threads, for
// any number of workers and partitions; levels that a 16-bit sum would lose; and what the filter
// leaves alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/picture.h"
#include "core/worker_pool.h"
#include "tests/support/test_support.h"
#include "velour/velour.h"

namespace {

using core::WorkerPool;
using testsupport::GuardedFrame;
using testsupport::Rng;

struct Case {
  int w, h, stride, partitions, workers;
  int32_t tracks[4];
  bool serial = false;
};

void FillRandom(GuardedFrame& f, Rng& rng, bool full_range) {
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) {
      auto& p = f.edit.at(x, y);
      p.y = static_cast<int16_t>(full_range ? rng.Uniform(-32768, 32767) : rng.Uniform(0, 4095));
      p.cb = static_cast<int16_t>(rng.Uniform(-2048, 2047));
      p.cr = static_cast<int16_t>(rng.Uniform(-2048, 2047));
      f.temp.at(x, y) = {static_cast<int16_t>(rng.Uniform(-32768, 32767)), 5, 6};
    }
}

// Runs the core on one copy of a random frame and the reference on another; compares the pictures.
std::string RunCase(const Case& c, uint64_t seed, bool full_range) {
  Rng rng(seed);
  GuardedFrame core(c.w, c.h, c.stride, seed % 2 == 0);
  GuardedFrame ref(c.w, c.h, c.stride, true);
  FillRandom(core, rng, full_range);
  Rng again(seed);
  FillRandom(ref, again, full_range);
  const auto input = testsupport::Picture(core.edit.data(), c.w, c.h, c.stride);

  WorkerPool pool(c.workers, c.serial);
  const velour::VelourParams params = velour::ParamsFromTracks(c.tracks);
  velour::FilterFrame(velour::VelourDspFor(core::DetectCpuFlags()), params, core.EditPlane(),
                      core.TempPlane(), c.partitions, pool.workers());
  velour::ReferenceFilterFrame(params, ref.EditPlane(), c.partitions);

  const auto got = testsupport::Picture(core.edit.data(), c.w, c.h, c.stride);
  const auto want = testsupport::Picture(ref.edit.data(), c.w, c.h, c.stride);
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i].cb != input[i].cb || got[i].cr != input[i].cr)
      return "chroma changed at sample " + std::to_string(i);
  if (auto c1 = core.edit.CheckCanaries(); !c1.empty()) return "edit plane: " + c1;
  if (auto c2 = core.temp.CheckCanaries(); !c2.empty()) return "temp plane: " + c2;
  return testsupport::DiffPictures(want, got, c.w, c.h);
}

std::string Describe(const Case& c) {
  return std::to_string(c.w) + "x" + std::to_string(c.h) + " stride " + std::to_string(c.stride) +
         " partitions " + std::to_string(c.partitions) + " workers " + std::to_string(c.workers) +
         " tracks " + std::to_string(c.tracks[0]) + "," + std::to_string(c.tracks[1]) + "," +
         std::to_string(c.tracks[2]) + "," + std::to_string(c.tracks[3]);
}

TEST(VelourFrame, MatchesReferenceForAnyPartitionAndWorkerCount) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int counts[] = {1, 2, 3, 4, 6, 8, 13, 65};
  for (int iter = 0; iter < 48; ++iter) {
    Case c{};
    const int shape = iter % 4;
    c.w = shape == 0 ? rng.Uniform(1, 12) : rng.Uniform(1, 180);
    c.h = shape == 1 ? rng.Uniform(1, 12) : rng.Uniform(1, 140);
    c.stride = c.w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 9));
    c.partitions = counts[iter % 8];
    c.workers = counts[(iter / 8 + iter) % 8];
    c.tracks[0] = rng.Uniform(1, 31);
    c.tracks[1] = rng.Uniform(1, 64);
    c.tracks[2] = rng.Uniform(0, 4);
    c.tracks[3] = rng.Uniform(0, 64);
    const bool full_range = iter % 5 == 4;
    ASSERT_EQ(RunCase(c, seed + iter, full_range), "") << Describe(c) << " seed " << seed << " iter " << iter;
  }
}

TEST(VelourFrame, FullHdAtDefaultsAndExtremes) {
  const uint32_t seed = testsupport::TestSeed();
  Case defaults{1920, 1080, 1920, 1, 2, {1, 8, 3, 0}};
  EXPECT_EQ(RunCase(defaults, seed, false), "") << Describe(defaults);
  Case heavy{1920, 1080, 1928, 3, 2, {31, 64, 0, 64}};
  EXPECT_EQ(RunCase(heavy, seed + 1, true), "") << Describe(heavy);
}

TEST(VelourFrame, SerialWorkersGiveTheSameResult) {
  Case c{70, 50, 75, 5, 5, {2, 10, 1, 3}, true};
  EXPECT_EQ(RunCase(c, 9, false), "");
}

TEST(VelourFrame, OutOfRangeTracksAreClampedNotTrusted) {
  // quant 0 would divide by zero and matrix 9 would index past the tables.
  const int32_t wild[4] = {0, 500, 9, -5};
  const velour::VelourParams p = velour::ParamsFromTracks(wild);
  EXPECT_EQ(p.quant, 1);
  EXPECT_EQ(p.n_shift, 64);
  EXPECT_EQ(p.matrix, 4);
  EXPECT_EQ(p.zero_weight, 0);
  Case c{37, 29, 40, 3, 3, {0, 500, 9, -5}};
  EXPECT_EQ(RunCase(c, 7, false), "");
}

// The luma of a frame after the core with `partitions` partitions on `workers` workers.
std::vector<int16_t> Luma(const core::Picture& src, int partitions, const int32_t (&tracks)[4],
                          int workers = 2) {
  core::Picture f = src, temp(src.w, src.h, src.stride);
  WorkerPool pool(workers, false);
  velour::FilterFrame(velour::VelourDspFor(core::DetectCpuFlags()), velour::ParamsFromTracks(tracks),
                      f.plane(), temp.plane(), partitions, pool.workers());
  std::vector<int16_t> y;
  for (int r = 0; r < f.h; ++r)
    for (int x = 0; x < f.w; ++x) y.push_back(f.at(x, r).y);
  return y;
}

core::Picture Flat(int w, int h, int16_t y) {
  core::Picture f(w, h);
  for (auto& p : f.pixels) p = {y, 300, -300};
  return f;
}

TEST(VelourFrame, NarrowFramesComeBackAtEightBitScale) {
  for (auto [w, h] : {std::pair{8, 40}, std::pair{40, 8}, std::pair{3, 3}}) {
    core::Picture f(w, h);
    const int16_t in[] = {100, 4095, -1, 16, 0};
    for (int i = 0; i < w * h; ++i) f.pixels[i] = {in[i % 5], 77, -77};
    for (int T : {1, 3}) {
      const auto y = Luma(f, T, {7, 20, 0, 5});
      const int16_t out[] = {96, 4080, -16, 16, 0};
      for (int i = 0; i < w * h; ++i) ASSERT_EQ(y[i], out[i % 5]) << w << "x" << h << " at " << i;
    }
  }
}

// 128 or 118 contributions of nominal white (4096) or super-white (4470): a 16-bit sum would wrap
// and turn them black; the exact sum keeps the level at 16 x (Y >> 4).
TEST(VelourFrame, WhiteAndSuperWhiteKeepTheirLevelAtEveryWeight) {
  for (int16_t level : {int16_t{4095}, int16_t{4096}, int16_t{4470}, int16_t{8000}, int16_t{-3000}})
    for (int32_t zero_weight : {64, 54, 0}) {
      const auto y = Luma(Flat(64, 48, level), 1, {1, 64, 3, zero_weight});
      for (int16_t v : y)
        ASSERT_EQ(v, static_cast<int16_t>(16 * (level >> 4))) << level << " zero_weight " << zero_weight;
    }
}

TEST(VelourFrame, PassesFollowThePartitionCountNotTheWorkers) {
  core::Picture f(60, 44);
  Rng rng(testsupport::TestSeed());
  for (auto& p : f.pixels) p.y = static_cast<int16_t>(rng.Uniform(0, 4095));
  // Eight partitions: one pass asked for is a batch of eight.
  EXPECT_EQ(Luma(f, 8, {3, 1, 3, 0}), Luma(f, 8, {3, 8, 3, 0}));
  EXPECT_EQ(Luma(f, 4, {3, 8, 3, 0}), Luma(f, 1, {3, 8, 3, 0}));
  // Three partitions: eight passes asked for become nine; that is not the result of eight.
  EXPECT_NE(Luma(f, 3, {3, 8, 3, 0}), Luma(f, 1, {3, 8, 3, 0}));
  EXPECT_EQ(Luma(f, 3, {3, 8, 3, 0}), Luma(f, 1, {3, 9, 3, 0}));
  // Beyond the table: 65 partitions run all 64 passes once.
  EXPECT_EQ(Luma(f, 65, {3, 1, 3, 2}), Luma(f, 1, {3, 64, 3, 2}));
  // The workers only compute it.
  for (int workers : {1, 3, 7}) EXPECT_EQ(Luma(f, 3, {3, 8, 3, 0}, workers), Luma(f, 3, {3, 8, 3, 0}));
}

TEST(VelourFrame, SameInputSameOutputEveryRun) {
  core::Picture f(123, 77, 130);
  Rng rng(testsupport::TestSeed());
  for (auto& p : f.pixels) p.y = static_cast<int16_t>(rng.Uniform(0, 4095));
  const auto first = Luma(f, 3, {4, 17, 2, 1});
  for (int run = 0; run < 5; ++run) ASSERT_EQ(Luma(f, 3, {4, 17, 2, 1}), first);
}

}  // namespace
