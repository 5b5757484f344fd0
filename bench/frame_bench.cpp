// Whole-frame timings of both filters on 1920x1080 frames (a photograph scaled up, and noise): the
// scalar reference, every tier at one thread, the best tier at 1, 2 and all cores; the memory floor
// (one copy of the edit plane) and the process's peak memory. One table, ratios of the targets below.
//
//   frame_bench [--cpu=c|sse2|avx2|avx512|auto] [--photo=PATH] [--filter=velour|deblock] [--quick]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
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

// The tiers of the table within `allowed`, scalar first.
std::vector<core::CpuFlags> Tiers(core::CpuFlags allowed) {
  std::vector<core::CpuFlags> tiers;
  for (const core::CpuTier& t : core::kCpuTiers)
    if ((allowed & t.flags) == t.flags) tiers.push_back(t.flags);
  return tiers;
}

std::string Ratio(double v, double target, bool at_least) {
  char b[96];
  const bool met = at_least ? v >= target : v <= target;
  std::snprintf(b, sizeof b, "%7.2fx  (target %s %.1fx: %s)", v, at_least ? ">=" : "<=", target,
                met ? "met" : "MISSED");
  return b;
}

// Times the core as aufhost runs it: the result of one partition, computed by T workers.
void BenchFilter(const Options& o, const core::FilterCore& f, const Setting& s, const char* picture,
                 const host::Frame& src, int cores, double floor_ms, bool is_velour) {
  std::printf("\n%s %s, %s%*s best        fps     median runs cores\n", f.name, s.label, picture,
              static_cast<int>(std::max<size_t>(0, 28 - std::strlen(s.label) - std::strlen(picture))), "");
  const int runs = o.quick ? 1 : 5;
  const double budget = o.quick ? 0 : 1500;
  host::Frame frame = src;
  auto reset = [&] {
    std::copy(src.edit.begin(), src.edit.end(), frame.edit.begin());
  };

  // Track values as a host would hand them.
  std::vector<int32_t> tracks = core::DefaultTrackValues(f);
  for (auto& [name, value] : s.tracks) core::SetTrackByName(f, tracks, name, value);

  const Timing oracle_t =
      Measure(o.quick ? 1 : 3, 0, reset, [&] { f.reference(tracks.data(), frame.EditPlane(), 1); });
  PrintRow("reference (scalar oracle), T=1", oracle_t);
  const double oracle = oracle_t.best;

  const std::vector<core::CpuFlags> tiers = Tiers(o.flags);
  double best1 = 0, best2 = 0, avx2 = 0;
  // The scalar tier takes about as long as the reference: as few runs.
  auto t_runs = [&](core::CpuFlags flags) {
    return flags == 0 && !o.quick ? 3 : runs;
  };
  auto run = [&](core::CpuFlags flags, int threads) {
    core::WorkerPool pool(threads, false);
    return Measure(t_runs(flags), budget, reset, [&] {
      f.filter(flags, tracks.data(), frame.EditPlane(), frame.TempPlane(), 1, pool.workers());
    });
  };
  for (core::CpuFlags t : tiers) {
    const Timing tm = run(t, 1);
    char note[64];
    std::snprintf(note, sizeof note, "%.1fx the reference", oracle / tm.best);
    PrintRow(std::string(core::CpuTierName(t)) + ", T=1", tm, note);
    if (t == tiers.back()) best1 = tm.best;
    if (t == (core::kCpuSse2 | core::kCpuAvx2)) avx2 = tm.best;
  }
  const core::CpuFlags best = tiers.back();
  const std::vector<int> counts = cores > 2 ? std::vector<int>{2, cores} : std::vector<int>{2};
  for (int threads : counts) {
    const Timing tm = run(best, threads);
    PrintRow(std::string(core::CpuTierName(best)) + ", T=" + std::to_string(threads), tm);
    if (threads == 2) best2 = tm.best;
  }
  if (cores <= 2)
    std::printf("  (the machine has %d cores: T=%d is the all-cores row)\n", cores, cores < 2 ? 1 : 2);
  std::printf(
      "  (cores: CPU time the process got per wall-clock time; below T, other processes held the rest)\n");
  // The tier above AVX2, where the CPU has one: AVX-512 against AVX2.
  const bool above_avx2 = avx2 > 0 && tiers.back() != (core::kCpuSse2 | core::kCpuAvx2);
  if (is_velour) {
    std::printf("  best T=1 vs reference T=1 %s\n", Ratio(oracle / best1, 115, true).c_str());
    if (above_avx2) std::printf("  best T=1 vs avx2 T=1      %s\n", Ratio(avx2 / best1, 1.3, true).c_str());
    std::printf("  best T=2 vs best T=1      %s\n", Ratio(best1 / best2, 1.8, true).c_str());
  } else {
    std::printf("  best T=1 vs reference T=1 %s\n", Ratio(oracle / best1, 10, true).c_str());
    if (above_avx2) std::printf("  best T=1 vs avx2 T=1      %s\n", Ratio(avx2 / best1, 1.2, true).c_str());
    std::printf("  best T=1 vs memory floor  %s\n", Ratio(best1 / floor_ms, 15, false).c_str());
    std::printf("  best T=2 vs best T=1      %s\n", Ratio(best1 / best2, 1.6, true).c_str());
  }
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
                   "usage: frame_bench [--cpu=c|sse2|avx2|avx512|auto] [--photo=PATH] "
                   "[--filter=velour|deblock] [--quick]\n");
      return 2;
    }
  }
  if (!core::CpuFlagsForTier(o.cpu, &o.flags)) {
    std::fprintf(stderr, "frame_bench: unknown tier '%s'\n", o.cpu.c_str());
    return 2;
  }
  const int cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf(
      "frame_bench: %dx%d frames, best tier allowed: %s (detected %s), %d cores; ratios use the best run\n",
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

  // Memory floor: one read and write of the edit plane.
  host::Frame a = pictures.front().second, b(kW, kH);
  const Timing floor_t = Measure(
      o.quick ? 1 : 25, 0, [] {},
      [&] { std::memcpy(b.edit.data(), a.edit.data(), a.edit.size() * sizeof(core::YcPixel)); });
  const double floor_ms = floor_t.best;
  std::printf("memory floor: one copy of the %dx%d edit plane (%.1f MB): best %.3f ms, median %.3f ms\n", kW,
              kH, a.edit.size() * sizeof(core::YcPixel) / 1e6, floor_t.best, floor_t.median);

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
        BenchFilter(o, *f, list[i], label.c_str(), pic, cores, floor_ms, name == "velour");
    }
  }

  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf(
      "\npeak memory of the process (ru_maxrss): %.1f MB; velour's extra memory per frame: 0 bytes "
      "(luma and accumulator live in the host's temp plane)\n",
      ru.ru_maxrss / 1024.0);
  return 0;
}
