// Every built-in filter core against what its record promises a host: names given once,
// values outside their ranges taken as the nearer end, partition counts below 1 taken as 1, and the
// scratch plane left alone by a core that says it takes none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/picture.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::Rng;

// A blocky picture, whose edges every filter acts on. 62 rows, so that bands for three partitions
// (rows 0, 20, 41) start off the grid of one.
core::Picture Blocky(uint64_t seed) {
  core::Picture f(45, 62);
  Rng rng(seed);
  testsupport::FillPicture(f.plane(), rng);
  return f;
}

std::string Diff(const core::Picture& want, const core::Picture& got) {
  return testsupport::DiffPictures(testsupport::Picture(want.pixels.data(), want.w, want.h, want.stride),
                                   testsupport::Picture(got.pixels.data(), got.w, got.h, got.stride), want.w,
                                   want.h);
}

// The core's kernels of this CPU with `partitions` on three workers, as hosts run it: a filter that
// says it needs no scratch plane gets an empty one.
core::Picture Filter(const core::FilterCore& c, const core::Picture& in, const std::vector<int32_t>& tracks,
                     int32_t partitions) {
  core::Picture f = in;
  core::WorkerPool pool(3, false);
  std::vector<core::YcPixel> scratch;
  core::FilterPicture(c, core::DetectCpuFlags(), tracks.data(), f, scratch, partitions, pool.workers());
  return f;
}

core::Picture Reference(const core::FilterCore& c, const core::Picture& in,
                        const std::vector<int32_t>& tracks, int32_t partitions) {
  core::Picture f = in;
  c.reference(tracks.data(), f.plane(), partitions);
  return f;
}

// Hosts find filters and tracks by name (each track's own soundness is proven where its list is
// declared, at compile time).
TEST(FilterCores, NameFiltersAndTracksOnce) {
  std::set<std::string> names;
  for (const core::FilterCore* c : hostkit::BuiltinFilters()) {
    EXPECT_TRUE(names.insert(c->name).second) << "two filters named " << c->name;
    std::set<std::string> tracks;
    for (int32_t i = 0; i < c->track_count; ++i)
      EXPECT_TRUE(tracks.insert(c->tracks[i].name).second)
          << c->name << ": two tracks named " << c->tracks[i].name;
  }
}

TEST(FilterCores, TakeValuesOutsideTheRangesAsTheNearerEnd) {
  for (const core::FilterCore* c : hostkit::BuiltinFilters()) {
    SCOPED_TRACE(c->name);
    const core::Picture in = Blocky(7);
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
  for (const core::FilterCore* c : hostkit::BuiltinFilters()) {
    SCOPED_TRACE(c->name);
    const core::Picture in = Blocky(11);
    const std::vector<int32_t> tracks = core::DefaultTrackValues(*c);
    const core::Picture one = Reference(*c, in, tracks, 1);
    EXPECT_NE(Diff(in, one), "") << "the picture is left as it was";
    for (const int32_t partitions : {0, -3}) {
      EXPECT_EQ(Diff(one, Filter(*c, in, tracks, partitions)), "") << "partitions " << partitions;
      EXPECT_EQ(Diff(one, Reference(*c, in, tracks, partitions)), "") << "partitions " << partitions;
    }
  }
}

}  // namespace
