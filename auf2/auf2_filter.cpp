#include "auf2/auf2_filter.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "core/cpu.h"
#include "core/rgba_dsp.h"
#include "core/worker_pool.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace auf2 {

using core::DetectCpuFlags;
using core::FilterCore;
using core::Plane;
using core::WorkerPool;
using core::Workers;
using core::YcPixel;

namespace {

// Buffers of one call: the RGBA image and the planes, in one block that is kept for later frames.
struct FrameBuffers {
  void* block;
  size_t bytes;
  bool busy;
};

// As many calls at once as there are slots keep their buffers; more get buffers of their own.
constexpr int kSlots = 4;

// g_lock guards the slots and the pool pointer; g_run lets one call at a time use the pool (its
// runs are one at a time). Both are constant-initialised: loading the plug-in runs no code.
std::mutex g_lock;
std::mutex g_run;
FrameBuffers g_slots[kSlots];
WorkerPool* g_pool;
bool g_pool_failed;
// What InitializePlugin was told; 0 for an editor that never calls it.
std::atomic<uint32_t> g_host_version;

#if defined(_WIN32)
// While its threads exist the plug-in holds a reference to its own module, so that an editor that
// frees the library without UninitializePlugin leaves the threads' code mapped; they then wait,
// idle, until the process ends. The pool is never destroyed during unloading: joining threads
// inside DllMain would deadlock on the loader lock.
HMODULE g_self;

void HoldModule() {
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HoldModule), &g_self);
}
void ReleaseModule() {
  if (g_self != nullptr) FreeLibrary(g_self);
  g_self = nullptr;
}
#else
void HoldModule() {}
void ReleaseModule() {}
#endif

// The worker threads, one per core, started on first use; null on a one-core machine or where
// threads cannot be started (the calls then run on the calling thread).
WorkerPool* SharedPool() {
  std::lock_guard lock(g_lock);
  if (g_pool != nullptr || g_pool_failed) return g_pool;
  const unsigned cores = std::thread::hardware_concurrency();
  g_pool_failed = true;
  if (cores <= 1) return nullptr;
  HoldModule();
  try {
    g_pool = new WorkerPool(static_cast<int>(cores), false);
    g_pool_failed = false;
  } catch (...) {
    ReleaseModule();
  }
  return g_pool;
}

// Whether the editor hands out 16-bit images: only then is the video record longer than its four
// fields.
bool DeepImages() { return g_host_version.load(std::memory_order_relaxed) >= kHostVersionResourceData; }

// Where the buffers of one call lie in its block: the planes of samples (6 bytes a pixel each), then
// the image at a 64-byte boundary. A filter that takes the image as it is needs only its scratch
// plane; the others a plane of samples and their scratch plane where they take one.
struct BlockLayout {
  int planes;
  size_t image_offset;
  size_t bytes;
};
BlockLayout LayoutOf(const Auf2Filter& filter, size_t n, bool deep) {
  const int planes = filter.core->needs_temp ? 2 : 1;
  BlockLayout b;
  b.planes = filter.core->filter_rgba != nullptr ? 1 : planes;
  b.image_offset = (6 * n * b.planes + 63) / 64 * 64;
  b.bytes = b.image_offset + (deep ? sizeof(PixelPa64) : sizeof(PixelRgba)) * n;
  return b;
}

// A free slot whose block holds `bytes`: the first that does, else the largest, grown (its block
// null when memory cannot be had). Null when every slot is in use.
FrameBuffers* TakeSlot(size_t bytes) {
  FrameBuffers* slot = nullptr;
  {
    std::lock_guard lock(g_lock);
    for (FrameBuffers& s : g_slots) {
      if (s.busy) continue;
      if (slot == nullptr || s.bytes > slot->bytes) slot = &s;
      if (s.bytes >= bytes) break;
    }
    if (slot == nullptr) return nullptr;
    slot->busy = true;
  }
  if (slot->bytes < bytes) {
    std::free(slot->block);
    slot->block = std::malloc(bytes);
    slot->bytes = slot->block != nullptr ? bytes : 0;
  }
  return slot;
}

void ReturnSlot(FrameBuffers* slot) {
  std::lock_guard lock(g_lock);
  slot->busy = false;
}

// The editor's real value as a whole number: rounded half away from zero, saturated to 64 bits.
int64_t RoundReal(double v) {
  if (v <= -0x1p63) return INT64_MIN;
  if (v >= 0x1p63) return INT64_MAX;
  return std::llround(v);
}

// The core on the plane of samples at the start of `block`, with its scratch plane after it where it
// takes one.
void FilterPlanes(const Auf2Filter& filter, const int32_t* tracks, int32_t w, int32_t h, void* block,
                  const Workers& workers) {
  const size_t n = static_cast<size_t>(w) * h;
  YcPixel* planes = static_cast<YcPixel*>(block);
  const Plane edit_plane{planes, w, h, w};
  const Plane temp_plane = filter.core->needs_temp ? Plane{planes + n, w, h, w} : Plane{nullptr, 0, 0, 0};
  filter.core->filter(DetectCpuFlags(), tracks, edit_plane, temp_plane, 1, workers);
}

// The filter's work on the image in `block` (LayoutOf), at either depth. A filter that takes the
// image as it is converts each row as it works; the others get the picture converted before and
// after.
void FilterImageInBlock(const Auf2Filter& filter, const int32_t* tracks, const core::RgbaImage& image,
                        void* block, const Workers& workers) {
  YcPixel* planes = static_cast<YcPixel*>(block);
  const int32_t w = image.w, h = image.h;
  if (filter.core->filter_rgba != nullptr) {
    filter.core->filter_rgba(DetectCpuFlags(), tracks, image, Plane{planes, w, h, w}, 1, workers);
    return;
  }
  const core::RgbaDsp& dsp = core::RgbaDspFor(DetectCpuFlags());
  core::RgbaImageToYcOnWorkers(dsp, workers, image, planes);
  FilterPlanes(filter, tracks, w, h, block, workers);
  core::YcToRgbaImageOnWorkers(dsp, workers, planes, image);
}

// The image of w x h pixels at its place in `block`.
core::RgbaImage ImageInBlock(const Auf2Filter& filter, int32_t w, int32_t h, void* block, bool deep) {
  const size_t n = static_cast<size_t>(w) * h;
  return {static_cast<uint8_t*>(block) + LayoutOf(filter, n, deep).image_offset, w, h, deep};
}

// The filter's work on the 8-bit image, through the editor's first calls.
bool FilterImage(const Auf2Filter& filter, const int32_t* tracks, FilterProcVideo* video, int32_t w,
                 int32_t h, void* block, const Workers& workers) {
  const core::RgbaImage image = ImageInBlock(filter, w, h, block, false);
  video->get_image_data(static_cast<PixelRgba*>(image.pixels));
  FilterImageInBlock(filter, tracks, image, block, workers);
  video->set_image_data(static_cast<const PixelRgba*>(image.pixels), w, h);
  return true;
}

// The same on the 16-bit image, through the editor's later calls: false, and the image left as it
// was, where the editor cannot hand it out (its size is not the object's) or take it back.
bool FilterImage16(const Auf2Filter& filter, const int32_t* tracks, FilterProcVideoResources* video,
                   int32_t w, int32_t h, void* block, const Workers& workers) {
  const core::RgbaImage image = ImageInBlock(filter, w, h, block, true);
  const int32_t pitch = w * static_cast<int32_t>(sizeof(PixelPa64));
  if (!video->get_image_resource_data(kObjectResource, image.pixels, w, h, pitch, kImageFormatPa64))
    return false;
  FilterImageInBlock(filter, tracks, image, block, workers);
  return video->set_image_resource_data(kObjectResource, image.pixels, w, h, pitch, kImageFormatPa64);
}

}  // namespace

void ReadTracks(const Auf2Filter& filter, int32_t* tracks) {
  const FilterCore& core = *filter.core;
  for (int32_t i = 0; i < core.track_count; ++i) {
    const core::Track& t = core.tracks[i];
    if (t.kind == core::TrackKind::kList) {
      tracks[i] = core::ClampTrack(t, static_cast<const SelectItem*>(filter.items[i])->value);
    } else {
      const double v = static_cast<const TrackItem*>(filter.items[i])->value;
      tracks[i] = std::isnan(v) ? t.def : core::ClampTrack(t, RoundReal(v));
    }
  }
}

bool ProcessVideo(const Auf2Filter& filter, FilterProcVideo* video) {
  int32_t tracks[16];
  if (filter.core->track_count > 16) return false;
  ReadTracks(filter, tracks);
  const int32_t w = video->object->width, h = video->object->height;
  if (w <= 0 || h <= 0) return true;
  // The row kernels count pixels in 32 bits, and the 16-bit image's pitch is bytes in 32 bits.
  const int64_t n = int64_t{w} * h;
  const bool deep = DeepImages();
  if (n > INT32_MAX || (deep && w > INT32_MAX / int32_t{sizeof(PixelPa64)})) return false;
  // A frame that the settings leave as it is is neither taken nor handed back.
  if (deep && filter.core->changes_nothing != nullptr && filter.core->changes_nothing(tracks)) return true;
  const size_t bytes = LayoutOf(filter, static_cast<size_t>(n), deep).bytes;
  try {
    FrameBuffers own{nullptr, 0, true};
    FrameBuffers* slot = TakeSlot(bytes);
    if (slot == nullptr) {
      own.block = std::malloc(bytes);
      own.bytes = bytes;
      slot = &own;
    }
    bool ok = slot->block != nullptr;
    if (ok) {
      std::unique_lock run(g_run, std::try_to_lock);
      WorkerPool* pool = run.owns_lock() ? SharedPool() : nullptr;
      // A second call while the pool is busy runs on its own thread.
      const Workers workers = pool != nullptr ? pool->workers() : core::SerialWorkers();
      ok = deep ? FilterImage16(filter, tracks, reinterpret_cast<FilterProcVideoResources*>(video), w, h,
                                slot->block, workers)
                : FilterImage(filter, tracks, video, w, h, slot->block, workers);
    }
    if (slot == &own) std::free(own.block);
    else ReturnSlot(slot);
    return ok;
  } catch (...) {
    return false;
  }
}

bool InitializeAuf2(uint32_t host_version) {
  g_host_version.store(host_version, std::memory_order_relaxed);
  return true;
}

void ShutdownAuf2() {
  std::lock_guard run(g_run);
  std::lock_guard lock(g_lock);
  if (g_pool != nullptr) {
    delete g_pool;
    ReleaseModule();
  }
  g_pool = nullptr;
  g_pool_failed = false;
  for (FrameBuffers& s : g_slots) {
    if (s.busy) continue;
    std::free(s.block);
    s = {nullptr, 0, false};
  }
}

}  // namespace auf2
