#pragma once
// The records that cross between the 64-bit successor editor and a filter plug-in (.auf2), as far as
// our filters use them, laid out as the editor's x64 build lays them out. Strings are UTF-16 on
// Windows (wchar_t); the native test builds use the same records with their own wchar_t.
#include <cstddef>
#include <cstdint>

#include "core/export.h"

namespace auf2 {

// One pixel of the editor's 8-bit images.
struct PixelRgba {
  uint8_t r, g, b, a;
};
static_assert(sizeof(PixelRgba) == 4);

struct SceneInfo {
  int32_t width, height, rate, scale, sample_rate;
};

// Only the leading fields; the editor's record continues.
struct ObjectInfo {
  int64_t id;
  int32_t frame;
  int32_t frame_total;
  double time;
  double time_total;
  int32_t width;  // of the object's image, in pixels
  int32_t height;
};

// The video call's record: the first four fields, which every version of the editor has; many
// function pointers follow that a filter working on the CPU does not call.
struct FilterProcVideo {
  const SceneInfo* scene;
  const ObjectInfo* object;
  // Copies the object's image, width x height pixels, rows width pixels apart and the top row
  // first, into the buffer.
  void (*get_image_data)(PixelRgba* buffer);
  // Replaces the object's image with the buffer's.
  void (*set_image_data)(const PixelRgba* buffer, int32_t width, int32_t height);
};

// Setting items. The editor writes each item's current value into the plug-in's own item before
// every call of the video procedure.
struct TrackItem {
  const wchar_t* type;  // L"track"
  const wchar_t* name;
  double value;  // the default until the editor writes
  double min;
  double max;
  double step;
};
struct SelectEntry {
  const wchar_t* name;  // null ends the list
  int32_t value;
};
struct SelectItem {
  const wchar_t* type;  // L"select"
  const wchar_t* name;
  int32_t value;  // the default until the editor writes: one of the entries' values
  const SelectEntry* list;
};

typedef bool (*ProcVideoFn)(FilterProcVideo* video);

inline constexpr int32_t kFilterFlagVideo = 1;
inline constexpr int32_t kFilterFlagFilterObject = 8;  // may be used as a filter object: keeps the size

// The filter table. Later versions of the editor append fields; these seven are unchanged.
struct FilterPluginTable {
  int32_t flag;
  const wchar_t* name;   // saved projects refer to the filter by it: never changes
  const wchar_t* label;  // menu category, null for the default one
  const wchar_t* information;
  void** items;  // pointers to setting items, then null
  ProcVideoFn func_proc_video;
  void* func_proc_audio;
};

typedef FilterPluginTable* (*GetFilterPluginTableFn)();
typedef void (*UninitializePluginFn)();

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(offsetof(FilterProcVideo, get_image_data) == 16);
static_assert(offsetof(FilterProcVideo, set_image_data) == 24);
static_assert(offsetof(ObjectInfo, width) == 32);
static_assert(offsetof(ObjectInfo, height) == 36);
static_assert(sizeof(TrackItem) == 48);
static_assert(offsetof(SelectItem, value) == 16);
static_assert(offsetof(SelectItem, list) == 24);
static_assert(sizeof(SelectEntry) == 16);
static_assert(offsetof(FilterPluginTable, name) == 8);
static_assert(offsetof(FilterPluginTable, items) == 32);
static_assert(offsetof(FilterPluginTable, func_proc_video) == 40);
static_assert(offsetof(FilterPluginTable, func_proc_audio) == 48);
#endif

}  // namespace auf2
