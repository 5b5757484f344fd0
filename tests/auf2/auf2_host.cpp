// The .auf2 plug-ins in the stand-in of the 64-bit successor editor (standin/auf2_host.h): their
// exports, filter table and setting items against their cores' tracks, and every picture that comes
// back from the video procedure, which must equal, bit for bit, the filter core applied to the same
// converted picture: for several sizes, track sets and alpha patterns, from two threads at once, and
// while the editor changes the settings during a call. The editors are played one after another in
// one process: one that never calls InitializePlugin and the last one without 16-bit images (8-bit
// calls only, the record ending before an inaccessible page), then the first with them (16-bit
// calls only), each told its version as a fresh load would be. Built natively and for 64-bit
// Windows, where scripts/test-windows runs it under Wine.
//
//   auf2_host [--max-pixels=N] PLUGIN.auf2...
//
// --max-pixels leaves out the checks on larger pictures (the sanitizer builds). Their timings:
// bench/auf2_bench.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "auf2/auf2_abi.h"
#include "auf_version.h"
#include "core/cpu.h"
#include "core/rgba_dsp.h"
#include "core/track_values.h"
#include "core/workers.h"
#include "host/frame.h"
#include "hostkit/builtin_filters.h"
#include "standin/auf2_host.h"
#include "standin/library.h"
#include "tests/support/test_support.h"

namespace {

using auf2::PixelPa64;
using auf2::PixelRgba;
using Picture = std::vector<PixelRgba>;
using Picture16 = std::vector<PixelPa64>;
using testsupport::Rng;

int g_failures = 0;

void Fail(const std::string& what) {
  std::printf("  FAIL: %s\n", what.c_str());
  std::fflush(stdout);
  ++g_failures;
}

// Reports a group of checks as passed unless one failed since `failures_before`.
void Ok(int failures_before, const std::string& what) {
  if (g_failures != failures_before) return;
  std::printf("  ok: %s\n", what.c_str());
  std::fflush(stdout);
}

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; s != nullptr && *s != 0; ++s) out += *s < 128 ? static_cast<char>(*s) : '?';
  return out;
}

// ---- A plug-in in the stand-in (standin/auf2_host.h), and the filter core it must equal.

using standin::CloseLibrary;
using standin::HostImage;
using standin::OpenLibrary;

struct Plugin : standin::Auf2Library {
  const core::FilterCore* core = nullptr;
  std::string name;
};

// Loads the library and finds its entry points and its core; an empty string, or why it cannot be used.
std::string Load(Plugin& p) {
  if (const std::string e = standin::LoadAuf2(p); !e.empty()) return e;
  p.name = Narrow(p.table->name);
  p.core = hostkit::FindBuiltinFilter(p.name);
  if (p.core == nullptr) return "the filter is named \"" + p.name + "\", which is neither velour nor deblock";
  return "";
}

bool CallProc(const Plugin& p, HostImage& image, int32_t object_w, int32_t object_h) {
  return standin::CallVideo(p, image, object_w, object_h);
}

// Whether the plug-in was told of an editor that hands out 16-bit images.
bool Deep(const Plugin& p) { return p.host_version >= standin::kHostWithDeepImages; }

// The editor the plug-in plays with from now on, as if loaded afresh by it.
void BecomeHost(Plugin& p, uint32_t version) {
  p.host_version = version;
  if (!p.initialize(version))
    Fail(p.name + ": InitializePlugin(" + std::to_string(version) + ") returned false");
}

std::string HostName(uint32_t version) {
  return version == 0 ? "an editor that never calls InitializePlugin"
                      : "editor version " + std::to_string(version);
}

// ---- Pictures, settings and the expected results.

enum class Alpha { kOpaque, kClear, kRandom, kGradient };
const char* AlphaName(Alpha a) {
  switch (a) {
    case Alpha::kOpaque: return "opaque";
    case Alpha::kClear: return "clear";
    case Alpha::kRandom: return "random alpha";
    default: return "alpha gradient";
  }
}

// Blocky colour with the given alpha.
Picture MakePicture(int w, int h, Alpha alpha, uint64_t seed) {
  return standin::BlockyPicture(w, h, seed, [alpha](int x, int y, const standin::RandomSource& random) {
    switch (alpha) {
      case Alpha::kClear: return uint8_t{0};
      case Alpha::kRandom: return static_cast<uint8_t>(random());
      case Alpha::kGradient: return static_cast<uint8_t>(x + 3 * y);
      default: return uint8_t{255};
    }
  });
}

// The same at 16 bits: alpha words spread over their whole range, colours premultiplied.
Picture16 MakePicture16(int w, int h, Alpha alpha, uint64_t seed) {
  return standin::BlockyPicture16(w, h, seed, [alpha](int x, int y, const standin::RandomSource& random) {
    switch (alpha) {
      case Alpha::kClear: return uint16_t{0};
      case Alpha::kRandom: return static_cast<uint16_t>(random());
      case Alpha::kGradient: return static_cast<uint16_t>(97 * x + 331 * y);
      default: return uint16_t{65535};
    }
  });
}

// An image of w x h at the depth of the plug-in's editor.
HostImage ImageFor(const Plugin& p, int w, int h, Alpha alpha, uint64_t seed) {
  HostImage image;
  image.w = w;
  image.h = h;
  if (Deep(p)) image.pixels16 = MakePicture16(w, h, alpha, seed);
  else image.pixels = MakePicture(w, h, alpha, seed);
  return image;
}

// A pixel's samples, and the pixel with its colour replaced by the samples' (its alpha kept).
core::YcPixel SamplesOf(const PixelRgba& p) { return core::RgbToYc(p.r, p.g, p.b); }
core::YcPixel SamplesOf(const PixelPa64& p) { return core::Pa64ToYc(p.r, p.g, p.b); }
void SetColour(const core::YcPixel& s, PixelRgba& p) { core::YcToRgb(s, &p.r); }
void SetColour(const core::YcPixel& s, PixelPa64& p) { core::YcToPa64(s, &p.r); }

// The core applied to the converted picture, converted back, alpha kept: the scalar reference up to
// reference_max pixels, above that the core's kernels on one worker.
template <class Pixel>
std::vector<Pixel> Expected(const core::FilterCore& core, const std::vector<Pixel>& in, int w, int h,
                            const std::vector<int32_t>& tracks, int64_t reference_max) {
  host::Frame f(w, h);
  for (size_t i = 0; i < in.size(); ++i) f.edit[i] = SamplesOf(in[i]);
  if (int64_t{w} * h <= reference_max) core.reference(tracks.data(), f.EditPlane(), 1);
  else
    core.filter(core::DetectCpuFlags(), tracks.data(), f.EditPlane(), f.TempPlane(), 1,
                core::SerialWorkers());
  std::vector<Pixel> out = in;
  for (size_t i = 0; i < in.size(); ++i) SetColour(f.edit[i], out[i]);
  return out;
}

// "" when equal, else where they first differ and how many pixels do.
template <class Pixel>
std::string Compare(const std::vector<Pixel>& want, const std::vector<Pixel>& got, int w) {
  size_t first = want.size(), count = 0;
  for (size_t i = 0; i < want.size(); ++i)
    if (std::memcmp(&want[i], &got[i], sizeof(Pixel)) != 0) {
      first = std::min(first, i);
      ++count;
    }
  if (count == 0) return "";
  auto show = [](const Pixel& p) {
    return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ", " +
           std::to_string(p.a) + ")";
  };
  return std::to_string(count) + " pixels differ, the first at (" + std::to_string(first % w) + ", " +
         std::to_string(first / w) + "): " + show(got[first]) + " where the core gives " + show(want[first]);
}

// Values as the editor writes them into the items, and the track values they must act as.
struct Setting {
  const char* label;
  std::vector<double> values;
  std::vector<int32_t> tracks;
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const std::map<std::string, std::vector<Setting>> kSettings = {
    {"velour",
     {{"defaults", {1, 8, 3, 0}, {1, 8, 3, 0}},
      {"maxima", {31, 64, 4, 64}, {31, 64, 4, 64}},
      {"fractions round to nearest, halves up", {2.5, 12.4, 0, 7.5}, {3, 12, 0, 8}},
      {"out of range and not a number", {-3, kNaN, 9, 1000}, {1, 8, 4, 64}}}},
    {"deblock",
     {{"defaults", {25, 0, 0}, {25, 0, 0}},
      {"maxima", {60, 60, 60}, {60, 60, 60}},
      {"fractions round to nearest, halves up", {40.5, 31.49, 0.5}, {41, 31, 1}},
      {"out of range and not a number", {kNaN, kInf, -1e300}, {25, 60, 0}},
      {"quant 0: nothing to filter", {0, 0, 0}, {0, 0, 0}},
      {"quant 0 with offsets that filter", {0, 30, 30}, {0, 30, 30}}}},
};

bool IsSelect(const void* item) { return standin::IsSelectItem(item); }

void WriteSettings(const Plugin& p, const std::vector<double>& values) {
  standin::WriteSettings(*p.table, values);
}

std::vector<double> Defaults(const Plugin& p) {
  std::vector<double> v;
  for (int i = 0; i < p.core->track_count; ++i) v.push_back(p.core->tracks[i].def);
  return v;
}

std::string SizeName(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// The calls of the image functions made during `image`'s call, "" when they are those of an editor
// of the plug-in's kind: the 8-bit pair or the 16-bit pair once each, or none at all (`untouched`).
std::string WrongCalls(const Plugin& p, const HostImage& image, bool untouched) {
  const int want = untouched ? 0 : 1;
  const bool deep = Deep(p);
  if (image.gets == (deep ? 0 : want) && image.sets == image.gets && image.gets16 == (deep ? want : 0) &&
      image.sets16 == image.gets16)
    return "";
  return "the image functions called " + std::to_string(image.gets) + ", " + std::to_string(image.sets) +
         ", " + std::to_string(image.gets16) + " and " + std::to_string(image.sets16) +
         " times (8-bit get and set, 16-bit get and set)";
}

// One call on a fresh picture with the settings `s` that the items hold, at the depth of the
// plug-in's editor; "" when the result is the core's, the call returned true and the image was
// taken and handed back once each (on an editor with 16-bit images, not at all where the settings
// change nothing).
std::string RunAndCompare(const Plugin& p, int w, int h, Alpha alpha, const Setting& s, int64_t reference_max,
                          uint64_t seed, const std::function<void()>& during = {}) {
  HostImage image;
  image.w = w;
  image.h = h;
  image.during = during;
  std::string diff;
  const bool untouched =
      Deep(p) && p.core->changes_nothing != nullptr && p.core->changes_nothing(s.tracks.data());
  if (Deep(p)) {
    image.pixels16 = MakePicture16(w, h, alpha, seed);
    const Picture16 want =
        untouched ? image.pixels16 : Expected(*p.core, image.pixels16, w, h, s.tracks, reference_max);
    if (!CallProc(p, image, w, h)) return "the procedure returned false";
    diff = Compare(want, image.pixels16, w);
  } else {
    image.pixels = MakePicture(w, h, alpha, seed);
    const Picture want = Expected(*p.core, image.pixels, w, h, s.tracks, reference_max);
    if (!CallProc(p, image, w, h)) return "the procedure returned false";
    diff = Compare(want, image.pixels, w);
  }
  if (const std::string calls = WrongCalls(p, image, untouched); !calls.empty()) return calls;
  if (!image.error.empty()) return image.error;
  return diff;
}

// ---- The checks.

void CheckTable(const Plugin& p) {
  const int before = g_failures;
  const auf2::FilterPluginTable& t = *p.table;
  const core::FilterCore& core = *p.core;
  std::printf("%s (%s): %s\n", p.name.c_str(), p.path.c_str(), Narrow(t.information).c_str());
  if (p.uninitialize == nullptr) Fail("UninitializePlugin is not exported");
  if (p.initialize == nullptr) Fail("InitializePlugin is not exported");
  if (t.flag != (auf2::kFilterFlagVideo | auf2::kFilterFlagFilterObject))
    Fail("flag " + std::to_string(t.flag) + ", not video (1) + filter object (8)");
  if (t.label != nullptr) Fail("label is not null (the default menu category)");
  const std::string info = Narrow(t.information);
  if (info.find(p.name + " " + AUF_VERSION) == std::string::npos)
    Fail("the information text does not name the filter and version " AUF_VERSION ": \"" + info + "\"");
  if (t.func_proc_video == nullptr) Fail("no video procedure");
  if (t.func_proc_audio != nullptr) Fail("an audio procedure");
  int count = 0;
  while (t.items != nullptr && count <= core.track_count && t.items[count] != nullptr) ++count;
  if (count != core.track_count) {
    Fail("the items are not " + std::to_string(core.track_count) + " pointers and a null");
    return;
  }
  for (int i = 0; i < count; ++i) {
    const void* item = t.items[i];
    const std::string name = Narrow(static_cast<const auf2::TrackItem*>(item)->name);
    const std::string what = "item " + std::to_string(i) + " (" + name + ")";
    const core::Track& track = core.tracks[i];
    if (name != track.name) Fail(what + ": not named " + track.name);
    const int32_t def = track.def, min = track.min, max = track.max;
    // A list track is a selection item of its labels, by the values the core takes; a bar a track item.
    const bool want_select = track.kind == core::TrackKind::kList;
    if (want_select != IsSelect(item)) {
      Fail(what + ": type " + Narrow(*static_cast<const wchar_t* const*>(item)));
      continue;
    }
    if (want_select) {
      const auto* s = static_cast<const auf2::SelectItem*>(item);
      if (s->value != def) Fail(what + ": default " + std::to_string(s->value));
      int entries = 0;
      for (const auf2::SelectEntry* e = s->list;
           e != nullptr && e->name != nullptr && entries <= max - min + 1; ++e) {
        const std::string entry = "entry " + std::to_string(entries);
        if (e->value != min + entries) Fail(what + ": " + entry + " has value " + std::to_string(e->value));
        if (entries <= max - min && Narrow(e->name) != track.labels[entries])
          Fail(what + ": " + entry + " is named " + Narrow(e->name) + ", not " + track.labels[entries]);
        ++entries;
      }
      if (entries != max - min + 1)
        Fail(what + ": " + std::to_string(entries) + " entries before the null name");
    } else {
      const auto* tb = static_cast<const auf2::TrackItem*>(item);
      if (std::wcscmp(tb->type, L"track") != 0) Fail(what + ": type " + Narrow(tb->type));
      if (tb->value != def || tb->min != min || tb->max != max || tb->step != 1.0)
        Fail(what + ": default " + std::to_string(tb->value) + ", range " + std::to_string(tb->min) + ".." +
             std::to_string(tb->max) + ", step " + std::to_string(tb->step));
    }
  }
  Ok(before, "exports, flag, names, information, " + std::to_string(count) +
                 " items with the track bars' defaults and ranges");
}

struct Size {
  int w, h;
};

void CheckFrames(const Plugin& p, int64_t max_pixels, int64_t reference_max) {
  const int before = g_failures;
  // The last one odd and tall enough for the filters' row streaming on a machine of a few cores.
  const Size small[] = {{1, 1},  {1, 7},   {7, 1},   {3, 5},    {9, 8},
                        {17, 9}, {33, 31}, {64, 48}, {127, 65}, {333, 517}};
  const Alpha alphas[] = {Alpha::kOpaque, Alpha::kClear, Alpha::kRandom, Alpha::kGradient};
  int runs = 0;
  uint64_t seed = 1;
  for (const Setting& s : kSettings.at(p.name))
    for (const Size& size : small)
      for (Alpha a : alphas) {
        WriteSettings(p, s.values);
        const std::string r = RunAndCompare(p, size.w, size.h, a, s, reference_max, seed++);
        ++runs;
        if (!r.empty()) Fail(SizeName(size.w, size.h) + ", " + s.label + ", " + AlphaName(a) + ": " + r);
      }
  Ok(before, std::to_string(runs) +
                 " pictures of 1x1 to 333x517, every track set and alpha pattern, equal the core's");
  if (int64_t{1920} * 1080 > max_pixels) {
    std::printf("  (1920x1080 left out: above --max-pixels)\n");
    return;
  }
  for (const Setting& s : kSettings.at(p.name)) {
    if (std::strcmp(s.label, "defaults") != 0 &&
        std::strcmp(s.label, "fractions round to nearest, halves up") != 0)
      continue;
    WriteSettings(p, s.values);
    const std::string r = RunAndCompare(p, 1920, 1080, Alpha::kRandom, s, reference_max, seed++);
    if (!r.empty()) Fail(std::string("1920x1080, ") + s.label + ": " + r);
  }
  Ok(before, "1920x1080 at the defaults and at fractional settings equals the core's");
}

// A picture with no pixels, or more than can be had.
void CheckEmptyAndHuge(const Plugin& p) {
  const int before = g_failures;
  WriteSettings(p, Defaults(p));
  const Size empty[] = {{0, 0}, {0, 5}, {5, 0}, {-1, 3}, {3, -8}};
  for (const Size& s : empty) {
    HostImage image;
    if (!CallProc(p, image, s.w, s.h)) Fail(SizeName(s.w, s.h) + ": returned false");
    if (!WrongCalls(p, image, true).empty()) Fail(SizeName(s.w, s.h) + ": took or handed back an image");
  }
  Ok(before, "objects of 0 or fewer pixels: true, image untouched");
  // 65536 x 65536: more pixels than the plug-in counts; its image is never taken.
  HostImage image;
  image.w = image.h = 65536;
  if (CallProc(p, image, 65536, 65536)) Fail("65536x65536: returned true");
  if (!WrongCalls(p, image, true).empty()) Fail("65536x65536: took or handed back an image");
  // 46340 x 46340 needs more memory than this machine has, where the stand-in's own allocation of
  // as much fails too.
  // Each plug-in takes the image (4 or 8 bytes a pixel) and one plane of samples: the filters convert
  // the image's rows as they work.
  const size_t n = size_t{46340} * 46340, need = n * (!Deep(p) ? 10 : 14);
  if (void* probe = std::malloc(need); probe != nullptr) {
    std::free(probe);
    Ok(before, "65536x65536: false, image untouched (" + std::to_string(need >> 30) +
                   " GiB could be had here: the allocation failure itself is not checked)");
    return;
  }
  HostImage big;
  big.w = big.h = 46340;
  if (CallProc(p, big, 46340, 46340)) Fail("46340x46340: returned true without the memory for it");
  if (!WrongCalls(p, big, true).empty()) Fail("46340x46340: took or handed back an image");
  Ok(before, "65536x65536 and 46340x46340 (" + std::to_string(need >> 30) +
                 " GiB not to be had): false, image untouched");
}

// Every colour once, alpha random, through a setting that changes nothing: each pixel comes back.
void CheckEveryColour(const Plugin& p) {
  const int before = g_failures;
  if (p.name != "deblock") return;
  HostImage image;
  image.w = image.h = 4096;
  image.pixels.resize(size_t{4096} * 4096);
  Rng rng(7);
  for (uint32_t c = 0; c < image.pixels.size(); ++c)
    image.pixels[c] = {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c),
                       static_cast<uint8_t>(rng.Next())};
  const Picture in = image.pixels;
  WriteSettings(p, {0, 0, 0});
  if (!CallProc(p, image, 4096, 4096)) Fail("every colour: returned false");
  const std::string r = Compare(in, image.pixels, 4096);
  if (!r.empty()) Fail("every colour at quant 0: " + r);
  Ok(before, "all 2^24 colours at quant 0 (no edge filtered) come back bit for bit, alpha too");
}

// The editor writes other settings while a call runs: the call keeps the ones it started with.
void CheckSettingsReadOnce(const Plugin& p, int64_t reference_max) {
  const int before = g_failures;
  const std::vector<Setting>& sets = kSettings.at(p.name);
  const Setting& first = sets[0];
  const std::vector<double> other = sets[1].values;
  WriteSettings(p, first.values);
  const std::string r =
      RunAndCompare(p, 96, 64, Alpha::kRandom, first, reference_max, 99, [&] { WriteSettings(p, other); });
  if (!r.empty()) Fail("settings changed during a call: " + r);
  Ok(before, "settings changed by the editor during a call leave that call's result alone");
}

// Frames of one size reuse one buffer: no allocation per frame.
void CheckBufferReuse(const Plugin& p, int64_t max_pixels) {
  const int before = g_failures;
  const int w = int64_t{1920} * 1080 <= max_pixels ? 1920 : 320, h = w == 1920 ? 1080 : 180;
  WriteSettings(p, Defaults(p));
  std::vector<const void*> buffers;
  for (int i = 0; i < 3; ++i) {
    HostImage image = ImageFor(p, w, h, Alpha::kOpaque, 5 + i);
    if (!CallProc(p, image, w, h)) Fail("returned false");
    buffers.push_back(Deep(p) ? image.buffer16 : image.buffer);
  }
  if (buffers[1] != buffers[0] || buffers[2] != buffers[0])
    Fail("three " + SizeName(w, h) + " frames in a row were taken into different buffers");
  Ok(before, "three " + SizeName(w, h) + " frames in a row use one buffer");
}

// Both threads wait inside get_image_data until the other has arrived too, so the calls overlap.
struct Rendezvous {
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  bool Arrive() {
    std::unique_lock lock(m);
    ++arrived;
    cv.notify_all();
    return cv.wait_for(lock, std::chrono::seconds(20), [&] { return arrived >= 2; });
  }
};

void CheckTwoThreads(const Plugin& p, int64_t max_pixels, int64_t reference_max) {
  const int before = g_failures;
  const Setting& s = kSettings.at(p.name)[2];
  std::vector<std::pair<Size, Size>> rounds = {{{640, 360}, {480, 270}}, {{640, 360}, {640, 360}}};
  if (int64_t{1920} * 1080 <= max_pixels) rounds.push_back({{1920, 1080}, {1920, 1080}});
  uint64_t seed = 500;
  for (const auto& [a, b] : rounds) {
    Rendezvous meet;
    std::string result[2];
    bool overlapped[2] = {false, false};
    WriteSettings(p, s.values);
    auto run = [&](int k, Size size) {
      result[k] = RunAndCompare(p, size.w, size.h, Alpha::kRandom, s, reference_max, seed + k,
                                [&, k] { overlapped[k] = meet.Arrive(); });
    };
    std::thread other(run, 1, b);
    run(0, a);
    other.join();
    seed += 2;
    const std::string what = SizeName(a.w, a.h) + " and " + SizeName(b.w, b.h) + " at once";
    for (int k = 0; k < 2; ++k)
      if (!result[k].empty()) Fail(what + ", thread " + std::to_string(k) + ": " + result[k]);
    if (!overlapped[0] || !overlapped[1]) Fail(what + ": the calls did not run at the same time");
  }
  Ok(before,
     std::to_string(rounds.size()) + " pairs of calls from two threads at once, both results the core's");
}

// On an editor with 16-bit images: the picture that comes back carries the core's samples exactly
// (where no channel is clamped: converted again, it gives them), on pictures a filter changes and on
// pictures it leaves as they are (4 x 4: no edge, no block to smooth); alpha as it was.
void CheckDeepPrecision(const Plugin& p) {
  const int before = g_failures;
  const Size sizes[] = {{96, 64}, {4, 4}, {4, 40}};
  const std::vector<int32_t> tracks = core::DefaultTrackValues(*p.core);
  WriteSettings(p, Defaults(p));
  int changed = 0, pixels = 0;
  for (const Size& size : sizes)
    for (Alpha a : {Alpha::kOpaque, Alpha::kRandom}) {
      HostImage image = ImageFor(p, size.w, size.h, a, 40 + size.w);
      const Picture16 in = image.pixels16;
      host::Frame f(size.w, size.h);
      for (size_t i = 0; i < in.size(); ++i) f.edit[i] = SamplesOf(in[i]);
      const std::vector<core::YcPixel> original = f.edit;
      p.core->reference(tracks.data(), f.EditPlane(), 1);
      const std::string what = SizeName(size.w, size.h) + ", " + AlphaName(a);
      if (!CallProc(p, image, size.w, size.h) || !image.error.empty()) {
        Fail(what + ": the call failed " + image.error);
        continue;
      }
      for (size_t i = 0; i < in.size(); ++i) {
        const PixelPa64& o = image.pixels16[i];
        const core::YcPixel got = SamplesOf(o), want = f.edit[i];
        const bool clamped = std::min({o.r, o.g, o.b}) == 0 || std::max({o.r, o.g, o.b}) == 65535;
        if (o.a != in[i].a) Fail(what + ": alpha changed at pixel " + std::to_string(i));
        if (!clamped && std::memcmp(&got, &want, sizeof got) != 0) {
          Fail(what + ": pixel " + std::to_string(i) + " converts to (" + std::to_string(got.y) + ", " +
               std::to_string(got.cb) + ", " + std::to_string(got.cr) + "), the core gave (" +
               std::to_string(want.y) + ", " + std::to_string(want.cb) + ", " + std::to_string(want.cr) +
               ")");
          break;
        }
        changed += std::memcmp(&want, &original[i], sizeof want) != 0;
        ++pixels;
      }
    }
  // Blocky pictures at the defaults: both filters change much of them.
  if (changed < pixels / 8)
    Fail("only " + std::to_string(changed) + " of " + std::to_string(pixels) + " pixels filtered");
  Ok(before, "16-bit pictures come back with the core's samples exactly and alpha as it was (" +
                 std::to_string(changed) + " of " + std::to_string(pixels) + " pixels filtered)");
}

// An editor that cannot hand out the 16-bit image, or take it back: false, and no 8-bit call
// instead (the image's size may not be the object's, which the 8-bit calls cannot tell).
void CheckDeepRefused(const Plugin& p) {
  const int before = g_failures;
  WriteSettings(p, Defaults(p));
  for (const bool on_get : {true, false}) {
    HostImage image = ImageFor(p, 64, 48, Alpha::kRandom, 8);
    const Picture16 in = image.pixels16;
    (on_get ? image.refuse_get16 : image.refuse_set16) = true;
    const std::string what = on_get ? "refused to hand out the image" : "refused to take it back";
    if (CallProc(p, image, 64, 48)) Fail(what + ": returned true");
    if (image.gets + image.sets != 0) Fail(what + ": called the 8-bit functions");
    if (image.gets16 != 1 || image.sets16 != (on_get ? 0 : 1))
      Fail(what + ": get and set called " + std::to_string(image.gets16) + " and " +
           std::to_string(image.sets16) + " times");
    if (!Compare(in, image.pixels16, 64).empty()) Fail(what + ": the image changed");
  }
  Ok(before, "an image the editor cannot hand out or take back: false, no 8-bit call, image as it was");
}

#if defined(_WIN32)
bool Mapped(const void* address) {
  HMODULE m;
  return GetModuleHandleExA(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             static_cast<LPCSTR>(address), &m) != 0;
}
#endif

// The end of a plug-in: after UninitializePlugin, FreeLibrary unloads it; an editor that frees it
// without that call leaves it loaded (its worker threads still wait in it), and it works on.
void CheckLifetime(Plugin& p) {
#if defined(_WIN32)
  const int before = g_failures;
  const void* table = p.table;
  HostImage image = ImageFor(p, 64, 64, Alpha::kOpaque, 3);
  WriteSettings(p, Defaults(p));
  p.uninitialize();
  // A call after UninitializePlugin starts again.
  if (!CallProc(p, image, 64, 64)) Fail("a call after UninitializePlugin returned false");
  p.uninitialize();
  CloseLibrary(p.library);
  if (Mapped(table)) Fail("FreeLibrary after UninitializePlugin left the plug-in loaded");
  const std::string again = Load(p);
  if (!again.empty()) {
    Fail("loading again: " + again);
    return;
  }
  table = p.table;
  WriteSettings(p, Defaults(p));
  const std::string first = RunAndCompare(p, 1280, 720, Alpha::kOpaque, kSettings.at(p.name)[0], 0, 11);
  if (!first.empty()) Fail("after loading again: " + first);
  CloseLibrary(p.library);  // no UninitializePlugin
  if (!Mapped(table)) {
    Fail("FreeLibrary without UninitializePlugin unloaded the plug-in under its worker threads");
    return;
  }
  void* same = OpenLibrary(p.path);
  if (same != p.library) Fail("loading a third time gave another module");
  const std::string second = RunAndCompare(p, 1280, 720, Alpha::kOpaque, kSettings.at(p.name)[0], 0, 12);
  if (!second.empty()) Fail("after FreeLibrary without UninitializePlugin and loading again: " + second);
  p.uninitialize();
  CloseLibrary(same);
  if (Mapped(table)) Fail("FreeLibrary after UninitializePlugin left the plug-in loaded");
  Ok(before, "unloads after UninitializePlugin; stays loaded and working when freed without it");
#else
  p.uninitialize();
  CloseLibrary(p.library);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  int64_t max_pixels = std::numeric_limits<int64_t>::max();
  std::vector<Plugin> plugins;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a.rfind("--max-pixels=", 0) == 0) {
      max_pixels = std::atoll(argv[i] + 13);
    } else if (a.empty() || a[0] == '-') {
      std::fprintf(stderr, "usage: auf2_host [--max-pixels=N] PLUGIN.auf2...\n");
      return 2;
    } else {
      Plugin& p = plugins.emplace_back();
      p.path = a;
    }
  }
  if (plugins.empty()) {
    std::fprintf(stderr, "auf2_host: no plug-in given\n");
    return 2;
  }
  for (Plugin& p : plugins)
    if (const std::string e = Load(p); !e.empty()) {
      std::fprintf(stderr, "auf2_host: %s\n", e.c_str());
      return 1;
    }
  // Above this many pixels the expected results come from the core's kernels, not the reference.
  const int64_t reference_max = 100000;
  std::vector<Plugin*> usable;
  for (Plugin& p : plugins) {
    CheckTable(p);
    if (p.uninitialize != nullptr && p.initialize != nullptr && p.table->func_proc_video != nullptr &&
        p.table->items != nullptr)
      usable.push_back(&p);
  }
  for (const uint32_t version : {uint32_t{0}, standin::kHostWithoutDeepImages, standin::kHostWithDeepImages})
    for (Plugin* q : usable) {
      Plugin& p = *q;
      if (version != 0) BecomeHost(p, version);
      std::printf("%s with %s:\n", p.name.c_str(), HostName(version).c_str());
      CheckFrames(p, max_pixels, reference_max);
      if (version == 0) continue;
      CheckEmptyAndHuge(p);
      if (!Deep(p) && int64_t{4096} * 4096 <= max_pixels) CheckEveryColour(p);
      CheckSettingsReadOnce(p, reference_max);
      CheckBufferReuse(p, max_pixels);
      CheckTwoThreads(p, max_pixels, reference_max);
      if (Deep(p)) {
        CheckDeepPrecision(p);
        CheckDeepRefused(p);
        CheckLifetime(p);
      }
    }
  // An editor that ends without UninitializePlugin or FreeLibrary: the process must still end, with
  // the plug-ins' worker threads waiting in them.
  for (Plugin& p : plugins) {
    if (const std::string e = Load(p); !e.empty()) Fail("loading for the end: " + e);
    HostImage image = ImageFor(p, 640, 360, Alpha::kOpaque, 77);
    WriteSettings(p, Defaults(p));
    if (!CallProc(p, image, 640, 360)) Fail(p.name + ": the last call returned false");
  }
  std::printf("%s\n", g_failures == 0
                          ? "auf2_host: all checks passed; ending with the plug-ins' threads running"
                          : "auf2_host: FAILED");
  return g_failures == 0 ? 0 : 1;
}
