#include "standin/auf_host.h"

#include <cstring>

#include "core/track_values.h"
#include "standin/library.h"

namespace standin {

using core::WorkerPool;
using host::FilterTable;
using host::Frame;
using host::FrameInfo;
using host::GetFilterTableFn;
using host::WorkerProc;

namespace {

// RunOnWorkers carries no context, so the host that is inside ProcessFrame on this thread is found
// through a thread-local pointer.
thread_local FilterHost* tls_active_host = nullptr;

struct HostCall {
  WorkerProc proc;
  void* param1;
  void* param2;
};

void CallWorkerProc(int32_t index, int32_t count, void* data) {
  const HostCall* call = static_cast<const HostCall*>(data);
  call->proc(index, count, call->param1, call->param2);
}

int AUF_CDECL RunOnWorkersThunk(WorkerProc proc, void* param1, void* param2) {
  FilterHost* host = tls_active_host;
  if (host == nullptr || proc == nullptr) return 0;
  HostCall call{proc, param1, param2};
  host->pool()->Run(&CallWorkerProc, &call);
  return 1;
}

struct ActiveHostScope {
  explicit ActiveHostScope(FilterHost* h) : saved(tls_active_host) { tls_active_host = h; }
  ~ActiveHostScope() { tls_active_host = saved; }
  FilterHost* saved;
};

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
  std::string reason;
  handle_.reset(OpenLibrary(path, &reason));
  if (handle_ == nullptr) throw HostError("cannot load plug-in '" + path + "'" + reason);
  entry_ = reinterpret_cast<GetFilterTableFn>(LibrarySymbol(handle_.get(), "GetFilterTable"));
  if (entry_ == nullptr) throw HostError("plug-in '" + path + "' has no GetFilterTable export");
  table_ = entry_();
  if (table_ == nullptr) throw HostError("plug-in '" + path + "': GetFilterTable returned no filter table");
}

void PluginLibrary::Closer::operator()(void* handle) const { CloseLibrary(handle); }

void ValidateFilterTable(const FilterTable* t) {
  if (t == nullptr) throw HostError("no filter table");
  if (t->name == nullptr) throw HostError("filter table has no name");
  if (t->process == nullptr)
    throw HostError(std::string("filter '") + t->name + "' has no processing function");
  if (t->track_count < 0 || t->track_count > 64)
    throw HostError(std::string("filter '") + t->name + "' declares an invalid track bar count");
  if (t->track_count > 0 && (t->track_names == nullptr || t->track_defaults == nullptr ||
                             t->track_minimums == nullptr || t->track_maximums == nullptr))
    throw HostError(std::string("filter '") + t->name + "' lacks its track bar arrays");
  const std::vector<core::Track> tracks = TracksOf(t);
  for (int i = 0; i < t->track_count; ++i) {
    if (t->track_names[i] == nullptr)
      throw HostError(std::string("filter '") + t->name + "': track bar " + std::to_string(i) +
                      " has no name");
    if (!core::TrackIsSound(tracks[i]))
      throw HostError(std::string("filter '") + t->name + "': track bar '" + t->track_names[i] +
                      "' has an inconsistent range");
  }
}

std::vector<core::Track> TracksOf(const FilterTable* t) {
  std::vector<core::Track> list;
  for (int i = 0; i < t->track_count; ++i)
    list.push_back({t->track_names[i], core::TrackKind::kBar, t->track_minimums[i], t->track_maximums[i],
                    t->track_defaults[i], nullptr});
  return list;
}

FilterHost::FilterHost(const FilterTable* table, WorkerPool* pool) : pool_(pool) {
  ValidateFilterTable(table);
  std::memcpy(&record_, table, sizeof(record_));
  tracks_ = TracksOf(table);
  name_ = table->name;
  values_ = core::DefaultTrackValues(tracks_.data(), static_cast<int32_t>(tracks_.size()));
  values_.push_back(0);  // never empty, so the pointer is always valid
  functions_.RunOnWorkers = &RunOnWorkersThunk;
  record_.track_values = values_.data();
  record_.host_functions = &functions_;
}

void FilterHost::SetTrack(const std::string& name, int32_t value) {
  core::SetTrackByName(name_, tracks_.data(), static_cast<int32_t>(tracks_.size()), values_.data(), name,
                       value, std::to_string(value));
}

int FilterHost::Process(FrameInfo* frame) {
  ActiveHostScope scope(this);
  return record_.process(&record_, frame);
}

int FilterHost::Process(Frame& frame) {
  FrameInfo fi{};
  fi.edit = frame.edit.data();
  fi.temp = frame.temp.data();
  fi.w = frame.w;
  fi.h = frame.h;
  fi.stride = frame.stride;
  return Process(&fi);
}

int FilterHost::Process(core::Picture& picture) {
  const size_t n = picture.pixels.size();
  if (temp_.size() < n) temp_.resize(n);
  FrameInfo fi{};
  fi.edit = picture.pixels.data();
  fi.temp = temp_.data();
  fi.w = picture.w;
  fi.h = picture.h;
  fi.stride = picture.stride;
  return Process(&fi);
}

}  // namespace standin
