// The frame driver the host calls. Working luma and the accumulator live as two contiguous 16-bit
// rows inside each row of the temp plane (4 of its 6 bytes per pixel), so no memory is allocated.
// The frame's rows are split into one band per worker; a worker runs every pass over its own band,
// recomputing the blocks that straddle a band edge and adding only their rows inside the band.
// So no two workers write the same sample, and the sum per pixel is the same as when the passes
// of a batch run side by side over the whole frame: additions modulo 65536 commute.
#include <algorithm>

#include "velour/velour.h"
#include "velour/velour_dsp.h"
#include "velour/velour_tables.h"

namespace velour {
namespace {

using host::FrameInfo;
using host::HostFilter;
using host::YcPixel;

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
inline ptrdiff_t PlaneStride(const FrameInfo* fi) { return static_cast<ptrdiff_t>(fi->stride) * 3; }

inline void BandOf(const FrameInfo* fi, int index, int count, int* r0, int* r1) {
  *r0 = static_cast<int>(int64_t{fi->h} * index / count);
  *r1 = static_cast<int>(int64_t{fi->h} * (index + 1) / count);
}

void AddLuma(const int16_t* luma, int16_t* acc, int x0, int x1) {
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

AUF_HOST_ENTRY void AUF_CDECL PrepareWorker(int index, int count, void* param1, void*) {
  const FrameJob* job = static_cast<const FrameJob*>(param1);
  const FrameInfo* fi = job->frame;
  int r0, r1;
  BandOf(fi, index, count, &r0, &r1);
  for (int y = r0; y < r1; ++y) {
    const YcPixel* src = fi->edit + static_cast<ptrdiff_t>(y) * fi->stride;
    int16_t* luma = LumaRow(fi, y);
    int16_t* acc = AccRow(fi, y);
    for (int x = 0; x < fi->w; ++x) {
      const int16_t v = static_cast<int16_t>(src[x].y >> 4);
      luma[x] = v;
      acc[x] = static_cast<int16_t>(v * job->zero_weight);
    }
  }
}

void PassOverBand(const FrameJob* job, int s, int r0, int r1) {
  const FrameInfo* fi = job->frame;
  const int w = fi->w, h = fi->h;
  const int dx = ShiftTable[s][0], dy = ShiftTable[s][1];
  const int kx = dx < w - 8 ? (w - 8 - dx + 7) / 8 : 0;
  const int ky = dy < h - 8 ? (h - 8 - dy + 7) / 8 : 0;
  const int ex = dx + 8 * kx, ey = dy + 8 * ky;
  const ptrdiff_t ps = PlaneStride(fi);

  if (kx > 0) {
    int y0 = r0 <= dy ? dy : dy + (r0 - dy) / 8 * 8;
    for (; y0 < ey && y0 < r1; y0 += 8) {
      const int i0 = std::max(r0 - y0, 0), i1 = std::min(r1 - y0, 8);
      job->dsp->FilterBlockRow(LumaRow(fi, y0) + dx, ps, AccRow(fi, y0) + dx, ps, kx, i0, i1, job->steps);
    }
  }
  for (int y = r0; y < r1; ++y) {
    const int16_t* luma = LumaRow(fi, y);
    int16_t* acc = AccRow(fi, y);
    if (y < dy || y >= ey || kx == 0) {
      AddLuma(luma, acc, 0, w);
    } else {
      AddLuma(luma, acc, 0, std::min(dx, w));
      AddLuma(luma, acc, ex, w);
    }
  }
}

AUF_HOST_ENTRY void AUF_CDECL BandWorker(int index, int count, void* param1, void*) {
  const FrameJob* job = static_cast<const FrameJob*>(param1);
  const FrameInfo* fi = job->frame;
  int r0, r1;
  BandOf(fi, index, count, &r0, &r1);
  for (int s = 0; s < job->passes; ++s) PassOverBand(job, s, r0, r1);
  for (int y = r0; y < r1; ++y) {
    YcPixel* dst = fi->edit + static_cast<ptrdiff_t>(y) * fi->stride;
    const int16_t* acc = AccRow(fi, y);
    for (int x = 0; x < fi->w; ++x) dst[x].y = AverageSample(acc[x], job->weight);
  }
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

  RunOnWorkers(filter, &PrepareWorker, &job);
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
  host::FilterTable t{};
  t.flags = host::kFilterFlags;
  t.name = kName;
  t.track_count = kTrackCount;
  t.track_names = kTrackNames;
  t.track_defaults = kTrackDefaults;
  t.track_minimums = kTrackMinimums;
  t.track_maximums = kTrackMaximums;
  t.process = process;
  t.information = kInformation;
  return t;
}

host::FilterTable g_table = MakeTable(&ProcessFrameDetected);
host::FilterTable g_tier_tables[3] = {MakeTable(&ProcessFrameTier<0>),
                                      MakeTable(&ProcessFrameTier<host::kCpuSse2>),
                                      MakeTable(&ProcessFrameTier<host::kCpuSse2 | host::kCpuAvx2>)};

}  // namespace

host::FilterTable* VelourFilterTable() { return &g_table; }

host::FilterTable* VelourFilterTableForTier(host::CpuFlags flags) {
  if (flags & host::kCpuAvx2) return &g_tier_tables[2];
  if (flags & host::kCpuSse2) return &g_tier_tables[1];
  return &g_tier_tables[0];
}

}  // namespace velour
