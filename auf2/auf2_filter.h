#pragma once
// A filter core as the successor editor's plug-in (.auf2): its setting items, derived from the
// core's tracks at compile time (the editor writes the current values into them), the video
// procedure that runs the core on the editor's RGBA image on worker threads of the plug-in's own,
// and the exported entry points. An entry file declares its plug-in with AUF2_PLUGIN(core, text)
// and nothing else.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "auf2/auf2_abi.h"
#include "core/filter_core.h"

namespace auf2 {

// A filter as a .auf2 plug-in: its core, and its setting items, item i feeding the core's track i.
struct Auf2Filter {
  const core::FilterCore* core;
  void* const* items;
};

// The track values the items hold now, in the core's order: bars rounded to the nearest integer
// (halves away from zero; not a number: the default), and every value clamped into its range.
void ReadTracks(const Auf2Filter& filter, int32_t* tracks);

// One call of the editor's video procedure: takes the object's image, converts it to the filters'
// samples (core/rgba_dsp.h), runs the core with a partition count of 1 on the plug-in's worker
// threads, converts back leaving every alpha value as it was, and hands the image back. Settings are
// read once, first. An editor of version kHostVersionResourceData or later (InitializeAuf2) hands
// out and takes back 16-bit images, and only those, through the calls past the record's four fields;
// there, a frame that the settings leave as it is (the core's changes_nothing) is not taken at all,
// and an image the editor cannot hand out or take back gives false. Other editors: the 8-bit calls
// only, and nothing of the record past them is read. Images of no pixels: true, untouched. When
// memory cannot be had: false, and the image is left as it was. Safe to call from several threads
// at once; in steady state a frame of a size seen before allocates nothing.
bool ProcessVideo(const Auf2Filter& filter, FilterProcVideo* video);

// Remembers the editor's version (InitializePlugin); true.
bool InitializeAuf2(uint32_t host_version);

// Stops the worker threads and frees the buffers kept between frames (UninitializePlugin). A later
// call of ProcessVideo starts again.
void ShutdownAuf2();

namespace plugin_detail {

// An ASCII text of the core widened for the editor, at most N - 1 characters.
template <size_t N>
struct WideText {
  wchar_t text[N];
};

template <size_t N>
constexpr WideText<N> Widen(const char* s) {
  WideText<N> w{};
  for (size_t i = 0; s[i] != 0; ++i) w.text[i] = static_cast<wchar_t>(s[i]);
  return w;
}

// f(track index, label index, label) for every label of every list track.
template <class F>
constexpr void ForEachLabel(const core::FilterCore& c, F f) {
  for (int32_t i = 0; i < c.track_count; ++i) {
    const core::Track& t = c.tracks[i];
    if (t.kind == core::TrackKind::kList)
      for (int32_t k = 0; k <= t.max - t.min; ++k)
        f(static_cast<size_t>(i), static_cast<size_t>(k), t.labels[k]);
  }
}

// Room for the longest name or label, and for the longest list with its end.
constexpr size_t LongestText(const core::FilterCore& c) {
  size_t n = std::string_view(c.name).size();
  for (int32_t i = 0; i < c.track_count; ++i) n = std::max(n, std::string_view(c.tracks[i].name).size());
  ForEachLabel(c,
               [&](size_t, size_t, const char* label) { n = std::max(n, std::string_view(label).size()); });
  return n + 1;
}
constexpr size_t LongestList(const core::FilterCore& c) {
  size_t n = 0;
  ForEachLabel(c, [&](size_t, size_t k, const char*) { n = std::max(n, k + 1); });
  return n + 1;
}

}  // namespace plugin_detail

// The plug-in of the filter core `kCore` (a constexpr FilterCore): its items, each track a bar item
// (step 1) or a selection item of its labels, with the core's names, defaults and ranges.
template <const core::FilterCore& kCore>
struct Auf2Plugin {
  static constexpr size_t kTracks = static_cast<size_t>(kCore.track_count);
  static constexpr size_t kText = plugin_detail::LongestText(kCore);
  static constexpr size_t kEntries = plugin_detail::LongestList(kCore);
  using Text = plugin_detail::WideText<kText>;

  static constexpr Text kName = plugin_detail::Widen<kText>(kCore.name);
  static constexpr std::array<Text, kTracks> kTrackNames = [] {
    std::array<Text, kTracks> names{};
    for (size_t i = 0; i < kTracks; ++i) names[i] = plugin_detail::Widen<kText>(kCore.tracks[i].name);
    return names;
  }();
  static constexpr std::array<std::array<Text, kEntries>, kTracks> kLabels = [] {
    std::array<std::array<Text, kEntries>, kTracks> labels{};
    plugin_detail::ForEachLabel(kCore, [&](size_t i, size_t k, const char* label) {
      labels[i][k] = plugin_detail::Widen<kText>(label);
    });
    return labels;
  }();
  // Each list's entries, by the value the core takes, and a null name last.
  static constexpr std::array<std::array<SelectEntry, kEntries>, kTracks> kEntryLists = [] {
    std::array<std::array<SelectEntry, kEntries>, kTracks> lists{};
    plugin_detail::ForEachLabel(kCore, [&](size_t i, size_t k, const char*) {
      lists[i][k] = {kLabels[i][k].text, kCore.tracks[i].min + static_cast<int32_t>(k)};
    });
    return lists;
  }();

  // The items the editor writes into: a bar item and a selection item per track, of which the
  // editor is given the one of the track's kind.
  static constinit inline std::array<TrackItem, kTracks> bars = [] {
    std::array<TrackItem, kTracks> items{};
    for (size_t i = 0; i < kTracks; ++i) {
      const core::Track& t = kCore.tracks[i];
      items[i] = {L"track", kTrackNames[i].text, double(t.def), double(t.min), double(t.max), 1.0};
    }
    return items;
  }();
  static constinit inline std::array<SelectItem, kTracks> lists = [] {
    std::array<SelectItem, kTracks> items{};
    for (size_t i = 0; i < kTracks; ++i)
      items[i] = {L"select", kTrackNames[i].text, kCore.tracks[i].def, kEntryLists[i].data()};
    return items;
  }();
  // In track order, then null.
  static constinit inline std::array<void*, kTracks + 1> items = [] {
    std::array<void*, kTracks + 1> all{};
    for (size_t i = 0; i < kTracks; ++i)
      all[i] = kCore.tracks[i].kind == core::TrackKind::kList ? static_cast<void*>(&lists[i]) : &bars[i];
    return all;
  }();

  static bool ProcessVideoCall(FilterProcVideo* video) { return ProcessVideo({&kCore, items.data()}, video); }

  // A video filter that also serves as a filter object, in the default menu category.
  static constexpr FilterPluginTable Table(const wchar_t* information) {
    return {kFilterFlagVideo | kFilterFlagFilterObject,
            kName.text,
            nullptr,
            information,
            items.data(),
            &ProcessVideoCall,
            nullptr};
  }
};

}  // namespace auf2

// The plug-in of `core` with the information text `information` (name, version, authors), and its
// exported entry points.
#define AUF2_PLUGIN(core, information)                                                                   \
  namespace {                                                                                            \
  constinit auf2::FilterPluginTable g_auf2_table = auf2::Auf2Plugin<core>::Table(information);           \
  }                                                                                                      \
  AUF_EXPORT auf2::FilterPluginTable* GetFilterPluginTable() { return &g_auf2_table; }                   \
  AUF_EXPORT bool InitializePlugin(uint32_t host_version) { return auf2::InitializeAuf2(host_version); } \
  AUF_EXPORT void UninitializePlugin() { auf2::ShutdownAuf2(); }
