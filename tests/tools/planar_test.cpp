// The planar conversions of whole frames against a plain reference, on random frames of odd sizes in
// every layout and depth, with canaries around what they write; the scalar row kernels, which every
// tier's must equal (the kernel checker: tests/kernels/planar_check.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/worker_pool.h"
#include "hostkit/planar.h"
#include "tests/support/test_support.h"

namespace {

using io::Chroma;
using io::PlanarLayout;

// ---- The reference: sample by sample, every stored level through the general rounding of a mean
// (floor division), as the conversions were first written. A level is 16 / d host units, d = 1, 4,
// 16, 256 for 8, 10, 12 and 16 bits.

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A layout of the tests: its chroma, depth, and whether Cb and Cr lie in pairs.
struct Form {
  Chroma chroma;
  int depth;
  bool pairs = false;
};

std::vector<Form> Forms() {
  std::vector<Form> forms;
  for (Chroma chroma : {Chroma::k420, Chroma::k422, Chroma::k444, Chroma::kMono})
    for (int depth : {8, 10, 12}) forms.push_back({chroma, depth});
  forms.insert(forms.end(), {{Chroma::kMono, 16}, {Chroma::k420, 8, true}, {Chroma::k420, 10, true}});
  return forms;
}

int DepthOf(const PlanarLayout& l) {
  return l.depth == io::kDepth8 ? 8 : l.depth == io::kDepth10 ? 10 : l.depth == io::kDepth12 ? 12 : 16;
}

struct Reference {
  const PlanarLayout& l;
  int bits() const { return DepthOf(l); }
  int64_t d() const { return int64_t{1} << (bits() - 8); }
  int zero() const { return 1 << (bits() - 1); }
  int max() const { return (1 << bits()) - 1; }
  int sx() const { return l.chroma == Chroma::k444 ? 1 : 2; }
  int sy() const { return l.chroma == Chroma::k420 ? 2 : 1; }
  size_t cb0() const { return size_t(l.w) * l.h; }  // in samples
  // Chroma sample c of component k (0 Cb, 1 Cr), in samples.
  size_t At(size_t c, int k) const {
    return l.pairs ? cb0() + 2 * c + k : cb0() + k * size_t(l.cw) * l.ch + c;
  }

  int Sample(const std::vector<uint8_t>& b, size_t i) const {
    if (l.bytes == 1) return b[i];
    const int word = b[2 * i] | b[2 * i + 1] << 8;
    return l.pairs ? word >> 6 : std::min(word, max());
  }
  void Put(std::vector<uint8_t>& b, size_t i, int v) const {
    if (l.bytes == 1) {
      b[i] = uint8_t(v);
      return;
    }
    if (l.pairs) v <<= 6;
    b[2 * i] = uint8_t(v);
    b[2 * i + 1] = uint8_t(v >> 8);
  }
  // A level in host units, rounded half up.
  int16_t Host(int level) const { return int16_t(FloorDiv(32 * int64_t{level} + d(), 2 * d())); }
  // The mean of n host samples summed in `sum`, rounded half up to a level (plus `offset`), clamped.
  int Level(int64_t sum, int n, int offset) const {
    return int(std::clamp<int64_t>(FloorDiv(2 * sum * d() + 16 * n, 32 * int64_t{n}) + offset, 0, max()));
  }

  void Unpack(const std::vector<uint8_t>& planes, core::Picture& f) const {
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) {
        core::YcPixel& p = f.at(x, y);
        p.y = Host(Sample(planes, size_t(y) * l.w + x));
        p.cb = p.cr = 0;
        if (l.chroma == Chroma::kMono) continue;
        const size_t c = size_t(y / sy()) * l.cw + x / sx();
        p.cb = int16_t(Host(Sample(planes, At(c, 0))) - Host(zero()));
        p.cr = int16_t(Host(Sample(planes, At(c, 1))) - Host(zero()));
      }
  }

  std::vector<uint8_t> Pack(const core::Picture& f) const {
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
        const size_t c = size_t(cy) * l.cw + cx;
        Put(planes, At(c, 0), Level(cb, n, zero()));
        Put(planes, At(c, 1), Level(cr, n, zero()));
      }
    return planes;
  }
};

// ---- Inputs: extremes first, then random ones.

std::vector<std::pair<int, int>> Sizes(testsupport::Rng& rng) {
  std::vector<std::pair<int, int>> sizes;
  for (int w : {1, 2, 3, 7, 15, 16, 17, 31, 32, 33, 47, 63, 65})
    for (int h : {1, 2, 3, 5}) sizes.push_back({w, h});
  for (int i = 0; i < 4; ++i) sizes.push_back({rng.Uniform(66, 300), rng.Uniform(1, 9)});
  sizes.push_back({1921, 3});
  return sizes;
}

// Stored planes: kind 0 all zero bits, 1 all one bits, 2 alternating, else random. Words take every
// 16-bit value, those above the largest level included; random 10- and 12-bit planes' mostly in
// range, so the rest of the arithmetic is seen too.
std::vector<uint8_t> Planes(const PlanarLayout& l, int kind, testsupport::Rng& rng) {
  std::vector<uint8_t> b(l.FrameBytes());
  for (size_t i = 0; i < b.size(); ++i)
    b[i] = kind == 0   ? 0
           : kind == 1 ? 0xFF
           : kind == 2 ? ((i / l.bytes) % 2 ? 0xFF : 0)
                       : uint8_t(rng.Next());
  if ((l.depth == io::kDepth10 || l.depth == io::kDepth12) && !l.pairs && kind > 2)
    for (size_t i = 1; i < b.size(); i += 2)
      if (rng.Uniform(0, 3) != 0) b[i] &= l.depth == io::kDepth10 ? 3 : 15;
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
      const int scale = 16 >> (DepthOf(l) - 8);
      return int16_t(rng.Uniform(-600, 1200) * std::max(scale, 1) + scale / 2 + rng.Uniform(-2, 1));
    }
    default: return int16_t(rng.Uniform(-32768, 32767));
  }
}

constexpr core::YcPixel kCanary = {0x5A5A, -0x5A5B, 0x1234};
constexpr uint8_t kCanaryByte = 0xA5;
constexpr int kPad = 5;  // pixels of row padding, and bytes after the planes

bool IsCanary(const core::YcPixel& p) { return p.y == kCanary.y && p.cb == kCanary.cb && p.cr == kCanary.cr; }

// A frame whose rows are padded with canaries.
core::Picture PaddedFrame(int w, int h) {
  core::Picture f(w, h, w + kPad);
  std::fill(f.pixels.begin(), f.pixels.end(), kCanary);
  return f;
}

std::string PaddingDamage(const core::Picture& f) {
  for (int y = 0; y < f.h; ++y)
    for (int x = f.w; x < f.stride; ++x)
      if (!IsCanary(f.pixels[size_t(y) * f.stride + x]))
        return "row padding written at " + std::to_string(x) + "," + std::to_string(y);
  return "";
}

const char* Name(Chroma c) {
  return c == Chroma::k420 ? "4:2:0" : c == Chroma::k422 ? "4:2:2" : c == Chroma::k444 ? "4:4:4" : "mono";
}

std::string Label(const PlanarLayout& l, int kind) {
  return std::string(Name(l.chroma)) + (l.pairs ? " pairs " : " ") + std::to_string(DepthOf(l)) + "-bit " +
         std::to_string(l.w) + "x" + std::to_string(l.h) + " input " + std::to_string(kind);
}

class PlanarTest : public ::testing::Test {
 protected:
  const io::PlanarDsp& dsp_ = io::PlanarDspFor(0);
};

// Every size, layout and kind of input; stops at the first fatal failure.
template <class Fn>
void ForEachCase(testsupport::Rng& rng, const Fn& fn) {
  for (const auto& [w, h] : Sizes(rng))
    for (const Form& form : Forms())
      for (int kind = 0; kind < 6; ++kind) {
        fn(io::PlanarLayoutOf(w, h, form.chroma, form.depth, form.pairs), kind);
        if (::testing::Test::HasFatalFailure()) return;
      }
}

TEST_F(PlanarTest, PlanesToHostPixelsMatchTheReference) {
  const uint32_t seed = testsupport::TestSeed();
  testsupport::Rng rng(seed);
  ForEachCase(rng, [&](const PlanarLayout& l, int kind) {
    const int w = l.w, h = l.h;
    const std::vector<uint8_t> planes = Planes(l, kind, rng);
    core::Picture expected(w, h), actual = PaddedFrame(w, h);
    Reference{l}.Unpack(planes, expected);
    io::PlanesToFrame(dsp_, l, planes.data(), actual);
    ASSERT_EQ(PaddingDamage(actual), "") << Label(l, kind) << ", seed " << seed;
    ASSERT_EQ(
        testsupport::DiffPictures(testsupport::Picture(expected.pixels.data(), w, h, w),
                                  testsupport::Picture(actual.pixels.data(), w, h, actual.stride), w, h),
        "")
        << Label(l, kind) << ", seed " << seed;
  });
}

TEST_F(PlanarTest, HostPixelsToPlanesMatchTheReference) {
  const uint32_t seed = testsupport::TestSeed();
  testsupport::Rng rng(seed);
  ForEachCase(rng, [&](const PlanarLayout& l, int kind) {
    core::Picture f = PaddedFrame(l.w, l.h);
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
    for (const Form& form : Forms()) {
      const PlanarLayout l = io::PlanarLayoutOf(w, h, form.chroma, form.depth, form.pairs);
      const std::vector<uint8_t> planes = Planes(l, 5, rng);
      core::Picture one(w, h), three(w, h);
      io::PlanesToFrame(dsp_, l, planes.data(), one);
      io::PlanesToFrame(dsp_, l, planes.data(), three, pool.workers());
      ASSERT_EQ(
          std::memcmp(one.pixels.data(), three.pixels.data(), one.pixels.size() * sizeof(core::YcPixel)), 0)
          << Label(l, 5);
      for (auto& p : one.pixels) p.cb = int16_t(rng.Uniform(-32768, 32767));  // chroma varying inside blocks
      three.pixels = one.pixels;
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
  EXPECT_EQ(io::PlanarLayoutOf(5, 3, Chroma::kMono, 16).FrameBytes(), 30u);

  // Pairs: one plane of the 3x2 pairs, each row of them 6 samples, Cr a sample after Cb.
  const io::PlanarLayout p = io::PlanarLayoutOf(5, 3, Chroma::k420, 10, true);
  std::vector<uint8_t> planes(p.FrameBytes());
  EXPECT_EQ(planes.size(), 2 * (15u + 2 * 3 * 2));
  const io::PlanarRows rows = io::PackedRows(p, planes.data());
  EXPECT_EQ(rows.first[1] - planes.data(), 30);
  EXPECT_EQ(rows.first[2] - rows.first[1], 2);
  EXPECT_EQ(rows.stride[1], 12);
  EXPECT_EQ(rows.stride[2], 12);

  // Layouts without conversions are refused, not handed empty kernels.
  EXPECT_THROW(io::PlanarLayoutOf(5, 3, Chroma::k420, 16), std::invalid_argument);
  EXPECT_THROW(io::PlanarLayoutOf(5, 3, Chroma::k420, 9), std::invalid_argument);
  EXPECT_THROW(io::PlanarLayoutOf(5, 3, Chroma::k420, 12, true), std::invalid_argument);
  EXPECT_THROW(io::PlanarLayoutOf(5, 3, Chroma::k422, 8, true), std::invalid_argument);
}

}  // namespace
