// Every built-in filter at every tier this CPU runs, against its scalar reference on the calling
// thread, bit for bit: frames of many shapes (1x1, single rows and columns, around the block grids
// and the vector widths, bands of a few rows, wider than full HD, a crop of a photograph) split into
// 1, 2, 3 or 8 partitions that other numbers of workers compute, in planes against inaccessible
// pages; and RGBA images of 8 and 16 bits a channel, against the image converted with the scalar
// conversion, filtered by the reference and converted back, alpha untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"
#include "tests/support/test_support.h"
#ifdef AUF_PHOTO
#include "tools/io/frame_io.h"
#endif

namespace {

using core::YcPixel;
using testsupport::Rng;

constexpr int kCounts[] = {1, 2, 3, 8};

// The tiers this CPU runs, the scalar one first.
std::vector<core::CpuTier> Tiers() {
  std::vector<core::CpuTier> tiers;
  for (const core::CpuTier& t : core::kCpuTiers)
    if (core::CpuHasTier(t)) tiers.push_back(t);
  return tiers;
}

// Track values for case i: the defaults, every track at its maximum, at its minimum, random, or
// random in the upper two thirds of its range (where every filter acts).
std::vector<int32_t> Tracks(const core::FilterCore& c, int i, Rng& rng) {
  std::vector<int32_t> v = core::DefaultTrackValues(c);
  for (int32_t k = 0; k < c.track_count && i % 5 != 0; ++k) {
    const core::Track& t = c.tracks[k];
    v[k] = i % 5 == 1   ? t.max
           : i % 5 == 2 ? t.min
           : i % 5 == 3 ? rng.Uniform(t.min, t.max)
                        : rng.Uniform(t.min + (t.max - t.min) / 3, t.max);
  }
  return v;
}

using testsupport::Content, testsupport::kContents;

std::vector<YcPixel> Picture(int w, int h, Content content, Rng& rng) {
  std::vector<YcPixel> pic(static_cast<size_t>(w) * h);
  testsupport::FillPicture({pic.data(), w, h, w}, rng, content);
  return pic;
}

#ifdef AUF_PHOTO
// w x h pixels of a photograph from (101, 77), off every block grid.
std::vector<YcPixel> Photo(int w, int h) {
  std::ifstream in(AUF_PHOTO, std::ios::binary);
  io::ReaderOptions options;
  options.cpu = 0;
  core::Picture f;
  const bool read = io::OpenReader(io::Format::kPng, in, AUF_PHOTO, options)->Read(f);
  EXPECT_TRUE(read && f.w >= 101 + w && f.h >= 77 + h) << AUF_PHOTO;
  std::vector<YcPixel> pic(static_cast<size_t>(w) * h);
  for (int y = 0; y < h && read; ++y)
    for (int x = 0; x < w; ++x) pic[static_cast<size_t>(y) * w + x] = f.at(101 + x, 77 + y);
  return pic;
}
#endif

struct Shape {
  int w, h;
};

// "" when every tier, `partitions` computed by a few worker counts, gives the reference's result.
std::string CheckTiers(const core::FilterCore& c, const std::vector<YcPixel>& pic, int w, int h, int stride,
                       const std::vector<int32_t>& tracks, int32_t partitions, int i) {
  std::vector<YcPixel> want(static_cast<size_t>(stride) * h);
  for (int y = 0; y < h; ++y)
    std::copy_n(&pic[static_cast<size_t>(y) * w], w, &want[static_cast<size_t>(y) * stride]);
  c.reference(tracks.data(), {want.data(), w, h, stride}, partitions);
  const std::vector<core::CpuTier> tiers = Tiers();
  for (size_t j = 0; j < tiers.size(); ++j) {
    testsupport::GuardedFrame f(w, h, stride, (i + j) % 2 == 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        f.edit.at(x, y) = pic[static_cast<size_t>(y) * w + x];
        f.temp.at(x, y) = {static_cast<int16_t>(x * y), static_cast<int16_t>(x - y), 3};
      }
    const int workers = kCounts[(i + j + 1) % 4];
    core::WorkerPool pool(workers, false);
    c.filter(tiers[j].flags, tracks.data(), f.EditPlane(), f.TempPlane(), partitions, pool.workers());
    std::string diff = f.edit.CheckCanaries() + f.temp.CheckCanaries();
    if (diff.empty())
      diff = testsupport::DiffPictures(testsupport::Picture(want.data(), w, h, stride),
                                       testsupport::Picture(f.edit.data(), w, h, stride), w, h);
    if (!diff.empty())
      return std::string("tier ") + tiers[j].name + ", " + std::to_string(workers) + " workers: " + diff;
  }
  return "";
}

TEST(FilterTiers, FramesOfEveryShapeGiveTheReference) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  std::vector<Shape> shapes = {{1, 1},   {1, 9},   {13, 1},   {3, 5},    {8, 8},
                               {9, 9},   {16, 12}, {17, 17},  {31, 23},  {33, 40},
                               {64, 19}, {70, 75}, {129, 33}, {25, 150}, {1921, 9}};
  for (int k = 0; k < 4; ++k) shapes.push_back({rng.Uniform(1, 200), rng.Uniform(1, 100)});
  for (const core::FilterCore* c : hostkit::BuiltinFilters()) {
    for (size_t i = 0; i < shapes.size(); ++i) {
      const auto [w, h] = shapes[i];
      const int stride = w + (i % 3 == 0 ? 0 : rng.Uniform(1, 7));
      const Content content = static_cast<Content>(i % kContents);
      const std::vector<int32_t> tracks = Tracks(*c, static_cast<int>(i), rng);
      const int32_t partitions = kCounts[i % 4];
      ASSERT_EQ(CheckTiers(*c, Picture(w, h, content, rng), w, h, stride, tracks, partitions, i), "")
          << c->name << ", " << w << "x" << h << " stride " << stride << ", picture kind "
          << static_cast<int>(content) << ", tracks " << testing::PrintToString(tracks) << ", " << partitions
          << " partitions, seed " << seed;
    }
#ifdef AUF_PHOTO
    const std::vector<int32_t> tracks = core::DefaultTrackValues(*c);
    ASSERT_EQ(CheckTiers(*c, Photo(187, 133), 187, 133, 190, tracks, 3, 0), "")
        << c->name << ", the photograph";
#endif
  }
}

// Images of 8-bit (T = uint8_t) or 16-bit (uint16_t) pixels through every tier of every filter that
// takes them as they are, against the reference on the scalar conversion of the image.
template <class T>
void CheckRgbaImages(const char* depth) {
  const uint32_t seed = testsupport::TestSeed();
  Rng rng(seed);
  const bool deep = sizeof(T) == 2;
  const int scale = deep ? 257 : 1;                     // a level in the pixels' units
  const int widths[] = {1, 9, 17, 255, 256, 257, 300};  // around the conversion's chunks of 256 pixels
  const std::vector<core::CpuTier> tiers = Tiers();
  for (const core::FilterCore* c : hostkit::BuiltinFilters()) {
    if (!c->filter_rgba) continue;
    int changed = 0;
    const int images = 16;
    for (int i = 0; i < images; ++i) {
      // Short images, taller ones, and (in one partition) ones tall enough that a filter working
      // through a ring of sample rows reuses its rows many times over; last, tall ones 4 pixels wide
      // (no grid column) and at every track's minimum.
      const bool last = i + 2 >= images;
      const int w = i + 2 == images ? 4 : widths[i % 7];
      const int h = last         ? rng.Uniform(200, 400)
                    : i % 3 == 0 ? rng.Uniform(1, 12)
                    : i % 3 == 1 ? rng.Uniform(13, 140)
                                 : rng.Uniform(128, 400);
      const int32_t partitions = last || i % 3 == 2 ? 1 : kCounts[i % 4];
      const std::vector<int32_t> tracks = Tracks(*c, i + 1 == images ? 2 : i % 3 == 0 ? 0 : 4, rng);
      const size_t n = static_cast<size_t>(w) * h;
      // 4x4 blocks of levels across the range with noise (at 16 bits, of a fraction of a level too),
      // so that the filters change them; random alpha.
      std::vector<T> image(4 * n);
      for (size_t p = 0; p < n; ++p) {
        const int level = 16 + 8 * static_cast<int>((p % w / 4 * 7 + p / w / 4 * 3) % 27);
        for (int k = 0; k < 3; ++k)
          image[4 * p + k] = static_cast<T>(scale * (level + 10 * k) + rng.Uniform(-10 * scale, 10 * scale));
        image[4 * p + 3] = static_cast<T>(rng.Next());
      }
      // Where the settings change nothing, the image may be left as it is: it must be.
      const bool untouched = c->changes_nothing != nullptr && c->changes_nothing(tracks.data());
      const std::vector<T> want =
          untouched ? image : testsupport::ThroughSamples(image, w, h, [&](const core::Plane& p) {
            c->reference(tracks.data(), p, partitions);
          });
      changed += want != image;
      for (size_t j = 0; j < tiers.size(); ++j) {
        std::vector<T> got = image;
        std::vector<YcPixel> temp(n);
        const int workers = 1 + (i + j) % 3;
        core::WorkerPool pool(workers, false);
        c->filter_rgba(tiers[j].flags, tracks.data(), {got.data(), w, h, deep}, {temp.data(), w, h, w},
                       partitions, pool.workers());
        ASSERT_TRUE(got == want) << c->name << ", " << depth << ", tier " << tiers[j].name << ", " << w << "x"
                                 << h << ", " << partitions << " partitions, " << workers << " workers, seed "
                                 << seed;
      }
    }
    EXPECT_GT(changed, images / 2) << c->name << ", " << depth << ": the images should mostly change";
  }
}

TEST(FilterTiers, RgbaImagesGiveTheReferenceOfTheirConvertedPictures) { CheckRgbaImages<uint8_t>("8 bits"); }

TEST(FilterTiers, Pa64ImagesGiveTheReferenceOfTheirConvertedPictures) {
  CheckRgbaImages<uint16_t>("16 bits");
}

}  // namespace
