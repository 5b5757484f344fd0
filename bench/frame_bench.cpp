// Whole-frame timings of both filters on 1920x1080 frames (a photograph scaled up, and noise): the
// scalar reference, every tier at one thread, the tier in use at 1, 2 and all cores, the memory
// floor (one copy of the edit plane, copies back to back), each group of rows measured side by
// side; the same at 3840x2160 beside 1920x1080; and the process's peak memory. Ratios against the
// targets below.
//
//   frame_bench [--cpu=TIER|auto] [--photo=PATH] [--filter=velour|deblock] [--quick]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/cpu.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "host/frame.h"
#include "tools/filters/builtin_filters.h"
#include "velour/velour.h"
#include "velour/velour_dsp.h"

namespace {

using bench::kH;
using bench::kW;
using bench::Measure;
using bench::Timing;

struct Options {
  core::CpuFlags flags = 0;
  std::string cpu = "auto";
  std::string photo;
  std::string only;
  bool quick = false;
};

struct Setting {
  const char* label;
  std::vector<std::pair<const char*, int32_t>> tracks;
};

void PrintRow(const std::string& what, const Timing& t, const std::string& note = "") {
  std::printf("  %-32s %9.2f ms %8.1f fps  %9.2f ms %3d %5.2f  %s\n", what.c_str(), t.best, 1000.0 / t.best,
              t.median, t.runs, t.cores, note.c_str());
  std::fflush(stdout);
}

// The tiers of the table this CPU can run within `allowed` (both choices of AVX-512 kernels where
// `allowed` has AVX-512), scalar first.
std::vector<core::CpuFlags> Tiers(core::CpuFlags allowed) {
  if (allowed & core::kCpuAvx512) allowed |= core::kCpuAvx512Ymm;
  std::vector<core::CpuFlags> tiers;
  for (const core::CpuTier& t : core::kCpuTiers)
    if ((allowed & t.flags) == t.flags && core::CpuHasTier(t)) tiers.push_back(t.flags);
  return tiers;
}

std::string Ratio(double v, double target, bool at_least) {
  char b[96];
  const bool met = at_least ? v >= target : v <= target;
  std::snprintf(b, sizeof b, "%7.2fx  (target %s %.1fx: %s)", v, at_least ? ">=" : "<=", target,
                met ? "met" : "MISSED");
  return b;
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
  const host::Frame& src;
  host::Frame frame;
  Bench(const core::FilterCore& f_, const std::vector<int32_t>& tracks_, const host::Frame& src_)
      : f(f_), tracks(tracks_), src(src_), frame(src_) {}
  void Reset() { std::copy(src.edit.begin(), src.edit.end(), frame.edit.begin()); }
  bench::Timed Run(core::CpuFlags flags, core::WorkerPool& pool) {
    return {[this] { Reset(); },
            [this, flags, &pool] {
              f.filter(flags, tracks.data(), frame.EditPlane(), frame.TempPlane(), 1, pool.workers());
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
        std::memcpy(b.frame.edit.data(), b.src.edit.data(), b.src.edit.size() * sizeof(core::YcPixel));
      });
}

void PrintCoresNote(int cores) {
  if (cores <= 2)
    std::printf("  (the machine has %d cores: T=%d is the all-cores row)\n", cores, cores < 2 ? 1 : 2);
  std::printf(
      "  (cores: CPU time the process got per wall-clock time; below T, other processes held the rest)\n");
}

// Every tier at one thread, then the tier in use at 1, 2 and all cores, each group side by side;
// deblock's rows beside one copy of the edit plane.
void BenchFilter(const Options& o, const core::FilterCore& f, const Setting& s, const char* picture,
                 const host::Frame& src, int cores, bool is_velour) {
  std::printf("\n%s %s, %s%*s best        fps     median runs cores\n", f.name, s.label, picture,
              static_cast<int>(std::max<size_t>(0, 28 - std::strlen(s.label) - std::strlen(picture))), "");
  const int runs = o.quick ? 1 : 5;
  const double budget = o.quick ? 0 : 2500;
  const std::vector<int32_t> tracks = TracksFor(f, s);
  Bench b(f, tracks, src);

  const Timing oracle_t = Measure(
      o.quick ? 1 : 3, 0, [&] { b.Reset(); }, [&] { f.reference(tracks.data(), b.frame.EditPlane(), 1); });
  PrintRow("reference (scalar oracle), T=1", oracle_t);
  const double oracle = oracle_t.best;

  core::WorkerPool one(1, false);
  const std::vector<core::CpuFlags> tiers = Tiers(o.flags);
  auto tier_row = [&](core::CpuFlags t, const Timing& tm) {
    char note[64];
    std::snprintf(note, sizeof note, "%.1fx the reference%s", oracle / tm.best,
                  t == o.flags ? " (in use)" : "");
    PrintRow(std::string(core::CpuTierName(t)) + ", T=1", tm, note);
  };
  // The scalar tier takes about as long as the reference: on its own, as few runs.
  std::vector<bench::Timed> group;
  std::vector<core::CpuFlags> grouped;
  for (core::CpuFlags t : tiers) {
    if (t == 0) tier_row(0, Measure(o.quick ? 1 : 3, 0, b.Run(0, one).setup, b.Run(0, one).fn));
    else group.push_back(b.Run(t, one)), grouped.push_back(t);
  }
  const std::vector<Timing> t1 = bench::MeasureTogether(runs, budget, group);
  const Timing floor_t = FloorOf(b, o.quick);
  double best1 = 0, avx2 = 0;
  for (size_t i = 0; i < grouped.size(); ++i) {
    tier_row(grouped[i], t1[i]);
    if (grouped[i] == o.flags) best1 = t1[i].best;
    if (grouped[i] == (core::kCpuSse2 | core::kCpuAvx2)) avx2 = t1[i].best;
  }
  const double floor_ms = floor_t.best;
  PrintRow("memory floor: one plane copy", floor_t, "(copies back to back)");

  std::vector<int> counts = {1, 2};
  if (cores > 2) counts.push_back(cores);
  std::vector<std::unique_ptr<core::WorkerPool>> pools;
  group.clear();
  for (int threads : counts) {
    pools.push_back(std::make_unique<core::WorkerPool>(threads, false));
    group.push_back(b.Run(o.flags, *pools.back()));
  }
  const std::vector<Timing> tt = bench::MeasureTogether(runs, budget, group);
  for (size_t i = 0; i < counts.size(); ++i)
    PrintRow(std::string(core::CpuTierName(o.flags)) + ", T=" + std::to_string(counts[i]), tt[i]);
  const double best2 = tt[1].best;
  if (best1 == 0) best1 = tt[0].best;
  PrintCoresNote(cores);
  // The tiers above AVX2, where the CPU has them: both choices of AVX-512 kernels against AVX2.
  const double target_avx2 = is_velour ? 1.3 : 1.2;
  for (size_t i = 0; i < grouped.size(); ++i)
    if ((grouped[i] & core::kCpuAvx512) && avx2 > 0)
      std::printf("  %-10s T=1 vs avx2 T=1  %s%s\n", core::CpuTierName(grouped[i]),
                  Ratio(avx2 / t1[i].best, target_avx2, true).c_str(),
                  grouped[i] == o.flags ? " (in use)" : "");
  std::printf("  in use T=1 vs reference  %s\n", Ratio(oracle / best1, is_velour ? 115 : 10, true).c_str());
  if (!is_velour) std::printf("  in use T=1 vs floor      %s\n", Ratio(best1 / floor_ms, 3, false).c_str());
  std::printf("  in use T=2 vs T=1        %s\n",
              Ratio(tt[0].best / best2, is_velour ? 1.8 : 1.6, true).c_str());
}

// How cost grows: the tier in use on the photograph at 1920x1080 and 3840x2160, one thread and two,
// side by side, and one copy of each edit plane. Time per pixel at 3840x2160 within 10% of
// 1920x1080's, and two threads 1.8 times as fast as one there.
void BenchScaling(const Options& o, const core::FilterCore& f, const Setting& s, const host::Frame& hd,
                  const host::Frame& uhd, int cores) {
  std::printf("\n%s %s, photo at 1920x1080 and 3840x2160%*s best        fps     median runs cores\n", f.name,
              s.label, static_cast<int>(std::max<size_t>(0, 4 - std::strlen(s.label))), "");
  const std::vector<int32_t> tracks = TracksFor(f, s);
  Bench small(f, tracks, hd), large(f, tracks, uhd);
  core::WorkerPool one(1, false), two(2, false);
  const std::vector<Timing> t = bench::MeasureTogether(o.quick ? 1 : 4, o.quick ? 0 : 4000,
                                                       {
                                                           small.Run(o.flags, one),
                                                           large.Run(o.flags, one),
                                                           large.Run(o.flags, two),
                                                       });
  const Timing small_floor = FloorOf(small, o.quick), large_floor = FloorOf(large, o.quick);
  const std::string tier = core::CpuTierName(o.flags);
  PrintRow("1920x1080, " + tier + ", T=1", t[0]);
  PrintRow("3840x2160, " + tier + ", T=1", t[1]);
  PrintRow("3840x2160, " + tier + ", T=2", t[2]);
  PrintRow("memory floor, 1920x1080", small_floor, "(copies back to back)");
  PrintRow("memory floor, 3840x2160", large_floor, "(copies back to back)");
  PrintCoresNote(cores);
  const double pixels = static_cast<double>(uhd.w) * uhd.h / (static_cast<double>(hd.w) * hd.h);
  std::printf("  time per pixel, 3840x2160 vs 1920x1080 at T=1  %s\n",
              Ratio(t[1].best / pixels / t[0].best, 1.1, false).c_str());
  std::printf("  (the memory floor per pixel: %.2fx; a plane of %.1f MB against %.1f MB)\n",
              large_floor.best / pixels / small_floor.best, uhd.edit.size() * 6 / 1e6,
              hd.edit.size() * 6 / 1e6);
  std::printf("  3840x2160 T=2 vs T=1                           %s\n",
              Ratio(t[1].best / t[2].best, 1.8, true).c_str());
}

// Per kernel and tier: ns per call on in-cache data, best of many samples, speed-up over _C.
void BenchKernels(const Options& o) {
  std::printf("\nvelour kernels (one 1920-pixel row; best of %d samples)\n", o.quick ? 1 : 30);
  const int w = kW, blocks = (w - 8) / 8;
  std::vector<int16_t> luma(9 * w), partial(9 * w), pixels(3 * w);
  std::vector<int32_t> acc(9 * w);
  uint32_t r = 1;
  for (auto& v : luma) v = static_cast<int16_t>((r = r * 1103515245u + 12345u) >> 24);
  for (auto& v : pixels) v = static_cast<int16_t>((r = r * 1103515245u + 12345u) >> 20);
  int16_t steps[64];
  velour::LoadStepTable(steps, 3);
  velour::ScaleStepTable(steps, 1);
  struct Kernel {
    const char* name;
    int calls;
    std::function<void(const velour::VelourDsp&)> call;
    std::function<const void*(const velour::VelourDsp&)> slot;
  };
  const std::vector<Kernel> kernels = {
      {"FilterBlockRow (239 blocks)", 4,
       [&](const velour::VelourDsp& d) {
         d.FilterBlockRow(luma.data() + 3, 2 * w, partial.data() + 3, 2 * w, blocks, 0, 8, steps);
       },
       [](const velour::VelourDsp& d) {
         return reinterpret_cast<const void*>(d.FilterBlockRow);
       }},
      {"LumaRow", 64, [&](const velour::VelourDsp& d) { d.LumaRow(pixels.data(), luma.data(), w); },
       [](const velour::VelourDsp& d) {
         return reinterpret_cast<const void*>(d.LumaRow);
       }},
      {"FilterBlockRowWide (239 blocks)", 4,
       [&](const velour::VelourDsp& d) {
         d.FilterBlockRowWide(luma.data() + 3, 2 * w, acc.data() + 3, 4 * w, blocks, 0, 8, steps);
       },
       [](const velour::VelourDsp& d) {
         return reinterpret_cast<const void*>(d.FilterBlockRowWide);
       }},
      {"AddRow", 64, [&](const velour::VelourDsp& d) { d.AddRow(luma.data(), partial.data(), w); },
       [](const velour::VelourDsp& d) {
         return reinterpret_cast<const void*>(d.AddRow);
       }},
      {"FoldRow", 64, [&](const velour::VelourDsp& d) { d.FoldRow(partial.data(), acc.data(), w); },
       [](const velour::VelourDsp& d) {
         return reinterpret_cast<const void*>(d.FoldRow);
       }},
      {"AverageRow", 64, [&](const velour::VelourDsp& d) { d.AverageRow(acc.data(), pixels.data(), w, 9); },
       [](const velour::VelourDsp& d) {
         return reinterpret_cast<const void*>(d.AverageRow);
       }},
  };
  velour::VelourDsp scalar;
  velour::InitVelourDsp(scalar, 0);
  for (const Kernel& k : kernels) {
    double c_ns = 0;
    for (core::CpuFlags t : Tiers(o.flags)) {
      velour::VelourDsp d;
      velour::InitVelourDsp(d, t);
      if (t != 0 && k.slot(d) == k.slot(scalar)) {
        std::printf("  %-31s %-6s (the scalar kernel)\n", k.name, core::CpuTierName(t));
        continue;
      }
      const int calls = t == 0 ? 1 : k.calls;
      const Timing tm = Measure(
          o.quick ? 1 : 30, 0, [] {},
          [&] {
            for (int i = 0; i < calls; ++i) k.call(d);
          });
      const double ns = tm.best * 1e6 / calls;
      if (t == 0) c_ns = ns;
      std::printf("  %-31s %-6s %12.0f ns  %6.1fx\n", k.name, core::CpuTierName(t), ns, c_ns / ns);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  o.photo = std::string(AUF_SOURCE_DIR) + "/media/astronaut.png";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--cpu=", 0) == 0) {
      o.cpu = a.substr(6);
    } else if (a.rfind("--photo=", 0) == 0) {
      o.photo = a.substr(8);
    } else if (a.rfind("--filter=", 0) == 0) {
      o.only = a.substr(9);
    } else if (a == "--quick") {
      o.quick = true;
    } else {
      std::fprintf(stderr,
                   "usage: frame_bench [--cpu=TIER|auto] [--photo=PATH] "
                   "[--filter=velour|deblock] [--quick]\n");
      return 2;
    }
  }
  if (!core::CpuFlagsForTier(o.cpu, &o.flags)) {
    std::fprintf(stderr, "frame_bench: unknown tier '%s'\n", o.cpu.c_str());
    return 2;
  }
  const int cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("frame_bench: %dx%d frames, tier in use: %s (detected %s), %d cores; ratios use the best run\n",
              kW, kH, core::CpuTierName(o.flags), core::CpuTierName(core::DetectCpuFlags()), cores);

  std::vector<std::pair<std::string, host::Frame>> pictures;
  host::Frame photo;
  if (bench::LoadPhoto(o.photo, &photo)) {
    const std::string base = o.photo.substr(o.photo.find_last_of('/') + 1);
    pictures.emplace_back("photo (" + base + " scaled up)", std::move(photo));
  } else {
    std::printf("(no photograph: %s could not be read)\n", o.photo.c_str());
  }
  pictures.emplace_back("noise", bench::Noise());

  if (o.only.empty() || o.only == "velour") BenchKernels(o);

  const std::vector<std::pair<std::string, std::vector<Setting>>> settings = {
      {"velour", {{"defaults", {}}, {"n_shift 64", {{"n_shift", 64}}}}},
      {"deblock", {{"defaults", {}}, {"quant 40", {{"quant", 40}}}}},
  };
  // --quick (the smoke test): every code path once, on the first picture at the defaults.
  for (auto& [label, pic] : pictures) {
    if (o.quick && &pic != &pictures.front().second) break;
    for (const auto& [name, list] : settings) {
      if (!o.only.empty() && o.only != name) continue;
      const core::FilterCore* f = tools::FindBuiltinFilter(name);
      for (size_t i = 0; i < (o.quick ? 1 : list.size()); ++i)
        BenchFilter(o, *f, list[i], label.c_str(), pic, cores, name == "velour");
    }
  }
  // The photograph (or noise) at 3840x2160 beside 1920x1080.
  host::Frame uhd;
  if (pictures.size() < 2 || !bench::LoadPhoto(o.photo, &uhd, bench::k4kW, bench::k4kH))
    uhd = bench::Noise(bench::k4kW, bench::k4kH);
  for (const auto& [name, list] : settings)
    if (o.only.empty() || o.only == name)
      BenchScaling(o, *tools::FindBuiltinFilter(name), list[0], pictures.front().second, uhd, cores);

  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf(
      "\npeak memory of the process (ru_maxrss): %.1f MB; velour's extra memory per frame: 0 bytes "
      "(luma and accumulator live in the host's temp plane)\n",
      ru.ru_maxrss / 1024.0);
  return 0;
}
