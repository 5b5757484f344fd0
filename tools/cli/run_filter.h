#pragma once
// The filter of a run and its track bars: a built-in filter's core, or a plug-in library driven
// through the editor's records. Everything aufhost knows of track bars is here.
#include <memory>
#include <string>
#include <vector>

#include "core/picture.h"
#include "core/tracks.h"
#include "core/worker_pool.h"
#include "tools/cli/options.h"

namespace cli {

class RunFilter {
 public:
  virtual ~RunFilter() = default;
  const std::string& name() const { return name_; }
  const std::vector<core::Track>& tracks() const { return tracks_; }
  // Throws core::TrackError for a name the filter lacks or a value outside the track's range.
  void SetTrack(const TrackSetting& t);
  virtual void Process(core::Picture& frame) = 0;

 protected:
  RunFilter(std::string name, std::vector<core::Track> tracks);
  std::string name_;
  std::vector<core::Track> tracks_;
  std::vector<int32_t> values_;
};

// The filter PLUGIN names, with the tracks of -t set. Throws UsageError for a track the filter does
// not take and standin::HostError for a library that cannot be loaded.
std::unique_ptr<RunFilter> OpenFilter(const Options& o, core::WorkerPool* pool);

// --list: the filter's name and its track bars.
void PrintTracks(const RunFilter& filter);

}  // namespace cli
