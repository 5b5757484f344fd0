// The frame driver of the core: grid-point cases against kernels placed by hand, and whole frames
// with real worker threads, for any partition and worker count, against the reference, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "deblock/deblock.h"
#include "deblock/deblock_dsp.h"
#include "tests/deblock/deblock_test_util.h"

namespace {

using core::YcPixel;
using testsupport::Content;
using testsupport::GuardedFrame;
using testsupport::Rng;

const int32_t kTracks[3] = {36, 4, 4};  // index 40: alpha 1280, beta 208, tc0 80

// A plane as plain memory, for placing kernels by hand.
struct Plane {
  Plane(int w_, int h_, int stride_) : w(w_), h(h_), stride(stride_), px(static_cast<size_t>(stride_) * h_) {}
  YcPixel* at(int x, int y) { return px.data() + static_cast<size_t>(y) * stride + x; }
  std::vector<YcPixel> Picture() const { return testsupport::Picture(px.data(), w, h, stride); }
  int w, h, stride;
  std::vector<YcPixel> px;
};

Plane Blocky(int w, int h, int stride, uint64_t seed, Content content = Content::kBlocky) {
  Plane p(w, h, stride);
  Rng rng(seed);
  testsupport::FillPicture({p.px.data(), w, h, stride}, rng, content);
  return p;
}

// The grid point (x, y), lines outside the picture left out: the horizontal edge on the columns below w when
// rows y-3 .. y+2 are all inside; the vertical edge on the rows below h when columns x-3 .. x+2 are.
void FilterGridPoint(Plane& p, int x, int y, const deblock::Thresholds& t) {
  if (y >= 3 && y + 3 <= p.h)
    deblock::FilterHorizontalEdges_C(p.at(x, y), p.at(x, y - 3), p.stride, std::min(4, p.w - x), t.alpha,
                                     t.beta, t.tc0);
  if (x + 3 <= p.w)
    deblock::FilterVerticalEdges_C(p.at(x, y), p.stride, 1, std::min(4, p.h - y), t.alpha, t.beta, t.tc0);
}

// Grid rows from first to last (inclusive) in steps of 4, each row left to right.
void FilterRows(Plane& p, int first, int last, const deblock::Thresholds& t) {
  for (int y = first; y <= last; y += 4)
    for (int x = 4; x < p.w; x += 4) FilterGridPoint(p, x, y, t);
}

// The frame in `partitions` row bands, band i from row i * h / partitions, each with its own grid
// from its first row (the first band's from row 4), one band after another.
void FilterBands(Plane& p, int partitions, const deblock::Thresholds& t) {
  for (int i = 0; i < partitions; ++i) {
    const int start = i * p.h / partitions, end = (i + 1) * p.h / partitions;
    FilterRows(p, i == 0 ? 4 : start, end - 1, t);
  }
}

// The core with T partitions on a guarded copy of `src`; fails the test on a damaged canary.
std::vector<YcPixel> Core(const Plane& src, int partitions, int workers, const int32_t* tracks = kTracks,
                          bool guard_after = true, bool serial = false) {
  GuardedFrame f(src.w, src.h, src.stride, guard_after);
  for (int y = 0; y < src.h; ++y)
    std::memcpy(&f.edit.at(0, y), src.px.data() + static_cast<size_t>(y) * src.stride,
                src.w * sizeof(YcPixel));
  EXPECT_EQ(deblocktest::RunCore(core::DetectCpuFlags(), f, tracks, partitions, workers, serial), "");
  return testsupport::Picture(f.edit.data(), src.w, src.h, src.stride);
}

std::vector<YcPixel> Reference(const Plane& src, int partitions, const int32_t* tracks = kTracks) {
  Plane p = src;
  deblock::ReferenceFilterFrame(deblock::ParamsFromTracks(tracks), {p.px.data(), p.w, p.h, p.stride},
                                partitions);
  return p.Picture();
}

// The core (guard page after and before the plane, as many workers as partitions and two) and the
// reference all give `want`.
void ExpectFrame(const Plane& src, int partitions, const std::vector<YcPixel>& want,
                 const std::string& what) {
  for (bool guard_after : {true, false})
    for (int workers : {partitions, 2})
      EXPECT_EQ(
          testsupport::DiffPictures(want, Core(src, partitions, workers, kTracks, guard_after), src.w, src.h),
          "")
          << what << ", core with " << workers << " workers, guard " << (guard_after ? "after" : "before");
  EXPECT_EQ(testsupport::DiffPictures(want, Reference(src, partitions), src.w, src.h), "")
      << what << ", reference";
}

const deblock::Thresholds kT = deblock::ComputeThresholds(36, 4, 4);

TEST(DeblockDriver, EightByEightHasOneGridPoint) {
  const Plane src = Blocky(8, 8, 8, 1);
  Plane want = src;
  deblock::FilterHorizontalEdge_C(want.at(4, 4), 8, kT.alpha, kT.beta, kT.tc0);
  deblock::FilterVerticalEdge_C(want.at(4, 4), 8, kT.alpha, kT.beta, kT.tc0);
  ASSERT_NE(testsupport::DiffPictures(src.Picture(), want.Picture(), 8, 8), "")
      << "the test picture is not filtered";
  ExpectFrame(src, 1, want.Picture(), "8x8 T=1");
}

TEST(DeblockDriver, NoGridPointLeavesTheFrameAlone) {
  struct Size {
    int w, h, threads;
  };
  for (const Size s : {Size{4, 40, 1}, Size{4, 40, 3}, Size{3, 17, 2}, Size{1, 1, 1}, Size{1, 30, 7},
                       Size{40, 4, 1}, Size{40, 3, 1}, Size{40, 1, 1}, Size{2, 2, 1}}) {
    const Plane src = Blocky(s.w, s.h, s.w + 2, 2);
    ExpectFrame(src, s.threads, src.Picture(),
                std::to_string(s.w) + "x" + std::to_string(s.h) + " T=" + std::to_string(s.threads));
  }
}

TEST(DeblockDriver, H720WithFourWorkersEqualsOneWorker) {
  const Plane src = Blocky(36, 720, 40, 3);
  Plane want = src;
  FilterRows(want, 4, 716, kT);
  ExpectFrame(src, 1, want.Picture(), "h 720 T=1");
  ExpectFrame(src, 4, want.Picture(), "h 720 T=4");
}

TEST(DeblockDriver, H78WithFourWorkers) {
  // Band starts 0, 19, 39, 58; no segment reaches past the picture.
  const Plane src = Blocky(64, 78, 64, 4);
  Plane want = src;
  FilterRows(want, 4, 16, kT);
  FilterRows(want, 19, 35, kT);
  FilterRows(want, 39, 55, kT);
  FilterRows(want, 58, 74, kT);
  ExpectFrame(src, 4, want.Picture(), "h 78 T=4");
  EXPECT_NE(testsupport::DiffPictures(want.Picture(), Core(src, 1, 4), 64, 78), "")
      << "T=1 gives other edges";
}

TEST(DeblockDriver, H1080WithFourWorkers) {
  // Band starts 0, 270, 540, 810; the last grid row 1078 reaches rows 1080 and 1081: its horizontal
  // edge is left out, its vertical edges filter rows 1078 and 1079 only.
  const Plane src = Blocky(40, 1080, 41, 5);
  Plane want = src;
  FilterRows(want, 4, 268, kT);
  FilterRows(want, 270, 538, kT);
  FilterRows(want, 540, 808, kT);
  FilterRows(want, 810, 1074, kT);
  for (int x = 4; x < 40; x += 4)
    deblock::FilterVerticalEdges_C(want.at(x, 1078), want.stride, 1, 2, kT.alpha, kT.beta, kT.tc0);
  ExpectFrame(src, 4, want.Picture(), "h 1080 T=4");
}

TEST(DeblockDriver, BandsStartingAtRowsOneAndTwo) {
  {  // h 5, T 4: starts 0, 1, 2, 3; grid rows 1, 2, 3; no horizontal edge fits.
    const Plane src = Blocky(20, 5, 20, 6);
    Plane want = src;
    for (int y : {1, 2, 3})
      for (int x = 4; x < 20; x += 4)
        deblock::FilterVerticalEdges_C(want.at(x, y), 20, 1, 5 - y, kT.alpha, kT.beta, kT.tc0);
    ExpectFrame(src, 4, want.Picture(), "h 5 T=4");
  }
  {  // h 7, T 3: starts 0, 2, 4; grid rows 2 (vertical edges only) and 4.
    const Plane src = Blocky(22, 7, 25, 7);
    Plane want = src;
    FilterRows(want, 2, 2, kT);
    FilterRows(want, 4, 4, kT);
    ExpectFrame(src, 3, want.Picture(), "h 7 T=3");
  }
  {  // h 10, T 4: starts 0, 2, 5, 7.
    const Plane src = Blocky(19, 10, 19, 8);
    Plane want = src;
    for (int y : {2, 5, 7}) FilterRows(want, y, y, kT);
    ExpectFrame(src, 4, want.Picture(), "h 10 T=4");
  }
  {  // h 2, T 3: starts 0, 0, 1; one grid row at 1 with one row of vertical edges.
    const Plane src = Blocky(16, 2, 16, 9);
    Plane want = src;
    FilterRows(want, 1, 1, kT);
    ExpectFrame(src, 3, want.Picture(), "h 2 T=3");
  }
}

TEST(DeblockDriver, WidthsThatAreNotMultiplesOfFour) {
  for (int w : {5, 6, 7, 9, 10, 11, 13, 30, 31, 33, 130, 131}) {
    for (int h : {13, 16}) {
      const Plane src = Blocky(w, h, w + (w % 3), 10 + w);
      Plane want = src;
      FilterRows(want, 4, h - 1, kT);
      ExpectFrame(src, 1, want.Picture(), "w " + std::to_string(w) + " h " + std::to_string(h));
      Plane bands = src;
      FilterBands(bands, 2, kT);
      ExpectFrame(src, 2, bands.Picture(), "w " + std::to_string(w) + " h " + std::to_string(h) + " T=2");
    }
  }
}

TEST(DeblockDriver, ZeroThresholdsLeaveTheFrameWithoutStartingAWorker) {
  // quant up to 15 with offsets that keep one index at 15 or below: alpha or beta is 0.
  const Plane src = Blocky(64, 40, 64, 20);
  const core::Workers never = {
      [](const core::Workers*, core::WorkerTask, void*) { ADD_FAILURE() << "a worker was started"; }, nullptr,
      1};
  for (const deblock::DeblockParams p :
       {deblock::DeblockParams{0, 0, 0}, deblock::DeblockParams{15, 0, 0}, deblock::DeblockParams{10, 30, 0},
        deblock::DeblockParams{10, 0, 30}}) {
    Plane f = src;
    deblock::FilterFrame(deblock::DeblockDspFor(core::DetectCpuFlags()), p, {f.px.data(), f.w, f.h, f.stride},
                         1, never);
    EXPECT_EQ(testsupport::DiffPictures(src.Picture(), f.Picture(), f.w, f.h), "");
    Plane r = src;
    deblock::ReferenceFilterFrame(p, {r.px.data(), r.w, r.h, r.stride}, 1);
    EXPECT_EQ(testsupport::DiffPictures(src.Picture(), r.Picture(), r.w, r.h), "") << "the reference agrees";
  }
  // One index above 15 in both: the workers run and lines change.
  Plane f = src;
  core::WorkerPool pool(2, false);
  deblock::FilterFrame(deblock::DeblockDspFor(core::DetectCpuFlags()), {36, 4, 4},
                       {f.px.data(), f.w, f.h, f.stride}, 1, pool.workers());
  EXPECT_NE(testsupport::DiffPictures(src.Picture(), f.Picture(), f.w, f.h), "");
}

// ---- Differential: random frames, tracks and thread counts against the reference ----

struct Case {
  int w, h, stride, partitions, workers;
  int32_t tracks[3];
  Content content;
  bool serial;
};

std::string Describe(const Case& c) {
  return std::to_string(c.w) + "x" + std::to_string(c.h) + " stride " + std::to_string(c.stride) +
         " partitions " + std::to_string(c.partitions) + " workers " + std::to_string(c.workers) +
         (c.serial ? " serial" : "") + " tracks " + std::to_string(c.tracks[0]) + "," +
         std::to_string(c.tracks[1]) + "," + std::to_string(c.tracks[2]) + " content " +
         std::to_string(static_cast<int>(c.content));
}

// Two runs of the core (guard page after, then before the plane) against the reference.
std::string RunCase(const Case& c, uint64_t seed) {
  const Plane src = Blocky(c.w, c.h, c.stride, seed, c.content);
  const std::vector<YcPixel> want = Reference(src, c.partitions, c.tracks);
  for (bool guard_after : {true, false}) {
    GuardedFrame f(c.w, c.h, c.stride, guard_after);
    for (int y = 0; y < c.h; ++y)
      std::memcpy(&f.edit.at(0, y), src.px.data() + static_cast<size_t>(y) * c.stride, c.w * sizeof(YcPixel));
    if (auto e = deblocktest::RunCore(core::DetectCpuFlags(), f, c.tracks, c.partitions, c.workers, c.serial);
        !e.empty())
      return e;
    const auto got = testsupport::Picture(f.edit.data(), c.w, c.h, c.stride);
    if (auto d = testsupport::DiffPictures(want, got, c.w, c.h); !d.empty())
      return std::string("run with guard ") + (guard_after ? "after" : "before") + ": " + d;
  }
  return "";
}

const int kThreadCounts[] = {1, 2, 3, 4, 5, 7, 8, 16, 64};

Case RandomCase(Rng& rng, int iter) {
  Case c{};
  switch (iter % 6) {
    case 0: c.w = rng.Uniform(1, 12), c.h = rng.Uniform(1, 12); break;       // tiny
    case 1: c.w = rng.Uniform(1, 200), c.h = rng.Uniform(1, 150); break;     // small
    case 2: c.w = rng.Uniform(300, 1920), c.h = rng.Uniform(1, 40); break;   // wide and flat
    case 3: c.w = rng.Uniform(1, 40), c.h = rng.Uniform(100, 1080); break;   // narrow and tall
    case 4: c.w = rng.Uniform(150, 400), c.h = rng.Uniform(60, 200); break;  // many segments and rows
    default: c.w = rng.Uniform(5, 70), c.h = rng.Uniform(1, 30); break;
  }
  c.stride = c.w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 13));
  c.partitions = kThreadCounts[iter % 9];
  c.workers = kThreadCounts[(iter / 9 + 2 * iter) % 9];
  c.tracks[0] = rng.Uniform(0, 60);
  c.tracks[1] = rng.Uniform(0, 60);
  c.tracks[2] = rng.Uniform(0, 60);
  if (iter % 17 == 16) c.tracks[rng.Uniform(0, 2)] = rng.Uniform(-100, 200);  // what a host never sends
  const int content = rng.Uniform(0, 9);
  c.content = content < 7 ? Content::kBlocky : (content < 9 ? Content::kNearLimits : Content::kFullRange);
  c.serial = iter % 11 == 10;
  return c;
}

TEST(DeblockFrame, MatchesReferenceForAnyPartitionAndWorkerCount) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  for (int iter = 0; iter < 72; ++iter) {
    const Case c = RandomCase(rng, iter);
    ASSERT_EQ(RunCase(c, seed + iter), "") << Describe(c) << " seed " << seed << " iter " << iter;
  }
}

TEST(DeblockFrame, FullHdAtDefaults) {
  const uint32_t seed = testsupport::TestSeed();
  for (int T : {1, 4}) {
    Case c{1920, 1080, 1920 + 8 * T, T, 2, {25, 0, 0}, Content::kBlocky, false};
    EXPECT_EQ(RunCase(c, seed + T), "") << Describe(c);
  }
}

TEST(DeblockFrame, SerialWorkersGiveTheSameResult) {
  for (int T : {2, 5, 64}) {
    Case c{203, 97, 210, T, T, {30, 10, 5}, Content::kBlocky, true};
    EXPECT_EQ(RunCase(c, 12 + T), "") << Describe(c);
  }
}

}  // namespace
