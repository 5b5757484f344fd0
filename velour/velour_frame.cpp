// The frame driver. No memory is allocated: working luma and the sums live as lines inside the rows
// of the temp plane (a temp row of w pixels holds a 16-bit luma line of w samples and a 32-bit line
// of sums, or three 16-bit lines).
//
// The picture's rows are split into one band per worker; a worker runs every pass over its own
// band, recomputing the blocks that straddle a band edge and adding only their rows inside the band.
// So no two workers write the same sample, and every pixel's sum is the same as when the passes of
// a batch run side by side over the whole picture: the sums are exact, and additions commute. The
// number of passes follows the partition count alone, so the result does not depend on how many
// workers compute it.
//
// Within a band the work goes down in strips of rows. For each strip every pass filters the block
// rows whose top row lies in the strip (their lower rows reach up to 7 rows into the next strip),
// so once a strip is done its rows have all their contributions and go straight to the output,
// while the rows the passes touch stay in the cache.
//
// The picture is a plane of samples, or an RGBA image of 8 or 16 bits a channel: then each row is
// converted to luma alone as its luma is taken, and to samples and back as its result is stored, with
// the same conversion of each pixel as a whole picture's, so the result is that of converting,
// filtering and converting back, without a plane of samples and without passes of their own over
// the picture.
//
// A worker also reads up to 7 rows of luma on either side of its band. Those rows are converted
// in a first round (every worker converts the 7 rows at each end of its band, into temp row y for
// row y); the rest of a band is converted by its own worker as the strips reach it, before its
// edit rows are overwritten.
#include <algorithm>
#include <cstring>

#include "core/rgba_dsp.h"
#include "velour/velour.h"
#include "velour/velour_dsp.h"
#include "velour/velour_tables.h"

namespace velour {
namespace {

using core::Plane;
using core::YcPixel;

constexpr int kStrip = 8;
constexpr int kHalo = 7;         // rows a block reaches past its top row
constexpr int kRgbaChunk = 256;  // pixels of an RGBA row converted at a time, on the stack

struct FrameJob {
  const VelourDsp* dsp;
  Plane edit;                     // w and h of the picture; its samples unless the picture is RGBA
  const core::RgbaDsp* rgba_dsp;  // the picture is the RGBA image `rgba`
  core::RgbaImage rgba;
  Plane temp;
  int16_t steps[64];
  int32_t passes;
  int32_t zero_weight;
  int32_t weight;
};

// Lines of luma or of sums, `pitch` bytes apart, line k at base + k * pitch.
struct LumaLines {
  char* base;
  ptrdiff_t pitch;
  int16_t* operator[](ptrdiff_t k) const { return reinterpret_cast<int16_t*>(base + k * pitch); }
};
struct PartialLines {
  char* base;
  ptrdiff_t pitch;
  int16_t* operator[](ptrdiff_t k) const { return reinterpret_cast<int16_t*>(base + k * pitch); }
};
struct AccLines {
  char* base;
  ptrdiff_t pitch;
  AccSample* operator[](ptrdiff_t k) const { return reinterpret_cast<AccSample*>(base + k * pitch); }
};

// Bytes between temp rows.
inline ptrdiff_t Pitch(const Plane& p) { return static_cast<ptrdiff_t>(p.stride) * sizeof(core::YcPixel); }
// Luma and accumulator lines with line k in temp row `first` + k.
inline LumaLines LumaLinesFrom(const Plane& temp, int first) {
  return {reinterpret_cast<char*>(core::PlaneRow(temp, first)), Pitch(temp)};
}
inline AccLines AccLinesFrom(const Plane& temp, int first) {
  return {reinterpret_cast<char*>(core::PlaneRow(temp, first)) + sizeof(int16_t) * temp.w, Pitch(temp)};
}
inline int16_t* EditY(const Plane& edit, int y) { return &core::PlaneRow(edit, y)->y; }

// Row y's working luma into `luma`.
void LoadLuma(const FrameJob* job, int y, int16_t* luma) {
  const int w = job->edit.w;
  if (job->rgba_dsp == nullptr) return job->dsp->LumaRow(EditY(job->edit, y), luma, w);
  core::RgbaImageToLumaRow(*job->rgba_dsp, job->rgba, y, luma, 4);
}

// Row y's result from its sums: luma = sum x 16 / weight; an RGBA row converts its colour to samples,
// takes the new luma, and converts back, alpha untouched.
void StoreLuma(const FrameJob* job, int y, const AccSample* acc) {
  const int w = job->edit.w;
  if (job->rgba_dsp == nullptr) return job->dsp->AverageRow(acc, EditY(job->edit, y), w, job->weight);
  YcPixel samples[kRgbaChunk];
  for (int x = 0; x < w; x += kRgbaChunk) {
    const int n = std::min(kRgbaChunk, w - x);
    core::RgbaImageToYcRow(*job->rgba_dsp, job->rgba, x, y, samples, n);
    job->dsp->AverageRow(acc + x, &samples[0].y, n, job->weight);
    core::YcToRgbaImageRow(*job->rgba_dsp, samples, job->rgba, x, y, n);
  }
}

inline void BandOf(const Plane& p, int index, int count, int* r0, int* r1) {
  *r0 = static_cast<int>(int64_t{p.h} * index / count);
  *r1 = static_cast<int>(int64_t{p.h} * (index + 1) / count);
}

// The rows other workers read: the first and last kHalo rows of the band.
void EdgeLumaWorker(int32_t index, int32_t count, void* data) {
  const FrameJob* job = static_cast<const FrameJob*>(data);
  const LumaLines luma = LumaLinesFrom(job->temp, 0);
  int r0, r1;
  BandOf(job->edit, index, count, &r0, &r1);
  const int top_end = std::min(r0 + kHalo, r1);
  for (int y = r0; y < top_end; ++y) LoadLuma(job, y, luma[y]);
  for (int y = std::max(r1 - kHalo, top_end); y < r1; ++y) LoadLuma(job, y, luma[y]);
}

struct PassGeometry {
  int dx, dy, kx, ex, ey;
};

// Pass geometry for shift index s: blocks at x = dx + 8i < w - 8 and y = dy + 8j < h - 8; the
// processed area ends at column ex and row ey.
PassGeometry GeometryOf(const Plane& p, int s) {
  PassGeometry g;
  g.dx = ShiftTable[s][0];
  g.dy = ShiftTable[s][1];
  g.kx = g.dx < p.w - 8 ? (p.w - 8 - g.dx + 7) / 8 : 0;
  const int ky = g.dy < p.h - 8 ? (p.h - 8 - g.dy + 7) / 8 : 0;
  g.ex = g.dx + 8 * g.kx;
  g.ey = g.dy + 8 * ky;
  return g;
}

// Where one strip's passes read and add. Rows [s0, s1) of band [r0, r1); blocks with top row in
// [lo, s1), of which only rows inside the band are added. Row y's luma is luma[y - origin]
// (upper[y] for blocks that start above s0); its sums are partial[y - origin], or, where the strip
// has no partial sums, acc[y - origin].
struct Strip {
  int r0, r1, lo, s0, s1;
  LumaLines upper;
  LumaLines luma;
  PartialLines partial;
  AccLines acc;
  int origin;
  bool wide;
};

void PassOverStrip(const FrameJob* job, const PassGeometry& g, const Strip& st) {
  const VelourDsp& dsp = *job->dsp;
  const int w = job->edit.w;
  if (g.kx > 0) {
    int y = std::max(st.lo, g.dy);
    y = g.dy + (y - g.dy + 7) / 8 * 8;
    for (; y < st.s1 && y < g.ey; y += 8) {
      const int i0 = std::max(st.r0 - y, 0), i1 = std::min(st.r1 - y, 8);
      const bool above = y < st.s0;
      const int16_t* src = (above ? st.upper[y] : st.luma[y - st.origin]) + g.dx;
      const ptrdiff_t src_pitch = above ? st.upper.pitch : st.luma.pitch;
      if (st.wide)
        dsp.FilterBlockRowWide(src, src_pitch, st.acc[y - st.origin] + g.dx, st.acc.pitch, g.kx, i0, i1,
                               job->steps);
      else
        dsp.FilterBlockRow(src, src_pitch, st.partial[y - st.origin] + g.dx, st.partial.pitch, g.kx, i0, i1,
                           job->steps);
    }
  }
  // Border: the columns of rows [s0, s1) that no block of the pass covers, [0, x0) and [x1, w).
  for (int y = st.s0; y < st.s1; ++y) {
    const int16_t* l = st.luma[y - st.origin];
    const bool whole = y < g.dy || y >= g.ey || g.kx == 0;
    const int x0 = whole ? w : std::min(g.dx, w), x1 = whole ? w : g.ex;
    if (st.wide) {
      AccSample* a = st.acc[y - st.origin];
      dsp.AddRowWide(l, a, x0);
      dsp.AddRowWide(l + x1, a + x1, w - x1);
    } else {
      int16_t* p = st.partial[y - st.origin];
      dsp.AddRow(l, p, x0);
      dsp.AddRow(l + x1, p + x1, w - x1);
    }
  }
}

// Any band: luma and accumulator of row y stay in temp row y.
void DirectBand(const FrameJob* job, const PassGeometry* geometry, int r0, int r1) {
  const VelourDsp& dsp = *job->dsp;
  const Plane& edit = job->edit;
  const int w = edit.w;
  const LumaLines luma = LumaLinesFrom(job->temp, 0);
  const AccLines acc = AccLinesFrom(job->temp, 0);
  int luma_done = std::min(r0 + kHalo, r1);               // rows [r0, luma_done) converted
  const int luma_tail = std::max(r1 - kHalo, luma_done);  // rows from here on converted too
  int seeded = r0;
  for (int s0 = r0; s0 < r1; s0 += kStrip) {
    const int s1 = std::min(s0 + kStrip, r1);
    const int reach = std::min(s1 + kHalo, r1);
    for (; luma_done < std::min(reach, luma_tail); ++luma_done) LoadLuma(job, luma_done, luma[luma_done]);
    for (; seeded < reach; ++seeded) dsp.SeedRow(luma[seeded], acc[seeded], w, job->zero_weight);
    // The first strip also takes the blocks that start in the band above and reach into this one.
    const Strip strip{r0, r1, s0 == r0 ? r0 - kHalo : s0, s0, s1, luma, luma, {}, acc, 0, true};
    for (int s = 0; s < job->passes; ++s) PassOverStrip(job, geometry[s], strip);
    for (int y = s0; y < s1; ++y) StoreLuma(job, y, acc[y]);
  }
}

// Bands of at least kWindowBand rows: the rows of a strip and the 7 below it live in a window of
// kWindow lines of luma and of 32-bit sums, kept in the temp rows right after the band's first 7
// (which, like its last 7, hold luma that the neighbouring bands read), and of kWindow lines of
// 16-bit partial sums in the temp rows after those. The window is reused for every strip, so it
// stays in the cache and the temp plane costs no memory traffic; a strip moves its last 7 lines of
// luma and of sums to the top for the next one. The passes add into the partial sums, at most
// kPartialContributions of them before a fold adds them into the 32-bit sums and clears them, so
// every partial sum is zero between strips.
constexpr int kWindowStrip = 16;
constexpr int kWindow = kWindowStrip + kHalo;
constexpr int kWindowBand = 2 * kHalo + 2 * kWindow;

void WindowBand(const FrameJob* job, const PassGeometry* geometry, int r0, int r1) {
  const VelourDsp& dsp = *job->dsp;
  const Plane& edit = job->edit;
  const int w = edit.w, h = edit.h;
  const size_t luma_bytes = sizeof(int16_t) * static_cast<size_t>(w);
  const size_t acc_bytes = sizeof(AccSample) * static_cast<size_t>(w);
  const LumaLines direct = LumaLinesFrom(job->temp, 0);
  const LumaLines wl = LumaLinesFrom(job->temp, r0 + kHalo);
  const AccLines wa = AccLinesFrom(job->temp, r0 + kHalo);
  const PartialLines wp = {reinterpret_cast<char*>(core::PlaneRow(job->temp, r0 + kHalo + kWindow)),
                           Pitch(job->temp)};
  for (int k = 0; k < kWindow; ++k) std::memset(wp[k], 0, luma_bytes);
  for (int s0 = r0; s0 < r1; s0 += kWindowStrip) {
    const int s1 = std::min(s0 + kWindowStrip, r1);
    int luma_from = s0, acc_from = s0;
    if (s0 != r0) {
      const int carry_luma = std::min(kHalo, h - s0), carry_acc = std::min(kHalo, r1 - s0);
      for (int i = 0; i < carry_luma; ++i) std::memcpy(wl[i], wl[kWindowStrip + i], luma_bytes);
      for (int i = 0; i < carry_acc; ++i) std::memcpy(wa[i], wa[kWindowStrip + i], acc_bytes);
      luma_from += carry_luma;
      acc_from += carry_acc;
    }
    for (int y = luma_from; y < std::min(s1 + kHalo, h); ++y) {
      if (y >= r0 + kHalo && y < r1 - kHalo) LoadLuma(job, y, wl[y - s0]);
      else std::memcpy(wl[y - s0], direct[y], luma_bytes);  // converted in the first round
    }
    const int reach = std::min(s1 + kHalo, r1);  // the rows the strip's passes add into
    for (int y = acc_from; y < reach; ++y) dsp.SeedRow(wl[y - s0], wa[y - s0], w, job->zero_weight);
    const Strip strip{r0, r1, s0 == r0 ? r0 - kHalo : s0, s0, s1, direct, wl, wp, wa, s0, false};
    for (int first = 0; first < job->passes; first += kPartialContributions) {
      const int last = std::min(first + kPartialContributions, static_cast<int>(job->passes));
      for (int s = first; s < last; ++s) PassOverStrip(job, geometry[s], strip);
      for (int y = s0; y < reach; ++y) dsp.FoldRow(wp[y - s0], wa[y - s0], w);
    }
    for (int y = s0; y < s1; ++y) StoreLuma(job, y, wa[y - s0]);
  }
}

void BandWorker(int32_t index, int32_t count, void* data) {
  const FrameJob* job = static_cast<const FrameJob*>(data);
  int r0, r1;
  BandOf(job->edit, index, count, &r0, &r1);
  if (r0 >= r1) return;
  PassGeometry geometry[64];
  for (int s = 0; s < job->passes; ++s) geometry[s] = GeometryOf(job->edit, s);
  if (r1 - r0 >= kWindowBand) WindowBand(job, geometry, r0, r1);
  else DirectBand(job, geometry, r0, r1);
}

}  // namespace

namespace {

void Run(FrameJob& job, const VelourParams& params, int32_t partitions, const core::Workers& workers) {
  job.passes = PassCount(params.n_shift, partitions);
  job.zero_weight = params.zero_weight;
  job.weight = job.zero_weight + job.passes;
  LoadStepTable(job.steps, params.matrix);
  ScaleStepTable(job.steps, params.quant);
  if (job.edit.w <= 0 || job.edit.h <= 0) return;
  core::RunWorkers(workers, &EdgeLumaWorker, &job);
  core::RunWorkers(workers, &BandWorker, &job);
}

}  // namespace

void FilterFrame(const VelourDsp& dsp, const VelourParams& params, const Plane& edit, const Plane& temp,
                 int32_t partitions, const core::Workers& workers) {
  FrameJob job;
  job.dsp = &dsp;
  job.edit = edit;
  job.rgba_dsp = nullptr;
  job.rgba = {};
  job.temp = temp;
  Run(job, params, partitions, workers);
}

void FilterFrameRgba(const VelourDsp& dsp, const core::RgbaDsp& rgba_dsp, const VelourParams& params,
                     const core::RgbaImage& image, const Plane& temp, int32_t partitions,
                     const core::Workers& workers) {
  FrameJob job;
  job.dsp = &dsp;
  job.edit = {nullptr, image.w, image.h, image.w};
  job.rgba_dsp = &rgba_dsp;
  job.rgba = image;
  job.temp = temp;
  Run(job, params, partitions, workers);
}

void FilterWithTracks(core::CpuFlags flags, const int32_t* tracks, const Plane& edit, const Plane& temp,
                      int32_t partitions, const core::Workers& workers) {
  FilterFrame(VelourDspFor(flags), ParamsFromTracks(tracks), edit, temp, partitions, workers);
}

void FilterRgbaWithTracks(core::CpuFlags flags, const int32_t* tracks, const core::RgbaImage& image,
                          const Plane& temp, int32_t partitions, const core::Workers& workers) {
  FilterFrameRgba(VelourDspFor(flags), core::RgbaDspFor(flags), ParamsFromTracks(tracks), image, temp,
                  partitions, workers);
}

}  // namespace velour
