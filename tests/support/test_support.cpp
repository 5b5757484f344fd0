#include "tests/support/test_support.h"

#include "core/rgba_dsp.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kMargin = 256;

}  // namespace

uint32_t TestSeed() {
  if (const char* s = std::getenv("AUF_TEST_SEED")) return static_cast<uint32_t>(std::strtoul(s, nullptr, 0));
  return 0x5eed1234u;
}

GuardedPlane::GuardedPlane(int w, int h, int stride, bool guard_after) : w_(w), h_(h), stride_(stride) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t bytes = static_cast<size_t>(stride) * h * sizeof(core::YcPixel);
  const size_t body = (bytes + kMargin + page - 1) / page * page;
  mapping_size_ = body + 2 * page;
  void* m = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) throw std::runtime_error("mmap failed");
  mapping_ = m;
  uint8_t* base = static_cast<uint8_t*>(m);
  mprotect(base, page, PROT_NONE);
  mprotect(base + page + body, page, PROT_NONE);
  uint8_t* first = base + page;
  std::memset(first, kCanary, body);
  if (guard_after) {
    data_ = reinterpret_cast<core::YcPixel*>(first + body - bytes);
    margin_ = first + body - bytes - kMargin;
  } else {
    data_ = reinterpret_cast<core::YcPixel*>(first);
    margin_ = first + bytes;
  }
  margin_size_ = kMargin;
}

GuardedPlane::~GuardedPlane() { munmap(mapping_, mapping_size_); }

std::string GuardedPlane::CheckCanaries() const {
  for (size_t i = 0; i < margin_size_; ++i)
    if (margin_[i] != kCanary)
      return "canary outside the plane changed (" +
             std::string(margin_ < reinterpret_cast<uint8_t*>(data_) ? "before" : "after") + " it, byte " +
             std::to_string(i) + ")";
  for (int y = 0; y < h_; ++y) {
    const uint8_t* pad = reinterpret_cast<const uint8_t*>(data_ + static_cast<size_t>(y) * stride_ + w_);
    for (size_t i = 0; i < static_cast<size_t>(stride_ - w_) * sizeof(core::YcPixel); ++i)
      if (pad[i] != kCanary) return "row padding changed in row " + std::to_string(y);
  }
  return "";
}

std::string RecordMismatch(const host::FilterTable* t, const char* name,
                           const std::vector<ExpectedTrack>& tracks) {
  if (t->flags != 0x00040000) return "flags " + std::to_string(t->flags);
  if (t->name == nullptr || std::strcmp(t->name, name) != 0) return "name";
  if (t->information == nullptr || std::strcmp(t->information, name) != 0) return "information text";
  if (t->information == t->name) return "name and information are one copy, not two";
  if (t->track_count != static_cast<int32_t>(tracks.size()))
    return "track count " + std::to_string(t->track_count);
  for (size_t i = 0; i < tracks.size(); ++i) {
    const ExpectedTrack& e = tracks[i];
    if (std::strcmp(t->track_names[i], e.name) != 0) return "name of track " + std::to_string(i);
    if (t->track_defaults[i] != e.def || t->track_minimums[i] != e.min || t->track_maximums[i] != e.max)
      return std::string("default or range of track ") + e.name;
  }
  if (t->process == nullptr) return "no processing function";
  host::FilterTable rest;
  std::memcpy(&rest, t, sizeof rest);
  rest.flags = 0;
  rest.name = nullptr;
  rest.track_count = 0;
  rest.track_names = nullptr;
  rest.track_defaults = rest.track_minimums = rest.track_maximums = nullptr;
  rest.process = nullptr;
  rest.information = nullptr;
  const host::FilterTable zero{};
  if (std::memcmp(&rest, &zero, sizeof rest) != 0) return "a word the plug-in does not own is not zero";
  return "";
}

std::vector<core::YcPixel> Picture(const core::YcPixel* plane, int w, int h, int stride) {
  std::vector<core::YcPixel> out(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    std::memcpy(&out[static_cast<size_t>(y) * w], plane + static_cast<size_t>(y) * stride,
                w * sizeof(core::YcPixel));
  return out;
}

std::string DiffPictures(const std::vector<core::YcPixel>& e, const std::vector<core::YcPixel>& a, int w,
                         int h) {
  auto same = [&](int x, int y) {
    const auto& p = e[static_cast<size_t>(y) * w + x];
    const auto& q = a[static_cast<size_t>(y) * w + x];
    return p.y == q.y && p.cb == q.cb && p.cr == q.cr;
  };
  int bad = 0, fx = -1, fy = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!same(x, y) && bad++ == 0) fx = x, fy = y;
  if (bad == 0) return "";
  const auto& p = e[static_cast<size_t>(fy) * w + fx];
  const auto& q = a[static_cast<size_t>(fy) * w + fx];
  std::string out = "first mismatch at (" + std::to_string(fx) + ", " + std::to_string(fy) + "): expected " +
                    std::to_string(p.y) + "/" + std::to_string(p.cb) + "/" + std::to_string(p.cr) + ", got " +
                    std::to_string(q.y) + "/" + std::to_string(q.cb) + "/" + std::to_string(q.cr) + "; " +
                    std::to_string(bad) + " samples differ; map from (";
  // A window of at most 48 x 16 samples starting near the first mismatch: x differs, . equal.
  const int x0 = std::max(0, fx - 8), y0 = std::max(0, fy - 4);
  out += std::to_string(x0) + ", " + std::to_string(y0) + "):\n";
  for (int y = y0; y < std::min(h, y0 + 16); ++y) {
    for (int x = x0; x < std::min(w, x0 + 48); ++x) out += same(x, y) ? '.' : 'x';
    out += '\n';
  }
  return out;
}

std::vector<uint8_t> ThroughSamples(const std::vector<uint8_t>& rgba, int w, int h,
                                    const std::function<void(const core::Plane&)>& filter) {
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<core::YcPixel> samples(n);
  core::RgbaToYcRow_C(rgba.data(), samples.data(), static_cast<int32_t>(n));
  filter({samples.data(), w, h, w});
  std::vector<uint8_t> out = rgba;
  core::YcToRgbaRow_C(samples.data(), out.data(), static_cast<int32_t>(n));
  return out;
}

}  // namespace testsupport
