#pragma once
// The records that cross between the video editor and a filter plug-in, laid out exactly as the
// editor's 32-bit build lays them out. On a 64-bit build the same fields in the same order give the
// wide-pointer layout that our own hosts and tests rely on.
#include <cstddef>
#include <cstdint>

#include "core/export.h"
#include "core/pixel.h"

#if defined(_WIN32) && !defined(_WIN64)
#define AUF_CDECL __cdecl
#else
#define AUF_CDECL
#endif

// The editor calls in with a stack aligned only to 4 bytes on 32-bit x86; every function it (or its
// worker threads) calls must realign before vector code may spill.
#if defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
#define AUF_HOST_ENTRY __attribute__((force_align_arg_pointer))
#else
#define AUF_HOST_ENTRY
#endif

namespace host {

// Runs once per worker thread: (thread index, thread count, param1, param2).
typedef void(AUF_CDECL* WorkerProc)(int thread_index, int thread_count, void* param1, void* param2);
typedef int(AUF_CDECL* RunOnWorkersFn)(WorkerProc proc, void* param1, void* param2);

struct FilterTable;
struct FrameInfo;
typedef int(AUF_CDECL* ProcessFrameFn)(FilterTable* filter, FrameInfo* frame);
typedef void(AUF_CDECL* HostFn)();

// The editor's table of services. Only RunOnWorkers is ever called by a plug-in.
struct HostFunctions {
  void* reserved_a[51];
  RunOnWorkersFn RunOnWorkers;  // +0xCC
  void* reserved_b[12];
};

// The plug-in's static filter record; the host keeps its own copy of the same shape (HostFilter),
// in which it fills the track values and the host functions.
struct FilterTable {
  int32_t flags;  // +0x00
  int32_t host_int_04;
  int32_t host_int_08;
  const char* name;                // +0x0C
  int32_t track_count;             // +0x10
  const char* const* track_names;  // +0x14
  const int32_t* track_defaults;   // +0x18
  const int32_t* track_minimums;   // +0x1C
  const int32_t* track_maximums;   // +0x20
  int32_t host_int_24;
  void* host_ptr_28;
  void* host_ptr_2c;
  ProcessFrameFn process;  // +0x30
  HostFn host_fn_34[4];
  int32_t* track_values;  // +0x44
  void* host_ptr_48;
  void* host_ptr_4c;
  int32_t host_int_50;
  const char* information;  // +0x54
  HostFn host_fn_58[2];
  HostFunctions* host_functions;  // +0x60
  void* host_ptr_64[8];
  int32_t host_int_84[2];
};
typedef FilterTable HostFilter;

// The per-frame record.
struct FrameInfo {
  int32_t flags;
  core::YcPixel* edit;  // +0x04: the frame; the result is left here
  core::YcPixel* temp;  // +0x08: host scratch plane of the same shape
  int32_t w;            // +0x0C
  int32_t h;            // +0x10
  int32_t stride;       // +0x14: pixels between rows, at least w
  int32_t host_fields[10];
};

typedef FilterTable*(AUF_CDECL* GetFilterTableFn)();

constexpr int32_t kFilterFlags = 0x00040000;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(FilterTable, name) == 0x0C);
static_assert(offsetof(FilterTable, track_count) == 0x10);
static_assert(offsetof(FilterTable, track_names) == 0x14);
static_assert(offsetof(FilterTable, track_defaults) == 0x18);
static_assert(offsetof(FilterTable, track_minimums) == 0x1C);
static_assert(offsetof(FilterTable, track_maximums) == 0x20);
static_assert(offsetof(FilterTable, process) == 0x30);
static_assert(offsetof(FilterTable, track_values) == 0x44);
static_assert(offsetof(FilterTable, information) == 0x54);
static_assert(offsetof(FilterTable, host_functions) == 0x60);
static_assert(offsetof(FilterTable, host_ptr_64) == 0x64);
static_assert(offsetof(FilterTable, host_int_84) == 0x84);
static_assert(sizeof(FilterTable) == 0x8C);
static_assert(offsetof(FrameInfo, edit) == 0x04);
static_assert(offsetof(FrameInfo, temp) == 0x08);
static_assert(offsetof(FrameInfo, w) == 0x0C);
static_assert(offsetof(FrameInfo, h) == 0x10);
static_assert(offsetof(FrameInfo, stride) == 0x14);
static_assert(offsetof(HostFunctions, RunOnWorkers) == 0xCC);
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
// Wide-pointer layout: natural alignment of the same field list.
static_assert(offsetof(FilterTable, name) == 0x10);
static_assert(offsetof(FilterTable, track_count) == 0x18);
static_assert(offsetof(FilterTable, track_names) == 0x20);
static_assert(offsetof(FilterTable, process) == 0x58);
static_assert(offsetof(FilterTable, track_values) == 0x80);
static_assert(offsetof(FilterTable, information) == 0xA0);
static_assert(offsetof(FilterTable, host_functions) == 0xB8);
static_assert(sizeof(FilterTable) == 0x108);
static_assert(offsetof(FrameInfo, edit) == 0x08);
static_assert(offsetof(FrameInfo, w) == 0x18);
static_assert(offsetof(FrameInfo, stride) == 0x20);
static_assert(offsetof(HostFunctions, RunOnWorkers) == 51 * 8);
#endif

}  // namespace host
