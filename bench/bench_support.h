#pragma once
// What the benchmarks share: timing by best of many runs, alone or side by side, their pictures
// (1920x1080, and 3840x2160 where the cost of a larger picture is measured), and the targets their
// figures are held to, with one way of saying whether each was met.
#include <functional>
#include <string>
#include <vector>

#include "core/picture.h"

namespace bench {

inline constexpr int kW = 1920, kH = 1080;
inline constexpr int k4kW = 3840, k4kH = 2160;

struct Timing {
  double best;    // ms, the least disturbed run
  double median;  // ms
  int runs;
  double cores;  // CPU time of the process / wall time, over all runs
};

// Times fn (`setup` runs untimed before each call): at least min_runs calls, more while the total
// stays within budget_ms, at most 40. Other processes only ever add time, so the best run is the
// figure to compare; the median shows how much they added. Wall time from the system's monotonic
// counter (QueryPerformanceCounter on Windows), CPU time of the whole process.
Timing Measure(int min_runs, double budget_ms, const std::function<void()>& setup,
               const std::function<void()>& fn);

// Times each of `what` in turn, round after round, so that other processes on the machine disturb
// them alike: at least min_runs rounds, more while the total stays within budget_ms, at most 40.
// One Timing per entry (cores: over all of them).
struct Timed {
  std::function<void()> setup;  // untimed, before each call
  std::function<void()> fn;
};
std::vector<Timing> MeasureTogether(int min_runs, double budget_ms, const std::vector<Timed>& what);

// A figure a benchmark is held to: what was measured, its value, and a limit on one side of it.
struct Target {
  enum Direction { kAtMost, kAtLeast };
  std::string what;
  double measured;
  double limit;
  Direction direction;
  std::string unit = "x";  // after the value and the limit: "x" for ratios, " ms", " MB", "" for none
};
bool Met(const Target& t);
// "(target >= 1.3x: met)", "(target <= 3 ms: MISSED)": for a row that shows the value itself.
std::string Verdict(const Target& t);
// One line per target: what (in a column `width` wide), the value and the verdict.
void PrintTargets(const std::vector<Target>& targets, int width);

// A photograph (PNG, where this build reads PNG) scaled bilinearly to w x h; false with a message
// on stderr when it cannot be read.
bool LoadPhoto(const std::string& path, core::Picture* out, int w = kW, int h = kH);
// A kW x kH frame of yc48 samples as written by SaveFrame; false with a message on stderr.
bool LoadFrame(const std::string& path, core::Picture* out);
bool SaveFrame(const std::string& path, const core::Picture& frame);
// w x h of uniform noise: 12-bit luma, chroma in [-2048, 2047].
core::Picture Noise(int w = kW, int h = kH);

}  // namespace bench
