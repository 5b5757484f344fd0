// Whole-frame timings of both filters on 1920x1080 frames (a photograph scaled up, and noise): the
// scalar reference, every tier at one thread, the tier in use at 1, 2 and all cores, the memory
// floor (one copy of the edit plane, copies back to back), each group of rows measured side by
// side; the same at 3840x2160 beside 1920x1080; and the process's peak memory. Ratios against each
// filter's targets in kPlans. (Each kernel's own time: kernel_check --bench.)
//
//   frame_bench [--cpu=TIER|auto] [--photo=PATH] [--filter=velour|deblock] [--quick]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "core/cpu.h"
#include "core/picture.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"

namespace {

using bench::kH;
using bench::kW;
using bench::Measure;
using bench::Target;
using bench::Timing;

struct Options {
  core::CpuFlags flags = 0;
  std::string cpu = "auto";
  std::string photo = std::string(AUF_SOURCE_DIR) + "/media/astronaut.png";
  std::string only;
  bool quick = false;
};

struct Setting {
  const char* label;
  std::vector<std::pair<const char*, int32_t>> tracks;
};

// What each filter is timed at and held to; its first setting is also timed at 3840x2160.
struct Plan {
  const char* filter;
  std::vector<Setting> settings;
  double avx512_vs_avx2;  // at least: the AVX-512 tier at T=1 against AVX2 at T=1
  bool every_avx512;      // the same for the other choices of AVX-512 kernels (else their ratio is shown)
  double vs_reference;    // at least: the tier in use at T=1 against the scalar reference
  double vs_floor;        // at most: the tier in use at T=1 against one copy of the plane (0: none)
  double t2_vs_t1;        // at least: the tier in use at T=2 against T=1
};
// deblock's AVX-512 kernels for CPUs that run 512-bit operations in two halves are its kernels of
// 256-bit registers (core/cpu.h), which no ratio to AVX2 holds.
const Plan kPlans[] = {
    {"velour", {{"defaults", {}}, {"n_shift 64", {{"n_shift", 64}}}}, 1.3, true, 115, 0, 1.8},
    {"deblock", {{"defaults", {}}, {"quant 40", {{"quant", 40}}}}, 1.5, false, 10, 3, 1.6},
};
// At 3840x2160, for every filter: time per pixel at most this share of 1920x1080's, and T=2 at
// least this much faster than T=1.
constexpr double kLargePerPixel = 1.1, kLargeT2VsT1 = 1.8;

void PrintRow(const std::string& what, const Timing& t, const std::string& note = "") {
  std::printf("  %-32s %9.2f ms %8.1f fps  %9.2f ms %3d %5.2f  %s\n", what.c_str(), t.best, 1000.0 / t.best,
              t.median, t.runs, t.cores, note.c_str());
  std::fflush(stdout);
}

// The tiers of the table this CPU can run within `allowed` (every choice of AVX-512 kernels where
// `allowed` has AVX-512), scalar first.
std::vector<core::CpuFlags> Tiers(core::CpuFlags allowed) {
  if (allowed & core::kCpuAvx512) allowed |= core::kCpuAvx512Ymm | core::kCpuAvx512Split;
  std::vector<core::CpuFlags> tiers;
  for (const core::CpuTier& t : core::kCpuTiers)
    if ((allowed & t.flags) == t.flags && core::CpuHasTier(t)) tiers.push_back(t.flags);
  return tiers;
}

// Track values as a host would hand them: the defaults, with the setting's changes.
std::vector<int32_t> TracksFor(const core::FilterCore& f, const Setting& s) {
  std::vector<int32_t> tracks = core::DefaultTrackValues(f);
  for (auto& [name, value] : s.tracks) core::SetTrackByName(f, tracks, name, value);
  return tracks;
}

// A frame to filter over and over, restored from its source before each run, and the core run on it
// as aufhost runs it: the result of one partition, computed by the workers of `pool`.
struct Bench {
  const core::FilterCore& f;
  const std::vector<int32_t>& tracks;
  const core::Picture& src;
  core::Picture frame;
  std::vector<core::YcPixel> scratch;
  Bench(const core::FilterCore& f_, const std::vector<int32_t>& tracks_, const core::Picture& src_)
      : f(f_), tracks(tracks_), src(src_), frame(src_) {}
  void Reset() { std::copy(src.pixels.begin(), src.pixels.end(), frame.pixels.begin()); }
  bench::Timed Run(core::CpuFlags flags, core::WorkerPool& pool) {
    return {[this] { Reset(); },
            [this, flags, &pool] {
              core::FilterPicture(f, flags, tracks.data(), frame, scratch, 1, pool.workers());
            }};
  }
};

// The memory floor of a filter that reads and writes the plane once: one copy of the edit plane,
// from the bench's source into its frame, copies back to back (the first brings both planes into
// the cache as a filter's run finds its frame), the best of them. Taken right after the group it
// is set against: side by side, the runs between would leave the cache to others.
Timing FloorOf(Bench& b, bool quick) {
  return Measure(
      quick ? 1 : 25, 0, [] {},
      [&b] {
        std::memcpy(b.frame.pixels.data(), b.src.pixels.data(), b.src.pixels.size() * sizeof(core::YcPixel));
      });
}

void PrintCoresNote(int cores) {
  if (cores <= 2)
    std::printf("  (the machine has %d cores: T=%d is the all-cores row)\n", cores, cores < 2 ? 1 : 2);
  std::printf(
      "  (cores: CPU time the process got per wall-clock time; below T, other processes held the rest)\n");
}

// The best times (ms) of one filter, setting and picture that its targets take.
struct Figures {
  double reference = 0, floor = 0, avx2 = 0;
  double in_use = 0;                                    // the tier in use at T=1
  double t2_vs_t1 = 0;                                  // its T=1 over its T=2, side by side
  std::vector<std::pair<core::CpuFlags, double>> wide;  // the AVX-512 tiers at T=1
};

// The scalar reference, then every tier at one thread (the scalar tier, about as slow as the
// reference, on its own with as few runs; the others side by side), then one copy of the plane.
void TierRows(const Options& o, Bench& b, Figures& fig) {
  const Timing oracle = Measure(
      o.quick ? 1 : 3, 0, [&] { b.Reset(); }, [&] { b.f.reference(b.tracks.data(), b.frame.plane(), 1); });
  PrintRow("reference (scalar oracle), T=1", oracle);
  fig.reference = oracle.best;
  core::WorkerPool one(1, false);
  auto tier_row = [&](core::CpuFlags t, const Timing& tm) {
    char note[96];
    const int n = std::snprintf(note, sizeof note, "%.1fx the reference%s", fig.reference / tm.best,
                                t == o.flags ? " (in use)" : "");
    if ((t & core::kCpuAvx512) && fig.avx2 > 0)
      std::snprintf(note + n, sizeof note - n, ", %.2fx avx2", fig.avx2 / tm.best);
    PrintRow(std::string(core::CpuTierName(t)) + ", T=1", tm, note);
    if (t == o.flags && t != 0) fig.in_use = tm.best;
    if (t == (core::kCpuSse2 | core::kCpuAvx2)) fig.avx2 = tm.best;
    if (t & core::kCpuAvx512) fig.wide.emplace_back(t, tm.best);
  };
  std::vector<bench::Timed> group;
  std::vector<core::CpuFlags> grouped;
  for (core::CpuFlags t : Tiers(o.flags)) {
    if (t == 0) tier_row(0, Measure(o.quick ? 1 : 3, 0, b.Run(0, one).setup, b.Run(0, one).fn));
    else group.push_back(b.Run(t, one)), grouped.push_back(t);
  }
  const std::vector<Timing> t1 = bench::MeasureTogether(o.quick ? 1 : 5, o.quick ? 0 : 2500, group);
  const Timing floor = FloorOf(b, o.quick);
  for (size_t i = 0; i < grouped.size(); ++i) tier_row(grouped[i], t1[i]);
  PrintRow("memory floor: one plane copy", floor, "(copies back to back)");
  fig.floor = floor.best;
}

// The tier in use at 1, 2 and (where there are more) all cores, side by side.
void ThreadRows(const Options& o, Bench& b, int cores, Figures& fig) {
  std::vector<int> counts = {1, 2};
  if (cores > 2) counts.push_back(cores);
  std::vector<std::unique_ptr<core::WorkerPool>> pools;
  std::vector<bench::Timed> group;
  for (int threads : counts) {
    pools.push_back(std::make_unique<core::WorkerPool>(threads, false));
    group.push_back(b.Run(o.flags, *pools.back()));
  }
  const std::vector<Timing> tt = bench::MeasureTogether(o.quick ? 1 : 5, o.quick ? 0 : 2500, group);
  for (size_t i = 0; i < counts.size(); ++i)
    PrintRow(std::string(core::CpuTierName(o.flags)) + ", T=" + std::to_string(counts[i]), tt[i]);
  // With the scalar tier in use (timed alone above), T=1 here stands for it against the reference.
  if (fig.in_use == 0) fig.in_use = tt[0].best;
  fig.t2_vs_t1 = tt[0].best / tt[1].best;
}

std::vector<Target> TargetsOf(const Plan& plan, const Figures& fig, core::CpuFlags in_use) {
  std::vector<Target> targets;
  if (fig.avx2 > 0)
    for (const auto& [tier, best] : fig.wide)
      if (plan.every_avx512 || tier == (core::kCpuSse2 | core::kCpuAvx2 | core::kCpuAvx512))
        targets.push_back(
            {std::string(core::CpuTierName(tier)) + (tier == in_use ? " (in use)" : "") + " T=1 vs avx2 T=1",
             fig.avx2 / best, plan.avx512_vs_avx2, Target::kAtLeast});
  targets.push_back(
      {"in use T=1 vs reference", fig.reference / fig.in_use, plan.vs_reference, Target::kAtLeast});
  if (plan.vs_floor > 0)
    targets.push_back({"in use T=1 vs floor", fig.in_use / fig.floor, plan.vs_floor, Target::kAtMost});
  targets.push_back({"in use T=2 vs T=1", fig.t2_vs_t1, plan.t2_vs_t1, Target::kAtLeast});
  return targets;
}

void BenchFilter(const Options& o, const Plan& plan, const Setting& s, const std::string& picture,
                 const core::Picture& src, int cores) {
  const core::FilterCore& f = *hostkit::FindBuiltinFilter(plan.filter);
  std::printf("\n%s %s, %s%*s best        fps     median runs cores\n", f.name, s.label, picture.c_str(),
              static_cast<int>(std::max<size_t>(0, 28 - std::strlen(s.label) - picture.size())), "");
  const std::vector<int32_t> tracks = TracksFor(f, s);
  Bench b(f, tracks, src);
  Figures fig;
  TierRows(o, b, fig);
  ThreadRows(o, b, cores, fig);
  PrintCoresNote(cores);
  bench::PrintTargets(TargetsOf(plan, fig, o.flags), 32);
}

// How cost grows: the tier in use on the photograph at 1920x1080 and 3840x2160, one thread and two,
// side by side, and one copy of each edit plane.
void BenchScaling(const Options& o, const Plan& plan, const core::Picture& hd, const core::Picture& uhd,
                  int cores) {
  const core::FilterCore& f = *hostkit::FindBuiltinFilter(plan.filter);
  const Setting& s = plan.settings.front();
  std::printf("\n%s %s, photo at 1920x1080 and 3840x2160%*s best        fps     median runs cores\n", f.name,
              s.label, static_cast<int>(std::max<size_t>(0, 4 - std::strlen(s.label))), "");
  const std::vector<int32_t> tracks = TracksFor(f, s);
  Bench small(f, tracks, hd), large(f, tracks, uhd);
  core::WorkerPool one(1, false), two(2, false);
  const std::vector<Timing> t =
      bench::MeasureTogether(o.quick ? 1 : 4, o.quick ? 0 : 4000,
                             {small.Run(o.flags, one), large.Run(o.flags, one), large.Run(o.flags, two)});
  const Timing small_floor = FloorOf(small, o.quick), large_floor = FloorOf(large, o.quick);
  const std::string tier = core::CpuTierName(o.flags);
  PrintRow("1920x1080, " + tier + ", T=1", t[0]);
  PrintRow("3840x2160, " + tier + ", T=1", t[1]);
  PrintRow("3840x2160, " + tier + ", T=2", t[2]);
  PrintRow("memory floor, 1920x1080", small_floor, "(copies back to back)");
  PrintRow("memory floor, 3840x2160", large_floor, "(copies back to back)");
  PrintCoresNote(cores);
  const double pixels = static_cast<double>(uhd.w) * uhd.h / (static_cast<double>(hd.w) * hd.h);
  std::printf("  (the memory floor per pixel: %.2fx; a plane of %.1f MB against %.1f MB)\n",
              large_floor.best / pixels / small_floor.best, uhd.pixels.size() * 6 / 1e6,
              hd.pixels.size() * 6 / 1e6);
  bench::PrintTargets({{"time per pixel, 3840x2160 vs 1920x1080 at T=1", t[1].best / pixels / t[0].best,
                        kLargePerPixel, Target::kAtMost},
                       {"3840x2160 T=2 vs T=1", t[1].best / t[2].best, kLargeT2VsT1, Target::kAtLeast}},
                      46);
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--cpu=", 0) == 0) o.cpu = a.substr(6);
    else if (a.rfind("--photo=", 0) == 0) o.photo = a.substr(8);
    else if (a.rfind("--filter=", 0) == 0) o.only = a.substr(9);
    else if (a == "--quick") o.quick = true;
    else {
      std::fprintf(
          stderr,
          "usage: frame_bench [--cpu=TIER|auto] [--photo=PATH] [--filter=velour|deblock] [--quick]\n");
      return false;
    }
  }
  if (core::CpuFlagsForTier(o.cpu, &o.flags)) return true;
  std::fprintf(stderr, "frame_bench: unknown tier '%s'\n", o.cpu.c_str());
  return false;
}

// The photograph scaled up, where it can be read, then noise.
std::vector<std::pair<std::string, core::Picture>> Pictures(const Options& o) {
  std::vector<std::pair<std::string, core::Picture>> pictures;
  core::Picture photo;
  if (bench::LoadPhoto(o.photo, &photo)) {
    const std::string base = o.photo.substr(o.photo.find_last_of('/') + 1);
    pictures.emplace_back("photo (" + base + " scaled up)", std::move(photo));
  } else {
    std::printf("(no photograph: %s could not be read)\n", o.photo.c_str());
  }
  pictures.emplace_back("noise", bench::Noise());
  return pictures;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;
  const int cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("frame_bench: %dx%d frames, tier in use: %s (detected %s), %d cores; ratios use the best run\n",
              kW, kH, core::CpuTierName(o.flags), core::CpuTierName(core::DetectCpuFlags()), cores);
  const auto pictures = Pictures(o);
  auto selected = [&](const Plan& p) {
    return o.only.empty() || o.only == p.filter;
  };
  // --quick (the smoke test): every code path once, on the first picture at the first setting.
  for (const auto& [label, picture] : pictures) {
    if (o.quick && &picture != &pictures.front().second) break;
    for (const Plan& plan : kPlans)
      for (size_t i = 0; selected(plan) && i < (o.quick ? 1 : plan.settings.size()); ++i)
        BenchFilter(o, plan, plan.settings[i], label, picture, cores);
  }
  // The photograph (or noise) at 3840x2160 beside 1920x1080.
  core::Picture uhd;
  if (pictures.size() < 2 || !bench::LoadPhoto(o.photo, &uhd, bench::k4kW, bench::k4kH))
    uhd = bench::Noise(bench::k4kW, bench::k4kH);
  for (const Plan& plan : kPlans)
    if (selected(plan)) BenchScaling(o, plan, pictures.front().second, uhd, cores);

  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf(
      "\npeak memory of the process (ru_maxrss): %.1f MB; velour's extra memory per frame: 0 bytes "
      "(luma and accumulator live in the host's temp plane)\n",
      ru.ru_maxrss / 1024.0);
  return 0;
}
