// Loads the plug-in libraries the way the editor does, checks their records, filters a fixed set of
// generated frames and prints one hash per output. The same program is built natively and for
// 32- and 64-bit Windows; identical output proves the builds filter alike. It also runs the filter
// cores linked in with every CPU tier forced, and checks that each call leaves the FPU and SIMD
// control state, the direction flag and the MMX/x87 register state as it found them.
//
//   plugin_hashes [--serial] [--threads=LIST] [--max-pixels=N] VELOUR_LIB DEBLOCK_LIB
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "deblock/deblock.h"
#include "host/cpu.h"
#include "host/plugin_host.h"
#include "velour/velour.h"

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
  return a.fpu_control == b.fpu_control && a.fpu_tags == b.fpu_tags && (a.mxcsr & ~0x3Fu) == (b.mxcsr & ~0x3Fu) &&
         a.direction == b.direction;
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

// A blocky picture: 8x8 blocks of gradients with noise, like decoded low-quality video.
host::Frame MakeFrame(int w, int h, int stride, uint64_t seed) {
  host::Frame f(w, h, stride);
  Rng rng{seed};
  for (int by = 0; by < h; by += 8)
    for (int bx = 0; bx < w; bx += 8) {
      const int base = static_cast<int>(rng.Next() % 3200) + 400;
      const int gx = static_cast<int>(rng.Next() % 65) - 32, gy = static_cast<int>(rng.Next() % 65) - 32;
      const int cb = static_cast<int>(rng.Next() % 2000) - 1000, cr = static_cast<int>(rng.Next() % 2000) - 1000;
      for (int y = by; y < by + 8 && y < h; ++y)
        for (int x = bx; x < bx + 8 && x < w; ++x) {
          const int n = static_cast<int>(rng.Next() % 97) - 48;
          f.at(x, y) = {static_cast<int16_t>(base + gx * (x - bx) + gy * (y - by) + n),
                        static_cast<int16_t>(cb + n), static_cast<int16_t>(cr - n)};
        }
    }
  return f;
}

uint64_t PictureHash(const host::Frame& f) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) {
      const host::YcPixel& p = f.at(x, y);
      const uint8_t b[6] = {static_cast<uint8_t>(p.y), static_cast<uint8_t>(p.y >> 8), static_cast<uint8_t>(p.cb),
                            static_cast<uint8_t>(p.cb >> 8), static_cast<uint8_t>(p.cr),
                            static_cast<uint8_t>(p.cr >> 8)};
      h = Fnv1a(h, b, 6);
    }
  return h;
}

struct Shape {
  int w, h, stride;
};
const Shape kShapes[] = {{1, 1, 1},    {7, 5, 9},     {8, 8, 8},     {33, 17, 40},   {64, 48, 64},
                         {177, 99, 180}, {320, 180, 321}, {642, 362, 650}, {1920, 1080, 1920}};

struct FilterCases {
  const char* name;
  std::vector<std::vector<int32_t>> tracks;
};
const FilterCases kVelour = {"velour", {{1, 8, 3, 0}, {31, 64, 0, 64}, {1, 1, 4, 0}, {17, 13, 2, 5}}};
const FilterCases kDeblock = {"deblock", {{25, 0, 0}, {60, 60, 60}, {0, 0, 0}, {40, 5, 0}}};

int failures = 0;

void Fail(const std::string& what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++failures;
}

void CheckRecord(const host::FilterTable* t, const char* name, const std::vector<std::string>& tracks) {
  try {
    host::ValidateFilterTable(t);
  } catch (const host::HostError& e) {
    Fail(e.what());
    return;
  }
  if (std::strcmp(t->name, name) != 0 || std::strcmp(t->information, name) != 0 || t->name == t->information)
    Fail(std::string("record name of ") + name);
  if (t->flags != host::kFilterFlags) Fail(std::string("flags of ") + name);
  if (t->track_count != static_cast<int>(tracks.size())) Fail(std::string("track count of ") + name);
  std::printf("record \"%s\" flags %08" PRIx32, t->name, static_cast<uint32_t>(t->flags));
  for (int i = 0; i < t->track_count; ++i) {
    if (i < static_cast<int>(tracks.size()) && tracks[i] != t->track_names[i]) Fail(std::string("track name of ") + name);
    std::printf(" %s=%d[%d..%d]", t->track_names[i], t->track_defaults[i], t->track_minimums[i], t->track_maximums[i]);
  }
  std::printf("\n");
}

// Filters every case with the given record; returns the hashes in case order.
std::vector<uint64_t> RunCases(const host::FilterTable* table, const FilterCases& cases, const std::vector<int>& threads,
                               bool serial, long max_pixels, bool print, const char* label) {
  std::vector<uint64_t> hashes;
  for (int T : threads) {
    host::WorkerPool pool(T, serial);
    host::FilterHost host(table, &pool);
    for (const Shape& s : kShapes) {
      if (static_cast<long>(s.w) * s.h > max_pixels) continue;
      for (size_t k = 0; k < cases.tracks.size(); ++k) {
        const auto& tr = cases.tracks[k];
        for (size_t i = 0; i < tr.size(); ++i) host.SetTrackUnchecked(static_cast<int>(i), tr[i]);
        host::Frame f = MakeFrame(s.w, s.h, s.stride, 1000003ull * s.w + s.h + k);
        const CpuState before = ReadCpuState();
        const int rc = host.Process(f);
        const CpuState after = ReadCpuState();
        if (rc != 1) Fail(std::string(label) + ": processing function returned " + std::to_string(rc));
        if (!SameState(before, after)) Fail(std::string(label) + ": CPU control state changed by a call");
        const uint64_t h = PictureHash(f);
        hashes.push_back(h);
        if (print) {
          std::printf("%s %dx%d/%d T%d", cases.name, s.w, s.h, s.stride, T);
          for (int32_t v : tr) std::printf(" %d", v);
          std::printf(" %016" PRIx64 "\n", h);
        }
      }
    }
  }
  return hashes;
}

}  // namespace

int main(int argc, char** argv) {
  bool serial = false;
  std::vector<int> threads = {1, 3, 8};
  long max_pixels = 1920L * 1080;
  std::vector<std::string> libs;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--serial") {
      serial = true;
    } else if (a.rfind("--threads=", 0) == 0) {
      threads.clear();
      for (const char* p = argv[i] + 10; *p;) {
        threads.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    } else if (a.rfind("--max-pixels=", 0) == 0) {
      max_pixels = std::atol(argv[i] + 13);
    } else {
      libs.emplace_back(a);
    }
  }
  if (libs.size() != 2) {
    std::fprintf(stderr, "usage: plugin_hashes [--serial] [--threads=1,3,8] [--max-pixels=N] VELOUR_LIB DEBLOCK_LIB\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    host::PluginLibrary velour_lib(libs[0]);
    host::PluginLibrary deblock_lib(libs[1]);
    if (velour_lib.entry()() != velour_lib.table()) Fail("velour: GetFilterTable returned another address");
    if (deblock_lib.entry()() != deblock_lib.table()) Fail("deblock: GetFilterTable returned another address");
    CheckRecord(velour_lib.table(), "Velour for AviUtl", {"quant", "n_shift", "matrix", "zero_weight"});
    CheckRecord(deblock_lib.table(), "deblock for AviUtl", {"quant", "aOffset", "bOffset"});

    const auto velour_hashes = RunCases(velour_lib.table(), kVelour, threads, serial, max_pixels, true, "velour");
    const auto deblock_hashes = RunCases(deblock_lib.table(), kDeblock, threads, serial, max_pixels, true, "deblock");

    // The cores linked into this program, each tier forced, must give the plug-ins' hashes.
    for (const char* tier : {"c", "sse2", "avx2"}) {
      host::CpuFlags flags = 0;
      host::CpuFlagsForTier(tier, &flags);
      if (std::strcmp(host::CpuTierName(flags), tier) != 0) {
        std::fprintf(stderr, "tier %s: not available on this CPU, skipped\n", tier);
        continue;
      }
      const int failures_before = failures;
      if (RunCases(velour::VelourFilterTableForTier(flags), kVelour, threads, serial, max_pixels, false,
                   "velour core") != velour_hashes)
        Fail(std::string("velour core, tier ") + tier + ": output differs from the plug-in's");
      if (RunCases(deblock::DeblockFilterTableForTier(flags), kDeblock, threads, serial, max_pixels, false,
                   "deblock core") != deblock_hashes)
        Fail(std::string("deblock core, tier ") + tier + ": output differs from the plug-in's");
      if (failures == failures_before) std::fprintf(stderr, "tier %s: cores match the plug-ins\n", tier);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "FAIL: %s\n", e.what());
    return 1;
  }
  if (failures) std::fprintf(stderr, "%d failures\n", failures);
  return failures ? 1 : 0;
}
