// The conversions of planar rows to host pixels and back, every depth and chroma layout: every width
// up to 70 and some far wider, rows at any byte offset, stored samples of all zero bits, all one
// bits (10-bit words above 1023 included), alternating and random; host samples at both ends of
// int16, alternating, near the levels' rounding points and random.
#include <string>

#include "tests/kernels/kernel_check.h"
#include "tools/io/planar.h"

namespace kcheck {
namespace {

using core::YcPixel;

const char* const kShapeNames[io::kPlanarShapes] = {"4:2:0", "4:2:2", "4:4:4", "mono"};

// Stored samples: kind 0 all zero bits, 1 all one bits, 2 alternating, else random (10-bit words
// mostly in range, so that the rest of the arithmetic is seen too).
void FillStored(Twin<uint8_t>& row, int kind, bool ten_bit, Rng& rng) {
  for (size_t i = 0; i < row.size(); ++i) {
    uint8_t& b = row.in(i);
    b = kind == 0 ? 0 : kind == 1 ? 0xFF : kind == 2 ? ((i / (ten_bit ? 2 : 1)) % 2 ? 0xFF : 0) : b;
    if (ten_bit && kind > 2 && i % 2 == 1 && rng.Uniform(0, 3) != 0) b &= 3;
  }
  row.Reset();
}

// Host samples: kind 0 all -32768, 1 all 32767, 2 alternating, 3 near the rounding points of the
// levels, else random over the whole range.
void FillHost(Twin<YcPixel>& row, int kind, bool ten_bit, Rng& rng) {
  int16_t* s = &row.in(0).y;
  for (size_t i = 0; i < 3 * row.size(); ++i) {
    const int scale = ten_bit ? 4 : 16;
    s[i] = kind == 0   ? -32768
           : kind == 1 ? 32767
           : kind == 2 ? (i % 2 ? 32767 : -32768)
           : kind == 3
               ? static_cast<int16_t>(rng.Uniform(-600, 1200) * scale + scale / 2 + rng.Uniform(-2, 1))
               : s[i];
  }
  row.Reset();
}

constexpr int kKinds = 6;

std::vector<int> Widths(Rng& rng) {
  std::vector<int> widths;
  for (int w = 1; w <= 70; ++w) widths.push_back(w);
  for (int i = 0; i < 4; ++i) widths.push_back(rng.Uniform(71, 300));
  widths.push_back(1921);
  return widths;
}

void CheckUnpack(Checker& c, const io::PlanarDsp& ref, const io::PlanarDsp& tst, int depth, int shape) {
  const std::string name = std::string("unpack ") + kShapeNames[shape] + (depth ? " 10-bit" : " 8-bit");
  if (!c.Slot(name.c_str(), reinterpret_cast<const void*>(ref.unpack[depth][shape]),
              reinterpret_cast<const void*>(tst.unpack[depth][shape])))
    return;
  Rng& rng = c.rng();
  const int bytes = depth ? 2 : 1;
  for (int w : Widths(rng))
    for (int kind = 0; kind < kKinds; ++kind) {
      const int cw = shape == io::kNoChroma ? 0 : shape == io::kChroma1x1 ? w : (w + 1) / 2;
      const int at = (w + kind) % 4 - 1;  // odd byte offsets too
      Twin<uint8_t> y(rng, size_t(w) * bytes, at), cb(rng, size_t(cw) * bytes, -1),
          cr(rng, size_t(cw) * bytes, at);
      FillStored(y, kind, depth, rng), FillStored(cb, kind, depth, rng), FillStored(cr, kind, depth, rng);
      Twin<YcPixel> out(rng, w, kind % 2 ? -1 : 2);
      uint8_t* chroma[2] = {cw ? cb.ref() : nullptr, cw ? cr.ref() : nullptr};
      ref.unpack[depth][shape](y.ref(), chroma[0], chroma[1], out.ref(), w);
      tst.unpack[depth][shape](y.ref(), chroma[0], chroma[1], out.tst(), w);
      if (!c.Expect(name.c_str(), out.Diff(),
                    "width " + std::to_string(w) + ", input " + std::to_string(kind)))
        return;
    }
  std::vector<uint8_t> planes(3 * 1920 * 2, 100);
  std::vector<YcPixel> out(1920);
  c.Bench(
      name + " (1920 pixels)", 16,
      [&] {
        ref.unpack[depth][shape](planes.data(), planes.data() + 3840, planes.data() + 7680, out.data(), 1920);
      },
      [&] {
        tst.unpack[depth][shape](planes.data(), planes.data() + 3840, planes.data() + 7680, out.data(), 1920);
      });
}

void CheckPack(Checker& c, const io::PlanarDsp& ref, const io::PlanarDsp& tst, int depth, int shape) {
  const std::string name = std::string("pack ") + kShapeNames[shape] + (depth ? " 10-bit" : " 8-bit");
  if (!c.Slot(name.c_str(), reinterpret_cast<const void*>(ref.pack[depth][shape]),
              reinterpret_cast<const void*>(tst.pack[depth][shape])))
    return;
  Rng& rng = c.rng();
  const int bytes = depth ? 2 : 1;
  const bool two_rows = shape == io::kChroma2x2;
  for (int w : Widths(rng))
    for (int kind = 0; kind < kKinds; ++kind) {
      const int cw = shape == io::kNoChroma ? 0 : shape == io::kChroma1x1 ? w : (w + 1) / 2;
      const int at = (w + kind) % 4 - 1;
      Twin<YcPixel> top(rng, w, kind % 2 ? -1 : 2), bottom(rng, w);
      FillHost(top, kind, depth, rng), FillHost(bottom, kind, depth, rng);
      Twin<uint8_t> y_top(rng, size_t(w) * bytes, at), y_bottom(rng, size_t(w) * bytes),
          cb(rng, size_t(cw) * bytes, at), cr(rng, size_t(cw) * bytes);
      auto run = [&](const io::PlanarDsp& d, bool is_ref) {
        auto pick = [&](Twin<uint8_t>& t, bool used) -> uint8_t* {
          return !used ? nullptr : is_ref ? t.ref() : t.tst();
        };
        d.pack[depth][shape](top.ref(), two_rows ? bottom.ref() : nullptr, pick(y_top, true),
                             pick(y_bottom, two_rows), pick(cb, cw > 0), pick(cr, cw > 0), w);
      };
      run(ref, true), run(tst, false);
      if (!c.Expect(name.c_str(), y_top.Diff() + y_bottom.Diff() + cb.Diff() + cr.Diff(),
                    "width " + std::to_string(w) + ", input " + std::to_string(kind)))
        return;
    }
  std::vector<YcPixel> rows(2 * 1920, YcPixel{1000, -200, 300});
  std::vector<uint8_t> planes(4 * 1920 * 2);
  auto bench = [&](const io::PlanarDsp& d) {
    uint8_t* p = planes.data();
    d.pack[depth][shape](rows.data(), rows.data() + 1920, p, p + 3840, p + 7680, p + 11520, 1920);
  };
  c.Bench(
      name + " (1920 pixels)", 16, [&] { bench(ref); }, [&] { bench(tst); });
}

}  // namespace

void CheckPlanar(Checker& c, core::CpuFlags flags) {
  const io::PlanarDsp& ref = io::PlanarDspFor(0);
  const io::PlanarDsp& tst = io::PlanarDspFor(flags);
  if (c.scalar()) c.Expect("PlanarDspFor", CheckTableChoice(io::PlanarDspFor), "the choice of tables");
  for (int depth = 0; depth < 2; ++depth)
    for (int shape = 0; shape < io::kPlanarShapes; ++shape) {
      CheckUnpack(c, ref, tst, depth, shape);
      CheckPack(c, ref, tst, depth, shape);
    }
}

}  // namespace kcheck
