#pragma once
// Planar Y'CbCr frames (Y4M's planes) to and from the host's pixels: a table of row kernels for each
// CPU tier, and the frame walks that call them.
//
// Stored levels and host units: an 8-bit luma level v is 16 v in the host, a chroma level c is
// 16 (c - 128); 10-bit samples are little-endian words, clamped to 1023 when read, and scale by 4
// around 512. A chroma sample is spread over every pixel it covers. Back from the host, a luma
// sample, and the mean of the chroma samples that one stored sample covers, are rounded half up and
// clamped to the stored range. Every tier gives the same bytes and pixels as the scalar one.
#include <cstddef>
#include <cstdint>

#include "core/cpu.h"
#include "core/workers.h"
#include "host/frame.h"
#include "tools/io/frame_io.h"

namespace io {

// The planes of one frame, back to back: Y (w x h), then Cb and Cr (cw x ch each; none for mono).
struct PlanarLayout {
  int w = 0, h = 0;
  int cw = 0, ch = 0;
  int bytes = 1;  // per sample: 1, or 2 for 10-bit words
  Chroma chroma = Chroma::k420;
  bool ten_bit = false;

  size_t LumaBytes() const { return size_t(w) * h * bytes; }
  size_t ChromaBytes() const { return size_t(cw) * ch * bytes; }
  size_t FrameBytes() const { return LumaBytes() + 2 * ChromaBytes(); }
};

// bit_depth 8 or 10.
PlanarLayout PlanarLayoutOf(int w, int h, Chroma chroma, int bit_depth);

// How many pixels one stored chroma sample covers, across by down.
enum PlanarShape { kChroma2x2, kChroma2x1, kChroma1x1, kNoChroma, kPlanarShapes };

// One row of samples (cb and cr null for kNoChroma; halved for 2x2 and 2x1) to w host pixels.
using UnpackRowFn = void (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out,
                             int w);
// The host rows under one row of chroma samples to stored samples: `top`, and for 2x2 `bottom`
// too, each w pixels, to the luma rows y_top (y_bottom) and the chroma rows cb and cr.
using PackRowsFn = void (*)(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top,
                            uint8_t* y_bottom, uint8_t* cb, uint8_t* cr, int w);

struct PlanarDsp {
  UnpackRowFn unpack[2][kPlanarShapes];  // [10-bit][shape]
  PackRowsFn pack[2][kPlanarShapes];
};

// The table of the best tier in `flags` that this CPU runs (core::TierTable).
const PlanarDsp& PlanarDspFor(core::CpuFlags flags);

// Where the planes of one frame lie: the first row of Y, Cb and Cr (Cb and Cr unused for mono), and
// the bytes from each row of a plane to the next (at least its row of samples).
struct PlanarRows {
  uint8_t* first[3];
  ptrdiff_t stride[3];
};
// The planes back to back, as the layout lays them out.
PlanarRows PackedRows(const PlanarLayout& layout, uint8_t* planes);

// Whole frames, in bands of rows shared among the workers. The frame has the layout's size; any
// stride. Only the samples of the picture are read or written, not the bytes between rows.
void PlanesToFrame(const PlanarDsp& dsp, const PlanarLayout& layout, const PlanarRows& planes,
                   host::Frame& frame, const core::Workers& workers = core::SerialWorkers());
void FrameToPlanes(const PlanarDsp& dsp, const PlanarLayout& layout, const host::Frame& frame,
                   const PlanarRows& planes, const core::Workers& workers = core::SerialWorkers());
// The same with the planes back to back.
void PlanesToFrame(const PlanarDsp& dsp, const PlanarLayout& layout, const uint8_t* planes,
                   host::Frame& frame, const core::Workers& workers = core::SerialWorkers());
void FrameToPlanes(const PlanarDsp& dsp, const PlanarLayout& layout, const host::Frame& frame,
                   uint8_t* planes, const core::Workers& workers = core::SerialWorkers());

}  // namespace io
