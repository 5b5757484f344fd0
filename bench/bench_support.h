#pragma once
// What both benchmarks share: timing by best of many runs, and their 1920x1080 pictures.
#include <functional>
#include <string>

#include "host/frame.h"

namespace bench {

inline constexpr int kW = 1920, kH = 1080;

struct Timing {
  double best;    // ms, the least disturbed run
  double median;  // ms
  int runs;
  double cores;  // CPU time of the process / wall time, over all runs
};

// Times fn (`setup` runs untimed before each call): at least min_runs calls, more while the total
// stays within budget_ms, at most 25. Other processes only ever add time, so the best run is the
// figure to compare; the median shows how much they added. Wall time from the system's monotonic
// counter (QueryPerformanceCounter on Windows), CPU time of the whole process.
Timing Measure(int min_runs, double budget_ms, const std::function<void()>& setup,
               const std::function<void()>& fn);

// A photograph (PNG, where this build reads PNG) scaled bilinearly to kW x kH; false with a message
// on stderr when it cannot be read.
bool LoadPhoto(const std::string& path, host::Frame* out);
// A kW x kH frame of yc48 samples as written by SaveFrame; false with a message on stderr.
bool LoadFrame(const std::string& path, host::Frame* out);
bool SaveFrame(const std::string& path, const host::Frame& frame);
// kW x kH of uniform noise: 12-bit luma, chroma in [-2048, 2047].
host::Frame Noise();

}  // namespace bench
