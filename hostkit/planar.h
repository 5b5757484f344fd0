#pragma once
// Planar Y'CbCr frames (Y4M's planes, and the layouts of the GStreamer elements) to and from the
// host's pixels: a table of row kernels for each CPU tier, and the frame walks that call them.
//
// Stored levels and host units: an 8-bit luma level v is 16 v in the host, a chroma level c is
// 16 (c - 128); 10- and 12-bit levels scale by 4 and by 1 around 512 and 2048, and are little-endian
// words clamped to 1023 and 4095 when read; 16-bit levels (luma alone) are divided by 16, rounded
// half up. Where Cb and Cr share a plane as pairs, 10-bit levels lie in the high ten bits of their
// words, luma too: the low six bits are not read and are written as zero. A chroma sample is spread
// over every pixel it covers. Back from the host, a luma sample, and the mean of the chroma samples
// that one stored sample covers, are rounded half up and clamped to the stored range. Every tier
// gives the same bytes and pixels as the scalar one.
#include <cstddef>
#include <cstdint>

#include "core/cpu.h"
#include "core/picture.h"
#include "core/workers.h"

namespace io {

// How the chroma of a frame is sampled: 4:2:0, 4:2:2, 4:4:4, or none.
enum class Chroma { k420, k422, k444, kMono };

// The largest picture the hosts take, in pixels: aufhost's readers refuse larger ones before they
// allocate anything, and the GStreamer elements refuse their caps.
inline constexpr int64_t kMaxPixels = int64_t{1} << 26;

// The sample depths, the first index of the kernel table: bytes, or words of 10, 12 or 16 bits.
enum PlanarDepth { kDepth8, kDepth10, kDepth12, kDepth16, kPlanarDepths };

// The planes of one frame, back to back: Y (w x h), then Cb and Cr (cw x ch each; none for mono), or
// with `pairs` one plane of cw x ch pairs of Cb and Cr.
struct PlanarLayout {
  int w = 0, h = 0;
  int cw = 0, ch = 0;
  int bytes = 1;  // per sample: 1, or 2 for words
  Chroma chroma = Chroma::k420;
  PlanarDepth depth = kDepth8;
  bool pairs = false;

  size_t LumaBytes() const { return size_t(w) * h * bytes; }
  size_t ChromaBytes() const { return size_t(cw) * ch * bytes; }  // of each of Cb and Cr
  size_t FrameBytes() const { return LumaBytes() + 2 * ChromaBytes(); }
};

// bit_depth 8, 10, 12, or 16 for mono. `pairs`: 4:2:0 at 8 or 10 bits only.
PlanarLayout PlanarLayoutOf(int w, int h, Chroma chroma, int bit_depth, bool pairs = false);

// How many pixels one stored chroma sample covers, across by down, in planes of their own or in
// pairs; a 16-bit depth has kNoChroma alone, pairs are 8- or 10-bit.
enum PlanarShape { kChroma2x2, kChroma2x1, kChroma1x1, kNoChroma, kPairs2x2, kPairs2x1, kPlanarShapes };

// One row of samples (cb and cr null for kNoChroma; halved for 2x2 and 2x1) to w host pixels. For
// pairs, cb and cr are the first Cb and the first Cr sample of the row of pairs, one sample apart in
// either order.
using UnpackRowFn = void (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out,
                             int w);
// The host rows under one row of chroma samples to stored samples: `top`, and for 2x2 `bottom`
// too, each w pixels, to the luma rows y_top (y_bottom) and the chroma rows cb and cr.
using PackRowsFn = void (*)(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top,
                            uint8_t* y_bottom, uint8_t* cb, uint8_t* cr, int w);

// The table's slots, X(type, name), declared once: they make the table's members, each indexed by
// [PlanarDepth][PlanarShape], and the kernel checker's list of what it must compare. The entries no
// layout has (16-bit chroma, 12- and 16-bit pairs) are null.
#define PLANAR_DSP_SLOTS(X) X(UnpackRowFn, UnpackRow) X(PackRowsFn, PackRows)
#define PLANAR_DSP_SLOT(type, name) type name[kPlanarDepths][kPlanarShapes];

struct PlanarDsp {
  PLANAR_DSP_SLOTS(PLANAR_DSP_SLOT)
};

// The table of the best tier in `flags` that this CPU runs (core::TierTable).
const PlanarDsp& PlanarDspFor(core::CpuFlags flags);

// Where the planes of one frame lie: the first row of Y, Cb and Cr (Cb and Cr unused for mono; for
// pairs, the first Cb and Cr samples of the one plane), and the bytes from each row of a plane to
// the next (at least its row of samples).
struct PlanarRows {
  uint8_t* first[3];
  ptrdiff_t stride[3];
};
// The planes back to back, as the layout lays them out.
PlanarRows PackedRows(const PlanarLayout& layout, uint8_t* planes);

// Whole frames, in bands of rows shared among the workers. The frame has the layout's size; any
// stride. Only the samples of the picture are read or written, not the bytes between rows.
void PlanesToFrame(const PlanarDsp& dsp, const PlanarLayout& layout, const PlanarRows& planes,
                   core::Picture& frame, const core::Workers& workers = core::SerialWorkers());
void FrameToPlanes(const PlanarDsp& dsp, const PlanarLayout& layout, const core::Picture& frame,
                   const PlanarRows& planes, const core::Workers& workers = core::SerialWorkers());
// The same with the planes back to back.
void PlanesToFrame(const PlanarDsp& dsp, const PlanarLayout& layout, const uint8_t* planes,
                   core::Picture& frame, const core::Workers& workers = core::SerialWorkers());
void FrameToPlanes(const PlanarDsp& dsp, const PlanarLayout& layout, const core::Picture& frame,
                   uint8_t* planes, const core::Workers& workers = core::SerialWorkers());

}  // namespace io
