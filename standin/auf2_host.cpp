#include "standin/auf2_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "standin/library.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace standin {
namespace {

using auf2::PixelPa64;
using auf2::PixelRgba;

thread_local HostImage* t_image = nullptr;

HostImage& ImageOfThisCall(const char* function) {
  HostImage* image = t_image;
  if (image == nullptr) {
    std::fprintf(stderr, "auf2_host: FAIL: %s called on a thread outside the call\n", function);
    std::_Exit(1);
  }
  return *image;
}

void GetImageData(PixelRgba* buffer) {
  HostImage& image = ImageOfThisCall("get_image_data");
  ++image.gets;
  if (image.pixels.size() != static_cast<size_t>(image.w) * image.h) {
    image.error = "get_image_data: the stand-in holds no 8-bit image";
    return;
  }
  image.buffer = buffer;
  std::memcpy(buffer, image.pixels.data(), image.pixels.size() * sizeof(PixelRgba));
  if (image.during) image.during();
}

void SetImageData(const PixelRgba* buffer, int32_t w, int32_t h) {
  HostImage& image = ImageOfThisCall("set_image_data");
  ++image.sets;
  if (w != image.w || h != image.h) {
    image.error = "set_image_data with " + std::to_string(w) + "x" + std::to_string(h) + " for a " +
                  std::to_string(image.w) + "x" + std::to_string(image.h) + " object";
    return;
  }
  std::memcpy(image.pixels.data(), buffer, image.pixels.size() * sizeof(PixelRgba));
}

// What is wrong with a call of the later image functions, or "".
std::string WrongResourceCall(const HostImage& image, const wchar_t* resource, int32_t w, int32_t h,
                              int32_t pitch, int32_t format) {
  if (resource != nullptr && std::wcscmp(resource, auf2::kObjectResource) != 0)
    return "a resource other than \"object\"";
  if (format != auf2::kImageFormatPa64) return "format " + std::to_string(format) + ", not PA64";
  if (w != image.w || h != image.h)
    return std::to_string(w) + "x" + std::to_string(h) + " for a " + std::to_string(image.w) + "x" +
           std::to_string(image.h) + " object";
  if (pitch < w * static_cast<int32_t>(sizeof(PixelPa64))) return "pitch " + std::to_string(pitch);
  return "";
}

// Counts a call of one of the later image functions and checks how it was called: false where it
// fails (what was wrong in image.error) or is refused, as the editor's calls fail.
bool Serve(HostImage& image, const char* function, int& count, bool refuse, const wchar_t* resource,
           int32_t w, int32_t h, int32_t pitch, int32_t format) {
  ++count;
  if (const std::string e = WrongResourceCall(image, resource, w, h, pitch, format); !e.empty()) {
    image.error = std::string(function) + ": " + e;
    return false;
  }
  return !refuse;
}

// h rows of `bytes` each, `from_pitch` bytes apart, to rows `to_pitch` bytes apart.
void CopyRows(void* to, size_t to_pitch, const void* from, size_t from_pitch, size_t bytes, int32_t h) {
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(static_cast<uint8_t*>(to) + y * to_pitch, static_cast<const uint8_t*>(from) + y * from_pitch,
                bytes);
}

bool GetImageResourceData(const wchar_t* resource, void* buffer, int32_t w, int32_t h, int32_t pitch,
                          int32_t format) {
  HostImage& image = ImageOfThisCall("get_image_resource_data");
  if (!Serve(image, "get_image_resource_data", image.gets16, image.refuse_get16, resource, w, h, pitch,
             format))
    return false;
  if (image.pixels16.size() != static_cast<size_t>(w) * h) {
    image.error = "get_image_resource_data: the stand-in holds no 16-bit image";
    return false;
  }
  image.buffer16 = buffer;
  const size_t row = w * sizeof(PixelPa64);
  CopyRows(buffer, static_cast<size_t>(pitch), image.pixels16.data(), row, row, h);
  if (image.during) image.during();
  return true;
}

bool SetImageResourceData(const wchar_t* resource, const void* buffer, int32_t w, int32_t h, int32_t pitch,
                          int32_t format) {
  HostImage& image = ImageOfThisCall("set_image_resource_data");
  if (!Serve(image, "set_image_resource_data", image.sets16, image.refuse_set16, resource, w, h, pitch,
             format))
    return false;
  image.pixels16.resize(static_cast<size_t>(w) * h);
  const size_t row = w * sizeof(PixelPa64);
  CopyRows(image.pixels16.data(), row, buffer, static_cast<size_t>(pitch), row, h);
  return true;
}

// Stands for every function of the video record after set_image_data but the two 16-bit image
// calls; a CPU filter has no use for any of them.
void CalledPastTheFirstFour() {
  std::fprintf(stderr,
               "auf2_host: FAIL: the plug-in called a function of the video record past set_image_data other "
               "than the 16-bit image calls\n");
  std::fflush(stderr);
  std::_Exit(1);
}

// The record of a later editor: its functions past the fourth field end the process, but for the
// two that serve 16-bit images; more follow them.
struct VideoRecord {
  auf2::FilterProcVideoResources head;
  void* rest[32];
};

// The last bytes of a page after which comes an inaccessible one, for the record of an older editor:
// one per thread, kept for its calls.
class PageEnd {
 public:
  PageEnd() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    if (base_ == nullptr || !VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old)) Die();
#else
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* m = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED || mprotect(static_cast<uint8_t*>(m) + page_, page_, PROT_NONE) != 0) Die();
    base_ = static_cast<uint8_t*>(m);
#endif
  }
  ~PageEnd() {
#if defined(_WIN32)
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, 2 * page_);
#endif
  }
  PageEnd(const PageEnd&) = delete;
  PageEnd& operator=(const PageEnd&) = delete;
  // Room for `bytes` that ends where the inaccessible page begins.
  void* Last(size_t bytes) const { return base_ + page_ - bytes; }

 private:
  [[noreturn]] static void Die() {
    std::fprintf(stderr, "auf2_host: cannot map a guarded page\n");
    std::_Exit(1);
  }
  size_t page_ = 0;
  uint8_t* base_ = nullptr;
};

}  // namespace

std::string LoadAuf2(Auf2Library& p) {
  p.library = OpenLibrary(p.path);
  if (p.library == nullptr) return "cannot load " + p.path;
  auto entry =
      reinterpret_cast<auf2::GetFilterPluginTableFn>(LibrarySymbol(p.library, "GetFilterPluginTable"));
  if (entry == nullptr) return p.path + " does not export GetFilterPluginTable";
  p.uninitialize =
      reinterpret_cast<auf2::UninitializePluginFn>(LibrarySymbol(p.library, "UninitializePlugin"));
  p.initialize = reinterpret_cast<auf2::InitializePluginFn>(LibrarySymbol(p.library, "InitializePlugin"));
  if (p.host_version != 0 && p.initialize != nullptr && !p.initialize(p.host_version))
    return "InitializePlugin(" + std::to_string(p.host_version) + ") returned false";
  p.table = entry();
  if (p.table == nullptr) return "GetFilterPluginTable returned null";
  return "";
}

bool CallVideo(const Auf2Library& p, HostImage& image, int32_t object_w, int32_t object_h) {
  const auf2::SceneInfo scene{3840, 2160, 30, 1, 48000};
  auf2::ObjectInfo object{};
  object.id = 1;
  object.width = object_w;
  object.height = object_h;
  const auf2::FilterProcVideo head = {&scene, &object, &GetImageData, &SetImageData};
  VideoRecord later;
  auf2::FilterProcVideo* record;
  if (p.host_version >= auf2::kHostVersionResourceData) {
    later.head.head = head;
    for (void*& f : later.head.unused) f = reinterpret_cast<void*>(&CalledPastTheFirstFour);
    later.head.get_image_resource_data = &GetImageResourceData;
    later.head.set_image_resource_data = &SetImageResourceData;
    for (void*& f : later.rest) f = reinterpret_cast<void*>(&CalledPastTheFirstFour);
    record = &later.head.head;
  } else {
    thread_local const PageEnd t_page;
    record = new (t_page.Last(sizeof head)) auf2::FilterProcVideo(head);
  }
  t_image = &image;
  const bool result = p.table->func_proc_video(record);
  t_image = nullptr;
  return result;
}

bool IsSelectItem(const void* item) {
  return std::wcscmp(*static_cast<const wchar_t* const*>(item), L"select") == 0;
}

void WriteSettings(const auf2::FilterPluginTable& table, const std::vector<double>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    void* item = table.items[i];
    if (IsSelectItem(item)) static_cast<auf2::SelectItem*>(item)->value = static_cast<int32_t>(values[i]);
    else static_cast<auf2::TrackItem*>(item)->value = values[i];
  }
}

namespace {

// For each 8x8 block of a w x h picture in turn: block() draws what the block needs, then
// pixel(x, y, x - left, y - top) for each of its pixels; both may draw from the picture's random
// source, a split-mix sequence from the seed.
template <class Block, class Pixel>
void ForEachBlock(int w, int h, uint64_t state, const Block& block, const Pixel& pixel) {
  const RandomSource random = [&state] {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  for (int by = 0; by < h; by += 8)
    for (int bx = 0; bx < w; bx += 8) {
      block(random);
      for (int y = by; y < std::min(by + 8, h); ++y)
        for (int x = bx; x < std::min(bx + 8, w); ++x) pixel(x, y, x - bx + y - by, random);
    }
}

}  // namespace

std::vector<auf2::PixelRgba> BlockyPicture(int w, int h, uint64_t seed, const AlphaOfPixel& alpha) {
  auto byte = [](int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
  };
  std::vector<auf2::PixelRgba> pic(static_cast<size_t>(w) * h);
  int c[3], slope;
  ForEachBlock(
      w, h, seed * 0x9E3779B97F4A7C15ull + 1,
      [&](const RandomSource& random) {
        for (int& v : c) v = static_cast<int>(random() % 256);
        slope = static_cast<int>(random() % 9) - 4;
      },
      [&](int x, int y, int along, const RandomSource& random) {
        const int n = static_cast<int>(random() % 13) - 6 + slope * along;
        const uint8_t a = alpha ? alpha(x, y, random) : 255;
        pic[static_cast<size_t>(y) * w + x] = {byte(c[0] + n), byte(c[1] - n), byte(c[2] + n / 2), a};
      });
  return pic;
}

std::vector<auf2::PixelPa64> BlockyPicture16(int w, int h, uint64_t seed, const Alpha16OfPixel& alpha) {
  std::vector<auf2::PixelPa64> pic(static_cast<size_t>(w) * h);
  int c[3], slope;
  ForEachBlock(
      w, h, seed * 0x9E3779B97F4A7C15ull + 7,
      [&](const RandomSource& random) {
        for (int& v : c) v = static_cast<int>(random() % 65536);
        // Up to four 8-bit levels a pixel, in steps of a sixteenth of one.
        slope = (static_cast<int>(random() % 129) - 64) * 16;
      },
      [&](int x, int y, int along, const RandomSource& random) {
        const int n = static_cast<int>(random() % 3085) - 1542 + slope * along;
        const uint16_t a = alpha ? alpha(x, y, random) : 65535;
        auto word = [a](int v) {
          return static_cast<uint16_t>((int64_t{std::clamp(v, 0, 65535)} * a + 32767) / 65535);
        };
        pic[static_cast<size_t>(y) * w + x] = {word(c[0] + n), word(c[1] - n), word(c[2] + n / 2), a};
      });
  return pic;
}

}  // namespace standin
