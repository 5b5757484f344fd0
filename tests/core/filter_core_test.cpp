// Every built-in filter core against what its record promises a host: names given once,
// values outside their ranges taken as the nearer end, partition counts below 1 taken as 1, and the
// scratch plane left alone by a core that says it takes none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/track_values.h"
#include "core/worker_pool.h"
#include "host/frame.h"
#include "tests/support/test_support.h"
#include "tools/filters/builtin_filters.h"

namespace {

using testsupport::Rng;

// A blocky picture, whose edges every filter acts on. 62 rows, so that bands for three partitions
// (rows 0, 20, 41) start off the grid of one.
host::Frame Blocky(uint64_t seed) {
  host::Frame f(45, 62);
  Rng rng(seed);
  testsupport::FillPicture(f.EditPlane(), rng);
  for (core::YcPixel& p : f.temp) p = {1, 2, 3};
  return f;
}

std::string Diff(const host::Frame& want, const host::Frame& got) {
  return testsupport::DiffPictures(testsupport::Picture(want.edit.data(), want.w, want.h, want.stride),
                                   testsupport::Picture(got.edit.data(), got.w, got.h, got.stride), want.w,
                                   want.h);
}

// The core's kernels of this CPU with `partitions` on three workers.
host::Frame Filter(const core::FilterCore& c, const host::Frame& in, const std::vector<int32_t>& tracks,
                   int32_t partitions) {
  host::Frame f = in;
  core::WorkerPool pool(3, false);
  c.filter(core::DetectCpuFlags(), tracks.data(), f.EditPlane(), f.TempPlane(), partitions, pool.workers());
  return f;
}

host::Frame Reference(const core::FilterCore& c, const host::Frame& in, const std::vector<int32_t>& tracks,
                      int32_t partitions) {
  host::Frame f = in;
  c.reference(tracks.data(), f.EditPlane(), partitions);
  return f;
}

// Hosts find filters and tracks by name (each track's own soundness is proven where its list is
// declared, at compile time).
TEST(FilterCores, NameFiltersAndTracksOnce) {
  std::set<std::string> names;
  for (const core::FilterCore* c : tools::BuiltinFilters()) {
    EXPECT_TRUE(names.insert(c->name).second) << "two filters named " << c->name;
    std::set<std::string> tracks;
    for (int32_t i = 0; i < c->track_count; ++i)
      EXPECT_TRUE(tracks.insert(c->tracks[i].name).second)
          << c->name << ": two tracks named " << c->tracks[i].name;
  }
}

TEST(FilterCores, TakeValuesOutsideTheRangesAsTheNearerEnd) {
  for (const core::FilterCore* c : tools::BuiltinFilters()) {
    SCOPED_TRACE(c->name);
    const host::Frame in = Blocky(7);
    // Each track below its range and above it, the others at their defaults.
    for (int32_t i = 0; i < c->track_count; ++i)
      for (const int64_t past : {int64_t{-1}, int64_t{1}}) {
        std::vector<int32_t> wild = core::DefaultTrackValues(*c), ends = wild;
        const core::Track& t = c->tracks[i];
        wild[i] = past < 0 ? t.min - 1000 : t.max + 1000;
        ends[i] = past < 0 ? t.min : t.max;
        EXPECT_EQ(Diff(Reference(*c, in, ends, 2), Filter(*c, in, wild, 2)), "") << t.name << " " << wild[i];
        EXPECT_EQ(Diff(Reference(*c, in, ends, 2), Reference(*c, in, wild, 2)), "")
            << t.name << " " << wild[i];
      }
  }
}

TEST(FilterCores, TakePartitionCountsBelowOneAsOne) {
  for (const core::FilterCore* c : tools::BuiltinFilters()) {
    SCOPED_TRACE(c->name);
    const host::Frame in = Blocky(11);
    const std::vector<int32_t> tracks = core::DefaultTrackValues(*c);
    const host::Frame one = Reference(*c, in, tracks, 1);
    EXPECT_NE(Diff(in, one), "") << "the picture is left as it was";
    for (const int32_t partitions : {0, -3}) {
      EXPECT_EQ(Diff(one, Filter(*c, in, tracks, partitions)), "") << "partitions " << partitions;
      EXPECT_EQ(Diff(one, Reference(*c, in, tracks, partitions)), "") << "partitions " << partitions;
    }
    if (!c->needs_temp) {
      const host::Frame out = Filter(*c, in, tracks, 1);
      EXPECT_EQ(std::memcmp(out.temp.data(), in.temp.data(), in.temp.size() * sizeof(core::YcPixel)), 0)
          << "the scratch plane changed";
    }
  }
}

}  // namespace
