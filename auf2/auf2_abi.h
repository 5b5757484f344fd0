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

// One pixel of the editor's 16-bit images (format kImageFormatPa64): 65535 is 1.0, the colours
// premultiplied by alpha.
struct PixelPa64 {
  uint16_t r, g, b, a;
};
static_assert(sizeof(PixelPa64) == 8);

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

// The editors from kHostVersionResourceData on (they say so through InitializePlugin) continue the
// video record past the four fields with calls that hand out and take back the object's image in
// other formats. On an older editor the record ends before them: a plug-in views the record this
// way only once the editor has told it its version.
inline constexpr uint32_t kHostVersionResourceData = 2004800;
// The pixel formats those calls take: r, g, b, a at 16 bits each.
inline constexpr int32_t kImageFormatPa64 = 11;
// The resource name of the current object's image.
inline constexpr const wchar_t* kObjectResource = L"object";

struct FilterProcVideoResources {
  FilterProcVideo head;
  void* unused[27];  // calls a filter working on the CPU has no use for
  // Copies the resource's image into buffer in the given format, rows pitch bytes apart; only when
  // width and height are the image's. False when it cannot.
  bool (*get_image_resource_data)(const wchar_t* resource, void* buffer, int32_t width, int32_t height,
                                  int32_t pitch, int32_t format);
  // Replaces the resource's image with the buffer's. False when it cannot.
  bool (*set_image_resource_data)(const wchar_t* resource, const void* buffer, int32_t width, int32_t height,
                                  int32_t pitch, int32_t format);
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
// The editor's version, as major x 1,000,000 + minor x 10,000 + beta x 100; called once after
// loading by the editors that know it. True: initialised.
typedef bool (*InitializePluginFn)(uint32_t host_version);

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(offsetof(FilterProcVideo, get_image_data) == 16);
static_assert(offsetof(FilterProcVideo, set_image_data) == 24);
static_assert(sizeof(FilterProcVideo) == 32);
static_assert(offsetof(FilterProcVideoResources, get_image_resource_data) == 248);
static_assert(offsetof(FilterProcVideoResources, set_image_resource_data) == 256);
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
