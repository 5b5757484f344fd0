// aufhost in a pipeline: frames per second of a 1920x1080 4:2:0 Y4M stream through the tool, from a
// file to /dev/null, beside the rate of the filter alone at the same thread count; the tool's own
// CPU time per frame; its peak memory over a short and a long stream; and the planar conversions
// per tier.
//
//   pipeline_bench [--aufhost=PATH] [--frames=N] [--runs=N] [--quick]
//
// aufhost runs as a child process: its CPU time (user + system) and peak memory come from wait4(),
// its wall time from the clock around it. Other processes only ever add time, so each figure is the
// best of several runs; the filter alone is timed in this process, with the pool aufhost uses.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/cpu.h"
#include "core/picture.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"
#include "hostkit/planar.h"
#include "tools/io/frame_io.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kW = 1920, kH = 1080, kThreads = 2, kPictures = 5;

using bench::Target;

struct Options {
  std::string aufhost = "build/aufhost";
  int frames = 60;
  int long_frames = 600;
  int runs = 5;
  bool quick = false;
};

double SecondsOf(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return SecondsOf(ru.ru_utime) + SecondsOf(ru.ru_stime);
}

// A blocky picture, 8x8 tiles of flat levels plus noise, so that the filters have work to do.
std::string Y4mFramePlanes(uint64_t seed) {
  uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
  auto next = [&] {
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    return s;
  };
  std::string f = "FRAME\n";
  f.reserve(6 + size_t(kW) * kH * 3 / 2);
  std::vector<int> tile(kW / 8);
  for (int y = 0; y < kH; ++y) {
    if (y % 8 == 0)
      for (int& t : tile) t = 30 + int(next() % 190);
    for (int x = 0; x < kW; ++x) f += char(tile[x / 8] + int(next() & 15) - 8);
  }
  for (size_t i = 0; i < size_t(kW / 2) * (kH / 2) * 2; ++i) f += char(60 + next() % 130);
  return f;
}

const std::string kHeader = "YUV4MPEG2 W1920 H1080 F25:1 C420jpeg\n";

int PictureOf(int k) { return (k * 3 + k / 7) % kPictures; }

struct Run {
  double wall = 0, cpu = 0;  // seconds
  long max_rss_kb = 0;
  int status = -1;
};

// Runs aufhost with stdin from `input` (a file) or fed by `feed` through a pipe, stdout to /dev/null.
// It starts from a small launcher process (this program again, --launch): a child's peak memory
// counts what it held before exec, and a child forked from here would hold all of this program.
Run RunAufhost(const Options& o, const std::vector<std::string>& args, const std::string& input,
               const std::function<void(int)>& feed = {}) {
  int report[2], pipe_fds[2] = {-1, -1};
  if (pipe(report) != 0 || (feed && pipe(pipe_fds) != 0)) std::abort();
  const std::string launch = "--launch=" + std::to_string(report[1]);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = feed ? pipe_fds[0] : open(input.c_str(), O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    close(report[0]);
    if (feed) close(pipe_fds[1]);
    std::vector<char*> argv{const_cast<char*>("pipeline_bench"), const_cast<char*>(launch.c_str()),
                            const_cast<char*>(o.aufhost.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(report[1]);
  if (feed) {
    close(pipe_fds[0]);
    feed(pipe_fds[1]);
    close(pipe_fds[1]);
  }
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(report[0]);
  waitpid(pid, nullptr, 0);
  Run r;
  if (std::sscanf(text.c_str(), "%d %lf %lf %ld", &r.status, &r.wall, &r.cpu, &r.max_rss_kb) != 4)
    r.status = -1;
  return r;
}

// The launcher: runs argv, then reports its status, wall and CPU seconds and peak memory on fd.
int Launch(int fd, char** argv) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fd);
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  dprintf(fd, "%d %.6f %.6f %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), wall,
          SecondsOf(ru.ru_utime) + SecondsOf(ru.ru_stime), static_cast<long>(ru.ru_maxrss));
  return 0;
}

struct Best {
  double wall = 1e30, cpu = 1e30;
};

// Best wall time and best CPU time of `runs` runs (each the least disturbed one of its kind).
Best BestOf(int runs, const std::function<Run()>& run) {
  Best b;
  for (int i = 0; i < runs; ++i) {
    const Run r = run();
    if (r.status != 0) {
      std::fprintf(stderr, "pipeline_bench: aufhost failed with status %d\n", r.status);
      std::exit(1);
    }
    b.wall = std::min(b.wall, r.wall);
    b.cpu = std::min(b.cpu, r.cpu);
  }
  return b;
}

// The filter alone, as aufhost runs it: the result of one partition on the pool of kThreads.
Best FilterAlone(const Options& o, const core::FilterCore& core,
                 const std::vector<std::pair<const char*, int32_t>>& set,
                 const std::vector<core::Picture>& pictures) {
  std::vector<int32_t> tracks = core::DefaultTrackValues(core);
  for (auto& [name, value] : set) core::SetTrackByName(core, tracks, name, value);
  core::WorkerPool pool(kThreads, false);
  core::Picture frame(kW, kH);
  std::vector<core::YcPixel> scratch;
  Best b;
  const int rounds = o.quick ? 1 : std::max(3, o.runs);
  for (int r = 0; r < rounds; ++r) {
    double wall = 0, cpu = 0;
    for (const core::Picture& p : pictures) {
      std::copy(p.pixels.begin(), p.pixels.end(), frame.pixels.begin());
      const double c0 = CpuSeconds();
      const auto t0 = Clock::now();
      core::FilterPicture(core, core::DetectCpuFlags(), tracks.data(), frame, scratch, 1, pool.workers());
      wall += std::chrono::duration<double>(Clock::now() - t0).count();
      cpu += CpuSeconds() - c0;
    }
    b.wall = std::min(b.wall, wall / pictures.size());
    b.cpu = std::min(b.cpu, cpu / pictures.size());
  }
  return b;
}

// Milliseconds per 1920x1080 frame of each planar conversion, per tier: best of many in-cache runs.
void BenchConversions(const Options& o) {
  std::printf("\nplanar conversions, 1920x1080, ms per frame (best of %d)\n", o.quick ? 1 : 20);
  std::printf("  %-22s", "layout");
  std::vector<core::CpuFlags> tiers;
  for (const core::CpuTier& t : core::kCpuTiers)
    if (core::CpuHasTier(t) && (tiers.empty() || io::PlanarDspFor(t.flags).PackRows[0][0] !=
                                                     io::PlanarDspFor(tiers.back()).PackRows[0][0])) {
      tiers.push_back(t.flags);
      std::printf("  %6s in %5s out", t.name, "");
    }
  std::printf("\n");
  const struct {
    const char* name;
    io::Chroma chroma;
    int depth;
    bool pairs;
  } layouts[] = {
      {"4:2:0 8-bit", io::Chroma::k420, 8, false},        {"4:2:2 8-bit", io::Chroma::k422, 8, false},
      {"4:4:4 8-bit", io::Chroma::k444, 8, false},        {"mono 8-bit", io::Chroma::kMono, 8, false},
      {"4:2:0 pairs 8-bit", io::Chroma::k420, 8, true},   {"4:2:0 10-bit", io::Chroma::k420, 10, false},
      {"4:2:2 10-bit", io::Chroma::k422, 10, false},      {"4:4:4 10-bit", io::Chroma::k444, 10, false},
      {"4:2:0 pairs 10-bit", io::Chroma::k420, 10, true}, {"4:2:0 12-bit", io::Chroma::k420, 12, false},
      {"4:2:2 12-bit", io::Chroma::k422, 12, false},      {"4:4:4 12-bit", io::Chroma::k444, 12, false},
      {"mono 16-bit", io::Chroma::kMono, 16, false}};
  core::Picture frame(kW, kH);
  for (const auto& l : layouts) {
    const io::PlanarLayout layout = io::PlanarLayoutOf(kW, kH, l.chroma, l.depth, l.pairs);
    std::vector<uint8_t> planes(layout.FrameBytes());
    uint32_t r = 1;
    for (auto& b : planes) b = uint8_t((r = r * 1103515245u + 12345u) >> 24);
    if ((l.depth == 10 || l.depth == 12) && !l.pairs)  // levels in range
      for (size_t i = 1; i < planes.size(); i += 2) planes[i] &= l.depth == 10 ? 3 : 15;
    std::printf("  %-22s", l.name);
    for (core::CpuFlags t : tiers) {
      const io::PlanarDsp& dsp = io::PlanarDspFor(t);
      double in = 1e30, out = 1e30;
      for (int i = 0; i < (o.quick ? 1 : 20); ++i) {
        auto t0 = Clock::now();
        io::PlanesToFrame(dsp, layout, planes.data(), frame);
        auto t1 = Clock::now();
        io::FrameToPlanes(dsp, layout, frame, planes.data());
        auto t2 = Clock::now();
        in = std::min(in, std::chrono::duration<double, std::milli>(t1 - t0).count());
        out = std::min(out, std::chrono::duration<double, std::milli>(t2 - t1).count());
      }
      std::printf("  %9.3f %9.3f", in, out);
    }
    std::printf("\n");
  }
}

// What aufhost runs, row by row, and what each row is held to.
struct Row {
  const char* label;
  const char* filter;  // a built-in filter, or nullptr: the plug-in that changes nothing
  std::vector<std::pair<const char*, int32_t>> tracks;
  double tool_cpu_ms;  // at most, where > 0: aufhost's CPU time per frame (the filter's share included)
  double ratio;        // at least, where > 0: aufhost's frame rate over the filter's alone
};
const Row kRows[] = {
    {"no filter (a plug-in as-is)", nullptr, {}, 3.0, 0},
    {"deblock quant 0", "deblock", {{"quant", 0}}, 3.0, 0},
    {"velour defaults", "velour", {}, 0, 0.5},
};
// Peak memory of aufhost over the long stream at most this much above the short one's.
constexpr double kGrowthMb = 2.0;

// The frames both aufhost and the filter alone take: kPictures blocky pictures, as Y4M frames and as
// host frames, and a clip of o.frames of them in a file of its own folder.
struct Clip {
  std::vector<std::string> pictures;
  std::vector<core::Picture> frames;
  std::string dir, path;
};

bool MakeClip(const Options& o, Clip& clip) {
  for (int i = 0; i < kPictures; ++i) clip.pictures.push_back(Y4mFramePlanes(1000 + i));
  for (const std::string& p : clip.pictures) {
    std::istringstream in(kHeader + p);
    core::Picture f;
    io::OpenReader(io::Format::kY4m, in, "clip")->Read(f);
    clip.frames.push_back(std::move(f));
  }
  char dir[] = "/tmp/pipeline_bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  clip.dir = dir;
  clip.path = clip.dir + "/clip.y4m";
  FILE* f = std::fopen(clip.path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(kHeader.data(), 1, kHeader.size(), f);
  for (int k = 0; k < o.frames; ++k)
    std::fwrite(clip.pictures[size_t(PictureOf(k))].data(), 1, clip.pictures[0].size(), f);
  return std::fclose(f) == 0;
}

std::vector<std::string> AufhostArgs(const Row& row) {
  std::vector<std::string> args = {"-q", "-j", std::to_string(kThreads)};
  for (auto& [name, value] : row.tracks)
    args.insert(args.end(), {"-t", std::string(name) + "=" + std::to_string(value)});
  args.insert(args.end(), {row.filter ? row.filter : IDENTITY_PLUGIN, "-", "-"});
  return args;
}

// One row: aufhost's wall time, rate and CPU time per frame; beside them, for a filter, the filter
// alone on the same frames and the ratio of rates; then the row's targets.
void BenchRow(const Options& o, const Clip& clip, const Row& row) {
  const Best tool = BestOf(o.runs, [&] { return RunAufhost(o, AufhostArgs(row), clip.path); });
  const double wall = tool.wall / o.frames * 1e3, cpu = tool.cpu / o.frames * 1e3;
  std::printf("%-30s %9.2f %9.1f %9.2f", row.label, wall, 1e3 / wall, cpu);
  Best alone{0, 0};
  bool rate = false;  // whether the filter alone has a rate to compare
  if (row.filter) {
    alone = FilterAlone(o, *hostkit::FindBuiltinFilter(row.filter), row.tracks, clip.frames);
    // A filter that finds nothing to do (deblock at quant 0) takes microseconds: no rate to compare.
    rate = alone.wall * 1e3 >= 0.05;
    if (!rate)
      std::printf("   %6.2f %7s %6.2f  %s", alone.wall * 1e3, "-", alone.cpu * 1e3,
                  "  - (the filter has nothing to do)");
    else
      std::printf("   %6.2f %7.1f %6.2f  %.2f", alone.wall * 1e3, 1.0 / alone.wall, alone.cpu * 1e3,
                  alone.wall * 1e3 / wall);
  }
  if (rate && row.ratio > 0)
    std::printf(" %s",
                bench::Verdict({"", alone.wall * 1e3 / wall, row.ratio, Target::kAtLeast, ""}).c_str());
  if (row.tool_cpu_ms > 0)
    std::printf("   the tool's %sCPU time %s", row.filter ? "" : "own ",
                bench::Verdict({"", cpu, row.tool_cpu_ms, Target::kAtMost, " ms"}).c_str());
  std::printf("\n");
  // Where the tool's CPU time is held to a target and a filter runs, the filter's part of it apart.
  if (row.filter && row.tool_cpu_ms > 0)
    std::printf("  %-28s %29.2f   (its CPU time less the filter's alone)\n", "  the tool's share",
                cpu - alone.cpu * 1e3);
}

void BenchRows(const Options& o, const Clip& clip) {
  std::printf(
      "\naufhost per frame: wall time, frames per second, CPU time (user + system, from wait4); beside it\n"
      "the filter alone in this process on the same frames with the same %d workers, and the ratio of "
      "rates\n",
      kThreads);
  std::printf("%-30s %9s %9s %9s   %6s %7s %6s  %s\n", "", "wall ms", "fps", "CPU ms", "wall", "fps", "CPU",
              "ratio");
  for (const Row& row : kRows) BenchRow(o, clip, row);
}

// Peak memory over a short and a long stream of deblock, fed through a pipe: flat.
void BenchPeakMemory(const Options& o, const Clip& clip) {
  const std::vector<std::string> args = {"-q", "-j", std::to_string(kThreads), "-t", "quant=0", "deblock",
                                         "-",  "-"};
  double mb[2] = {0, 0};
  const int counts[2] = {o.frames, o.long_frames};
  for (int i = 0; i < 2; ++i) {
    const Run r = RunAufhost(o, args, "", [&](int fd) {
      auto put = [fd](const std::string& s) {
        for (size_t done = 0; done < s.size();) {
          const ssize_t n = write(fd, s.data() + done, s.size() - done);
          if (n <= 0) return;
          done += size_t(n);
        }
      };
      put(kHeader);
      for (int k = 0; k < counts[i]; ++k) put(clip.pictures[size_t(PictureOf(k))]);
    });
    mb[i] = r.max_rss_kb / 1024.0;
  }
  std::printf(
      "\npeak memory (ru_maxrss of aufhost, deblock through a pipe): %d frames %.1f MB, %d frames %.1f MB "
      "(one frame of host pixels: %.1f MB)\n",
      counts[0], mb[0], counts[1], mb[1], double(kW) * kH * sizeof(core::YcPixel) / 1e6);
  bench::PrintTargets(
      {{"growth from the short stream to the long", mb[1] - mb[0], kGrowthMb, Target::kAtMost, " MB"}}, 40);
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--aufhost=", 0) == 0) o.aufhost = a.substr(10);
    else if (a.rfind("--frames=", 0) == 0) o.frames = std::max(1, std::atoi(a.c_str() + 9));
    else if (a.rfind("--runs=", 0) == 0) o.runs = std::max(1, std::atoi(a.c_str() + 7));
    else if (a == "--quick") o.quick = true;
    else {
      std::fprintf(stderr, "usage: pipeline_bench [--aufhost=PATH] [--frames=N] [--runs=N] [--quick]\n");
      return false;
    }
  }
  if (o.quick) o.frames = std::min(o.frames, 8), o.long_frames = 24, o.runs = 1;
  if (access(o.aufhost.c_str(), X_OK) == 0) return true;
  std::fprintf(stderr, "pipeline_bench: no aufhost at %s (--aufhost=PATH)\n", o.aufhost.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strncmp(argv[1], "--launch=", 9) == 0) return Launch(std::atoi(argv[1] + 9), argv + 2);
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;
  std::printf(
      "pipeline_bench: %d frames of %dx%d 4:2:0 8-bit Y4M from a file through aufhost -q -j %d to "
      "/dev/null, %u cores; best of %d runs\n",
      o.frames, kW, kH, kThreads, std::max(1u, std::thread::hardware_concurrency()), o.runs);
  Clip clip;
  if (!MakeClip(o, clip)) return 1;
  BenchConversions(o);
  BenchRows(o, clip);
  BenchPeakMemory(o, clip);
  unlink(clip.path.c_str());
  rmdir(clip.dir.c_str());
  return 0;
}
