#include "tools/cli/run_filter.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "core/cpu.h"
#include "core/track_values.h"
#include "hostkit/builtin_filters.h"
#include "standin/auf_host.h"
#include "tools/cli/files.h"

namespace cli {
namespace {

// A built-in filter's core, with the kernels of the chosen tier: the result for `partitions`,
// computed by the pool's threads.
class BuiltinFilter : public RunFilter {
 public:
  BuiltinFilter(const core::FilterCore& core, core::CpuFlags flags, int partitions, core::WorkerPool* pool)
      : RunFilter(core.title, {core.tracks, core.tracks + core.track_count}),
        core_(core),
        flags_(flags),
        partitions_(partitions),
        pool_(pool) {}
  void Process(core::Picture& picture) override {
    core::FilterPicture(core_, flags_, values_.data(), picture, scratch_, partitions_, pool_->workers());
  }

 private:
  const core::FilterCore& core_;
  std::vector<core::YcPixel> scratch_;
  core::CpuFlags flags_;
  int partitions_;
  core::WorkerPool* pool_;
};

// A plug-in library driven through the editor's records, as the editor drives it: whatever it
// derives from the worker count is its own business.
class LibraryFilter : public RunFilter {
 public:
  LibraryFilter(std::unique_ptr<standin::PluginLibrary> library, core::WorkerPool* pool)
      : RunFilter(library->table()->name, standin::TracksOf(library->table())),
        library_(std::move(library)),
        host_(library_->table(), pool) {}
  void Process(core::Picture& picture) override {
    for (size_t i = 0; i < values_.size(); ++i) host_.SetTrackUnchecked(static_cast<int>(i), values_[i]);
    host_.Process(picture);
  }

 private:
  std::unique_ptr<standin::PluginLibrary> library_;
  standin::FilterHost host_;
};

#if defined(_WIN32)
bool FileExists(const std::string& path) { return _waccess(Wide(path).c_str(), 0) == 0; }

// The word size a Windows library was built for, read from its header: 32, 64, or 0 when unknown.
int LibraryWordSize(const std::string& path) {
  const int fd = _wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return 0;
  unsigned char dos[64] = {}, pe[6] = {};
  int bits = 0;
  if (_read(fd, dos, sizeof dos) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
    const long at = dos[60] | dos[61] << 8 | dos[62] << 16 | long{dos[63]} << 24;
    if (_lseek(fd, at, SEEK_SET) == at && _read(fd, pe, sizeof pe) == sizeof pe && pe[0] == 'P' &&
        pe[1] == 'E' && pe[2] == 0 && pe[3] == 0) {
      const int machine = pe[4] | pe[5] << 8;
      bits = machine == 0x14c ? 32 : machine == 0x8664 ? 64 : 0;
    }
  }
  _close(fd);
  return bits;
}

// The editor of one word size cannot load a library of the other: say so before LoadLibrary's "bad
// format".
void CheckWordSize(const std::string& path) {
  constexpr int kOwn = sizeof(void*) == 8 ? 64 : 32;
  const int bits = LibraryWordSize(path);
  if (bits != 0 && bits != kOwn)
    throw standin::HostError("cannot load plug-in '" + path + "': it is a " + std::to_string(bits) +
                             "-bit library and this aufhost.exe is " + std::to_string(kOwn) + "-bit; the " +
                             std::to_string(bits) + "-bit aufhost.exe loads it");
}
#else
bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
void CheckWordSize(const std::string&) {}
#endif

std::string BuiltinNames() {
  std::string names;
  for (const core::FilterCore* f : hostkit::BuiltinFilters())
    names += (names.empty() ? "" : ", ") + std::string(f->name);
  return names;
}

std::unique_ptr<RunFilter> OpenLibrary(const Options& o, core::WorkerPool* pool) {
  if (o.cpu != "auto") throw UsageError("--cpu applies to the built-in filters only");
  if (o.host_threads > 0) throw UsageError("--host-threads applies to the built-in filters only");
  if (!FileExists(o.plugin))
    throw standin::HostError(o.plugin + ": neither a built-in filter (" + BuiltinNames() +
                             ") nor an existing file");
    // dlopen and LoadLibrary search their own paths for a bare name; a file in the current folder is
    // meant here.
#if defined(_WIN32)
  const bool bare = o.plugin.find_first_of("/\\:") == std::string::npos;
  const std::string path = bare ? ".\\" + o.plugin : o.plugin;
#else
  const bool bare = o.plugin.find('/') == std::string::npos;
  const std::string path = bare ? "./" + o.plugin : o.plugin;
#endif
  CheckWordSize(path);
  return std::make_unique<LibraryFilter>(std::make_unique<standin::PluginLibrary>(path), pool);
}

// Track values are checked against the filter's own ranges; a wrong name or value is a usage error.
void SetTracks(RunFilter& filter, const std::vector<TrackSetting>& tracks) {
  try {
    for (const TrackSetting& t : tracks) filter.SetTrack(t);
  } catch (const core::TrackError& e) {
    throw UsageError(e.what());
  }
}

}  // namespace

RunFilter::RunFilter(std::string name, std::vector<core::Track> tracks)
    : name_(std::move(name)),
      tracks_(std::move(tracks)),
      values_(core::DefaultTrackValues(tracks_.data(), static_cast<int32_t>(tracks_.size()))) {}

void RunFilter::SetTrack(const TrackSetting& t) {
  core::SetTrackByName(name_, tracks_.data(), static_cast<int32_t>(tracks_.size()), values_.data(), t.name,
                       t.value, t.text);
}

std::unique_ptr<RunFilter> OpenFilter(const Options& o, core::WorkerPool* pool) {
  std::unique_ptr<RunFilter> filter;
  if (const core::FilterCore* core = hostkit::FindBuiltinFilter(o.plugin)) {
    core::CpuFlags flags = 0;
    core::CpuFlagsForTier(o.cpu, &flags);
    filter = std::make_unique<BuiltinFilter>(*core, flags, o.host_threads > 0 ? o.host_threads : 1, pool);
  } else {
    filter = OpenLibrary(o, pool);
  }
  SetTracks(*filter, o.tracks);
  return filter;
}

void PrintTracks(const RunFilter& filter) {
  std::printf("%s\n", filter.name().c_str());
  std::printf("  %-14s %8s %8s %8s\n", "track", "default", "min", "max");
  for (const core::Track& t : filter.tracks())
    std::printf("  %-14s %8d %8d %8d\n", t.name, t.def, t.min, t.max);
}

}  // namespace cli
