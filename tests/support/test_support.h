#pragma once
// Test helpers: a seeded random source and frames whose planes sit against inaccessible pages with
// canaries in the row padding, so a stray read or write outside the picture fails the test.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host_abi.h"

namespace testsupport {

// The seed of a test run: AUF_TEST_SEED from the environment, else a fixed value. Print it on failure.
uint32_t TestSeed();

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi].
  int32_t Uniform(int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(Next() % static_cast<uint64_t>(int64_t{hi} - lo + 1));
  }

 private:
  uint64_t state_;
};

// n bytes in a mapping of their own, against an inaccessible page: right after the last byte
// (offset < 0), or `offset` bytes after the page before them. Every other byte of their pages holds
// a canary.
class GuardedBytes {
 public:
  GuardedBytes(size_t n, int offset);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  uint8_t* data() const { return data_; }
  // Empty when every canary is intact, else where the first damaged one lies.
  std::string CheckCanaries() const;

 private:
  void* mapping_ = nullptr;
  size_t mapping_size_ = 0, n_;
  uint8_t* body_ = nullptr;  // the accessible pages
  size_t body_size_ = 0;
  uint8_t* data_ = nullptr;
};

// One plane of YcPixel against an inaccessible page: with `guard_after` its last byte is the last
// before the page; otherwise its first byte follows one. Row padding (columns w .. stride - 1) and the
// rest of the pages hold canaries.
class GuardedPlane {
 public:
  GuardedPlane(int w, int h, int stride, bool guard_after)
      : bytes_(static_cast<size_t>(stride) * h * sizeof(core::YcPixel), guard_after ? -1 : 0),
        w_(w),
        h_(h),
        stride_(stride) {}

  core::YcPixel* data() { return reinterpret_cast<core::YcPixel*>(bytes_.data()); }
  core::YcPixel& at(int x, int y) { return data()[static_cast<size_t>(y) * stride_ + x]; }
  // Empty when every canary is intact, else a description of the first damaged one.
  std::string CheckCanaries() const;

 private:
  GuardedBytes bytes_;
  int w_, h_, stride_;
};

// A frame of two guarded planes.
struct GuardedFrame {
  GuardedFrame(int w, int h, int stride, bool guard_after)
      : w(w), h(h), stride(stride), edit(w, h, stride, guard_after), temp(w, h, stride, !guard_after) {}
  core::Plane EditPlane() { return {edit.data(), w, h, stride}; }
  core::Plane TempPlane() { return {temp.data(), w, h, stride}; }
  host::FrameInfo Info() {
    host::FrameInfo fi{};
    fi.edit = edit.data();
    fi.temp = temp.data();
    fi.w = w;
    fi.h = h;
    fi.stride = stride;
    return fi;
  }
  int w, h, stride;
  GuardedPlane edit;
  GuardedPlane temp;
};

// A track bar as a filter record declares it.
struct ExpectedTrack {
  const char* name;
  int32_t def, min, max;
};

// "" when `t` is exactly a plug-in's own record: flags 0x00040000, the name and a separate copy of it
// as information, these track bars, a processing function, and every other word zero (the track
// values and host functions words included: the host fills those). Else what differs.
std::string RecordMismatch(const host::FilterTable* t, const char* name,
                           const std::vector<ExpectedTrack>& tracks);

// What a test picture holds. Blocky: smooth luma in the host range with a step at every 4x4 block and
// a little noise, so that most edge lines pass deblock's tests at middling thresholds and velour
// changes most pixels; chroma the same around 0. Noise: any luma of the range, any colour difference.
// Full range: any int16. Near limits: 4x4 blocks close to +32767 and -32768, where sums saturate and
// stored results wrap. Mixed: 8x8 blocks of which about one in three takes any int16, the others
// blocky (both of velour's block paths side by side).
enum class Content { kBlocky, kNoise, kFullRange, kNearLimits, kMixed };
inline constexpr int kContents = 5;

// Fills the w x h picture of `plane` with `content`; the same for the same random state.
void FillPicture(const core::Plane& plane, Rng& rng, Content content = Content::kBlocky);

// Copies the w x h picture of one plane into a dense vector (row-major).
std::vector<core::YcPixel> Picture(const core::YcPixel* plane, int w, int h, int stride);

// What a filter on 8-bit RGBA pixels must give: the w x h image converted to samples with the scalar
// conversion, `filter` applied to that plane, and converted back, every alpha byte as it was.
std::vector<uint8_t> ThroughSamples(const std::vector<uint8_t>& rgba, int w, int h,
                                    const std::function<void(const core::Plane&)>& filter);
// The same for 16-bit RGBA pixels (PA64): the scalar Pa64ToYc and YcToPa64, alpha words kept.
std::vector<uint16_t> ThroughSamples(const std::vector<uint16_t>& pa64, int w, int h,
                                     const std::function<void(const core::Plane&)>& filter);

// "" when equal; else the first mismatch and a small map of where the pictures differ.
std::string DiffPictures(const std::vector<core::YcPixel>& expected, const std::vector<core::YcPixel>& actual,
                         int w, int h);

}  // namespace testsupport
