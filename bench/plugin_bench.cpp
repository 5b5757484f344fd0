// Times the plug-in files as the editor runs them: each library loaded through the editor stand-in,
// its processing function called on a 1920x1080 frame with 1 and 2 worker threads. Built natively
// (the .so) and for Windows (the 32-bit .auf and the 64-bit .dll, run under Wine), so every kind of
// file is timed the same way; scripts/bench puts the rows of all of them in one table.
//
//   plugin_bench [--frame=YC48 | --photo=PNG] [--save-frame=YC48] [--threads=1,2] [--quick] LIBRARY...
//   plugin_bench --table=TSV
//
// A library's settings follow its file name (velour.*, deblock.*). One line per setting and worker
// count, fields separated by tabs: file, filter, setting, T, best ms, median ms, runs, cores; first
// a line of the same shape for the memory floor in this process (file "-"): one copy of the edit
// plane. --table reads such lines from several runs, each behind a field saying where it ran
// (native, win64, ...), and prints one table per setting with its targets.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "core/picture.h"
#include "core/worker_pool.h"
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

// What the table holds the rows at T=1 to: a kind of file against the native file of its filter, and
// a filter against the memory floor in the same process.
const struct {
  const char* extension;
  double ratio;  // at most
} kFileTargets[] = {{".auf", 1.15}};
const struct {
  const char* filter;
  double floors;  // at most
} kFloorTargets[] = {{"deblock", 3}};

struct Options {
  std::string frame, photo, save, table;
  std::vector<int> threads = {1, 2};
  std::vector<std::string> libraries;
  bool quick = false;
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
      "LIBRARY...\n"
      "       plugin_bench --table=TSV\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a.rfind("--frame=", 0) == 0) o.frame = a.substr(8);
    else if (a.rfind("--photo=", 0) == 0) o.photo = a.substr(8);
    else if (a.rfind("--save-frame=", 0) == 0) o.save = a.substr(13);
    else if (a.rfind("--threads=", 0) == 0) o.threads = ParseList(argv[i] + 10);
    else if (a.rfind("--table=", 0) == 0) o.table = a.substr(8);
    else if (a == "--quick") o.quick = true;
    else if (a.rfind("--", 0) == 0) return false;
    else o.libraries.emplace_back(a);
  }
  return true;
}

bool LoadSource(const Options& o, core::Picture& source) {
  if (!o.frame.empty()) return bench::LoadFrame(o.frame, &source);
  if (!o.photo.empty()) return bench::LoadPhoto(o.photo, &source);
  source = bench::Noise();
  return true;
}

void PrintLine(const std::string& file, const char* filter, const char* setting, int threads,
               const bench::Timing& t) {
  std::printf("%s\t%s\t%s\t%d\t%.3f\t%.3f\t%d\t%.2f\n", file.c_str(), filter, setting, threads, t.best,
              t.median, t.runs, t.cores);
}

// Every setting of the library's filter at every thread count, on `frame` restored from `source`.
void BenchLibrary(const Options& o, const std::string& path, const core::Picture& source,
                  core::Picture& frame) {
  const standin::PluginLibrary library(path);
  bool known = false;
  for (const Setting& s : kSettings) {
    if (Stem(path) != s.filter) continue;
    known = true;
    for (int t : o.threads) {
      core::WorkerPool pool(t, false);
      standin::FilterHost filter(library.table(), &pool);
      for (const auto& [name, value] : s.tracks) filter.SetTrack(name, value);
      PrintLine(FileName(path), s.filter, s.label, t,
                bench::Measure(
                    o.quick ? 1 : 5, o.quick ? 0 : 1500, [&] { frame.pixels = source.pixels; },
                    [&] { filter.Process(frame); }));
    }
  }
  if (!known) std::fprintf(stderr, "plugin_bench: %s: no settings for a filter of that name\n", path.c_str());
}

// ---- The table (--table): the runs of one file at one setting and thread count, from several
// rounds, as one row.
struct Row {
  std::string where, file;
  int threads = 0;
  double best = 0, median = 0, cores = 0;
  int runs = 0, rounds = 0;
};
struct Table {
  std::vector<std::string> keys;                 // filter and setting, in the order first seen
  std::map<std::string, std::vector<Row>> rows;  // by key, in the order first seen
  std::map<std::string, double> base;            // by key: the best native row at T=1
  std::map<std::string, double> floors;          // by where: the memory floor
};

// Folds one line (where, file, filter, setting, T, best, median, runs, cores) into the table.
bool AddLine(Table& table, const std::string& line) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
  if (f.size() != 9) return false;
  const std::string key = f[2] + " " + f[3];
  Row r{f[0],
        f[1],
        std::atoi(f[4].c_str()),
        std::atof(f[5].c_str()),
        std::atof(f[6].c_str()),
        std::atof(f[8].c_str()),
        std::atoi(f[7].c_str()),
        1};
  if (!table.rows.count(key)) table.keys.push_back(key);
  std::vector<Row>& rows = table.rows[key];
  auto same = [&](const Row& o) {
    return o.where == r.where && o.file == r.file && o.threads == r.threads;
  };
  if (auto it = std::find_if(rows.begin(), rows.end(), same); it == rows.end()) {
    rows.push_back(r);
  } else {
    it->best = std::min(it->best, r.best), it->median = std::min(it->median, r.median);
    it->runs += r.runs, it->cores += r.cores, ++it->rounds;
  }
  auto keep_least = [](std::map<std::string, double>& m, const std::string& k, double v) {
    if (!m.count(k) || v < m[k]) m[k] = v;
  };
  if (r.where == "native" && r.threads == 1) keep_least(table.base, key, r.best);
  if (f[2] == "memory floor") keep_least(table.floors, r.where, r.best);
  return true;
}

// The targets a row at T=1 is held to, after its ratio.
std::string Notes(const Table& table, const std::string& filter, const Row& r, double ratio) {
  std::string notes;
  if (r.threads != 1) return notes;
  for (const auto& t : kFileTargets)
    if (r.file.size() > std::strlen(t.extension) && r.file.ends_with(t.extension))
      notes += "  " + bench::Verdict({r.file, ratio, t.ratio, bench::Target::kAtMost, ""});
  const auto floor = table.floors.find(r.where);
  for (const auto& t : kFloorTargets)
    if (filter == t.filter && floor != table.floors.end() && floor->second > 0) {
      char b[32];
      std::snprintf(b, sizeof b, "  %.2fx its floor ", r.best / floor->second);
      notes += b + bench::Verdict({r.file, r.best / floor->second, t.floors, bench::Target::kAtMost, ""});
    }
  return notes;
}

bool PrintTable(const std::string& path) {
  std::ifstream in(path);
  Table table;
  for (std::string line; std::getline(in, line);)
    if (!AddLine(table, line)) {
      std::fprintf(stderr, "plugin_bench: %s: not a line of timings: %s\n", path.c_str(), line.c_str());
      return false;
    }
  for (const std::string& key : table.keys) {
    std::printf("\n%-46s      best       median runs cores   ratio\n", key.c_str());
    const double base = table.base.count(key) ? table.base.at(key) : 0;
    const std::string filter = key.substr(0, key.find(' '));
    for (const Row& r : table.rows.at(key)) {
      const double ratio = base > 0 ? r.best / base : 0;
      std::printf("  %-7s %-12s T=%d %27.2f ms %9.2f ms %3d %5.2f %6.2fx%s\n", r.where.c_str(),
                  r.file.c_str(), r.threads, r.best, r.median, r.runs, r.cores / r.rounds, ratio,
                  Notes(table, filter, r, ratio).c_str());
    }
  }
  return !table.keys.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return Usage();
  if (!o.table.empty()) return PrintTable(o.table) ? 0 : 1;
  core::Picture source;
  if (!LoadSource(o, source)) return 1;
  if (!o.save.empty() && !bench::SaveFrame(o.save, source)) return 1;
  if (o.libraries.empty()) return o.save.empty() ? Usage() : 0;

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  core::Picture frame = source;
  // The memory floor in this process: one copy of the edit plane, between the two planes the
  // filters' runs use.
  PrintLine("-", "memory floor", "one copy of the edit plane", 1,
            bench::Measure(
                o.quick ? 1 : 25, 0, [] {},
                [&] {
                  std::memcpy(frame.pixels.data(), source.pixels.data(),
                              source.pixels.size() * sizeof(core::YcPixel));
                }));
  try {
    for (const std::string& path : o.libraries) BenchLibrary(o, path, source, frame);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plugin_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
