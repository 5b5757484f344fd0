#pragma once
// The filter of a run and its track bars: a built-in filter's core, or a plug-in library driven
// through the editor's records. Everything aufhost knows of track bars is here.
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "host/worker_pool.h"
#include "tools/cli/options.h"

namespace cli {

class RunFilter {
 public:
  virtual ~RunFilter() = default;
  const std::string& name() const { return name_; }
  const std::vector<host::TrackInfo>& tracks() const { return tracks_; }
  void SetTrack(const std::string& track, int32_t value) {
    host::SetTrackByName(name_, tracks_, values_, track, value);
  }
  virtual void Process(host::Frame& frame) = 0;

 protected:
  RunFilter(std::string name, std::vector<host::TrackInfo> tracks);
  std::string name_;
  std::vector<host::TrackInfo> tracks_;
  std::vector<int32_t> values_;
};

// The filter PLUGIN names, with the tracks of -t set. Throws UsageError for a track the filter does
// not take and host::HostError for a library that cannot be loaded.
std::unique_ptr<RunFilter> OpenFilter(const Options& o, host::WorkerPool* pool);

// --list: the filter's name and its track bars.
void PrintTracks(const RunFilter& filter);

}  // namespace cli
