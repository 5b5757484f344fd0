#pragma once
// What both .auf2 plug-ins share: reading the setting items, the video procedure that runs a filter
// core on the editor's RGBA image on worker threads of the plug-in's own, and the exported entry
// points. A plug-in's entry file defines g_auf2_plugin, its table and filter, and nothing else.
#include <cstdint>

#include "auf2/auf2_abi.h"
#include "core/filter_core.h"

namespace auf2 {

// A filter as a .auf2 plug-in: its core, and its setting items, item i feeding the core's track i.
struct Auf2Filter {
  const core::FilterCore* core;
  void* const* items;
  bool needs_temp;  // the core takes a scratch plane
};

// A track bar item for the core's track i: its default and range, step 1.
constexpr TrackItem MakeTrackItem(const wchar_t* name, const core::FilterCore& core, int32_t i) {
  return {L"track",
          name,
          static_cast<double>(core.track_defaults[i]),
          static_cast<double>(core.track_minimums[i]),
          static_cast<double>(core.track_maximums[i]),
          1.0};
}

// The track values the items hold now, in the core's order: track bars rounded to the nearest
// integer and clamped into the core's range (not a number: the default), selections clamped.
void ReadTracks(const Auf2Filter& filter, int32_t* tracks);

// One call of the editor's video procedure: takes the object's image, converts it to the filters'
// samples (host/rgba_dsp.h), runs the core with a partition count of 1 on the plug-in's worker
// threads, converts back leaving every alpha byte as it was, and hands the image back. Settings are
// read once, first. Images of no pixels: true, untouched. When memory cannot be had: false, and the
// image is left as it was. Safe to call from several threads at once; in steady state a frame of a
// size seen before allocates nothing.
bool ProcessVideo(const Auf2Filter& filter, FilterProcVideo* video);

// Stops the worker threads and frees the buffers kept between frames (UninitializePlugin). A later
// call of ProcessVideo starts again.
void ShutdownAuf2();

// The plug-in: the table GetFilterPluginTable hands the editor, and its filter.
struct Auf2Plugin {
  FilterPluginTable table;
  Auf2Filter filter;
};
extern Auf2Plugin g_auf2_plugin;  // defined by the plug-in's entry file

// The table's video procedure: ProcessVideo of the plug-in's filter.
bool ProcessPluginVideo(FilterProcVideo* video);

// A video filter that also serves as a filter object, in the default menu category; `items` feed
// the core's tracks in order.
constexpr Auf2Plugin MakeAuf2Plugin(const wchar_t* name, const wchar_t* information, void** items,
                                    const core::FilterCore& core, bool needs_temp) {
  return {{kFilterFlagVideo | kFilterFlagFilterObject, name, nullptr, information, items, &ProcessPluginVideo,
           nullptr},
          {&core, items, needs_temp}};
}

}  // namespace auf2
