#include "bench/bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>

#include <chrono>
#endif
#if defined(BENCH_HAVE_IO)
#include "tools/io/frame_io.h"
#endif

namespace bench {
namespace {

#if defined(_WIN32)
double NowMs() {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1e3;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / ticks_per_ms;
}

double CpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto ms = [](const FILETIME& t) {  // 100 ns units
    return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}
#else
double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double CpuMs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}
#endif

#if defined(BENCH_HAVE_IO)
// Bilinear scale of the source's planes to w x h.
core::Picture ScaleUp(const core::Picture& src, int w, int h) {
  core::Picture dst(w, h);
  for (int y = 0; y < h; ++y) {
    const double fy = std::max(0.0, (y + 0.5) * src.h / h - 0.5);
    const int y0 = std::min(static_cast<int>(fy), src.h - 1), y1 = std::min(y0 + 1, src.h - 1);
    const double wy = fy - y0;
    for (int x = 0; x < w; ++x) {
      const double fx = std::max(0.0, (x + 0.5) * src.w / w - 0.5);
      const int x0 = std::min(static_cast<int>(fx), src.w - 1), x1 = std::min(x0 + 1, src.w - 1);
      const double wx = fx - x0;
      auto mix = [&](int16_t core::YcPixel::*c) {
        const double top = src.at(x0, y0).*c * (1 - wx) + src.at(x1, y0).*c * wx;
        const double bottom = src.at(x0, y1).*c * (1 - wx) + src.at(x1, y1).*c * wx;
        return static_cast<int16_t>(std::lround(top * (1 - wy) + bottom * wy));
      };
      core::YcPixel& p = dst.at(x, y);
      p.y = mix(&core::YcPixel::y);
      p.cb = mix(&core::YcPixel::cb);
      p.cr = mix(&core::YcPixel::cr);
    }
  }
  return dst;
}

bool ReadFirstFrame(io::Format format, const std::string& path, const io::ReaderOptions& options,
                    core::Picture* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "bench: cannot open %s\n", path.c_str());
    return false;
  }
  try {
    auto reader = io::OpenReader(format, in, path, options);
    if (reader->Read(*out)) return true;
    std::fprintf(stderr, "bench: %s holds no frame\n", path.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench: %s\n", e.what());
  }
  return false;
}
#endif

}  // namespace

std::vector<Timing> MeasureTogether(int min_runs, double budget_ms, const std::vector<Timed>& what) {
  std::vector<std::vector<double>> t(what.size());
  double total = 0, cpu = 0;
  for (int round = 0; round < min_runs || (total < budget_ms && round < 40); ++round)
    for (size_t i = 0; i < what.size(); ++i) {
      what[i].setup();
      const double c0 = CpuMs();
      const double a = NowMs();
      what[i].fn();
      t[i].push_back(NowMs() - a);
      cpu += CpuMs() - c0;
      total += t[i].back();
    }
  std::vector<Timing> out;
  for (std::vector<double>& v : t) {
    std::sort(v.begin(), v.end());
    out.push_back({v.front(), v[v.size() / 2], static_cast<int>(v.size()), total > 0 ? cpu / total : 0});
  }
  return out;
}

Timing Measure(int min_runs, double budget_ms, const std::function<void()>& setup,
               const std::function<void()>& fn) {
  return MeasureTogether(min_runs, budget_ms, {{setup, fn}})[0];
}

#if defined(BENCH_HAVE_IO)
bool LoadPhoto(const std::string& path, core::Picture* out, int w, int h) {
  core::Picture src;
  if (!ReadFirstFrame(io::Format::kPng, path, {}, &src)) return false;
  *out = ScaleUp(src, w, h);
  return true;
}

bool LoadFrame(const std::string& path, core::Picture* out) {
  io::ReaderOptions options;
  options.w = kW;
  options.h = kH;
  return ReadFirstFrame(io::Format::kYc48, path, options, out);
}

bool SaveFrame(const std::string& path, const core::Picture& frame) {
  std::ofstream out(path, std::ios::binary);
  try {
    io::VideoInfo info;
    info.w = frame.w;
    info.h = frame.h;
    auto writer = io::OpenWriter(io::Format::kYc48, out, info, path);
    writer->Write(frame);
    writer->Finish();
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench: %s\n", e.what());
    return false;
  }
}
#else
static bool NoPictures(const std::string& path) {
  std::fprintf(stderr, "bench: %s: this build reads and writes no pictures\n", path.c_str());
  return false;
}
bool LoadPhoto(const std::string& path, core::Picture*, int, int) { return NoPictures(path); }
bool LoadFrame(const std::string& path, core::Picture*) { return NoPictures(path); }
bool SaveFrame(const std::string& path, const core::Picture&) { return NoPictures(path); }
#endif

bool Met(const Target& t) {
  return t.direction == Target::kAtLeast ? t.measured >= t.limit : t.measured <= t.limit;
}

std::string Verdict(const Target& t) {
  char b[96];
  std::snprintf(b, sizeof b, "(target %s %g%s: %s)", t.direction == Target::kAtLeast ? ">=" : "<=", t.limit,
                t.unit.c_str(), Met(t) ? "met" : "MISSED");
  return b;
}

void PrintTargets(const std::vector<Target>& targets, int width) {
  for (const Target& t : targets)
    std::printf("  %-*s %7.2f%-2s %s\n", width, t.what.c_str(), t.measured, t.unit.c_str(),
                Verdict(t).c_str());
  std::fflush(stdout);
}

core::Picture Noise(int w, int h) {
  core::Picture f(w, h);
  uint64_t s = 0x9E3779B97F4A7C15ull;
  for (auto& p : f.pixels) {
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    p.y = static_cast<int16_t>(s % 4096);
    p.cb = static_cast<int16_t>(static_cast<int>((s >> 16) % 4096) - 2048);
    p.cr = static_cast<int16_t>(static_cast<int>((s >> 32) % 4096) - 2048);
  }
  return f;
}

}  // namespace bench
