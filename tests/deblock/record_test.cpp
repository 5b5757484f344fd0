// The editor plug-in deblock.so as the editor drives it: its record, and whole frames through
// GetFilterTable and the editor stand-in, equal to the core with one band per editor thread, the
// temp plane untouched.
#include <gtest/gtest.h>

#include <cstring>

#include "deblock/deblock.h"
#include "tests/deblock/deblock_test_util.h"
#include "tests/support/test_support.h"

namespace {

using host::FilterTable;
using testsupport::Content;
using testsupport::GuardedFrame;
using testsupport::Rng;

TEST(DeblockPlugin, DeclaresExactlyItsRecord) {
  const FilterTable* t = deblocktest::Plugin().table();
  EXPECT_EQ(testsupport::RecordMismatch(t, "deblock for AviUtl",
                                        {{"quant", 25, 0, 60}, {"aOffset", 0, 0, 60}, {"bOffset", 0, 0, 60}}),
            "");
  EXPECT_EQ(deblocktest::Plugin().entry()(), t) << "GetFilterTable called twice returns one address";
  EXPECT_EQ(deblocktest::Plugin().entry()(), t);
  EXPECT_NO_THROW(standin::ValidateFilterTable(t));
}

// The plug-in with T editor threads against the reference with T bands.
std::string RunPlugin(int w, int h, int stride, int threads, bool serial, const int32_t* tracks,
                      uint64_t seed) {
  GuardedFrame f(w, h, stride, seed % 2 == 0);
  Rng rng(seed);
  testsupport::FillPicture({f.edit.data(), w, h, stride}, rng, Content::kBlocky);
  std::vector<core::YcPixel> want = testsupport::Picture(f.edit.data(), w, h, stride);
  deblock::ReferenceFilterFrame(deblock::ParamsFromTracks(tracks), {want.data(), w, h, w}, threads);
  if (auto e = deblocktest::RunPlugin(f, tracks, threads, serial); !e.empty()) return e;
  return testsupport::DiffPictures(want, testsupport::Picture(f.edit.data(), w, h, stride), w, h);
}

TEST(DeblockPlugin, BandsFollowTheEditorsThreadCountAndTheTempPlaneStays) {
  const uint32_t seed = testsupport::TestSeed();
  const int32_t tracks[3] = {36, 4, 4};
  for (int threads : {1, 3, 4, 13}) {
    EXPECT_EQ(RunPlugin(61, 78, 64, threads, false, tracks, seed + threads), "") << "T=" << threads;
    EXPECT_EQ(RunPlugin(33, 45, 33, threads, true, tracks, seed + 50 + threads), "")
        << "serial T=" << threads;
  }
}

TEST(DeblockPlugin, DefaultTrackValuesAndTracksOutsideTheirRanges) {
  // The stand-in starts every track at its declared default: 25, 0, 0.
  const int32_t defaults[3] = {25, 0, 0};
  GuardedFrame f(100, 60, 100, true);
  Rng rng(13);
  testsupport::FillPicture({f.edit.data(), 100, 60, 100}, rng, Content::kBlocky);
  std::vector<core::YcPixel> want = testsupport::Picture(f.edit.data(), 100, 60, 100);
  deblock::ReferenceFilterFrame(deblock::ParamsFromTracks(defaults), {want.data(), 100, 60, 100}, 3);
  core::WorkerPool pool(3, false);
  standin::FilterHost fh(deblocktest::Plugin().table(), &pool);
  host::FrameInfo fi = f.Info();
  ASSERT_EQ(fh.Process(&fi), 1);
  EXPECT_EQ(testsupport::DiffPictures(want, testsupport::Picture(f.edit.data(), 100, 60, 100), 100, 60), "");
  const int32_t wild[3] = {-10, 200, 2147483647};
  EXPECT_EQ(RunPlugin(50, 40, 52, 2, false, wild, 14), "");
}

}  // namespace
