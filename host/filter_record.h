#pragma once
// A filter core as the editor's plug-in: its filter record, derived from the core at compile time
// (the editor reads the record's arrays as static data), and its ProcessFrame, which runs the core
// on the editor's worker threads with one partition per thread. An entry file declares its plug-in
// with AUF_EDITOR_PLUGIN(core) and nothing else.
#include <algorithm>
#include <array>
#include <string_view>

#include "core/cpu.h"
#include "core/filter_core.h"
#include "core/workers.h"
#include "host/host_abi.h"

namespace host {

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

AUF_HOST_ENTRY inline void AUF_CDECL ReportThreadCount(int t, int n, void* slots, void*) {
  if (t >= 0 && t < 8) static_cast<int32_t*>(slots)[t] = n;
}

// One column of the core's track list as an array.
template <class T, size_t N, class Field>
constexpr std::array<T, N> Column(const core::Track* tracks, Field field) {
  std::array<T, N> column{};
  for (size_t i = 0; i < N; ++i) column[i] = field(tracks[i]);
  return column;
}

}  // namespace editor_detail

// The editor's worker threads as a worker service of `count` workers: one RunOnWorkers call per run.
inline core::Workers EditorWorkers(HostFilter* filter, int32_t count) {
  return {&editor_detail::RunOnEditorWorkers, filter, count};
}

// The editor's worker thread count, which it gives every worker of a run (and the same to every run
// of one ProcessFrame call): each reports it into the slot of its index; indexes past the 8 slots
// write nothing, and any slot holds the count. At least 1.
inline int32_t CountEditorWorkers(HostFilter* filter) {
  int32_t slots[8] = {};
  filter->host_functions->RunOnWorkers(&editor_detail::ReportThreadCount, slots, nullptr);
  return std::max(1, *std::max_element(slots, slots + 8));
}

// The plug-in of the filter core `kCore` (a constexpr FilterCore).
template <const core::FilterCore& kCore>
struct EditorPlugin {
  static constexpr size_t kTracks = static_cast<size_t>(kCore.track_count);
  using Track = core::Track;
  static constexpr std::array<const char*, kTracks> kNames =
      editor_detail::Column<const char*, kTracks>(kCore.tracks, [](const Track& t) { return t.name; });
  static constexpr std::array<int32_t, kTracks> kDefaults =
      editor_detail::Column<int32_t, kTracks>(kCore.tracks, [](const Track& t) { return t.def; });
  static constexpr std::array<int32_t, kTracks> kMinimums =
      editor_detail::Column<int32_t, kTracks>(kCore.tracks, [](const Track& t) { return t.min; });
  static constexpr std::array<int32_t, kTracks> kMaximums =
      editor_detail::Column<int32_t, kTracks>(kCore.tracks, [](const Track& t) { return t.max; });
  // A separate copy of the title: the editor keeps both texts.
  static constexpr size_t kTitleSize = std::string_view(kCore.title).size() + 1;
  static constexpr std::array<char, kTitleSize> kInformation = [] {
    std::array<char, kTitleSize> text{};
    std::copy_n(kCore.title, kTitleSize, text.begin());
    return text;
  }();

  // The result with one partition per editor worker thread, as the editor's users know it.
  AUF_HOST_ENTRY static int AUF_CDECL ProcessFrame(HostFilter* filter, FrameInfo* frame) {
    const int32_t threads = CountEditorWorkers(filter);
    const core::Plane edit{frame->edit, frame->w, frame->h, frame->stride};
    const core::Plane temp{frame->temp, frame->w, frame->h, frame->stride};
    kCore.filter(core::DetectCpuFlags(), filter->track_values, edit, temp, threads,
                 EditorWorkers(filter, threads));
    return 1;
  }

  // The plug-in's fields filled in, every other word zero.
  static constexpr FilterTable Record() {
    FilterTable t{};
    t.flags = kFilterFlags;
    t.name = kCore.title;
    t.track_count = kCore.track_count;
    t.track_names = kNames.data();
    t.track_defaults = kDefaults.data();
    t.track_minimums = kMinimums.data();
    t.track_maximums = kMaximums.data();
    t.process = &ProcessFrame;
    t.information = kInformation.data();
    return t;
  }
  static constinit inline FilterTable table = Record();
};

}  // namespace host

// The exported entry of the plug-in of `core`.
#define AUF_EDITOR_PLUGIN(core) \
  AUF_EXPORT host::FilterTable* AUF_CDECL GetFilterTable() { return &host::EditorPlugin<core>::table; }
