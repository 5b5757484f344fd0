#pragma once
// The editor stand-in: loads a plug-in library, keeps the host's own copy of its filter record with
// track values and host functions filled in, and calls the processing function per frame, with
// RunOnWorkers served by a WorkerPool: for aufhost's plug-in libraries, the end-to-end hashes, the
// benchmarks of the classic plug-ins and the tests of their records.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/picture.h"
#include "core/tracks.h"
#include "core/worker_pool.h"
#include "host/frame.h"
#include "host/host_abi.h"

namespace standin {

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A shared library that exports GetFilterTable, opened with dlopen / LoadLibrary.
class PluginLibrary {
 public:
  // Throws HostError naming the path when the library does not load or lacks GetFilterTable.
  explicit PluginLibrary(const std::string& path);

  const host::FilterTable* table() const { return table_; }
  host::GetFilterTableFn entry() const { return entry_; }

 private:
  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  host::GetFilterTableFn entry_ = nullptr;
  const host::FilterTable* table_ = nullptr;
};

// Checks what a host relies on in a filter record; throws HostError with the reason.
void ValidateFilterTable(const host::FilterTable* table);
// The record's track bars as tracks (bars, named by the record's texts).
std::vector<core::Track> TracksOf(const host::FilterTable* table);

// The host's side of one loaded filter.
class FilterHost {
 public:
  // The table must outlive the host. Tracks start at their defaults.
  FilterHost(const host::FilterTable* table, core::WorkerPool* pool);

  const std::string& name() const { return name_; }
  const std::vector<core::Track>& tracks() const { return tracks_; }
  // Sets a track value by name; throws core::TrackError for unknown names and values out of range.
  void SetTrack(const std::string& name, int32_t value);
  // Sets a track by position with no range check: for values already checked (aufhost checks them
  // against the tracks first), and for tests that send what a host never sends.
  void SetTrackUnchecked(int index, int32_t value) { values_[index] = value; }
  int32_t track(int index) const { return values_[index]; }
  const host::HostFilter* record() const { return &record_; }

  // Runs the processing function on the frame's planes; returns what it returned.
  int Process(host::FrameInfo* frame);
  int Process(host::Frame& frame);
  // The same on a picture, with the editor's temp plane kept by the host between frames.
  int Process(core::Picture& picture);

  core::WorkerPool* pool() const { return pool_; }

 private:
  host::HostFilter record_{};
  host::HostFunctions functions_{};
  std::vector<int32_t> values_;
  std::vector<core::Track> tracks_;
  std::string name_;
  core::WorkerPool* pool_;
  std::vector<core::YcPixel> temp_;
};

}  // namespace standin
