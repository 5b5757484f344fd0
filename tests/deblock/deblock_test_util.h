#pragma once
// Helpers shared by the deblock tests: the loaded plug-in, a temp plane the filter must leave alone,
// and runners that filter a guarded frame through the core or through the
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
