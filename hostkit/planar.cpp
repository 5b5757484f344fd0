#include "hostkit/planar.h"

#include <algorithm>
#include <stdexcept>

#include "hostkit/planar_rows.h"

#if defined(AUF_X86_SIMD)
#include "hostkit/x86/planar_x86.h"
#endif

namespace io {
namespace {

template <int kBits, int kSx, bool kPairs>
void UnpackRow_C(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int w) {
  planar::UnpackRow<kBits, kSx, kPairs>(y, cb, cr, out, 0, w);
}

template <int kBits, int kSx, int kSy, bool kPairs>
void PackRows_C(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top, uint8_t* y_bottom,
                uint8_t* cb, uint8_t* cr, int w) {
  planar::PackRows<kBits, kSx, kSy, kPairs>(top, bottom, y_top, y_bottom, cb, cr, 0, w);
}

// The scalar kernels, for SetPlanarKernels.
struct ScalarTier {
  template <int kBits, int kSx, bool kPairs>
  static constexpr UnpackRowFn kUnpack = UnpackRow_C<kBits, kSx, kPairs>;
  template <int kBits, int kSx, int kSy, bool kPairs>
  static constexpr PackRowsFn kPack = PackRows_C<kBits, kSx, kSy, kPairs>;
};

PlanarShape ShapeOf(const PlanarLayout& l) {
  switch (l.chroma) {
    case Chroma::k420: return l.pairs ? kPairs2x2 : kChroma2x2;
    case Chroma::k422: return kChroma2x1;
    case Chroma::k444: return kChroma1x1;
    case Chroma::kMono: break;
  }
  return kNoChroma;
}

// The shape of a 2x2 layout's odd last row, whose chroma samples cover one row.
PlanarShape OneRowOf(PlanarShape shape) { return shape == kPairs2x2 ? kPairs2x1 : kChroma2x1; }

// Scalar kernels first, then each tier in `flags` replaces what it does faster.
void InitPlanarDsp(PlanarDsp& dsp, core::CpuFlags flags) {
  dsp = PlanarDsp{};
  SetPlanarKernels<ScalarTier>(dsp);
#if defined(AUF_X86_SIMD)
  if (!(flags & core::kCpuSse2)) return;
  InitPlanarDsp_Sse2(dsp);
  if (!(flags & core::kCpuAvx2)) return;
  InitPlanarDsp_Avx2(dsp);
#else
  (void)flags;
#endif
}

}  // namespace

PlanarLayout PlanarLayoutOf(int w, int h, Chroma chroma, int bit_depth, bool pairs) {
  const bool colour = chroma != Chroma::kMono;
  if ((bit_depth != 8 && bit_depth != 10 && bit_depth != 12 && bit_depth != 16) ||
      (bit_depth == 16 && colour) || (pairs && (chroma != Chroma::k420 || bit_depth > 10)))
    throw std::invalid_argument("no planar conversion of this layout");
  PlanarLayout l;
  l.w = w;
  l.h = h;
  l.chroma = chroma;
  l.depth = bit_depth == 8 ? kDepth8 : bit_depth == 10 ? kDepth10 : bit_depth == 12 ? kDepth12 : kDepth16;
  l.bytes = bit_depth > 8 ? 2 : 1;
  l.pairs = pairs;
  switch (chroma) {
    case Chroma::k420:
      l.cw = (w + 1) / 2;
      l.ch = (h + 1) / 2;
      break;
    case Chroma::k422:
      l.cw = (w + 1) / 2;
      l.ch = h;
      break;
    case Chroma::k444:
      l.cw = w;
      l.ch = h;
      break;
    case Chroma::kMono: break;
  }
  return l;
}

const PlanarDsp& PlanarDspFor(core::CpuFlags flags) {
  return core::TierTable<PlanarDsp, InitPlanarDsp>(flags);
}

namespace {

// Runs fn(begin, end) over bands of rows, one band a worker; bands start on multiples of `step`.
template <class Fn>
void ForRowBands(const core::Workers& workers, int h, int step, const Fn& fn) {
  struct Job {
    const Fn* fn;
    int units, step, h;
  } job{&fn, (h + step - 1) / step, step, h};
  core::RunWorkers(
      workers,
      [](int32_t index, int32_t count, void* data) {
        const Job& j = *static_cast<const Job*>(data);
        const int begin = std::min(j.h, int(int64_t(j.units) * index / count) * j.step);
        const int end = std::min(j.h, int(int64_t(j.units) * (index + 1) / count) * j.step);
        if (begin < end) (*j.fn)(begin, end);
      },
      &job);
}

uint8_t* RowOf(const PlanarRows& planes, int plane, int y) {
  return planes.first[plane] + y * planes.stride[plane];
}

}  // namespace

PlanarRows PackedRows(const PlanarLayout& l, uint8_t* planes) {
  const ptrdiff_t luma_row = ptrdiff_t(l.w) * l.bytes, chroma_row = ptrdiff_t(l.cw) * l.bytes;
  uint8_t* cb = planes + l.LumaBytes();
  if (l.pairs) return {{planes, cb, cb + l.bytes}, {luma_row, 2 * chroma_row, 2 * chroma_row}};
  return {{planes, cb, cb + l.ChromaBytes()}, {luma_row, chroma_row, chroma_row}};
}

void PlanesToFrame(const PlanarDsp& dsp, const PlanarLayout& l, const PlanarRows& planes,
                   core::Picture& frame, const core::Workers& workers) {
  const PlanarShape shape = ShapeOf(l);
  const UnpackRowFn unpack = dsp.UnpackRow[l.depth][shape];
  const int down = shape == kChroma2x2 || shape == kPairs2x2 ? 1 : 0;  // chroma row of a luma row: y >> down
  auto row = [&](int plane, int y) {
    return RowOf(planes, plane, y);
  };
  ForRowBands(workers, l.h, 1, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const bool colour = shape != kNoChroma;
      unpack(row(0, y), colour ? row(1, y >> down) : nullptr, colour ? row(2, y >> down) : nullptr,
             frame.pixels.data() + size_t(y) * frame.stride, l.w);
    }
  });
}

void FrameToPlanes(const PlanarDsp& dsp, const PlanarLayout& l, const core::Picture& frame,
                   const PlanarRows& planes, const core::Workers& workers) {
  const PlanarShape shape = ShapeOf(l);
  auto row = [&](int y) {
    return frame.pixels.data() + size_t(y) * frame.stride;
  };
  auto out = [&](int plane, int y) {
    return RowOf(planes, plane, y);
  };
  if (shape == kChroma2x2 || shape == kPairs2x2) {
    // Two rows a chroma row; an odd last row has its chroma row to itself: samples of two pixels
    // across, as in 4:2:2.
    const PackRowsFn two = dsp.PackRows[l.depth][shape], one = dsp.PackRows[l.depth][OneRowOf(shape)];
    ForRowBands(workers, l.h, 2, [&](int begin, int end) {
      for (int y = begin; y < end; y += 2) {
        if (y + 1 < l.h) two(row(y), row(y + 1), out(0, y), out(0, y + 1), out(1, y / 2), out(2, y / 2), l.w);
        else one(row(y), nullptr, out(0, y), nullptr, out(1, y / 2), out(2, y / 2), l.w);
      }
    });
    return;
  }
  const PackRowsFn pack = dsp.PackRows[l.depth][shape];
  const bool colour = shape != kNoChroma;
  ForRowBands(workers, l.h, 1, [&](int begin, int end) {
    for (int y = begin; y < end; ++y)
      pack(row(y), nullptr, out(0, y), nullptr, colour ? out(1, y) : nullptr, colour ? out(2, y) : nullptr,
           l.w);
  });
}

// The const planes are only read.
void PlanesToFrame(const PlanarDsp& dsp, const PlanarLayout& l, const uint8_t* planes, core::Picture& frame,
                   const core::Workers& workers) {
  PlanesToFrame(dsp, l, PackedRows(l, const_cast<uint8_t*>(planes)), frame, workers);
}

void FrameToPlanes(const PlanarDsp& dsp, const PlanarLayout& l, const core::Picture& frame, uint8_t* planes,
                   const core::Workers& workers) {
  FrameToPlanes(dsp, l, frame, PackedRows(l, planes), workers);
}

}  // namespace io
