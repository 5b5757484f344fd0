// The conversions of planar rows to host pixels and back, every depth and chroma layout the table
// has, chroma in planes of its own and in pairs of either order: every width up to 70 and some far
// wider, rows at any byte offset, stored samples of all zero bits, all one bits (10- and 12-bit words
// above their largest level included), alternating and random; host samples at both ends of int16,
// alternating, near the levels' rounding points and random.
#include <algorithm>
#include <memory>
#include <string>

#include "hostkit/planar.h"
#include "tests/kernels/kernel_check.h"

namespace kcheck {
namespace {

using core::YcPixel;

const char* const kShapeNames[io::kPlanarShapes] = {"4:2:0", "4:2:2",       "4:4:4",
                                                    "mono",  "4:2:0 pairs", "one row of pairs"};
const int kBits[io::kPlanarDepths] = {8, 10, 12, 16};

bool IsPairs(int shape) { return shape == io::kPairs2x2 || shape == io::kPairs2x1; }

// Stored samples: kind 0 all zero bits, 1 all one bits, 2 alternating, else random. Random words of
// 10- and 12-bit planes lie mostly in range, so that the rest of the arithmetic is seen too.
void FillStored(Twin<uint8_t>& row, int kind, int depth, int shape, Rng& rng) {
  const int bytes = depth == io::kDepth8 ? 1 : 2;
  const bool ranged = (depth == io::kDepth10 || depth == io::kDepth12) && !IsPairs(shape);
  for (size_t i = 0; i < row.size(); ++i) {
    uint8_t& b = row.in(i);
    b = kind == 0 ? 0 : kind == 1 ? 0xFF : kind == 2 ? ((i / bytes) % 2 ? 0xFF : 0) : b;
    if (ranged && kind > 2 && i % 2 == 1 && rng.Uniform(0, 3) != 0) b &= depth == io::kDepth10 ? 3 : 15;
  }
  row.Reset();
}

// Host samples: kind 0 all -32768, 1 all 32767, 2 alternating, 3 near the rounding points of the
// levels (and of the means of two and four), else random over the whole range.
void FillHost(Twin<YcPixel>& row, int kind, int depth, Rng& rng) {
  int16_t* s = &row.in(0).y;
  const int scale = 16 >> (2 * depth);  // 16, 4, 1; at 16 bits, every sample is a level
  for (size_t i = 0; i < 3 * row.size(); ++i) {
    s[i] = kind == 0   ? -32768
           : kind == 1 ? 32767
           : kind == 2 ? (i % 2 ? 32767 : -32768)
           : kind == 3 ? static_cast<int16_t>(rng.Uniform(-600, 1200) * std::max(scale, 1) + scale / 2 +
                                              rng.Uniform(-2, 1))
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

// The chroma rows of a slot for a row of w pixels: a row of Cb and one of Cr, or one row of pairs
// with Cb first, or with `swapped` Cr first; none for mono. Each row against an inaccessible page.
class ChromaRows {
 public:
  ChromaRows(Rng& rng, int shape, int w, int bytes, int at, bool swapped) : bytes_(bytes), swapped_(swapped) {
    const int cw = shape == io::kNoChroma ? 0 : shape == io::kChroma1x1 ? w : (w + 1) / 2;
    if (IsPairs(shape)) {
      rows_[0] = std::make_unique<Twin<uint8_t>>(rng, size_t(2 * cw) * bytes, at);
    } else if (cw > 0) {
      rows_[0] = std::make_unique<Twin<uint8_t>>(rng, size_t(cw) * bytes, -1);
      rows_[1] = std::make_unique<Twin<uint8_t>>(rng, size_t(cw) * bytes, at);
    }
  }
  void Fill(int kind, int depth, int shape, Rng& rng) {
    for (auto& r : rows_)
      if (r) FillStored(*r, kind, depth, shape, rng);
  }
  // The first Cb and Cr samples, in the scalar slot's copies or the tier's; null for mono.
  uint8_t* cb(bool ref) { return At(ref, swapped_ ? 1 : 0); }
  uint8_t* cr(bool ref) { return At(ref, swapped_ ? 0 : 1); }
  std::string Diff() const {
    std::string d;
    for (const auto& r : rows_)
      if (r && d.empty()) d = r->Diff();
    return d;
  }

 private:
  // Component c (0 Cb, 1 Cr, in stored order): its own row, or its place in the row of pairs.
  uint8_t* At(bool ref, int c) {
    if (!rows_[0]) return nullptr;
    if (!rows_[1]) return (ref ? rows_[0]->ref() : rows_[0]->tst()) + c * bytes_;
    Twin<uint8_t>& r = *rows_[c];
    return ref ? r.ref() : r.tst();
  }
  int bytes_;
  bool swapped_;
  std::unique_ptr<Twin<uint8_t>> rows_[2];
};

std::string SlotName(const char* what, int depth, int shape) {
  return std::string(what) + " " + kShapeNames[shape] + " " + std::to_string(kBits[depth]) + "-bit";
}

std::string Where(int w, int kind, bool swapped) {
  return "width " + std::to_string(w) + ", input " + std::to_string(kind) + (swapped ? ", Cr first" : "");
}

void CheckUnpack(Checker& c, const io::PlanarDsp& ref, const io::PlanarDsp& tst, int depth, int shape) {
  const std::string name = SlotName("UnpackRow", depth, shape);
  if (!c.Slot(name.c_str(), reinterpret_cast<const void*>(ref.UnpackRow[depth][shape]),
              reinterpret_cast<const void*>(tst.UnpackRow[depth][shape])))
    return;
  Rng& rng = c.rng();
  const int bytes = depth == io::kDepth8 ? 1 : 2;
  for (bool swapped : {false, true}) {
    if (swapped && !IsPairs(shape)) continue;
    for (int w : Widths(rng))
      for (int kind = 0; kind < kKinds; ++kind) {
        const int at = (w + kind) % 4 - 1;  // odd byte offsets too
        Twin<uint8_t> y(rng, size_t(w) * bytes, at);
        ChromaRows chroma(rng, shape, w, bytes, at, swapped);
        FillStored(y, kind, depth, shape, rng), chroma.Fill(kind, depth, shape, rng);
        Twin<YcPixel> out(rng, w, kind % 2 ? -1 : 2);
        ref.UnpackRow[depth][shape](y.ref(), chroma.cb(true), chroma.cr(true), out.ref(), w);
        tst.UnpackRow[depth][shape](y.ref(), chroma.cb(true), chroma.cr(true), out.tst(), w);
        if (!c.Expect(name.c_str(), out.Diff(), Where(w, kind, swapped))) return;
      }
  }
  std::vector<uint8_t> planes(3 * 1920 * 2, 100);
  std::vector<YcPixel> out(1920);
  uint8_t* p = planes.data();
  uint8_t* cr = IsPairs(shape) ? p + 3840 + bytes : p + 7680;
  c.Bench(
      name + " (1920 pixels)", 16, [&] { ref.UnpackRow[depth][shape](p, p + 3840, cr, out.data(), 1920); },
      [&] { tst.UnpackRow[depth][shape](p, p + 3840, cr, out.data(), 1920); });
}

void CheckPack(Checker& c, const io::PlanarDsp& ref, const io::PlanarDsp& tst, int depth, int shape) {
  const std::string name = SlotName("PackRows", depth, shape);
  if (!c.Slot(name.c_str(), reinterpret_cast<const void*>(ref.PackRows[depth][shape]),
              reinterpret_cast<const void*>(tst.PackRows[depth][shape])))
    return;
  Rng& rng = c.rng();
  const int bytes = depth == io::kDepth8 ? 1 : 2;
  const bool two_rows = shape == io::kChroma2x2 || shape == io::kPairs2x2;
  for (bool swapped : {false, true}) {
    if (swapped && !IsPairs(shape)) continue;
    for (int w : Widths(rng))
      for (int kind = 0; kind < kKinds; ++kind) {
        const int at = (w + kind) % 4 - 1;
        Twin<YcPixel> top(rng, w, kind % 2 ? -1 : 2), bottom(rng, w);
        FillHost(top, kind, depth, rng), FillHost(bottom, kind, depth, rng);
        Twin<uint8_t> y_top(rng, size_t(w) * bytes, at), y_bottom(rng, size_t(w) * bytes);
        ChromaRows chroma(rng, shape, w, bytes, at, swapped);
        for (bool is_ref : {true, false}) {
          const io::PlanarDsp& d = is_ref ? ref : tst;
          d.PackRows[depth][shape](top.ref(), two_rows ? bottom.ref() : nullptr,
                                   is_ref ? y_top.ref() : y_top.tst(),
                                   !two_rows ? nullptr
                                   : is_ref  ? y_bottom.ref()
                                             : y_bottom.tst(),
                                   chroma.cb(is_ref), chroma.cr(is_ref), w);
        }
        if (!c.Expect(name.c_str(), y_top.Diff() + y_bottom.Diff() + chroma.Diff(), Where(w, kind, swapped)))
          return;
      }
  }
  std::vector<YcPixel> rows(2 * 1920, YcPixel{1000, -200, 300});
  std::vector<uint8_t> planes(4 * 1920 * 2);
  auto bench = [&](const io::PlanarDsp& d) {
    uint8_t* p = planes.data();
    d.PackRows[depth][shape](rows.data(), rows.data() + 1920, p, p + 3840, p + 7680,
                             IsPairs(shape) ? p + 7680 + bytes : p + 11520, 1920);
  };
  c.Bench(
      name + " (1920 pixels)", 16, [&] { bench(ref); }, [&] { bench(tst); });
}

}  // namespace

void CheckPlanar(Checker& c, core::CpuFlags flags) {
  const io::PlanarDsp& ref = io::PlanarDspFor(0);
  const io::PlanarDsp& tst = io::PlanarDspFor(flags);
  if (c.scalar()) c.Expect("PlanarDspFor", CheckTableChoice(io::PlanarDspFor), "the choice of tables");
  for (int depth = 0; depth < io::kPlanarDepths; ++depth)
    for (int shape = 0; shape < io::kPlanarShapes; ++shape) {
      // A layout the table has, it has in both directions at every tier; the rest stay empty.
      const bool has = ref.UnpackRow[depth][shape] != nullptr;
      const bool same = has == (ref.PackRows[depth][shape] != nullptr) &&
                        has == (tst.UnpackRow[depth][shape] != nullptr) &&
                        has == (tst.PackRows[depth][shape] != nullptr);
      if (!c.Expect("slots", same ? "" : "set at one tier or in one direction, empty in another",
                    SlotName("slot", depth, shape)) ||
          !has)
        continue;
      CheckUnpack(c, ref, tst, depth, shape);
      CheckPack(c, ref, tst, depth, shape);
    }
}

}  // namespace kcheck
