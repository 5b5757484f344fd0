#include "standin/auf2_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "standin/library.h"

namespace standin {
namespace {

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

// Stands for every function of the video record after set_image_data; a CPU filter has no use for
// any of them.
void CalledPastTheFirstFour() {
  std::fprintf(stderr,
               "auf2_host: FAIL: the plug-in called a function of the video record past set_image_data\n");
  std::fflush(stderr);
  std::_Exit(1);
}

struct VideoRecord {
  auf2::FilterProcVideo head;
  void* rest[64];
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
  p.table = entry();
  if (p.table == nullptr) return "GetFilterPluginTable returned null";
  return "";
}

bool CallVideo(const auf2::FilterPluginTable& table, HostImage& image, int32_t object_w, int32_t object_h) {
  const auf2::SceneInfo scene{3840, 2160, 30, 1, 48000};
  auf2::ObjectInfo object{};
  object.id = 1;
  object.width = object_w;
  object.height = object_h;
  VideoRecord record;
  record.head = {&scene, &object, &GetImageData, &SetImageData};
  for (void*& f : record.rest) f = reinterpret_cast<void*>(&CalledPastTheFirstFour);
  t_image = &image;
  const bool result = table.func_proc_video(&record.head);
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

std::vector<auf2::PixelRgba> BlockyPicture(int w, int h, uint64_t seed, const AlphaOfPixel& alpha) {
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  const RandomSource random = [&state] {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  auto byte = [](int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
  };
  std::vector<auf2::PixelRgba> pic(static_cast<size_t>(w) * h);
  for (int by = 0; by < h; by += 8)
    for (int bx = 0; bx < w; bx += 8) {
      int c[3];
      for (int& v : c) v = static_cast<int>(random() % 256);
      const int slope = static_cast<int>(random() % 9) - 4;
      for (int y = by; y < std::min(by + 8, h); ++y)
        for (int x = bx; x < std::min(bx + 8, w); ++x) {
          const int n = static_cast<int>(random() % 13) - 6 + slope * (x - bx + y - by);
          const uint8_t a = alpha ? alpha(x, y, random) : 255;
          pic[static_cast<size_t>(y) * w + x] = {byte(c[0] + n), byte(c[1] - n), byte(c[2] + n / 2), a};
        }
    }
  return pic;
}

}  // namespace standin
