#pragma once
// The successor editor's stand-in: loads a .auf2 plug-in as the editor does, writes settings into its
// items, and calls its video procedure with a record whose first four fields are set and whose later
// ones end the process if called, serving the object's image to the calling thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "auf2/auf2_abi.h"

namespace standin {

// A .auf2 plug-in library and its entry points.
struct Auf2Library {
  std::string path;
  void* library = nullptr;
  auf2::FilterPluginTable* table = nullptr;
  auf2::UninitializePluginFn uninitialize = nullptr;  // null where the library does not export it
};

// Opens p.path and finds the entry points and the table; "" or why the library cannot be used.
std::string LoadAuf2(Auf2Library& p);

// The object's image during a call, as the editor holds it.
struct HostImage {
  int32_t w = 0, h = 0;
  std::vector<auf2::PixelRgba> pixels;
  int gets = 0, sets = 0;             // calls of get_image_data and set_image_data
  auf2::PixelRgba* buffer = nullptr;  // what the plug-in handed get_image_data
  std::string error;                  // what set_image_data found wrong
  std::function<void()> during;       // runs inside get_image_data, after the copy
};

// Calls the video procedure for an object of object_w x object_h, the image's size unless a call
// means to differ, on this thread; the scene is larger than any object, so a plug-in that took the
// scene's size would show. Returns what the procedure returned.
bool CallVideo(const auf2::FilterPluginTable& table, HostImage& image, int32_t object_w, int32_t object_h);

bool IsSelectItem(const void* item);
// Writes values into the items in order, as the editor does before a call: a selection's value as
// an integer, a track's as the real number it is.
void WriteSettings(const auf2::FilterPluginTable& table, const std::vector<double>& values);

// A picture like decoded low-quality video, the same for the same seed: 8x8 blocks of a colour with a
// slope and noise. alpha(x, y, random) gives each pixel's alpha and may draw from the picture's own
// random source; without it the picture is opaque.
using RandomSource = std::function<uint64_t()>;
using AlphaOfPixel = std::function<uint8_t(int x, int y, const RandomSource& random)>;
std::vector<auf2::PixelRgba> BlockyPicture(int w, int h, uint64_t seed, const AlphaOfPixel& alpha = nullptr);

}  // namespace standin
