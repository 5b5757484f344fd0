// Times the plug-in files as the editor runs them: each library loaded through the editor stand-in,
// its processing function called on a 1920x1080 frame with 1 and 2 worker threads. Built natively
// (the .so) and for Windows (the 32-bit .auf and the 64-bit .dll, run under Wine), so every kind of
// file is timed the same way; scripts/bench puts the rows of all of them in one table.
//
//   plugin_bench [--frame=YC48 | --photo=PNG] [--save-frame=YC48] [--threads=1,2] [--quick] LIBRARY...
//
// A library's settings follow its file name (velour.*, deblock.*). One line per setting and worker
// count, fields separated by tabs: file, filter, setting, T, best ms, median ms, runs, cores; first
// a line of the same shape for the memory floor in this process (file "-"): one copy of the edit
// plane.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "core/worker_pool.h"
#include "host/frame.h"
#include "standin/auf_host.h"

namespace {

struct Setting {
  const char* filter;
  const char* label;
  std::vector<std::pair<const char*, int32_t>> tracks;
};

const Setting kSettings[] = {
    {"velour", "defaults", {}},
    {"velour", "quant 2, n_shift 64, matrix 4", {{"quant", 2}, {"n_shift", 64}, {"matrix", 4}}},
    {"deblock", "defaults", {}},
    {"deblock", "quant 40", {{"quant", 40}}},
};

// "build-win32\velour.auf" -> "velour.auf", and its stem "velour".
std::string FileName(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }
std::string Stem(const std::string& path) {
  const std::string name = FileName(path);
  return name.substr(0, name.find('.'));
}

std::vector<int> ParseList(const char* p) {
  std::vector<int> list;
  while (*p) {
    list.push_back(std::atoi(p));
    while (*p && *p != ',') ++p;
    if (*p == ',') ++p;
  }
  return list;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: plugin_bench [--frame=YC48 | --photo=PNG] [--save-frame=YC48] [--threads=1,2] [--quick] "
      "LIBRARY...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string frame_path, photo_path, save_path;
  std::vector<int> threads = {1, 2};
  std::vector<std::string> libraries;
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a.rfind("--frame=", 0) == 0) frame_path = a.substr(8);
    else if (a.rfind("--photo=", 0) == 0) photo_path = a.substr(8);
    else if (a.rfind("--save-frame=", 0) == 0) save_path = a.substr(13);
    else if (a.rfind("--threads=", 0) == 0) threads = ParseList(argv[i] + 10);
    else if (a == "--quick") quick = true;
    else if (a.rfind("--", 0) == 0) return Usage();
    else libraries.emplace_back(a);
  }
  host::Frame source;
  if (!frame_path.empty()) {
    if (!bench::LoadFrame(frame_path, &source)) return 1;
  } else if (!photo_path.empty()) {
    if (!bench::LoadPhoto(photo_path, &source)) return 1;
  } else {
    source = bench::Noise();
  }
  if (!save_path.empty() && !bench::SaveFrame(save_path, source)) return 1;
  if (libraries.empty()) return save_path.empty() ? Usage() : 0;

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  host::Frame frame = source;
  auto reset = [&] {
    frame.edit = source.edit;
  };
  // The memory floor in this process: one copy of the edit plane, between the two planes the
  // filters' runs use.
  const bench::Timing floor = bench::Measure(
      quick ? 1 : 25, 0, [] {},
      [&] {
        std::memcpy(frame.edit.data(), source.edit.data(), source.edit.size() * sizeof(core::YcPixel));
      });
  std::printf("-\tmemory floor\tone copy of the edit plane\t1\t%.3f\t%.3f\t%d\t%.2f\n", floor.best,
              floor.median, floor.runs, floor.cores);
  try {
    for (const std::string& path : libraries) {
      const standin::PluginLibrary library(path);
      bool known = false;
      for (const Setting& s : kSettings) {
        if (Stem(path) != s.filter) continue;
        known = true;
        for (int t : threads) {
          core::WorkerPool pool(t, false);
          standin::FilterHost filter(library.table(), &pool);
          for (const auto& [name, value] : s.tracks) filter.SetTrack(name, value);
          const bench::Timing tm =
              bench::Measure(quick ? 1 : 5, quick ? 0 : 1500, reset, [&] { filter.Process(frame); });
          std::printf("%s\t%s\t%s\t%d\t%.3f\t%.3f\t%d\t%.2f\n", FileName(path).c_str(), s.filter, s.label, t,
                      tm.best, tm.median, tm.runs, tm.cores);
        }
      }
      if (!known)
        std::fprintf(stderr, "plugin_bench: %s: no settings for a filter of that name\n", path.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plugin_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
