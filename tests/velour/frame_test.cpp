// The velour plug-in as the host sees it: its record, whole frames through GetFilterTable and the
// host stand-in with real worker threads, bit for bit against the reference.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/plugin_host.h"
#include "tests/support/test_support.h"
#include "velour/velour.h"

namespace {

using host::FilterHost;
using host::FilterTable;
using host::WorkerPool;
using testsupport::GuardedFrame;
using testsupport::Rng;

const std::string kPluginPath = AUF_BUILD_DIR "/velour.so";

host::PluginLibrary& Plugin() {
  static host::PluginLibrary lib(kPluginPath);
  return lib;
}

TEST(VelourRecord, DeclaresExactlyItsTrackBarsAndNothingElse) {
  const FilterTable* t = Plugin().table();
  EXPECT_EQ(Plugin().entry()(), t) << "GetFilterTable returns one address";
  const std::vector<testsupport::ExpectedTrack> tracks = {
      {"quant", 1, 1, 31}, {"n_shift", 8, 1, 64}, {"matrix", 3, 0, 4}, {"zero_weight", 0, 0, 64}};
  EXPECT_EQ(testsupport::RecordMismatch(t, "Velour for AviUtl", tracks), "");
  EXPECT_EQ(testsupport::RecordMismatch(velour::VelourFilterTable(), "Velour for AviUtl", tracks), "");
  for (host::CpuFlags f : {host::CpuFlags{0}, host::kCpuSse2, host::kCpuSse2 | host::kCpuAvx2})
    EXPECT_EQ(testsupport::RecordMismatch(velour::VelourFilterTableForTier(f), "Velour for AviUtl", tracks), "");
}

// Runs the plug-in on a copy of `src` and the reference on another; compares the edit planes.
struct Case {
  int w, h, stride, threads;
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

std::string RunCase(const Case& c, uint64_t seed, bool full_range) {
  Rng rng(seed);
  GuardedFrame plug(c.w, c.h, c.stride, seed % 2 == 0);
  GuardedFrame ref(c.w, c.h, c.stride, true);
  FillRandom(plug, rng, full_range);
  Rng again(seed);
  FillRandom(ref, again, full_range);
  const auto input = testsupport::Picture(plug.edit.data(), c.w, c.h, c.stride);

  WorkerPool pool(c.threads, c.serial);
  FilterHost host(Plugin().table(), &pool);
  for (int i = 0; i < 4; ++i) host.SetTrackUnchecked(i, c.tracks[i]);
  host::FrameInfo fi = plug.Info();
  if (host.Process(&fi) != 1) return "ProcessFrame did not return 1";

  host::FrameInfo rfi = ref.Info();
  velour::ReferenceProcessFrame(&rfi, c.tracks, c.threads);

  const auto got = testsupport::Picture(plug.edit.data(), c.w, c.h, c.stride);
  const auto want = testsupport::Picture(ref.edit.data(), c.w, c.h, c.stride);
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i].cb != input[i].cb || got[i].cr != input[i].cr) return "chroma changed at sample " + std::to_string(i);
  if (auto c1 = plug.edit.CheckCanaries(); !c1.empty()) return "edit plane: " + c1;
  if (auto c2 = plug.temp.CheckCanaries(); !c2.empty()) return "temp plane: " + c2;
  return testsupport::DiffPictures(want, got, c.w, c.h);
}

std::string Describe(const Case& c) {
  return std::to_string(c.w) + "x" + std::to_string(c.h) + " stride " + std::to_string(c.stride) + " T=" +
         std::to_string(c.threads) + " tracks " + std::to_string(c.tracks[0]) + "," + std::to_string(c.tracks[1]) +
         "," + std::to_string(c.tracks[2]) + "," + std::to_string(c.tracks[3]);
}

TEST(VelourFrame, MatchesReferenceOnRandomFramesAndThreadCounts) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const int thread_counts[] = {1, 2, 3, 4, 6, 8, 13, 65};
  for (int iter = 0; iter < 48; ++iter) {
    Case c{};
    const int shape = iter % 4;
    c.w = shape == 0 ? rng.Uniform(1, 12) : rng.Uniform(1, 180);
    c.h = shape == 1 ? rng.Uniform(1, 12) : rng.Uniform(1, 140);
    c.stride = c.w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 9));
    c.threads = thread_counts[iter % 8];
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
  Case defaults{1920, 1080, 1920, 2, {1, 8, 3, 0}};
  EXPECT_EQ(RunCase(defaults, seed, false), "") << Describe(defaults);
  Case heavy{1920, 1080, 1928, 3, {31, 64, 0, 64}};
  EXPECT_EQ(RunCase(heavy, seed + 1, true), "") << Describe(heavy);
}

TEST(VelourFrame, OutOfRangeTracksAreClampedNotTrusted) {
  // quant 0 would divide by zero and matrix 9 would index past the tables.
  Case c{37, 29, 40, 3, {0, 500, 9, -5}};
  EXPECT_EQ(RunCase(c, 7, false), "");
  Case c2{37, 29, 40, 2, {-3, -1, -1, 1000}};
  EXPECT_EQ(RunCase(c2, 8, false), "");
}

TEST(VelourFrame, SerialWorkersGiveTheSameResult) {
  Case c{70, 50, 75, 5, {2, 10, 1, 3}, true};
  EXPECT_EQ(RunCase(c, 9, false), "");
}

// Runs the plug-in on one frame and returns the luma of its edit plane.
std::vector<int16_t> Luma(const host::Frame& src, int threads, const int32_t (&tracks)[4]) {
  host::Frame f = src;
  WorkerPool pool(threads, false);
  FilterHost host(Plugin().table(), &pool);
  for (int i = 0; i < 4; ++i) host.SetTrackUnchecked(i, tracks[i]);
  EXPECT_EQ(host.Process(f), 1);
  std::vector<int16_t> y;
  for (int r = 0; r < f.h; ++r)
    for (int x = 0; x < f.w; ++x) y.push_back(f.at(x, r).y);
  return y;
}

TEST(VelourFrame, NarrowFramesComeBackAtEightBitScale) {
  for (auto [w, h] : {std::pair{8, 40}, std::pair{40, 8}, std::pair{3, 3}}) {
    host::Frame f(w, h);
    const int16_t in[] = {100, 4095, -1, 16, 0};
    for (int i = 0; i < w * h; ++i) f.edit[i] = {in[i % 5], 77, -77};
    for (int T : {1, 3}) {
      const auto y = Luma(f, T, {7, 20, 0, 5});
      const int16_t out[] = {96, 4080, -16, 16, 0};
      for (int i = 0; i < w * h; ++i) ASSERT_EQ(y[i], out[i % 5]) << w << "x" << h << " at " << i;
    }
  }
}

TEST(VelourFrame, HundredTwentyEightContributionsDoNotWrap) {
  host::Frame f(64, 48);
  for (auto& p : f.edit) p.y = 4095;
  const auto y = Luma(f, 1, {1, 64, 3, 64});
  for (int16_t v : y) ASSERT_EQ(v, 4080);
}

TEST(VelourFrame, PassesFollowTheHostsWorkerCount) {
  host::Frame f(60, 44);
  Rng rng(testsupport::TestSeed());
  for (auto& p : f.edit) p.y = static_cast<int16_t>(rng.Uniform(0, 4095));
  // With 8 workers one pass asked for is a batch of eight.
  EXPECT_EQ(Luma(f, 8, {3, 1, 3, 0}), Luma(f, 8, {3, 8, 3, 0}));
  EXPECT_EQ(Luma(f, 4, {3, 8, 3, 0}), Luma(f, 1, {3, 8, 3, 0}));
  // With 3 workers eight passes asked for become nine; that is not the result of eight.
  EXPECT_NE(Luma(f, 3, {3, 8, 3, 0}), Luma(f, 1, {3, 8, 3, 0}));
  EXPECT_EQ(Luma(f, 3, {3, 8, 3, 0}), Luma(f, 1, {3, 9, 3, 0}));
  // Beyond the table: 65 workers run all 64 passes once.
  EXPECT_EQ(Luma(f, 65, {3, 1, 3, 2}), Luma(f, 1, {3, 64, 3, 2}));
}

TEST(VelourFrame, SameInputSameOutputEveryRun) {
  host::Frame f(123, 77, 130);
  Rng rng(testsupport::TestSeed());
  for (auto& p : f.edit) p.y = static_cast<int16_t>(rng.Uniform(0, 4095));
  const auto first = Luma(f, 3, {4, 17, 2, 1});
  for (int run = 0; run < 5; ++run) ASSERT_EQ(Luma(f, 3, {4, 17, 2, 1}), first);
}

}  // namespace
