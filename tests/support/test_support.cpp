#include "tests/support/test_support.h"

#include "core/rgba_dsp.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace testsupport {
namespace {

constexpr uint8_t kCanary = 0xA5;

// Mappings of guarded buffers that are no longer used, kept for the next buffer of the same size: the
// checks make many thousands of them, and mapping and protecting pages is most of their cost.
struct FreeMappings {
  std::vector<std::pair<void*, size_t>> list;
  ~FreeMappings() {
    for (auto [m, size] : list) munmap(m, size);
  }
};
thread_local FreeMappings t_free;

}  // namespace

uint32_t TestSeed() {
  if (const char* s = std::getenv("AUF_TEST_SEED")) return static_cast<uint32_t>(std::strtoul(s, nullptr, 0));
  return 0x5eed1234u;
}

GuardedBytes::GuardedBytes(size_t n, int offset) : n_(n) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t before = offset < 0 ? 0 : static_cast<size_t>(offset);
  body_size_ = (before + n + page - 1) / page * page;
  if (body_size_ == 0) body_size_ = page;
  mapping_size_ = body_size_ + 2 * page;
  const auto reuse =
      std::find_if(t_free.list.begin(), t_free.list.end(),
                   [&](const std::pair<void*, size_t>& f) { return f.second == mapping_size_; });
  if (reuse != t_free.list.end()) {
    mapping_ = reuse->first;
    t_free.list.erase(reuse);
  } else {
    mapping_ = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) throw std::runtime_error("mmap failed");
    mprotect(mapping_, page, PROT_NONE);
    mprotect(static_cast<uint8_t*>(mapping_) + page + body_size_, page, PROT_NONE);
  }
  body_ = static_cast<uint8_t*>(mapping_) + page;
  std::memset(body_, kCanary, body_size_);
  data_ = offset < 0 ? body_ + body_size_ - n : body_ + before;
}

GuardedBytes::~GuardedBytes() {
  if (t_free.list.size() < 64) t_free.list.emplace_back(mapping_, mapping_size_);
  else munmap(mapping_, mapping_size_);
}

std::string GuardedBytes::CheckCanaries() const {
  for (const uint8_t* p = body_; p < body_ + body_size_; ++p) {
    if (p == data_) p += n_;
    if (p < body_ + body_size_ && *p != kCanary)
      return "canary changed " +
             (p < data_ ? std::to_string(data_ - p) + " bytes before"
                        : std::to_string(p - data_ - n_) + " bytes after") +
             " the buffer";
  }
  return "";
}

std::string GuardedPlane::CheckCanaries() const {
  if (std::string c = bytes_.CheckCanaries(); !c.empty()) return c;
  for (int y = 0; y < h_; ++y) {
    const uint8_t* pad = bytes_.data() + (static_cast<size_t>(y) * stride_ + w_) * sizeof(core::YcPixel);
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

void FillPicture(const core::Plane& plane, Rng& rng, Content content) {
  const int bw = (plane.w + 3) / 4 + 1, bh = (plane.h + 3) / 4 + 1;
  std::vector<int32_t> offsets(static_cast<size_t>(bw) * bh * 3);
  for (auto& o : offsets) o = rng.Uniform(-120, 120);
  const int32_t gx = rng.Uniform(-8, 8), gy = rng.Uniform(-8, 8);
  const int32_t noise = rng.Uniform(0, 40);
  const uint32_t salt = content == Content::kMixed ? static_cast<uint32_t>(rng.Next()) : 0;
  for (int y = 0; y < plane.h; ++y)
    for (int x = 0; x < plane.w; ++x) {
      const bool wild = content == Content::kMixed &&
                        ((x / 8 * 73856093u) ^ (y / 8 * 19349663u) ^ salt) * 2654435761u % 3 == 0;
      int32_t v[3];
      for (int c = 0; c < 3; ++c) {
        const int32_t block = offsets[(static_cast<size_t>(y / 4) * bw + x / 4) * 3 + c];
        const int32_t wobble = block + rng.Uniform(-noise, noise);
        const int32_t blocky = (c == 0 ? 2000 : 0) + gx * x / 4 + gy * y / 4 + wobble;
        switch (content) {
          case Content::kBlocky: v[c] = blocky; break;
          case Content::kNoise: v[c] = c == 0 ? rng.Uniform(0, 4095) : rng.Uniform(-2048, 2047); break;
          case Content::kFullRange: v[c] = rng.Uniform(-32768, 32767); break;
          case Content::kNearLimits:
            v[c] = std::clamp<int32_t>(((x / 4 + y / 4 + c) % 2 == 0 ? 32767 - 130 : -32768 + 130) + wobble,
                                       -32768, 32767);
            break;
          case Content::kMixed: v[c] = wild ? rng.Uniform(-32768, 32767) : blocky; break;
        }
      }
      PlaneRow(plane, y)[x] = {static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]),
                               static_cast<int16_t>(v[2])};
    }
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

namespace {

// The image through the scalar row conversions `to_samples` and `back`, with `filter` between.
template <class T>
std::vector<T> Through(const std::vector<T>& image, int w, int h,
                       const std::function<void(const core::Plane&)>& filter,
                       void (*to_samples)(const T*, core::YcPixel*, int32_t),
                       void (*back)(const core::YcPixel*, T*, int32_t)) {
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<core::YcPixel> samples(n);
  to_samples(image.data(), samples.data(), static_cast<int32_t>(n));
  filter({samples.data(), w, h, w});
  std::vector<T> out = image;
  back(samples.data(), out.data(), static_cast<int32_t>(n));
  return out;
}

}  // namespace

std::vector<uint8_t> ThroughSamples(const std::vector<uint8_t>& rgba, int w, int h,
                                    const std::function<void(const core::Plane&)>& filter) {
  return Through(rgba, w, h, filter, core::RgbaToYcRow_C, core::YcToRgbaRow_C);
}

std::vector<uint16_t> ThroughSamples(const std::vector<uint16_t>& pa64, int w, int h,
                                     const std::function<void(const core::Plane&)>& filter) {
  return Through(pa64, w, h, filter, core::Pa64ToYcRow_C, core::YcToPa64Row_C);
}

}  // namespace testsupport
