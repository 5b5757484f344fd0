#pragma once
// Helpers shared by the deblock tests: the loaded plug-in, picture generators that make the filter
// actually change lines, and runners that filter a guarded frame through the core or through the
// plug-in and the editor stand-in.
#include <cstdint>
#include <string>
#include <vector>

#include "core/worker_pool.h"
#include "deblock/deblock.h"
#include "standin/auf_host.h"
#include "tests/support/test_support.h"

namespace deblocktest {

inline standin::PluginLibrary& Plugin() {
  static standin::PluginLibrary lib(AUF_BUILD_DIR "/deblock.so");
  return lib;
}

enum class Content { kBlocky, kFullRange, kNearLimits };

// Blocky: smooth luma in the host range with a step at every 4x4 block and a little noise, so most
// edge lines pass the tests at middling thresholds; chroma the same around 0. Full range: any int16.
// Near limits: blocks close to +32767 and -32768, where stored results can wrap.
inline void FillPicture(core::YcPixel* plane, int w, int h, int stride, testsupport::Rng& rng,
                        Content content) {
  const int bw = (w + 3) / 4 + 1;
  const int bh = (h + 3) / 4 + 1;
  std::vector<int32_t> offsets(static_cast<size_t>(bw) * bh * 3);
  for (auto& o : offsets) o = rng.Uniform(-120, 120);
  const int32_t gx = rng.Uniform(-8, 8), gy = rng.Uniform(-8, 8);
  const int32_t noise = rng.Uniform(0, 40);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      core::YcPixel& p = plane[static_cast<size_t>(y) * stride + x];
      int32_t v[3];
      for (int c = 0; c < 3; ++c) {
        const int32_t block = offsets[(static_cast<size_t>(y / 4) * bw + x / 4) * 3 + c];
        const int32_t n = rng.Uniform(-noise, noise);
        switch (content) {
          case Content::kBlocky: v[c] = (c == 0 ? 2000 : 0) + gx * x / 4 + gy * y / 4 + block + n; break;
          case Content::kFullRange: v[c] = rng.Uniform(-32768, 32767); break;
          case Content::kNearLimits:
            v[c] = ((x / 4 + y / 4 + c) % 2 == 0 ? 32767 - 130 : -32768 + 130) + block + n;
            if (v[c] > 32767) v[c] = 32767;
            if (v[c] < -32768) v[c] = -32768;
            break;
        }
      }
      p = {static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]), static_cast<int16_t>(v[2])};
    }
  }
}

// Fills the temp plane's picture with a pattern that the filter must leave as it is.
inline void FillTemp(core::YcPixel* plane, int w, int h, int stride) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      plane[static_cast<size_t>(y) * stride + x] = {
          static_cast<int16_t>(x * 7 + y), static_cast<int16_t>(-x - y), static_cast<int16_t>(0x5A5A)};
}

inline std::string CheckTemp(core::YcPixel* plane, int w, int h, int stride) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const core::YcPixel p = plane[static_cast<size_t>(y) * stride + x];
      if (p.y != static_cast<int16_t>(x * 7 + y) || p.cb != static_cast<int16_t>(-x - y) || p.cr != 0x5A5A)
        return "temp plane changed at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    }
  return "";
}

// Filters the guarded frame's edit plane through the core with the kernels of `flags`, the result
// of `partitions` computed by `workers` workers; "" when every canary is intact.
inline std::string RunCore(core::CpuFlags flags, testsupport::GuardedFrame& f, const int32_t* tracks,
                           int partitions, int workers, bool serial) {
  core::WorkerPool pool(workers, serial);
  deblock::FilterFrame(deblock::DeblockDspFor(flags), deblock::ParamsFromTracks(tracks), f.EditPlane(),
                       partitions, pool.workers());
  if (auto c = f.edit.CheckCanaries(); !c.empty()) return "edit plane: " + c;
  return "";
}

// Filters the guarded frame's edit plane through the plug-in with T editor threads; "" when the
// call returned 1 and left the temp plane and every canary alone.
inline std::string RunPlugin(testsupport::GuardedFrame& f, const int32_t* tracks, int threads, bool serial) {
  core::WorkerPool pool(threads, serial);
  standin::FilterHost fh(Plugin().table(), &pool);
  for (int i = 0; i < 3; ++i) fh.SetTrackUnchecked(i, tracks[i]);
  FillTemp(f.temp.data(), f.w, f.h, f.stride);
  host::FrameInfo fi = f.Info();
  if (const int r = fh.Process(&fi); r != 1) return "ProcessFrame returned " + std::to_string(r);
  if (auto c = f.edit.CheckCanaries(); !c.empty()) return "edit plane: " + c;
  if (auto c = f.temp.CheckCanaries(); !c.empty()) return "temp plane: " + c;
  return CheckTemp(f.temp.data(), f.w, f.h, f.stride);
}

}  // namespace deblocktest
