// The .auf2 plug-ins as the 64-bit successor editor runs them, in its stand-in (standin/auf2_host.h):
// 1920x1080 and 3840x2160 frames through each plug-in's whole call, beside its core alone at the same
// settings and beside the classic plug-in file of the same filter (--classic, loaded through the
// older editor's stand-in) at the same thread count; the whole call on 8-bit images (an editor
// before 2004800) beside 16-bit ones (from 2004800) at 1920x1080; then the conversions to and from
// the filters' samples per tier, at both depths. Built natively and for 64-bit Windows, where
// scripts/bench runs it under Wine.
//
//   auf2_bench [--quick] [--classic=LIBRARY]... PLUGIN.auf2...
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "auf2/auf2_abi.h"
#include "bench/bench_support.h"
#include "core/cpu.h"
#include "core/rgba_dsp.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "host/frame.h"
#include "hostkit/builtin_filters.h"
#include "standin/auf2_host.h"
#include "standin/auf_host.h"

namespace {

using auf2::PixelRgba;
using bench::kH;
using bench::kW;
using bench::Measure;
using bench::Target;
using bench::Timing;
using Picture = std::vector<PixelRgba>;

// What each filter is timed at: the first setting also at 3840x2160.
struct Setting {
  const char* label;
  std::vector<std::pair<int, int32_t>> changes;  // track index, value
};
const std::map<std::string, std::vector<Setting>> kSettings = {
    {"velour", {{"defaults", {}}, {"quant 2, n_shift 64, matrix 4", {{0, 2}, {1, 64}, {2, 4}}}}},
    {"deblock", {{"defaults", {}}, {"quant 40", {{0, 40}}}}},
};
// The whole call at most this many times the classic plug-in's frame; at 3840x2160, time per pixel
// at most this many times 1920x1080's; on 16-bit images (twice the bytes) at most this many times
// on 8-bit ones.
constexpr double kVsClassic = 1.3, kLargePerPixel = 1.1, kDeepVsByte = 1.3;

struct Plugin : standin::Auf2Library {
  const core::FilterCore* core = nullptr;
  std::string name;
};

// The classic plug-in file of the same filter, loaded through the older editor's stand-in.
struct Classic {
  std::unique_ptr<standin::PluginLibrary> library;
  std::string file;
};

struct Options {
  std::vector<Plugin> plugins;
  std::vector<std::string> classic;
  bool quick = false;
};

// Loads the library and finds its core by the filter's name; "" or why it cannot be used.
std::string Load(Plugin& p) {
  if (const std::string e = standin::LoadAuf2(p); !e.empty()) return e;
  for (const wchar_t* c = p.table->name; *c != 0; ++c) p.name += *c < 128 ? static_cast<char>(*c) : '?';
  p.core = hostkit::FindBuiltinFilter(p.name);
  return p.core ? "" : p.path + ": no built-in filter named \"" + p.name + "\"";
}

void Row(const std::string& what, const Timing& t, const std::string& note = "") {
  std::printf("  %-44s %8.2f ms  %8.2f ms %3d  %s\n", what.c_str(), t.best, t.median, t.runs, note.c_str());
  std::fflush(stdout);
}

// One filter, setting and picture as the editor, the core and the classic editor run it: the
// frames, the stand-ins and the tracks the runs share.
struct Call {
  Plugin& p;
  int w, h;
  const Picture& picture;
  std::vector<int32_t> tracks;
  standin::HostImage image;
  host::Frame source, frame, classic_frame;
  core::WorkerPool pool;
  std::unique_ptr<standin::FilterHost> classic_host;
  Picture copy;

  Call(Plugin& p_, const Classic* classic, const Setting& s, const Picture& picture_, int w_, int h_,
       int cores)
      : p(p_),
        w(w_),
        h(h_),
        picture(picture_),
        tracks(core::DefaultTrackValues(*p.core)),
        source(w, h),
        frame(w, h),
        classic_frame(w, h),
        pool(cores, false),
        copy(picture.size()) {
    for (auto [i, v] : s.changes) tracks[i] = v;
    standin::WriteSettings(*p.table, std::vector<double>(tracks.begin(), tracks.end()));
    image.w = w;
    image.h = h;
    image.pixels = picture;
    standin::CallVideo(p, image, w, h);  // steady state: the plug-in's buffers exist
    for (size_t i = 0; i < picture.size(); ++i)
      source.edit[i] = core::RgbToYc(picture[i].r, picture[i].g, picture[i].b);
    if (classic == nullptr) return;
    classic_host = std::make_unique<standin::FilterHost>(classic->library->table(), &pool);
    for (size_t i = 0; i < tracks.size(); ++i)
      classic_host->SetTrackUnchecked(static_cast<int>(i), tracks[i]);
  }

  // The .auf2 whole call (the editor's two copies of the image included), the core alone, the two
  // copies alone and the classic plug-in's frame, side by side.
  std::vector<Timing> Time(bool quick) {
    const size_t n = picture.size();
    std::vector<bench::Timed> what = {
        {[&] { std::copy(picture.begin(), picture.end(), image.pixels.begin()); },
         [&] {
           standin::CallVideo(p, image, w, h);
         }},
        {[&] { frame.edit = source.edit; },
         [&] {
           p.core->filter(core::DetectCpuFlags(), tracks.data(), frame.EditPlane(), frame.TempPlane(), 1,
                          pool.workers());
         }},
        {[] {},
         [&] {
           std::memcpy(copy.data(), image.pixels.data(), n * sizeof(PixelRgba));
           std::memcpy(image.pixels.data(), copy.data(), n * sizeof(PixelRgba));
         }}};
    if (classic_host)
      what.push_back({[&] { classic_frame.edit = source.edit; },
                      [&] {
                        classic_host->Process(classic_frame);
                      }});
    return bench::MeasureTogether(quick ? 1 : 6, quick ? 0 : 3000, what);
  }

  // Whether the plug-in's picture is the core's result, converted back.
  bool ResultIsTheCores() {
    Picture want = picture;
    for (size_t i = 0; i < want.size(); ++i) core::YcToRgb(frame.edit[i], &want[i].r);
    std::copy(picture.begin(), picture.end(), image.pixels.begin());
    standin::CallVideo(p, image, w, h);
    return std::memcmp(want.data(), image.pixels.data(), want.size() * sizeof(PixelRgba)) == 0;
  }
};

// One filter, setting and picture: the rows, and the whole call against the classic frame. Returns
// the whole call's time per pixel; 0 where the result was not the core's.
double BenchCall(Plugin& p, const Classic* classic, const Setting& s, const Picture& picture, int w, int h,
                 int cores, bool quick) {
  std::printf("\n%s %s, %dx%d%*s best      median runs\n", p.name.c_str(), s.label, w, h,
              static_cast<int>(std::max<size_t>(0, 38 - p.name.size() - std::strlen(s.label))), "");
  Call call(p, classic, s, picture, w, h, cores);
  const std::vector<Timing> t = call.Time(quick);
  const std::string threads = "T=" + std::to_string(cores);
  Row(p.name + ".auf2, the whole call", t[0]);
  Row("core alone, " + threads, t[1]);
  Row("the editor's two copies of the image alone", t[2]);
  if (!call.ResultIsTheCores()) {
    std::printf("auf2_bench: FAIL: %s.auf2's picture in the timing run is not its core's\n", p.name.c_str());
    return 0;
  }
  if (classic) {
    Row(classic->file + ", the classic plug-in's frame, " + threads, t[3]);
    const Target vs{".auf2 vs classic frame, " + threads, t[0].best / t[3].best, kVsClassic, Target::kAtMost};
    bench::PrintTargets({vs}, 30);
    if (!bench::Met(vs))
      std::printf(
          "  (of the whole call: %.2f ms the editor's copies, %.2f ms the plug-in's own work, against "
          "%.2f ms for the classic frame and %.2f ms for the core alone; the rest of the plug-in's "
          "work is converting %.1f M pixels each way)\n",
          t[2].best, t[0].best - t[2].best, t[3].best, t[1].best, picture.size() / 1e6);
  }
  std::printf("  .auf2 vs core %8.2fx; the %.2f ms more are the conversions and the editor's two copies\n",
              t[0].best / t[1].best, t[0].best - t[1].best);
  return t[0].best / static_cast<double>(picture.size());
}

// Every setting at 1920x1080, the first at 3840x2160 too; false where a result was not the core's.
bool BenchPlugin(Plugin& p, const Classic* classic, int cores, bool quick) {
  const Picture hd = standin::BlockyPicture(kW, kH, 2024), uhd = standin::BlockyPicture(2 * kW, 2 * kH, 2025);
  if (classic == nullptr)
    std::printf("\n(%s: no classic plug-in file given to compare with)\n", p.name.c_str());
  const std::vector<Setting>& settings = kSettings.at(p.name);
  double per_pixel = 0;
  for (const Setting& s : settings) {
    const double v = BenchCall(p, classic, s, hd, kW, kH, cores, quick);
    if (v == 0) return false;
    if (&s == &settings.front()) per_pixel = v;
  }
  const double uhd_per_pixel = BenchCall(p, classic, settings.front(), uhd, 2 * kW, 2 * kH, cores, quick);
  if (uhd_per_pixel == 0) return false;
  bench::PrintTargets({{p.name + ".auf2 time per pixel, 3840x2160 vs 1920x1080", uhd_per_pixel / per_pixel,
                        kLargePerPixel, Target::kAtMost}},
                      46);
  return true;
}

// The whole call at 1920x1080 on 8-bit images (an editor before 2004800) and on 16-bit ones (from
// 2004800), each frame back to its first picture before each call, beside the editor's two copies of
// the image alone at each depth, which the plug-in cannot make shorter.
std::vector<Timing> TimeDepths(Plugin& byte, Plugin& deep, standin::HostImage& image8,
                               standin::HostImage& image16, bool quick) {
  const Picture picture = image8.pixels;
  const std::vector<auf2::PixelPa64> picture16 = image16.pixels16;
  Picture copy8(picture.size());
  std::vector<auf2::PixelPa64> copy16(picture16.size());
  auto copies = [](auto& image, auto& copy) {
    const size_t bytes = copy.size() * sizeof copy[0];
    std::memcpy(copy.data(), image.data(), bytes);
    std::memcpy(image.data(), copy.data(), bytes);
  };
  return bench::MeasureTogether(quick ? 1 : 6, quick ? 0 : 3000,
                                {{[&] {
                                    byte.initialize(byte.host_version);
                                    std::copy(picture.begin(), picture.end(), image8.pixels.begin());
                                  },
                                  [&] {
                                    standin::CallVideo(byte, image8, kW, kH);
                                  }},
                                 {[&] {
                                    deep.initialize(deep.host_version);
                                    std::copy(picture16.begin(), picture16.end(), image16.pixels16.begin());
                                  },
                                  [&] {
                                    standin::CallVideo(deep, image16, kW, kH);
                                  }},
                                 {[] {},
                                  [&] {
                                    copies(image8.pixels, copy8);
                                  }},
                                 {[] {},
                                  [&] {
                                    copies(image16.pixels16, copy16);
                                  }}});
}

// The rows of TimeDepths, the target, and what the editor's copies alone leave of it: the ratio the
// whole call would have if the plug-in's own work took no longer at 16 bits than at 8.
void PrintDepthRows(const Plugin& p, const Setting& s, uint32_t byte_version, uint32_t deep_version,
                    const std::vector<Timing>& t) {
  std::printf("\n%s %s, %dx%d, the whole call by depth%*s best      median runs\n", p.name.c_str(), s.label,
              kW, kH, static_cast<int>(std::max<size_t>(0, 24 - p.name.size() - std::strlen(s.label))), "");
  Row("8-bit images (editor " + std::to_string(byte_version) + ")", t[0]);
  Row("16-bit images (editor " + std::to_string(deep_version) + ")", t[1]);
  Row("the editor's two copies alone, 8 bits", t[2]);
  Row("the editor's two copies alone, 16 bits", t[3]);
  bench::PrintTargets({{"16-bit vs 8-bit images", t[1].best / t[0].best, kDeepVsByte, Target::kAtMost}}, 30);
  const double own8 = t[0].best - t[2].best, own16 = t[1].best - t[3].best;
  std::printf("  the plug-in's own work: %.2f ms at 16 bits, %.2f ms at 8 bits (%.2fx)\n", own16, own8,
              own16 / own8);
  std::printf("  with its own work no longer at 16 bits than at 8, the editor's copies alone make %.2fx\n",
              (t[3].best + own8) / t[0].best);
}

// Whether the 16-bit picture that came back is the core's result on `picture16`.
bool IsCoresResult16(const Plugin& p, const std::vector<int32_t>& tracks,
                     const std::vector<auf2::PixelPa64>& picture16, const standin::HostImage& image16) {
  host::Frame f(kW, kH);
  for (size_t i = 0; i < picture16.size(); ++i)
    f.edit[i] = core::Pa64ToYc(picture16[i].r, picture16[i].g, picture16[i].b);
  p.core->filter(core::DetectCpuFlags(), tracks.data(), f.EditPlane(), f.TempPlane(), 1,
                 core::SerialWorkers());
  std::vector<auf2::PixelPa64> want = picture16;
  for (size_t i = 0; i < want.size(); ++i) core::YcToPa64(f.edit[i], &want[i].r);
  return std::memcmp(want.data(), image16.pixels16.data(), want.size() * sizeof want[0]) == 0;
}

// Every setting of the filter by depth; false where the 16-bit picture that came back is not the
// core's result.
bool BenchDepths(Plugin& p, bool quick) {
  if (p.initialize == nullptr) {
    std::printf("\n(%s: no InitializePlugin, so no 16-bit images to compare)\n", p.name.c_str());
    return true;
  }
  Plugin byte = p, deep = p;
  byte.host_version = standin::kHostWithoutDeepImages;
  deep.host_version = standin::kHostWithDeepImages;
  for (const Setting& s : kSettings.at(p.name)) {
    std::vector<int32_t> tracks = core::DefaultTrackValues(*p.core);
    for (auto [i, v] : s.changes) tracks[i] = v;
    standin::WriteSettings(*p.table, std::vector<double>(tracks.begin(), tracks.end()));
    standin::HostImage image8, image16;
    image8.w = image16.w = kW;
    image8.h = image16.h = kH;
    image8.pixels = standin::BlockyPicture(kW, kH, 2024);
    image16.pixels16 = standin::BlockyPicture16(kW, kH, 2024);
    const std::vector<auf2::PixelPa64> picture16 = image16.pixels16;
    PrintDepthRows(p, s, byte.host_version, deep.host_version,
                   TimeDepths(byte, deep, image8, image16, quick));
    if (!IsCoresResult16(p, tracks, picture16, image16)) {
      std::printf("auf2_bench: FAIL: %s.auf2's 16-bit picture in the timing run is not its core's\n",
                  p.name.c_str());
      return false;
    }
  }
  return true;
}

// A 1920x1080 frame at both depths and its samples.
struct ConversionFrames {
  std::vector<uint8_t> rgba;
  std::vector<uint16_t> pa64;
  std::vector<core::YcPixel> yc;
};

// Each way of one tier's table on one thread; scalar[k] holds the scalar tier's time of way k (the
// first tier timed).
void BenchTierConversions(const core::CpuTier& tier, ConversionFrames& f, int runs, double budget,
                          double* scalar) {
  const core::RgbaDsp& dsp = core::RgbaDspFor(tier.flags);
  const int32_t n = static_cast<int32_t>(f.yc.size());
  const std::pair<std::string, std::function<void()>> ways[4] = {
      {"RGBA to samples",
       [&] {
         dsp.RgbaToYcRow(f.rgba.data(), f.yc.data(), n);
       }},
      {"samples to RGBA",
       [&] {
         dsp.YcToRgbaRow(f.yc.data(), f.rgba.data(), n);
       }},
      {"16-bit RGBA to samples",
       [&] {
         dsp.Pa64ToYcRow(f.pa64.data(), f.yc.data(), n);
       }},
      {"samples to 16-bit RGBA", [&] {
         dsp.YcToPa64Row(f.yc.data(), f.pa64.data(), n);
       }}};
  for (int k = 0; k < 4; ++k) {
    const Timing t = Measure(
        runs, budget, [] {}, ways[k].second);
    if (tier.flags == 0) scalar[k] = t.best;
    char note[48];
    std::snprintf(note, sizeof note, "%.1fx the scalar kernel", scalar[k] / t.best);
    Row(ways[k].first + ", " + tier.name + ", T=1", t, note);
  }
}

// The conversions of a 1920x1080 frame to the filters' samples and back: one copy of the RGBA frame,
// each tier on one thread at both depths, and both ways on the workers as the plug-ins run them.
void BenchConversions(int cores, bool quick) {
  const int32_t n = kW * kH;
  std::printf(
      "\nconversion of a %dx%d frame (%.1f MB of RGBA, %.1f MB of samples)      best      median runs\n", kW,
      kH, n * 4 / 1e6, n * 6 / 1e6);
  const Picture picture = standin::BlockyPicture(kW, kH, 2024);
  const std::vector<auf2::PixelPa64> picture16 = standin::BlockyPicture16(kW, kH, 2024);
  ConversionFrames f{{reinterpret_cast<const uint8_t*>(picture.data()),
                      reinterpret_cast<const uint8_t*>(picture.data()) + 4 * size_t{n}},
                     {&picture16[0].r, &picture16[0].r + 4 * size_t{n}},
                     std::vector<core::YcPixel>(n)};
  const int runs = quick ? 1 : 10;
  const double budget = quick ? 0 : 500;
  std::vector<uint8_t> copy(f.rgba.size());
  Row("memory floor: one copy of the RGBA frame",
      Measure(
          runs * 3, budget, [] {}, [&] { std::memcpy(copy.data(), f.rgba.data(), f.rgba.size()); }));
  const core::CpuFlags flags = core::DetectCpuFlags();
  double scalar[4] = {0, 0, 0, 0};
  for (const core::CpuTier& tier : core::kCpuTiers)
    if ((flags & tier.flags) == tier.flags) BenchTierConversions(tier, f, runs, budget, scalar);
  core::WorkerPool pool(cores, false);
  const core::Workers workers = pool.workers();
  const core::RgbaDsp& dsp = core::RgbaDspFor(flags);
  Row("both ways as the plug-ins run them, T=" + std::to_string(cores),
      Measure(
          runs, budget, [] {},
          [&] {
            core::RgbaImageToYcOnWorkers(dsp, workers, {f.rgba.data(), kW, kH, false}, f.yc.data());
            core::YcToRgbaImageOnWorkers(dsp, workers, f.yc.data(), {f.rgba.data(), kW, kH, false});
          }));
  Row("both ways at 16 bits as the plug-ins run them, T=" + std::to_string(cores),
      Measure(
          runs, budget, [] {},
          [&] {
            core::RgbaImageToYcOnWorkers(dsp, workers, {f.pa64.data(), kW, kH, true}, f.yc.data());
            core::YcToRgbaImageOnWorkers(dsp, workers, f.yc.data(), {f.pa64.data(), kW, kH, true});
          }));
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--quick") o.quick = true;
    else if (a.rfind("--classic=", 0) == 0) o.classic.emplace_back(a.substr(10));
    else if (a.empty() || a[0] == '-') return false;
    else o.plugins.emplace_back().path = a;
  }
  return !o.plugins.empty();
}

// The classic files by the name of the .auf2 plug-in whose filter they hold.
std::map<std::string, Classic> LoadClassics(const Options& o) {
  std::map<std::string, Classic> classics;
  for (const std::string& path : o.classic) {
    Classic c{std::make_unique<standin::PluginLibrary>(path), path.substr(path.find_last_of("/\\") + 1)};
    const std::string title = c.library->table()->name;
    for (const Plugin& p : o.plugins)
      if (title == p.core->title) {
        classics[p.name] = std::move(c);
        break;
      }
  }
  return classics;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr, "usage: auf2_bench [--quick] [--classic=LIBRARY]... PLUGIN.auf2...\n");
    return 2;
  }
  for (Plugin& p : o.plugins)
    if (const std::string e = Load(p); !e.empty()) {
      std::fprintf(stderr, "auf2_bench: %s\n", e.c_str());
      return 1;
    }
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf("auf2_bench: 1920x1080 and 3840x2160 frames, tier %s, %d cores; best and median of the runs\n",
              core::CpuTierName(core::DetectCpuFlags()), cores);
  bool ok = true;
  try {
    std::map<std::string, Classic> classics = LoadClassics(o);
    for (Plugin& p : o.plugins) {
      const auto it = classics.find(p.name);
      ok = BenchPlugin(p, it == classics.end() ? nullptr : &it->second, cores, o.quick) && ok;
    }
    for (Plugin& p : o.plugins) ok = BenchDepths(p, o.quick) && ok;
  } catch (const standin::HostError& e) {
    std::fprintf(stderr, "auf2_bench: %s\n", e.what());
    return 1;
  }
  BenchConversions(cores, o.quick);
  for (Plugin& p : o.plugins)
    if (p.uninitialize) p.uninitialize();
  return ok ? 0 : 1;
}
