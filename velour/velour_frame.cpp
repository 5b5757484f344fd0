// The frame driver the host calls. No memory is allocated: working luma and the accumulator live
// as 16-bit lines inside the rows of the temp plane (a temp row has room for three lines of w).
// The frame's rows are split into one band per worker; a worker runs every pass over its own band,
// recomputing the blocks that straddle a band edge and adding only their rows inside the band.
// So no two workers write the same sample, and the sum per pixel is the same as when the passes
// of a batch run side by side over the whole frame: additions modulo 65536 commute.
//
// Within a band the work goes down in strips of rows. For each strip every pass filters the block
// rows whose top row lies in the strip (their lower rows reach up to 7 rows into the next strip),
// so once a strip is done its rows have all their contributions and go straight to the output,
// while the rows the passes touch stay in the cache.
//
// A worker also reads up to 7 rows of luma on either side of its band. Those rows are converted
// in a first round (every worker converts the 7 rows at each end of its band, into temp row y for
// row y); the rest of a band is converted by its own worker as the strips reach it, before its
// edit rows are overwritten.
#include <algorithm>
#include <cstring>

#include "host/filter_record.h"
#include "velour/velour.h"
#include "velour/velour_dsp.h"
#include "velour/velour_tables.h"

namespace velour {
namespace {

using host::FrameInfo;
using host::HostFilter;
using host::YcPixel;

constexpr int kStrip = 8;
constexpr int kHalo = 7;  // rows a block reaches past its top row

struct FrameJob {
  const VelourDsp* dsp;
  FrameInfo* frame;
  int16_t steps[64];
  int32_t passes;
  int32_t zero_weight;
  int32_t weight;
};

inline int16_t* LumaRow(const FrameInfo* fi, int y) {
  return reinterpret_cast<int16_t*>(fi->temp + static_cast<ptrdiff_t>(y) * fi->stride);
}
inline int16_t* AccRow(const FrameInfo* fi, int y) { return LumaRow(fi, y) + fi->w; }
inline int16_t* EditY(const FrameInfo* fi, int y) {
  return &fi->edit[static_cast<ptrdiff_t>(y) * fi->stride].y;
}
inline ptrdiff_t PlaneStride(const FrameInfo* fi) { return static_cast<ptrdiff_t>(fi->stride) * 3; }

inline void BandOf(const FrameInfo* fi, int index, int count, int* r0, int* r1) {
  *r0 = static_cast<int>(int64_t{fi->h} * index / count);
  *r1 = static_cast<int>(int64_t{fi->h} * (index + 1) / count);
}

inline void AddLuma(const int16_t* luma, int16_t* acc, int x0, int x1) {
  for (int x = x0; x < x1; ++x)
    acc[x] = static_cast<int16_t>(static_cast<uint16_t>(acc[x]) + static_cast<uint16_t>(luma[x]));
}

void AUF_CDECL ReportThreadCount(int t, int n, void* record, void*) {
  if (t >= 0 && t < 8) static_cast<int32_t*>(record)[t] = n;
}

void RunOnWorkers(HostFilter* filter, host::WorkerProc proc, void* param) {
  filter->host_functions->RunOnWorkers(proc, param, nullptr);
}

int32_t CountWorkers(HostFilter* filter) {
  int32_t slots[8] = {};
  filter->host_functions->RunOnWorkers(&ReportThreadCount, slots, nullptr);
  int32_t t = 1;
  for (int i = 0; i < 8; ++i) t = std::max(t, slots[i]);
  return t;
}

// The rows other workers read: the first and last kHalo rows of the band.
AUF_HOST_ENTRY void AUF_CDECL EdgeLumaWorker(int index, int count, void* param1, void*) {
  const FrameJob* job = static_cast<const FrameJob*>(param1);
  const FrameInfo* fi = job->frame;
  int r0, r1;
  BandOf(fi, index, count, &r0, &r1);
  const int top_end = std::min(r0 + kHalo, r1);
  for (int y = r0; y < top_end; ++y) job->dsp->LumaRow(EditY(fi, y), LumaRow(fi, y), fi->w);
  for (int y = std::max(r1 - kHalo, top_end); y < r1; ++y) job->dsp->LumaRow(EditY(fi, y), LumaRow(fi, y), fi->w);
}

struct PassGeometry {
  int dx, dy, kx, ex, ey;
};

// Pass geometry for shift index s: blocks at x = dx + 8i < w - 8 and y = dy + 8j < h - 8; the
// processed area ends at column ex and row ey.
PassGeometry GeometryOf(const FrameInfo* fi, int s) {
  PassGeometry g;
  g.dx = ShiftTable[s][0];
  g.dy = ShiftTable[s][1];
  g.kx = g.dx < fi->w - 8 ? (fi->w - 8 - g.dx + 7) / 8 : 0;
  const int ky = g.dy < fi->h - 8 ? (fi->h - 8 - g.dy + 7) / 8 : 0;
  g.ex = g.dx + 8 * g.kx;
  g.ey = g.dy + 8 * ky;
  return g;
}

// 16-bit lines `stride` samples apart, line k at base + k * stride.
struct Lines {
  int16_t* base;
  ptrdiff_t stride;
  int16_t* operator[](ptrdiff_t k) const { return base + k * stride; }
};

// One pass for the block rows with top row in [lo, s1) and the border samples of rows [s0, s1),
// adding only into band rows [r0, r1). Row y's luma is luma[y - origin] (upper[y - upper_origin]
// for blocks that start above s0) and its accumulator acc[y - origin].
void PassOverStrip(const FrameJob* job, const PassGeometry& g, int r0, int r1, int lo, int s0, int s1, const Lines& upper,
                   int upper_origin, const Lines& luma, const Lines& acc, int origin) {
  const VelourDsp& dsp = *job->dsp;
  const int w = job->frame->w;
  if (g.kx > 0) {
    int y = std::max(lo, g.dy);
    y = g.dy + (y - g.dy + 7) / 8 * 8;
    for (; y < s1 && y < g.ey; y += 8) {
      const int i0 = std::max(r0 - y, 0), i1 = std::min(r1 - y, 8);
      const bool above = y < s0;
      const int16_t* src = above ? upper[y - upper_origin] : luma[y - origin];
      dsp.FilterBlockRow(src + g.dx, above ? upper.stride : luma.stride, acc[y - origin] + g.dx, acc.stride, g.kx, i0, i1, job->steps);
    }
  }
  for (int y = s0; y < s1; ++y) {
    const int16_t* l = luma[y - origin];
    int16_t* a = acc[y - origin];
    if (y < g.dy || y >= g.ey || g.kx == 0) {
      dsp.AddRow(l, a, w);
    } else {
      AddLuma(l, a, 0, std::min(g.dx, w));
      AddLuma(l, a, g.ex, w);
    }
  }
}

// Any band: luma and accumulator of row y stay in temp row y.
void DirectBand(const FrameJob* job, const PassGeometry* geometry, int r0, int r1) {
  const FrameInfo* fi = job->frame;
  const VelourDsp& dsp = *job->dsp;
  const int w = fi->w;
  const Lines luma{LumaRow(fi, 0), PlaneStride(fi)}, acc{AccRow(fi, 0), PlaneStride(fi)};
  int luma_done = std::min(r0 + kHalo, r1);               // rows [r0, luma_done) converted
  const int luma_tail = std::max(r1 - kHalo, luma_done);  // rows from here on converted too
  int seeded = r0;
  for (int s0 = r0; s0 < r1; s0 += kStrip) {
    const int s1 = std::min(s0 + kStrip, r1);
    const int reach = std::min(s1 + kHalo, r1);
    for (; luma_done < std::min(reach, luma_tail); ++luma_done) dsp.LumaRow(EditY(fi, luma_done), luma[luma_done], w);
    for (; seeded < reach; ++seeded) dsp.SeedRow(luma[seeded], acc[seeded], w, job->zero_weight);
    // The first strip also takes the blocks that start in the band above and reach into this one.
    const int lo = s0 == r0 ? r0 - kHalo : s0;
    for (int s = 0; s < job->passes; ++s) PassOverStrip(job, geometry[s], r0, r1, lo, s0, s1, luma, 0, luma, acc, 0);
    for (int y = s0; y < s1; ++y) dsp.AverageRow(acc[y], EditY(fi, y), w, job->weight);
  }
}

// Bands of at least kWindowBand rows: the rows of a strip and the 7 below it live in a window of
// kWindow lines of luma and of accumulator, kept in the temp rows right after the band's first 7
// (which, like its last 7, hold luma that the neighbouring bands read). The window is reused for
// every strip, so it stays in the cache and the temp plane costs no memory traffic; a strip moves
// its last 7 lines to the top for the next one.
constexpr int kWindowStrip = 16;
constexpr int kWindow = kWindowStrip + kHalo;
constexpr int kWindowBand = 2 * kHalo + kWindow;

void WindowBand(const FrameJob* job, const PassGeometry* geometry, int r0, int r1) {
  const FrameInfo* fi = job->frame;
  const VelourDsp& dsp = *job->dsp;
  const int w = fi->w, h = fi->h;
  const size_t bytes = static_cast<size_t>(w) * sizeof(int16_t);
  const Lines direct{LumaRow(fi, 0), PlaneStride(fi)};
  const Lines wl{LumaRow(fi, r0 + kHalo), PlaneStride(fi)}, wa{AccRow(fi, r0 + kHalo), PlaneStride(fi)};
  for (int s0 = r0; s0 < r1; s0 += kWindowStrip) {
    const int s1 = std::min(s0 + kWindowStrip, r1);
    int luma_from = s0, acc_from = s0;
    if (s0 != r0) {
      const int carry_luma = std::min(kHalo, h - s0), carry_acc = std::min(kHalo, r1 - s0);
      for (int i = 0; i < carry_luma; ++i) std::memcpy(wl[i], wl[kWindowStrip + i], bytes);
      for (int i = 0; i < carry_acc; ++i) std::memcpy(wa[i], wa[kWindowStrip + i], bytes);
      luma_from += carry_luma;
      acc_from += carry_acc;
    }
    for (int y = luma_from; y < std::min(s1 + kHalo, h); ++y) {
      if (y >= r0 + kHalo && y < r1 - kHalo) dsp.LumaRow(EditY(fi, y), wl[y - s0], w);
      else std::memcpy(wl[y - s0], direct[y], bytes);  // converted in the first round
    }
    for (int y = acc_from; y < std::min(s1 + kHalo, r1); ++y) dsp.SeedRow(wl[y - s0], wa[y - s0], w, job->zero_weight);
    const int lo = s0 == r0 ? r0 - kHalo : s0;
    for (int s = 0; s < job->passes; ++s) PassOverStrip(job, geometry[s], r0, r1, lo, s0, s1, direct, 0, wl, wa, s0);
    for (int y = s0; y < s1; ++y) dsp.AverageRow(wa[y - s0], EditY(fi, y), w, job->weight);
  }
}

AUF_HOST_ENTRY void AUF_CDECL BandWorker(int index, int count, void* param1, void*) {
  const FrameJob* job = static_cast<const FrameJob*>(param1);
  int r0, r1;
  BandOf(job->frame, index, count, &r0, &r1);
  if (r0 >= r1) return;
  PassGeometry geometry[64];
  for (int s = 0; s < job->passes; ++s) geometry[s] = GeometryOf(job->frame, s);
  if (r1 - r0 >= kWindowBand) WindowBand(job, geometry, r0, r1);
  else DirectBand(job, geometry, r0, r1);
}

int ProcessFrameWith(const VelourDsp& dsp, HostFilter* filter, FrameInfo* frame) {
  const int32_t* tracks = filter->track_values;
  int32_t v[kTrackCount];
  for (int i = 0; i < kTrackCount; ++i) v[i] = std::clamp(tracks[i], kTrackMinimums[i], kTrackMaximums[i]);

  const int32_t threads = CountWorkers(filter);
  FrameJob job;
  job.dsp = &dsp;
  job.frame = frame;
  job.passes = PassCount(v[kTrackNShift], threads);
  job.zero_weight = v[kTrackZeroWeight];
  job.weight = job.zero_weight + job.passes;
  LoadStepTable(job.steps, v[kTrackMatrix]);
  ScaleStepTable(job.steps, v[kTrackQuant]);
  if (frame->w <= 0 || frame->h <= 0) return 1;

  RunOnWorkers(filter, &EdgeLumaWorker, &job);
  RunOnWorkers(filter, &BandWorker, &job);
  return 1;
}

AUF_HOST_ENTRY int AUF_CDECL ProcessFrameDetected(HostFilter* filter, FrameInfo* frame) {
  return ProcessFrameWith(DetectedVelourDsp(), filter, frame);
}

template <host::CpuFlags kFlags>
AUF_HOST_ENTRY int AUF_CDECL ProcessFrameTier(HostFilter* filter, FrameInfo* frame) {
  static const VelourDsp dsp = [] {
    VelourDsp d;
    InitVelourDsp(d, kFlags);
    return d;
  }();
  return ProcessFrameWith(dsp, filter, frame);
}

const char* const kTrackNames[kTrackCount] = {"quant", "n_shift", "matrix", "zero_weight"};
char kName[] = "Velour for AviUtl";
char kInformation[] = "Velour for AviUtl";

constexpr host::FilterTable MakeTable(host::ProcessFrameFn process) {
  return host::MakeFilterTable(kName, kInformation, kTrackCount, kTrackNames, kTrackDefaults, kTrackMinimums,
                               kTrackMaximums, process);
}

constinit host::FilterTable g_table = MakeTable(&ProcessFrameDetected);
constinit host::FilterTable g_tier_tables[3] = {MakeTable(&ProcessFrameTier<0>),
                                               MakeTable(&ProcessFrameTier<host::kCpuSse2>),
                                               MakeTable(&ProcessFrameTier<host::kCpuSse2 | host::kCpuAvx2>)};

}  // namespace

host::FilterTable* VelourFilterTable() { return &g_table; }

host::FilterTable* VelourFilterTableForTier(host::CpuFlags flags) { return &g_tier_tables[host::TierIndex(flags)]; }

}  // namespace velour
