// Loads the plug-in libraries the way the editor does, checks their records, filters a fixed set of
// generated frames and prints one hash per output. The same program is built natively and for
// 32- and 64-bit Windows; identical output proves the builds filter alike. It also runs every
// built-in filter core linked in, with every CPU tier this machine has and with worker counts that
// differ from the partition count, and checks that each gives the plug-in's hashes; that each call
// leaves the FPU and SIMD control state, the direction flag and the MMX/x87 register state as it
// found them; and, with --golden, that every hash equals the checked-in one.
//
//   plugin_hashes [--serial] [--threads=LIST] [--max-pixels=N] [--golden=FILE]
//                 [--reference-max-pixels=N] LIBRARY_DIR_OR_FILES...
//   plugin_hashes --write-golden=FILE
//
// Libraries are given in the order of the built-in filter list (velour, deblock). --write-golden
// derives the golden file from the scalar reference alone.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/cpu.h"
#include "core/filter_core.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"
#include "standin/auf_host.h"

namespace {

struct CpuState {
  uint16_t fpu_control = 0;
  uint16_t fpu_tags = 0;
  uint32_t mxcsr = 0;
  bool direction = false;
};

CpuState ReadCpuState() {
  CpuState s;
#if defined(__i386__) || defined(__x86_64__)
  uint16_t env[14] = {};  // 28-byte protected-mode x87 environment: control, status, tag words...
  __asm__ volatile("fnstenv %0\n\tfldcw %0" : "=m"(env));  // fnstenv masks exceptions; restore cw
  s.fpu_control = env[0];
  s.fpu_tags = env[4];
  __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
  uintptr_t flags;
  __asm__ volatile("pushf\n\tpop %0" : "=r"(flags));
  s.direction = (flags & 0x400) != 0;
#endif
  return s;
}

bool SameState(const CpuState& a, const CpuState& b) {
  // MXCSR: the control bits (rounding, masks, FTZ, DAZ); the sticky exception flags may change.
  return a.fpu_control == b.fpu_control && a.fpu_tags == b.fpu_tags &&
         (a.mxcsr & ~0x3Fu) == (b.mxcsr & ~0x3Fu) && a.direction == b.direction;
}

uint64_t Fnv1a(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

struct Rng {
  uint64_t s;
  uint32_t Next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
  }
};

// A blocky picture: 8x8 blocks of gradients with noise, like decoded low-quality video, and near
// the right edge some blocks of super-white and of any 16-bit value.
host::Frame MakeFrame(int w, int h, int stride, uint64_t seed) {
  host::Frame f(w, h, stride);
  Rng rng{seed};
  for (int by = 0; by < h; by += 8)
    for (int bx = 0; bx < w; bx += 8) {
      const int base = static_cast<int>(rng.Next() % 3200) + 400;
      const int gx = static_cast<int>(rng.Next() % 65) - 32, gy = static_cast<int>(rng.Next() % 65) - 32;
      const int cb = static_cast<int>(rng.Next() % 2000) - 1000,
                cr = static_cast<int>(rng.Next() % 2000) - 1000;
      const int kind = bx + 24 >= w ? static_cast<int>(rng.Next() % 4) : 0;
      for (int y = by; y < by + 8 && y < h; ++y)
        for (int x = bx; x < bx + 8 && x < w; ++x) {
          const int n = static_cast<int>(rng.Next() % 97) - 48;
          int v = base + gx * (x - bx) + gy * (y - by) + n;
          if (kind == 1) v = 4470 + n;
          if (kind == 2) v = static_cast<int16_t>(rng.Next());
          f.at(x, y) = {static_cast<int16_t>(v), static_cast<int16_t>(cb + n), static_cast<int16_t>(cr - n)};
        }
    }
  return f;
}

// A frame of edge lines built around the thresholds, for deblock with one partition. Where w > h,
// each vertical edge x = 8k (k = 1..(w - 3) / 8) of rows 4..h-1 holds one line per component:
// columns 8k-3 .. 8k+2 are its p2, p1, p0, q0, q1, q2. No other edge ever passes: across the
// columns 8k+3 | 8k+4 between the lines and across every fourth row the samples jump by more than
// the largest alpha, 4080, so each line is filtered alone and exactly as built. Where w <= h the
// frame is the same turned by a right angle, its lines across the horizontal edges. Lines by number,
// in units of 1/16 level above the component's base:
//   - a step of 8 n between flat sides, 0 to 4088: every alpha (a multiple of 16 up to 4080) meets a
//     step equal to it (left alone) and one 8 below (filtered); what passes moves by tc = tc0 + 2
//     wherever 3/8 of the step exceeds that, so tc0 decides too;
//   - p1 or q1 off a flat edge by 8 m, 0 to 472: the same for beta's test of p1 - p0 and q1 - q0;
//   - p2 and q2 off a step of 24 by 8 m: beta deciding tc and the updates of p1 and q1;
//   - then lines of random small differences.
host::Frame MakeThresholdFrame(int w, int h, int stride) {
  constexpr int kSteps = 512, kBetaLines = 60, kSideLines = 60;
  constexpr int kMid = 2048, kSeparator[2] = {0, 4096};
  // Bases of the rows 4s..4s+3 for even and odd s: the ranges of neighbouring rows of blocks lie
  // 4104 apart; Cb and Cr are partly negative.
  constexpr int kBase[3][2] = {{0, 8200}, {-6000, 2200}, {-12000, -3800}};
  const bool turned = w <= h;
  const int lines_per_row = ((turned ? h : w) - 3) / 8;
  host::Frame f(w, h, stride);
  Rng rng{0x7e5a};
  for (int y = 0; y < (turned ? w : h); ++y)  // (x, y) as in a frame of lines across vertical edges
    for (int x = 0; x < (turned ? h : w); ++x) {
      int16_t v[3];
      for (int c = 0; c < 3; ++c) {
        const int k = (x + 3) / 8, at = (x + 3) % 8;  // line k, sample p2 .. q2 as 0 .. 5
        const int n = ((y - 4) * lines_per_row + k - 1) * 3 + c;
        int level = kMid;
        if (at == 6 || at == 7) {
          level = kSeparator[at - 6];
        } else if (y >= 4 && k >= 1 && k <= lines_per_row) {
          int line[6];
          if (n < kSteps) {
            const int d = 8 * n;
            for (int i = 0; i < 6; ++i) line[i] = (i < 3) == (n % 2 == 0) ? 0 : d;
          } else if (n < kSteps + kBetaLines) {
            const int m = n - kSteps;
            for (int& s : line) s = kMid;
            line[m % 2 == 0 ? 1 : 4] += m % 2 == 0 ? 8 * m : -8 * m;
          } else if (n < kSteps + kBetaLines + kSideLines) {
            const int m = n - kSteps - kBetaLines;
            for (int i = 0; i < 6; ++i) line[i] = kMid + (i < 3 ? 0 : 24);
            line[0] += 8 * m;
            line[5] -= 8 * m;
          } else {
            for (int& s : line) s = kMid + static_cast<int>(rng.Next() % 401) - 200;
          }
          level = line[at];
        }
        v[c] = static_cast<int16_t>(kBase[c][y / 4 % 2] + level);
      }
      (turned ? f.at(y, x) : f.at(x, y)) = {v[0], v[1], v[2]};
    }
  return f;
}

uint64_t PictureHash(const host::Frame& f) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) {
      const core::YcPixel& p = f.at(x, y);
      const uint8_t b[6] = {static_cast<uint8_t>(p.y),  static_cast<uint8_t>(p.y >> 8),
                            static_cast<uint8_t>(p.cb), static_cast<uint8_t>(p.cb >> 8),
                            static_cast<uint8_t>(p.cr), static_cast<uint8_t>(p.cr >> 8)};
      h = Fnv1a(h, b, 6);
    }
  return h;
}

struct Shape {
  int w, h, stride;
};
const Shape kShapes[] = {{1, 1, 1},      {7, 5, 9},       {8, 8, 8},       {33, 17, 40},      {64, 48, 64},
                         {177, 99, 180}, {320, 180, 321}, {642, 362, 650}, {1920, 1080, 1920}};

// Track sets per filter, by the filter's short name.
const std::map<std::string, std::vector<std::vector<int32_t>>> kTrackSets = {
    {"velour", {{1, 8, 3, 0}, {31, 64, 0, 64}, {1, 1, 4, 0}, {17, 13, 2, 5}, {2, 64, 4, 54}}},
    {"deblock", {{25, 0, 0}, {60, 60, 60}, {0, 0, 0}, {40, 5, 0}}},
};

// deblock's threshold cases, on the frames of MakeThresholdFrame with lines across vertical and across
// horizontal edges: every quant, and rows 0..15 of alpha and of beta (all 0) each beside a row of the
// other table that lets lines pass; then one index limited to 60 while the other is not.
const Shape kThresholdShapes[] = {{104, 24, 107}, {24, 104, 27}};
std::vector<std::vector<int32_t>> ThresholdTrackSets() {
  std::vector<std::vector<int32_t>> sets;
  for (int32_t q = 0; q <= 60; ++q) sets.push_back({q, 0, 0});
  for (int32_t q = 0; q <= 15; ++q) {
    sets.push_back({q, 0, 30});
    sets.push_back({q, 30, 0});
  }
  sets.push_back({40, 30, 0});
  sets.push_back({30, 0, 45});
  return sets;
}

struct Case {
  const core::FilterCore* core;
  Shape shape;
  int partitions;
  std::vector<int32_t> tracks;
  bool thresholds = false;  // the frame of MakeThresholdFrame, not MakeFrame
  uint64_t seed() const { return 1000003ull * shape.w + shape.h + tracks[0] * 7919ull + tracks.size(); }
  std::string Label() const {
    std::string s = std::string(core->name) + (thresholds ? " thresholds " : " ") + std::to_string(shape.w) +
                    "x" + std::to_string(shape.h) + "/" + std::to_string(shape.stride) + " T" +
                    std::to_string(partitions);
    for (int32_t v : tracks) s += " " + std::to_string(v);
    return s;
  }
  host::Frame MakeInput() const {
    return thresholds ? MakeThresholdFrame(shape.w, shape.h, shape.stride)
                      : MakeFrame(shape.w, shape.h, shape.stride, seed());
  }
};

std::vector<Case> Cases(const std::vector<int>& partitions, long max_pixels) {
  std::vector<Case> cases;
  for (const core::FilterCore* core : hostkit::BuiltinFilters())
    for (int T : partitions)
      for (const Shape& s : kShapes) {
        if (static_cast<long>(s.w) * s.h > max_pixels) continue;
        for (const auto& tracks : kTrackSets.at(core->name)) cases.push_back({core, s, T, tracks});
      }
  for (const core::FilterCore* core : hostkit::BuiltinFilters())
    if (std::string_view(core->name) == "deblock")
      for (const Shape& s : kThresholdShapes)
        for (const auto& tracks : ThresholdTrackSets()) cases.push_back({core, s, 1, tracks, true});
  return cases;
}

int failures = 0;

void Fail(const std::string& what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++failures;
}

void CheckRecord(const host::FilterTable* t, const core::FilterCore& core) {
  try {
    standin::ValidateFilterTable(t);
  } catch (const standin::HostError& e) {
    Fail(e.what());
    return;
  }
  if (std::strcmp(t->name, core.title) != 0 || std::strcmp(t->information, core.title) != 0 ||
      t->name == t->information)
    Fail(std::string("record name of ") + core.name);
  if (t->flags != host::kFilterFlags) Fail(std::string("flags of ") + core.name);
  if (t->track_count != core.track_count) Fail(std::string("track count of ") + core.name);
  std::printf("record \"%s\" flags %08" PRIx32, t->name, static_cast<uint32_t>(t->flags));
  for (int i = 0; i < t->track_count; ++i) {
    const core::Track* c = i < core.track_count ? &core.tracks[i] : nullptr;
    if (c != nullptr && (std::strcmp(c->name, t->track_names[i]) != 0 || c->def != t->track_defaults[i] ||
                         c->min != t->track_minimums[i] || c->max != t->track_maximums[i]))
      Fail(std::string("track ") + std::to_string(i) + " of " + core.name + ": not the core's");
    std::printf(" %s=%d[%d..%d]", t->track_names[i], t->track_defaults[i], t->track_minimums[i],
                t->track_maximums[i]);
  }
  std::printf("\n");
}

// Runs fn(frame) on the case's frame, checking the CPU state around it; returns the hash.
template <class Fn>
uint64_t HashOf(const Case& c, const char* label, Fn&& fn) {
  host::Frame f = c.MakeInput();
  const CpuState before = ReadCpuState();
  fn(f);
  const CpuState after = ReadCpuState();
  if (!SameState(before, after)) Fail(c.Label() + ": " + label + ": CPU control state changed by a call");
  return PictureHash(f);
}

std::map<std::string, uint64_t> ReadGolden(const std::string& path) {
  std::map<std::string, uint64_t> golden;
  std::ifstream in(path);
  if (!in) throw std::runtime_error(path + ": cannot read");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t sp = line.rfind(' ');
    golden[line.substr(0, sp)] = std::strtoull(line.c_str() + sp + 1, nullptr, 16);
  }
  return golden;
}

int WriteGolden(const std::string& path) {
  std::ofstream out(path);
  out << "# Output hashes of the built-in filters, derived from the scalar reference (plugin_hashes\n"
         "# --write-golden): filter, picture WxH/stride, partition count T, track values, FNV-1a of the\n"
         "# picture's samples.\n";
  for (const Case& c : Cases({1, 3, 8}, 1L << 30)) {
    const uint64_t h = HashOf(c, "reference", [&](host::Frame& f) {
      c.core->reference(c.tracks.data(), f.EditPlane(), c.partitions);
    });
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, h);
    out << c.Label() << " " << hex << "\n";
  }
  return out ? 0 : 1;
}

struct Options {
  bool serial = false;
  std::vector<int> threads = {1, 3, 8};
  long max_pixels = 1920L * 1080, reference_max_pixels = 0;
  std::string golden_path, write_golden;
  std::vector<std::string> libs;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--serial") {
      o.serial = true;
    } else if (a.rfind("--threads=", 0) == 0) {
      o.threads.clear();
      for (const char* p = argv[i] + 10; *p;) {
        o.threads.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    } else if (a.rfind("--max-pixels=", 0) == 0) {
      o.max_pixels = std::atol(argv[i] + 13);
    } else if (a.rfind("--reference-max-pixels=", 0) == 0) {
      o.reference_max_pixels = std::atol(argv[i] + 23);
    } else if (a.rfind("--golden=", 0) == 0) {
      o.golden_path = std::string(a.substr(9));
    } else if (a.rfind("--write-golden=", 0) == 0) {
      o.write_golden = std::string(a.substr(15));
    } else {
      o.libs.emplace_back(a);
    }
  }
  return o;
}

int Usage(std::span<const core::FilterCore* const> filters) {
  std::fprintf(stderr,
               "usage: plugin_hashes [--serial] [--threads=1,3,8] [--max-pixels=N] [--golden=FILE]\n"
               "                     [--reference-max-pixels=N] LIBRARY... (one per built-in filter:");
  for (const core::FilterCore* f : filters) std::fprintf(stderr, " %s", f->name);
  std::fprintf(stderr, ")\n       plugin_hashes --write-golden=FILE\n");
  return 2;
}

using Libraries = std::map<std::string, std::unique_ptr<standin::PluginLibrary>>;

// Each library loaded, its entry point and record checked against its filter's core.
Libraries LoadLibraries(const std::vector<std::string>& paths,
                        std::span<const core::FilterCore* const> filters) {
  Libraries libraries;
  for (size_t i = 0; i < filters.size(); ++i) {
    auto lib = std::make_unique<standin::PluginLibrary>(paths[i]);
    if (lib->entry()() != lib->table())
      Fail(std::string(filters[i]->name) + ": GetFilterTable returned another address");
    CheckRecord(lib->table(), *filters[i]);
    libraries[filters[i]->name] = std::move(lib);
  }
  return libraries;
}

// The plug-ins' hash of every case, printed and held to the golden file where one is given.
std::vector<uint64_t> HashPlugins(const std::vector<Case>& cases, const Libraries& libraries,
                                  const Options& o) {
  const std::map<std::string, uint64_t> golden =
      o.golden_path.empty() ? std::map<std::string, uint64_t>{} : ReadGolden(o.golden_path);
  std::vector<uint64_t> hashes;
  for (const Case& c : cases) {
    core::WorkerPool pool(c.partitions, o.serial);
    standin::FilterHost host(libraries.at(c.core->name)->table(), &pool);
    for (size_t i = 0; i < c.tracks.size(); ++i) host.SetTrackUnchecked(static_cast<int>(i), c.tracks[i]);
    int rc = 0;
    const uint64_t h = HashOf(c, "plug-in", [&](host::Frame& f) { rc = host.Process(f); });
    if (rc != 1) Fail(c.Label() + ": processing function returned " + std::to_string(rc));
    hashes.push_back(h);
    std::printf("%s %016" PRIx64 "\n", c.Label().c_str(), h);
    if (!golden.empty()) {
      const auto it = golden.find(c.Label());
      if (it == golden.end()) Fail(c.Label() + ": no golden hash");
      else if (it->second != h) Fail(c.Label() + ": differs from the golden hash");
    }
  }
  return hashes;
}

// The cores linked into this program, each tier forced, must give the plug-ins' hashes, also when
// fewer or more workers than partitions compute them. The scalar tier, as slow as the reference,
// takes the pictures up to 250000 pixels.
void CheckTiers(const std::vector<Case>& cases, const std::vector<uint64_t>& hashes, bool serial) {
  // What the plug-ins, like this program, detect and run by default.
  std::fprintf(stderr, "tier auto: %s\n", core::CpuTierName(core::DetectCpuFlags()));
  for (const core::CpuTier& tier : core::kCpuTiers) {
    if (!core::CpuHasTier(tier)) {
      std::fprintf(stderr, "tier %s: not available on this CPU, skipped\n", tier.name);
      continue;
    }
    const int failures_before = failures;
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      if (tier.flags == 0 && static_cast<long>(c.shape.w) * c.shape.h > 250000) continue;
      const int workers = serial ? 1 : c.partitions == 1 ? 2 : c.partitions - 1;
      core::WorkerPool pool(workers, serial);
      const uint64_t h = HashOf(c, tier.name, [&](host::Frame& f) {
        c.core->filter(tier.flags, c.tracks.data(), f.EditPlane(), f.TempPlane(), c.partitions,
                       pool.workers());
      });
      if (h != hashes[i]) Fail(c.Label() + ": core at tier " + tier.name + " differs from the plug-in");
    }
    if (failures == failures_before) std::fprintf(stderr, "tier %s: cores match the plug-ins\n", tier.name);
  }
}

// And the scalar reference, where it is quick enough.
void CheckReference(const std::vector<Case>& cases, const std::vector<uint64_t>& hashes, long max_pixels) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    if (static_cast<long>(c.shape.w) * c.shape.h > max_pixels) continue;
    const uint64_t h = HashOf(c, "reference", [&](host::Frame& f) {
      c.core->reference(c.tracks.data(), f.EditPlane(), c.partitions);
    });
    if (h != hashes[i]) Fail(c.Label() + ": the reference differs from the plug-in");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  if (!o.write_golden.empty()) return WriteGolden(o.write_golden);
  const auto filters = hostkit::BuiltinFilters();
  if (o.libs.size() != filters.size()) return Usage(filters);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    const Libraries libraries = LoadLibraries(o.libs, filters);
    const std::vector<Case> cases = Cases(o.threads, o.max_pixels);
    const std::vector<uint64_t> hashes = HashPlugins(cases, libraries, o);
    CheckTiers(cases, hashes, o.serial);
    CheckReference(cases, hashes, o.reference_max_pixels);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "FAIL: %s\n", e.what());
    return 1;
  }
  if (failures) std::fprintf(stderr, "%d failures\n", failures);
  return failures ? 1 : 0;
}
