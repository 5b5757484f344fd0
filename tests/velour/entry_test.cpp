// The editor plug-in velour.so as the editor drives it: its record, and whole frames through
// GetFilterTable and the editor stand-in, equal to the core with one partition per editor thread.
#include <gtest/gtest.h>

#include <string>

#include "standin/auf_host.h"
#include "tests/support/test_support.h"
#include "velour/velour.h"

namespace {

using testsupport::GuardedFrame;
using testsupport::Rng;

standin::PluginLibrary& Plugin() {
  static standin::PluginLibrary lib(AUF_BUILD_DIR "/velour.so");
  return lib;
}

TEST(VelourPlugin, DeclaresExactlyItsTrackBarsAndNothingElse) {
  const host::FilterTable* t = Plugin().table();
  EXPECT_EQ(Plugin().entry()(), t) << "GetFilterTable returns one address";
  const std::vector<testsupport::ExpectedTrack> tracks = {
      {"quant", 1, 1, 31}, {"n_shift", 8, 1, 64}, {"matrix", 3, 0, 4}, {"zero_weight", 0, 0, 64}};
  EXPECT_EQ(testsupport::RecordMismatch(t, "Velour for AviUtl", tracks), "");
}

// The plug-in with T editor threads against the reference with T partitions.
std::string RunPlugin(int w, int h, int stride, int threads, bool serial, const int32_t (&tracks)[4],
                      uint64_t seed) {
  GuardedFrame plug(w, h, stride, seed % 2 == 0), ref(w, h, stride, true);
  Rng a(seed), b(seed);
  for (GuardedFrame* f : {&plug, &ref}) {
    Rng& rng = f == &plug ? a : b;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        f->edit.at(x, y) = {static_cast<int16_t>(rng.Uniform(0, 4095)), static_cast<int16_t>(x),
                            static_cast<int16_t>(-y)};
        f->temp.at(x, y) = {static_cast<int16_t>(rng.Uniform(-32768, 32767)), 1, 2};
      }
  }
  core::WorkerPool pool(threads, serial);
  standin::FilterHost host(Plugin().table(), &pool);
  for (int i = 0; i < 4; ++i) host.SetTrackUnchecked(i, tracks[i]);
  host::FrameInfo fi = plug.Info();
  if (host.Process(&fi) != 1) return "ProcessFrame did not return 1";
  velour::ReferenceFilterFrame(velour::ParamsFromTracks(tracks), ref.EditPlane(), threads);
  if (auto c = plug.edit.CheckCanaries(); !c.empty()) return "edit plane: " + c;
  if (auto c = plug.temp.CheckCanaries(); !c.empty()) return "temp plane: " + c;
  return testsupport::DiffPictures(testsupport::Picture(ref.edit.data(), w, h, stride),
                                   testsupport::Picture(plug.edit.data(), w, h, stride), w, h);
}

TEST(VelourPlugin, PassesFollowTheEditorsThreadCount) {
  const uint32_t seed = testsupport::TestSeed();
  // T = 3 turns n_shift 8 into nine passes; T = 13 has threads past the probe's eight slots; T = 65
  // more threads than passes.
  for (int threads : {1, 2, 3, 8, 13, 65}) {
    EXPECT_EQ(RunPlugin(97, 61, 101, threads, false, {2, 8, 1, 3}, seed + threads), "") << "T=" << threads;
    EXPECT_EQ(RunPlugin(40, 30, 40, threads, true, {1, 5, 3, 0}, seed + 100 + threads), "")
        << "serial T=" << threads;
  }
}

TEST(VelourPlugin, OutOfRangeTracksFromAHostAreClamped) {
  EXPECT_EQ(RunPlugin(37, 29, 40, 3, false, {0, 500, 9, -5}, 7), "");
}

}  // namespace
