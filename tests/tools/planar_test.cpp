// The planar conversions of whole frames against a plain reference, on random frames of odd sizes in
// every layout and depth, with canaries around what they write; the scalar row kernels, which every
// tier's must equal (the kernel checker: tests/kernels/planar_check.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/worker_pool.h"
#include "tests/support/test_support.h"
#include "tools/io/planar.h"

namespace {

using io::Chroma;
using io::PlanarLayout;

// ---- The reference: sample by sample, every stored level through the general rounding of a mean
// (floor division), as the conversions were first written.

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

struct Reference {
  const PlanarLayout& l;
  int scale() const { return l.ten_bit ? 4 : 16; }
  int zero() const { return l.ten_bit ? 512 : 128; }
  int max() const { return l.ten_bit ? 1023 : 255; }
  int sx() const { return l.chroma == Chroma::k444 ? 1 : 2; }
  int sy() const { return l.chroma == Chroma::k420 ? 2 : 1; }
  size_t cb0() const { return size_t(l.w) * l.h; }  // in samples
  size_t cr0() const { return cb0() + size_t(l.cw) * l.ch; }

  int Sample(const std::vector<uint8_t>& b, size_t i) const {
    return l.ten_bit ? std::min(b[2 * i] | b[2 * i + 1] << 8, 1023) : b[i];
  }
  void Put(std::vector<uint8_t>& b, size_t i, int v) const {
    if (!l.ten_bit) {
      b[i] = uint8_t(v);
    } else {
      b[2 * i] = uint8_t(v);
      b[2 * i + 1] = uint8_t(v >> 8);
    }
  }
  // The mean of n host samples summed in `sum`, rounded half up to a level (plus `offset`), clamped.
  int Level(int64_t sum, int n, int offset) const {
    return int(std::clamp<int64_t>(
        FloorDiv(2 * sum + int64_t(scale()) * n, 2 * int64_t(scale()) * n) + offset, 0, max()));
  }

  void Unpack(const std::vector<uint8_t>& planes, host::Frame& f) const {
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) {
        core::YcPixel& p = f.at(x, y);
        p.y = int16_t(Sample(planes, size_t(y) * l.w + x) * scale());
        p.cb = p.cr = 0;
        if (l.chroma == Chroma::kMono) continue;
        const size_t c = size_t(y / sy()) * l.cw + x / sx();
        p.cb = int16_t((Sample(planes, cb0() + c) - zero()) * scale());
        p.cr = int16_t((Sample(planes, cr0() + c) - zero()) * scale());
      }
  }

  std::vector<uint8_t> Pack(const host::Frame& f) const {
    std::vector<uint8_t> planes(l.FrameBytes());
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) Put(planes, size_t(y) * l.w + x, Level(f.at(x, y).y, 1, 0));
    if (l.chroma == Chroma::kMono) return planes;
    for (int cy = 0; cy < l.ch; ++cy)
      for (int cx = 0; cx < l.cw; ++cx) {
        int64_t cb = 0, cr = 0;
        int n = 0;
        for (int y = cy * sy(); y < std::min(l.h, cy * sy() + sy()); ++y)
          for (int x = cx * sx(); x < std::min(l.w, cx * sx() + sx()); ++x, ++n) {
            cb += f.at(x, y).cb;
            cr += f.at(x, y).cr;
          }
        Put(planes, cb0() + size_t(cy) * l.cw + cx, Level(cb, n, zero()));
        Put(planes, cr0() + size_t(cy) * l.cw + cx, Level(cr, n, zero()));
      }
    return planes;
  }
};

// ---- Inputs: extremes first, then random ones.

constexpr Chroma kLayouts[] = {Chroma::k420, Chroma::k422, Chroma::k444, Chroma::kMono};
const char* Name(Chroma c) {
  return c == Chroma::k420 ? "4:2:0" : c == Chroma::k422 ? "4:2:2" : c == Chroma::k444 ? "4:4:4" : "mono";
}

std::vector<std::pair<int, int>> Sizes(testsupport::Rng& rng) {
  std::vector<std::pair<int, int>> sizes;
  for (int w : {1, 2, 3, 7, 15, 16, 17, 31, 32, 33, 47, 63, 65})
    for (int h : {1, 2, 3, 5}) sizes.push_back({w, h});
  for (int i = 0; i < 4; ++i) sizes.push_back({rng.Uniform(66, 300), rng.Uniform(1, 9)});
  sizes.push_back({1921, 3});
  return sizes;
}

// Stored planes: kind 0 all zero bits, 1 all one bits, 2 alternating, else random. 10-bit words
// take every 16-bit value, those above 1023 included.
std::vector<uint8_t> Planes(const PlanarLayout& l, int kind, testsupport::Rng& rng) {
  std::vector<uint8_t> b(l.FrameBytes());
  for (size_t i = 0; i < b.size(); ++i)
    b[i] = kind == 0   ? 0
           : kind == 1 ? 0xFF
           : kind == 2 ? ((i / l.bytes) % 2 ? 0xFF : 0)
                       : uint8_t(rng.Next());
  if (l.ten_bit && kind > 2)  // mostly in range, so the rest of the arithmetic is seen too
    for (size_t i = 1; i < b.size(); i += 2)
      if (rng.Uniform(0, 3) != 0) b[i] &= 3;
  return b;
}

// Host samples: kind 0 all -32768, 1 all 32767, 2 alternating, 3 near the rounding points of the
// levels, else random over the whole range.
int16_t HostSample(int kind, size_t i, const PlanarLayout& l, testsupport::Rng& rng) {
  switch (kind) {
    case 0: return -32768;
    case 1: return 32767;
    case 2: return i % 2 ? 32767 : -32768;
    case 3: {
      const int scale = l.ten_bit ? 4 : 16;
      return int16_t(rng.Uniform(-600, 1200) * scale + scale / 2 + rng.Uniform(-2, 1));
    }
    default: return int16_t(rng.Uniform(-32768, 32767));
  }
}

constexpr core::YcPixel kCanary = {0x5A5A, -0x5A5B, 0x1234};
constexpr uint8_t kCanaryByte = 0xA5;
constexpr int kPad = 5;  // pixels of row padding, and bytes after the planes

bool IsCanary(const core::YcPixel& p) { return p.y == kCanary.y && p.cb == kCanary.cb && p.cr == kCanary.cr; }

// A frame whose rows are padded with canaries.
host::Frame PaddedFrame(int w, int h) {
  host::Frame f(w, h, w + kPad);
  std::fill(f.edit.begin(), f.edit.end(), kCanary);
  return f;
}

std::string PaddingDamage(const host::Frame& f) {
  for (int y = 0; y < f.h; ++y)
    for (int x = f.w; x < f.stride; ++x)
      if (!IsCanary(f.edit[size_t(y) * f.stride + x]))
        return "row padding written at " + std::to_string(x) + "," + std::to_string(y);
  return "";
}

std::string Label(const PlanarLayout& l, int kind) {
  return std::string(Name(l.chroma)) + (l.ten_bit ? " 10-bit " : " 8-bit ") + std::to_string(l.w) + "x" +
         std::to_string(l.h) + " input " + std::to_string(kind);
}

class PlanarTest : public ::testing::Test {
 protected:
  const io::PlanarDsp& dsp_ = io::PlanarDspFor(0);
};

// Every size, layout, depth and kind of input; stops at the first fatal failure.
template <class Fn>
void ForEachCase(testsupport::Rng& rng, const Fn& fn) {
  for (const auto& [w, h] : Sizes(rng))
    for (Chroma chroma : kLayouts)
      for (int depth : {8, 10})
        for (int kind = 0; kind < 6; ++kind) {
          fn(io::PlanarLayoutOf(w, h, chroma, depth), kind);
          if (::testing::Test::HasFatalFailure()) return;
        }
}

TEST_F(PlanarTest, PlanesToHostPixelsMatchTheReference) {
  const uint32_t seed = testsupport::TestSeed();
  testsupport::Rng rng(seed);
  ForEachCase(rng, [&](const PlanarLayout& l, int kind) {
    const int w = l.w, h = l.h;
    const std::vector<uint8_t> planes = Planes(l, kind, rng);
    host::Frame expected(w, h), actual = PaddedFrame(w, h);
    Reference{l}.Unpack(planes, expected);
    io::PlanesToFrame(dsp_, l, planes.data(), actual);
    ASSERT_EQ(PaddingDamage(actual), "") << Label(l, kind) << ", seed " << seed;
    ASSERT_EQ(testsupport::DiffPictures(testsupport::Picture(expected.edit.data(), w, h, w),
                                        testsupport::Picture(actual.edit.data(), w, h, actual.stride), w, h),
              "")
        << Label(l, kind) << ", seed " << seed;
  });
}

TEST_F(PlanarTest, HostPixelsToPlanesMatchTheReference) {
  const uint32_t seed = testsupport::TestSeed();
  testsupport::Rng rng(seed);
  ForEachCase(rng, [&](const PlanarLayout& l, int kind) {
    host::Frame f = PaddedFrame(l.w, l.h);
    size_t i = 0;
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x, i += 3)
        f.at(x, y) = {HostSample(kind, i, l, rng), HostSample(kind, i + 1, l, rng),
                      HostSample(kind, i + 2, l, rng)};
    const std::vector<uint8_t> expected = Reference{l}.Pack(f);
    std::vector<uint8_t> actual(l.FrameBytes() + kPad, kCanaryByte);
    io::FrameToPlanes(dsp_, l, f, actual.data());
    ASSERT_TRUE(std::all_of(actual.end() - kPad, actual.end(), [](uint8_t b) { return b == kCanaryByte; }))
        << "written past the planes: " << Label(l, kind) << ", seed " << seed;
    actual.resize(l.FrameBytes());
    const auto diff = std::mismatch(expected.begin(), expected.end(), actual.begin());
    ASSERT_TRUE(diff.first == expected.end())
        << Label(l, kind) << ": byte " << (diff.first - expected.begin()) << " of " << expected.size()
        << " is " << int(*diff.second) << ", not " << int(*diff.first) << " (luma plane " << l.LumaBytes()
        << " bytes, each chroma plane " << l.ChromaBytes() << "), seed " << seed;
  });
}

// Bands of rows on several workers give what one worker gives; 4:2:0 bands keep row pairs together.
TEST_F(PlanarTest, RowBandsOnWorkersGiveTheSameResult) {
  testsupport::Rng rng(testsupport::TestSeed());
  core::WorkerPool pool(3, false);
  for (const auto& [w, h] : {std::pair{33, 1}, {33, 2}, {17, 7}, {40, 9}, {65, 31}})
    for (Chroma chroma : kLayouts)
      for (int depth : {8, 10}) {
        const PlanarLayout l = io::PlanarLayoutOf(w, h, chroma, depth);
        const std::vector<uint8_t> planes = Planes(l, 5, rng);
        host::Frame one(w, h), three(w, h);
        io::PlanesToFrame(dsp_, l, planes.data(), one);
        io::PlanesToFrame(dsp_, l, planes.data(), three, pool.workers());
        ASSERT_EQ(std::memcmp(one.edit.data(), three.edit.data(), one.edit.size() * sizeof(core::YcPixel)), 0)
            << Label(l, 5);
        for (auto& p : one.edit) p.cb = int16_t(rng.Uniform(-32768, 32767));  // chroma varying inside blocks
        three.edit = one.edit;
        std::vector<uint8_t> a(l.FrameBytes()), b(l.FrameBytes());
        io::FrameToPlanes(dsp_, l, one, a.data());
        io::FrameToPlanes(dsp_, l, three, b.data(), pool.workers());
        ASSERT_TRUE(a == b) << Label(l, 5);
      }
}

TEST(PlanarLayout, PlaneSizesOfEachLayout) {
  const io::PlanarLayout a = io::PlanarLayoutOf(5, 3, Chroma::k420, 8);
  EXPECT_EQ(a.FrameBytes(), 15u + 2 * 3 * 2);
  const io::PlanarLayout b = io::PlanarLayoutOf(5, 3, Chroma::k422, 10);
  EXPECT_EQ(b.FrameBytes(), 2 * (15u + 2 * 3 * 3));
  EXPECT_EQ(io::PlanarLayoutOf(5, 3, Chroma::k444, 8).FrameBytes(), 45u);
  EXPECT_EQ(io::PlanarLayoutOf(5, 3, Chroma::kMono, 10).FrameBytes(), 30u);
}

}  // namespace
