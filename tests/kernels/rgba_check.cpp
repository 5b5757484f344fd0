// The RGBA conversions: every one of the 2^24 colours to samples, to luma alone at every shift, and
// back, in rows of every length up to 41, at 8 bits and as 16-bit words of whole levels; samples no
// colour gives (every combination of extreme values, every luma without colour, random ones) back to
// RGBA at both depths; 16-bit words anywhere (every grey, every combination of extreme words, random
// ones) to samples and to luma alone; short rows at every offset against inaccessible pages. At the scalar
// tier: each pixel as the pixel functions give it, every colour back unchanged, samples back to the bytes the
// exact inverse allows at both depths; 16-bit words to samples within 0.6 of exact BT.601 (whole levels to
// the 8-bit colour's samples exactly) and back within 24 of the words (grey within 9); and samples through
// 16-bit words, where none is clamped, back to themselves.
#include <algorithm>
#include <string>

#include "core/rgba_dsp.h"
#include "tests/kernels/kernel_check.h"

namespace kcheck {
namespace {

using core::RgbaDsp;
using core::YcPixel;

// ---- The exact inverse, BT.601 with kr = 0.299 and kb = 0.114, in integers. With Y, Cb and Cr the
// samples over 16: r = Y + 1.402 Cr, b = Y + 1.772 Cb and g = Y - (0.202008 Cb + 0.419198 Cr) / 0.587,
// each n / kDen levels for the integer n below.
constexpr int64_t kDen = 16 * 587000;

// The values a channel of exact value n / kDen levels may come out as, in steps of 1 / scale of a
// level (1: bytes; 257: 16-bit words), clamped to 0..255 x scale: that value rounded to the nearest
// step, give or take slack / 2^19 of a level. The conversion keeps its coefficients to 14 fraction
// bits, each within 2^-15 of the exact one, which moves a channel by at most the sum of |cb| or |cr|
// it multiplies over 2^19 levels (their 16 units a level included).
struct Allowed {
  int lo, hi;
};
Allowed ExactChannel(int64_t n, int64_t slack, int64_t scale) {
  using Wide = __int128;
  // In units of 1 / (2 kDen 2^19) of a step: the value, and the slack with half a step.
  const Wide den = Wide{2 * kDen} << 19;
  const Wide value = (Wide{scale} * n) << 20, reach = 2 * Wide{scale} * slack * kDen + (Wide{kDen} << 19);
  auto floor_div = [&](Wide a) {
    return static_cast<int64_t>(a >= 0 ? a / den : -((-a + den - 1) / den));
  };
  const int64_t lo = -floor_div(reach - value), hi = floor_div(value + reach);
  return {static_cast<int>(std::clamp<int64_t>(lo, 0, 255 * scale)),
          static_cast<int>(std::clamp<int64_t>(hi, 0, 255 * scale))};
}

// "" when the bytes (or 16-bit words) r, g, b may come from p; else what they should be.
template <class T>
std::string ExactInverseMismatch(const YcPixel& p, const T* rgb) {
  const int64_t scale = sizeof(T) == 1 ? 1 : 257;
  const int64_t y = 587000 * int64_t{p.y}, cb = p.cb, cr = p.cr;
  const Allowed want[3] = {ExactChannel(y + 822974 * cr, std::abs(cr), scale),
                           ExactChannel(y - 202008 * cb - 419198 * cr, std::abs(cb) + std::abs(cr), scale),
                           ExactChannel(y + 1040164 * cb, std::abs(cb), scale)};
  std::string why;
  for (int c = 0; c < 3; ++c)
    if (rgb[c] < want[c].lo || rgb[c] > want[c].hi)
      why += std::string(" ") + "rgb"[c] + " " + std::to_string(rgb[c]) + ", not " +
             std::to_string(want[c].lo) +
             (want[c].hi != want[c].lo ? " to " + std::to_string(want[c].hi) : "");
  return why.empty() ? "" : Show(p) + ":" + why;
}

// n pixels at `at` in rows whose lengths run through 1 .. 41 from `first`: fn(at, length).
template <class Fn>
void InRows(size_t n, size_t first, const Fn& fn) {
  for (size_t at = 0, len = first; at < n; at += len, len = len % 41 + 1)
    fn(at, static_cast<int32_t>(std::min(len, n - at)));
}

struct Slots {
  bool to_yc, to_rgba, to_luma, to_yc16, to_pa64, to_luma16;
};

// "" when the samples come back from their 16-bit words (none of which is clamped), or when a word is
// clamped; else what came back.
std::string SamplesThroughWords(const YcPixel& p, const uint16_t* words) {
  if (std::min({words[0], words[1], words[2]}) == 0 || std::max({words[0], words[1], words[2]}) == 65535)
    return "";
  const YcPixel back = core::Pa64ToYc(words[0], words[1], words[2]);
  return std::memcmp(&back, &p, sizeof p) == 0
             ? ""
             : Show(p) + " comes back from its 16-bit words as " + Show(back);
}

// Every colour, 65536 at a time (those of one red, alpha 255 - green): to samples, to luma with the
// shifts 0, 4 and any other, and back.
void CheckEveryColour(Checker& c, const RgbaDsp& ref, const RgbaDsp& tst, const Slots& s) {
  const size_t n = 65536;
  std::vector<uint8_t> rgba(4 * n), back[2];
  std::vector<YcPixel> yc[2] = {std::vector<YcPixel>(n), std::vector<YcPixel>(n)};
  std::vector<int16_t> luma[2] = {std::vector<int16_t>(n), std::vector<int16_t>(n)};
  std::vector<uint16_t> words(4 * n), back16[2];
  std::vector<YcPixel> yc16[2] = {std::vector<YcPixel>(n), std::vector<YcPixel>(n)};
  std::vector<int16_t> luma16[2] = {std::vector<int16_t>(n), std::vector<int16_t>(n)};
  for (int r = 0; r < 256; ++r) {
    for (size_t i = 0; i < n; ++i) {
      uint8_t* p = &rgba[4 * i];
      p[0] = static_cast<uint8_t>(r), p[1] = static_cast<uint8_t>(i >> 8), p[2] = static_cast<uint8_t>(i);
      p[3] = static_cast<uint8_t>(255 - p[1]);
    }
    const std::string where = "the colours with red " + std::to_string(r);
    const RgbaDsp* d[2] = {&ref, &tst};
    std::string diff;
    for (int k = 0; k < 2; ++k)
      InRows(n, 1 + r % 19,
             [&](size_t at, int32_t len) { d[k]->RgbaToYcRow(&rgba[4 * at], &yc[k][at], len); });
    for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i) {
      const YcPixel want = core::RgbToYc(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
      if (std::memcmp(&yc[0][i], &want, sizeof want) != 0)
        diff = "colour " + std::to_string(i) + " is not the pixel function's";
    }
    if (s.to_yc && !c.Expect("RgbaToYcRow", diff + DiffValues(yc[0].data(), yc[1].data(), n, 256), where))
      return;

    const int32_t shift = r % 3 == 0 ? 0 : r % 3 == 1 ? 4 : r % 16;
    for (int k = 0; k < 2; ++k)
      InRows(n, 1 + r % 23,
             [&](size_t at, int32_t len) { d[k]->RgbaToLumaRow(&rgba[4 * at], &luma[k][at], len, shift); });
    diff.clear();
    for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i)
      if (luma[0][i] != yc[0][i].y >> shift) diff = "the luma of colour " + std::to_string(i);
    if (s.to_luma && !c.Expect("RgbaToLumaRow", diff + DiffValues(luma[0].data(), luma[1].data(), n, 256),
                               where + ", shift " + std::to_string(shift)))
      return;

    for (int k = 0; k < 2; ++k) {
      back[k].assign(4 * n, 0);
      for (size_t i = 3; i < 4 * n; i += 4) back[k][i] = rgba[i];
      InRows(n, 1 + r % 17,
             [&](size_t at, int32_t len) { d[k]->YcToRgbaRow(&yc[0][at], &back[k][4 * at], len); });
    }
    diff = c.scalar() && back[0] != rgba ? "the colours do not come back" : "";
    if (s.to_rgba &&
        !c.Expect("YcToRgbaRow", diff + DiffValues(back[0].data(), back[1].data(), 4 * n, 1024), where))
      return;

    // The same colours as 16-bit words of whole levels: the 8-bit colours' samples, and back.
    for (size_t i = 0; i < 4 * n; ++i) words[i] = static_cast<uint16_t>(257 * rgba[i]);
    for (int k = 0; k < 2; ++k)
      InRows(n, 1 + r % 13,
             [&](size_t at, int32_t len) { d[k]->Pa64ToYcRow(&words[4 * at], &yc16[k][at], len); });
    diff = c.scalar() && std::memcmp(yc16[0].data(), yc[0].data(), n * sizeof(YcPixel)) != 0
               ? "whole 16-bit levels do not give the 8-bit colour's samples"
               : "";
    if (s.to_yc16 &&
        !c.Expect("Pa64ToYcRow", diff + DiffValues(yc16[0].data(), yc16[1].data(), n, 256), where))
      return;
    for (int k = 0; k < 2; ++k)
      InRows(n, 1 + r % 29, [&](size_t at, int32_t len) {
        d[k]->Pa64ToLumaRow(&words[4 * at], &luma16[k][at], len, shift);
      });
    diff =
        c.scalar() && luma16[0] != luma[0] ? "whole 16-bit levels do not give the 8-bit colour's luma" : "";
    if (s.to_luma16 &&
        !c.Expect("Pa64ToLumaRow", diff + DiffValues(luma16[0].data(), luma16[1].data(), n, 256),
                  where + ", shift " + std::to_string(shift)))
      return;
    for (int k = 0; k < 2; ++k) {
      back16[k].assign(4 * n, 0);
      for (size_t i = 3; i < 4 * n; i += 4) back16[k][i] = words[i];
      InRows(n, 1 + r % 11,
             [&](size_t at, int32_t len) { d[k]->YcToPa64Row(&yc[0][at], &back16[k][4 * at], len); });
    }
    diff.clear();
    for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i) {
      uint16_t want[3];
      core::YcToPa64(yc[0][i], want);
      if (std::memcmp(want, &back16[0][4 * i], sizeof want) != 0 || back16[0][4 * i + 3] != words[4 * i + 3])
        diff = "colour " + std::to_string(i) + " is not the pixel function's, or its alpha changed";
      else diff = SamplesThroughWords(yc[0][i], want);
    }
    if (s.to_pa64 &&
        !c.Expect("YcToPa64Row", diff + DiffValues(back16[0].data(), back16[1].data(), 4 * n, 1024), where))
      return;
  }
}

// Samples no colour gives, as a filter leaves them: every combination of extreme values, every luma
// without colour (exact to the byte), luma with colour differences too small to move a channel across
// a rounding point, random samples around the colours and anywhere; alpha bytes and the bytes past the
// rows stay as they were.
void CheckAnySamples(Checker& c, const RgbaDsp& ref, const RgbaDsp& tst, const Slots& s) {
  Rng& rng = c.rng();
  const int16_t extremes[] = {-32768, -32767, -4096, -2049, -2048, -1, 0, 1, 7, 8, 2040, 2047, 4080, 32767};
  std::vector<YcPixel> samples;
  for (int16_t y : extremes)
    for (int16_t cb : extremes)
      for (int16_t cr : extremes) samples.push_back({y, cb, cr});
  const auto any = [&](int lo, int hi) {
    return static_cast<int16_t>(rng.Uniform(lo, hi));
  };
  for (int y = -32768; y <= 32767; ++y) samples.push_back({static_cast<int16_t>(y), 0, 0});
  for (int i = 0; i < 1 << 16; ++i) {
    samples.push_back({any(-64, 4144), any(-1, 1), any(-1, 1)});
    samples.push_back({any(-64, 4144), any(-2100, 2100), any(-2100, 2100)});
    samples.push_back({any(-32768, 32767), any(-32768, 32767), any(-32768, 32767)});
  }
  const size_t n = samples.size();
  std::vector<uint8_t> before(4 * n + 16);
  for (auto& b : before) b = static_cast<uint8_t>(rng.Next());
  std::vector<uint8_t> want = before, got = before;
  InRows(n, 1, [&](size_t at, int32_t len) { ref.YcToRgbaRow(&samples[at], &want[4 * at], len); });
  InRows(n, 1, [&](size_t at, int32_t len) { tst.YcToRgbaRow(&samples[at], &got[4 * at], len); });
  std::string diff;
  for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i) {
    uint8_t rgb[3];
    core::YcToRgb(samples[i], rgb);
    if (std::memcmp(rgb, &want[4 * i], 3) != 0)
      diff = "sample " + std::to_string(i) + " is not the pixel function's";
    else if (want[4 * i + 3] != before[4 * i + 3])
      diff = "the alpha of sample " + std::to_string(i) + " changed";
    else diff = ExactInverseMismatch(samples[i], &want[4 * i]);
  }
  if (c.scalar() && !std::equal(want.end() - 16, want.end(), before.end() - 16))
    diff += "written past the rows";
  if (s.to_rgba && !c.Expect("YcToRgbaRow", diff + DiffValues(want.data(), got.data(), want.size(), 1024),
                             "samples no colour gives"))
    return;

  std::vector<uint16_t> before16(4 * n + 8);
  for (auto& w : before16) w = static_cast<uint16_t>(rng.Next());
  std::vector<uint16_t> want16 = before16, got16 = before16;
  InRows(n, 3, [&](size_t at, int32_t len) { ref.YcToPa64Row(&samples[at], &want16[4 * at], len); });
  InRows(n, 3, [&](size_t at, int32_t len) { tst.YcToPa64Row(&samples[at], &got16[4 * at], len); });
  diff.clear();
  for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i) {
    uint16_t rgb[3];
    core::YcToPa64(samples[i], rgb);
    if (std::memcmp(rgb, &want16[4 * i], sizeof rgb) != 0)
      diff = "sample " + std::to_string(i) + " is not the pixel function's";
    else if (want16[4 * i + 3] != before16[4 * i + 3])
      diff = "the alpha of sample " + std::to_string(i) + " changed";
    else if (diff = ExactInverseMismatch(samples[i], rgb); diff.empty())
      diff = SamplesThroughWords(samples[i], rgb);
  }
  if (c.scalar() && !std::equal(want16.end() - 8, want16.end(), before16.end() - 8))
    diff += "written past the rows";
  if (s.to_pa64)
    c.Expect("YcToPa64Row", diff + DiffValues(want16.data(), got16.data(), want16.size(), 1024),
             "samples no colour gives");
}

// How far a sample lies from exact BT.601 (kr = 0.299, kb = 0.114) of 16-bit words, in units of a
// sample, 16 / 257 of a word.
double FromExact(const uint16_t* w, const YcPixel& p) {
  const double r = w[0] * 16.0 / 257, g = w[1] * 16.0 / 257, b = w[2] * 16.0 / 257;
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  return std::max({std::abs(p.y - y), std::abs(p.cb - (b - y) / 1.772), std::abs(p.cr - (r - y) / 1.402)});
}

// 16-bit words no 8-bit colour gives: every grey, every combination of extreme words, random ones
// (each alpha word random, as the conversion must not read it); to samples, and to luma alone at a
// shift that changes from row to row.
void CheckAnyWords(Checker& c, const RgbaDsp& ref, const RgbaDsp& tst, const Slots& s) {
  Rng& rng = c.rng();
  const uint16_t extremes[] = {0, 1, 127, 128, 129, 256, 257, 258, 32767, 32768, 65407, 65408, 65534, 65535};
  std::vector<uint16_t> words;
  auto add = [&](uint32_t r, uint32_t g, uint32_t b) {
    words.insert(words.end(), {uint16_t(r), uint16_t(g), uint16_t(b), uint16_t(rng.Next())});
  };
  for (uint32_t v = 0; v < 65536; ++v) add(v, v, v);
  for (uint16_t r : extremes)
    for (uint16_t g : extremes)
      for (uint16_t b : extremes) add(r, g, b);
  for (int i = 0; i < 1 << 18; ++i) add(uint16_t(rng.Next()), uint16_t(rng.Next()), uint16_t(rng.Next()));
  const size_t n = words.size() / 4;
  std::vector<YcPixel> want(n), got(n);
  InRows(n, 5, [&](size_t at, int32_t len) { ref.Pa64ToYcRow(&words[4 * at], &want[at], len); });
  InRows(n, 5, [&](size_t at, int32_t len) { tst.Pa64ToYcRow(&words[4 * at], &got[at], len); });
  std::string diff;
  for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i) {
    const uint16_t* w = &words[4 * i];
    const YcPixel pixel = core::Pa64ToYc(w[0], w[1], w[2]);
    uint16_t back[3];
    core::YcToPa64(pixel, back);
    const bool grey = w[0] == w[1] && w[1] == w[2];
    int off = 0;
    for (int k = 0; k < 3; ++k) off = std::max(off, std::abs(back[k] - w[k]));
    const std::string where =
        "words (" + std::to_string(w[0]) + ", " + std::to_string(w[1]) + ", " + std::to_string(w[2]) + ")";
    if (std::memcmp(&pixel, &want[i], sizeof pixel) != 0) diff = where + ": not the pixel function's";
    else if (FromExact(w, pixel) > 0.6)
      diff = where + ": " + Show(pixel) + " is not within 0.6 of exact BT.601";
    else if (grey && (pixel.cb != 0 || pixel.cr != 0)) diff = where + ": grey with colour " + Show(pixel);
    else if (off > (grey ? 9 : 24)) diff = where + ": back " + std::to_string(off) + " off";
  }
  if (s.to_yc16 &&
      !c.Expect("Pa64ToYcRow", diff + DiffValues(want.data(), got.data(), n, 256), "16-bit words anywhere"))
    return;

  std::vector<int16_t> luma[2] = {std::vector<int16_t>(n), std::vector<int16_t>(n)};
  std::vector<int32_t> shifts(n);
  const RgbaDsp* d[2] = {&ref, &tst};
  for (int k = 0; k < 2; ++k)
    InRows(n, 7, [&](size_t at, int32_t len) {
      const int32_t shift = static_cast<int32_t>(at % 16);
      std::fill_n(&shifts[at], len, shift);
      d[k]->Pa64ToLumaRow(&words[4 * at], &luma[k][at], len, shift);
    });
  diff.clear();
  for (size_t i = 0; i < n && c.scalar() && diff.empty(); ++i)
    if (luma[0][i] != want[i].y >> shifts[i])
      diff = "the luma of words " + std::to_string(i) + " at shift " + std::to_string(shifts[i]);
  if (s.to_luma16)
    c.Expect("Pa64ToLumaRow", diff + DiffValues(luma[0].data(), luma[1].data(), n, 256),
             "16-bit words anywhere");
}

// Rows of every length up to 67 (every tail of 8 and 16 pixels) at every offset against inaccessible
// pages: nothing past their n pixels is read or written.
void CheckShortRows(Checker& c, const RgbaDsp& ref, const RgbaDsp& tst, const Slots& s) {
  Rng& rng = c.rng();
  // Against the page after the row, right after the page before it, or some bytes past that.
  const int kRgbaAt[] = {-1, 0, 4, 8, 12, 20}, kSamplesAt[] = {-1, 0, 2, 6, 10, 14};
  const int kPa64At[] = {-1, 0, 8, 16, 24, 40};
  for (int n = 0; n <= 67; ++n)
    for (int place = 0; place < 6; ++place) {
      const int at = kSamplesAt[place], other = kSamplesAt[5 - place];
      Twin<uint8_t> rgba(rng, 4 * size_t(n), kRgbaAt[place]), to_rgba(rng, 4 * size_t(n), kRgbaAt[5 - place]);
      Twin<YcPixel> samples(rng, n, at), to_yc(rng, n, other);
      Twin<int16_t> luma(rng, n, other);
      const int32_t shift = rng.Uniform(0, 15);
      const std::string where = std::to_string(n) + " pixels, placed " + std::to_string(place);
      if (s.to_yc) {
        ref.RgbaToYcRow(rgba.ref(), to_yc.ref(), n), tst.RgbaToYcRow(rgba.ref(), to_yc.tst(), n);
        if (!c.Expect("RgbaToYcRow", to_yc.Diff(), where)) return;
      }
      if (s.to_luma) {
        ref.RgbaToLumaRow(rgba.ref(), luma.ref(), n, shift),
            tst.RgbaToLumaRow(rgba.ref(), luma.tst(), n, shift);
        if (!c.Expect("RgbaToLumaRow", luma.Diff(), where + ", shift " + std::to_string(shift))) return;
      }
      if (s.to_rgba) {
        ref.YcToRgbaRow(samples.ref(), to_rgba.ref(), n), tst.YcToRgbaRow(samples.ref(), to_rgba.tst(), n);
        if (!c.Expect("YcToRgbaRow", to_rgba.Diff(4), where)) return;
      }
      Twin<uint16_t> pa64(rng, 4 * size_t(n), kPa64At[place]),
          to_pa64(rng, 4 * size_t(n), kPa64At[5 - place]);
      if (s.to_yc16) {
        to_yc.Reset();
        ref.Pa64ToYcRow(pa64.ref(), to_yc.ref(), n), tst.Pa64ToYcRow(pa64.ref(), to_yc.tst(), n);
        if (!c.Expect("Pa64ToYcRow", to_yc.Diff(), where)) return;
      }
      if (s.to_pa64) {
        ref.YcToPa64Row(samples.ref(), to_pa64.ref(), n), tst.YcToPa64Row(samples.ref(), to_pa64.tst(), n);
        if (!c.Expect("YcToPa64Row", to_pa64.Diff(4), where)) return;
      }
      if (s.to_luma16) {
        luma.Reset();
        ref.Pa64ToLumaRow(pa64.ref(), luma.ref(), n, shift),
            tst.Pa64ToLumaRow(pa64.ref(), luma.tst(), n, shift);
        if (!c.Expect("Pa64ToLumaRow", luma.Diff(), where + ", shift " + std::to_string(shift))) return;
      }
    }
}

}  // namespace

void CheckRgba(Checker& c, core::CpuFlags flags) {
  const RgbaDsp& ref = core::RgbaDspFor(0);
  const RgbaDsp& tst = core::RgbaDspFor(flags);
  if (c.scalar()) c.Expect("RgbaDspFor", CheckTableChoice(core::RgbaDspFor), "the choice of tables");
  auto slot = [&](const char* name, auto r, auto t) {
    return c.Slot(name, reinterpret_cast<const void*>(r), reinterpret_cast<const void*>(t));
  };
  const Slots s = {slot("RgbaToYcRow", ref.RgbaToYcRow, tst.RgbaToYcRow),
                   slot("YcToRgbaRow", ref.YcToRgbaRow, tst.YcToRgbaRow),
                   slot("RgbaToLumaRow", ref.RgbaToLumaRow, tst.RgbaToLumaRow),
                   slot("Pa64ToYcRow", ref.Pa64ToYcRow, tst.Pa64ToYcRow),
                   slot("YcToPa64Row", ref.YcToPa64Row, tst.YcToPa64Row),
                   slot("Pa64ToLumaRow", ref.Pa64ToLumaRow, tst.Pa64ToLumaRow)};
  if (!s.to_yc && !s.to_rgba && !s.to_luma && !s.to_yc16 && !s.to_pa64 && !s.to_luma16) return;
  CheckEveryColour(c, ref, tst, s);
  if (s.to_rgba || s.to_pa64) CheckAnySamples(c, ref, tst, s);
  if (s.to_yc16 || s.to_luma16) CheckAnyWords(c, ref, tst, s);
  CheckShortRows(c, ref, tst, s);
  std::vector<uint8_t> rgba(4 * 1920, 77);
  std::vector<YcPixel> yc(1920, YcPixel{1000, -200, 300});
  std::vector<int16_t> luma(1920);
  if (s.to_yc)
    c.Bench(
        "RgbaToYcRow (1920 pixels)", 16, [&] { ref.RgbaToYcRow(rgba.data(), yc.data(), 1920); },
        [&] { tst.RgbaToYcRow(rgba.data(), yc.data(), 1920); });
  if (s.to_rgba)
    c.Bench(
        "YcToRgbaRow (1920 pixels)", 16, [&] { ref.YcToRgbaRow(yc.data(), rgba.data(), 1920); },
        [&] { tst.YcToRgbaRow(yc.data(), rgba.data(), 1920); });
  if (s.to_luma)
    c.Bench(
        "RgbaToLumaRow (1920 pixels)", 16, [&] { ref.RgbaToLumaRow(rgba.data(), luma.data(), 1920, 4); },
        [&] { tst.RgbaToLumaRow(rgba.data(), luma.data(), 1920, 4); });
  std::vector<uint16_t> pa64(4 * 1920, 30000);
  if (s.to_yc16)
    c.Bench(
        "Pa64ToYcRow (1920 pixels)", 16, [&] { ref.Pa64ToYcRow(pa64.data(), yc.data(), 1920); },
        [&] { tst.Pa64ToYcRow(pa64.data(), yc.data(), 1920); });
  if (s.to_pa64)
    c.Bench(
        "YcToPa64Row (1920 pixels)", 16, [&] { ref.YcToPa64Row(yc.data(), pa64.data(), 1920); },
        [&] { tst.YcToPa64Row(yc.data(), pa64.data(), 1920); });
  if (s.to_luma16)
    c.Bench(
        "Pa64ToLumaRow (1920 pixels)", 16, [&] { ref.Pa64ToLumaRow(pa64.data(), luma.data(), 1920, 4); },
        [&] { tst.Pa64ToLumaRow(pa64.data(), luma.data(), 1920, 4); });
}

}  // namespace kcheck
