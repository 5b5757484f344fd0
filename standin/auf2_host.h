#pragma once
// The successor editor's stand-in: loads a .auf2 plug-in as an editor of a given version does (that
// version handed to InitializePlugin, or no call at all, as the older editors do), writes settings
// into its items, and calls its video procedure, serving the object's image to the calling thread.
// The record of that call is as long as the editor's version has it: for an older editor its four
// fields end right before an inaccessible page, so that a plug-in reading further ends the process;
// for a later one the functions past the fourth field end the process if called, apart from the two
// that hand out and take back 16-bit images.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "auf2/auf2_abi.h"

namespace standin {

// A .auf2 plug-in library and its entry points, as an editor of `host_version` loads it (0: an
// editor that never calls InitializePlugin).
struct Auf2Library {
  std::string path;
  uint32_t host_version = 0;
  void* library = nullptr;
  auf2::FilterPluginTable* table = nullptr;
  auf2::InitializePluginFn initialize = nullptr;      // null where the library does not export it
  auf2::UninitializePluginFn uninitialize = nullptr;  // null where the library does not export it
};

// The editors as the checks play them: the last without 16-bit images, the first with them.
inline constexpr uint32_t kHostWithoutDeepImages = 2004700;
inline constexpr uint32_t kHostWithDeepImages = auf2::kHostVersionResourceData;

// Opens p.path, finds the entry points and the table, and calls InitializePlugin with p.host_version
// where that is not 0 and the library exports it; "" or why the library cannot be used.
std::string LoadAuf2(Auf2Library& p);

// The object's image during a call, as the editor holds it: 8-bit pixels for the calls of every
// editor, 16-bit ones for the later calls.
struct HostImage {
  int32_t w = 0, h = 0;
  std::vector<auf2::PixelRgba> pixels;
  std::vector<auf2::PixelPa64> pixels16;
  int gets = 0, sets = 0;             // calls of get_image_data and set_image_data
  int gets16 = 0, sets16 = 0;         // calls of get_image_resource_data and set_image_resource_data
  auf2::PixelRgba* buffer = nullptr;  // what the plug-in handed get_image_data
  void* buffer16 = nullptr;           // what it handed get_image_resource_data
  bool refuse_get16 = false, refuse_set16 = false;  // the later calls fail, as for an image they cannot serve
  std::string error;                                // what a call found wrong in how it was called
  std::function<void()> during;                     // runs inside the call that hands out the image
};

// Calls the video procedure of `p` for an object of object_w x object_h, the image's size unless a
// call means to differ, on this thread, with the record of p.host_version's editor; the scene is
// larger than any object, so a plug-in that took the scene's size would show. Returns what the
// procedure returned.
bool CallVideo(const Auf2Library& p, HostImage& image, int32_t object_w, int32_t object_h);

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
// The same at 16 bits: the blocks' colours, slopes and noise in steps finer than an 8-bit level, and
// each colour premultiplied by its alpha (alpha16 gives it; without it the picture is opaque).
using Alpha16OfPixel = std::function<uint16_t(int x, int y, const RandomSource& random)>;
std::vector<auf2::PixelPa64> BlockyPicture16(int w, int h, uint64_t seed,
                                             const Alpha16OfPixel& alpha = nullptr);

}  // namespace standin
