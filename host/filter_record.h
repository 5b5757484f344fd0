#pragma once
// What both editor plug-ins' adapters share: building the filter record the editor gets, and the
// editor's RunOnWorkers as the worker service of a filter core.
#include "core/filter_core.h"
#include "core/workers.h"
#include "host/host_abi.h"

namespace host {

// A record with the plug-in's fields filled in and every other word zero. `information` must be a
// separate copy of the core's title.
constexpr FilterTable MakeFilterTable(const core::FilterCore& core, const char* information,
                                      ProcessFrameFn process) {
  FilterTable t{};
  t.flags = kFilterFlags;
  t.name = core.title;
  t.track_count = core.track_count;
  t.track_names = core.track_names;
  t.track_defaults = core.track_defaults;
  t.track_minimums = core.track_minimums;
  t.track_maximums = core.track_maximums;
  t.process = process;
  t.information = information;
  return t;
}

namespace editor_detail {

struct Run {
  core::WorkerTask task;
  void* data;
};

// The editor's worker threads call in with a stack aligned only to 4 bytes on 32-bit x86.
AUF_HOST_ENTRY inline void AUF_CDECL RunTask(int index, int count, void* param1, void*) {
  const Run* run = static_cast<const Run*>(param1);
  run->task(index, count, run->data);
}

inline void RunOnEditorWorkers(const core::Workers* self, core::WorkerTask task, void* data) {
  Run run{task, data};
  static_cast<HostFilter*>(self->context)->host_functions->RunOnWorkers(&RunTask, &run, nullptr);
}

}  // namespace editor_detail

// The editor's worker threads as a worker service: one RunOnWorkers call per run. `count` as far
// as the adapter knows it (0: only the run tells).
inline core::Workers EditorWorkers(HostFilter* filter, int32_t count) {
  return {&editor_detail::RunOnEditorWorkers, filter, count};
}

}  // namespace host
