// The frame driver: one run of the workers, a wavefront over the grid rows.
//
// The result is defined as one thread filtering the grid rows of the band partition for T (the
// partition count) in order: band 0's rows, then band 1's, and so on. Call that sequence of grid rows k = 0
// .. K-1, at rows y_k; y_k strictly increases with k, and y_k - y_(k-1) <= 4 (a band's rows are 4 apart; the
// next non-empty band starts where the previous one ends, at most 4 rows below its last grid row). That chain
// is the whole difficulty: grid row k reads (rows y-3 .. y+2 of its horizontal edges) what grid row k-1 wrote
// (rows y'-2 .. y'+3), so a band cannot start before the band above has filtered its last row, and one worker
// per band would run one after another. The parallelism is along the row instead.
//
// Each grid row is cut into segments of grid columns, s = 0 .. S-1; segment s holds the grid
// points x in [X0, X1) and filters their horizontal edges, then their vertical edges (a reordering
// of the row proven exact in deblock_dsp.h). Its footprint is rows y-3 .. y+3, columns X0-3 .. X1-1.
// Segments (k, s) and (k', s') with k' < k can share a sample only when |y_k - y_k'| <= 6 and
// |s - s'| <= 1. Rule: segment (k, s) starts only after grid row k-1 has finished segments
// 0 .. min(s+1, S-1). By induction row k-1 had, before its segment s+1, row k-2 at s+2 done, and so
// on: row k-j has finished segments 0 .. min(s+j, S-1), every earlier segment that (k, s) can
// share a sample with. The progress flags are stored with release after a segment and loaded with
// acquire before one, so each such pair is ordered by happens-before, in the reference order: the
// result equals the reference, and no two workers touch a sample at the same time while one writes.
//
// Rows are handed out in order from an atomic counter, not by band: whichever worker is free takes
// the next grid row, so any number of workers computes the result of any partition count. A worker
// only waits for rows with a smaller k, which were handed out earlier to a worker that is running
// (or has finished) them, so the smallest unfinished row can always go on: no deadlock, also when
// the service runs the workers one after another on one thread (there worker 0 takes every row and
// the others find none).
//
// Progress lives in a ring of kRing slots on FilterFrame's stack: slot k % kRing belongs to row k,
// and holds (k mod 2^16) << 16 | segments done, so a reader never mistakes the previous row of the
// slot (k - kRing) for row k. Row k takes over its slot only after row k-kRing+1 is done: then row
// k-kRing (the slot's last owner) and row k-kRing+1 (which waited on its progress) no longer use
// it, and row k-1 (which read it for its own take-over) has done so before row k's first segment
// can start. At most kRing-1 rows are in flight.
#include <algorithm>
#include <atomic>
#include <thread>

#include "deblock/deblock.h"
#include "deblock/deblock_dsp.h"

namespace deblock {
namespace {

using core::Plane;
using core::YcPixel;

constexpr int kRing = 32;
constexpr int kMinSegmentColumns = 8;  // grid columns: 32 pixels
constexpr int kTargetSegments = 16;

// Own cache line for each slot: neighbouring slots are written by different workers.
struct ProgressSlot {
  std::atomic<uint32_t> value;
  char pad[64 - sizeof(std::atomic<uint32_t>)];
};

struct FrameJob {
  const DeblockDsp* dsp;
  Plane edit;
  Thresholds thresholds;
  int32_t partitions;  // >= 1
  std::atomic<int32_t> next_row;
  int32_t segments;  // most segments of a row for any worker count: fits the 16-bit count of a slot
  ProgressSlot slots[kRing];
};

inline uint32_t Pack(int64_t row, int32_t done) {
  return (static_cast<uint32_t>(row) & 0xFFFFu) << 16 | static_cast<uint32_t>(done);
}

inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

// Waits until `slot` shows row `row` with at least `need` segments done; returns how many.
inline int32_t WaitForRow(const ProgressSlot& slot, int64_t row, int32_t need) {
  const uint32_t tag = Pack(row, 0);
  for (int spins = 0;; ++spins) {
    const uint32_t v = slot.value.load(std::memory_order_acquire);
    if ((v & 0xFFFF0000u) == tag && static_cast<int32_t>(v & 0xFFFFu) >= need) return v & 0xFFFFu;
    if (spins < 256) {
      CpuRelax();
    } else {
      std::this_thread::yield();
    }
  }
}

// Maps the ascending grid-row indexes one worker takes to rows y, walking the bands.
class GridRows {
 public:
  GridRows(int h, int bands) : h_(h), bands_(bands) { Enter(0); }

  // Row y of grid row k; false when k is past the last grid row. k must not decrease.
  bool RowOf(int64_t k, int* y) {
    while (k >= base_ + count_) {
      if (band_ + 1 >= bands_) return false;
      base_ += count_;
      Enter(band_ + 1);
    }
    *y = static_cast<int>(first_ + 4 * (k - base_));
    return true;
  }

 private:
  void Enter(int band) {
    band_ = band;
    int64_t start = int64_t{h_} * band / bands_;
    const int64_t end = int64_t{h_} * (band + 1) / bands_;
    if (start == 0) start = 4;
    first_ = start;
    count_ = start < end ? (end - 1 - start) / 4 + 1 : 0;
  }

  int h_, bands_;
  int band_ = 0;
  int64_t base_ = 0, first_ = 0, count_ = 0;
};

// Segments of a grid row for T workers. Each costs a look at the row above and a progress store
// that the next row's worker reads from another core, so a row has only as many as keep T rows
// going (a row starts two segments behind the one above). More workers never get fewer.
inline void SegmentsFor(int grid_cols, int workers, int32_t* columns, int32_t* segments) {
  const int target = std::min(kTargetSegments, 4 * std::max(workers, 1));
  *columns = std::max(kMinSegmentColumns, (grid_cols + target - 1) / target);
  *segments = (grid_cols + *columns - 1) / *columns;
}

// Segment s of grid row y: the grid points x = 4 * (j + 1) for the grid-column indexes j in
// [s * C, min((s + 1) * C, G)). Edge lines with a sample outside the picture are left out.
inline void FilterSegment(const DeblockDsp& dsp, const Plane& edit, const Thresholds& t, int cols,
                          int grid_cols, int s, int y) {
  const int w = edit.w, h = edit.h;
  const int x0 = 4 * (s * cols + 1);
  const int x_last = 4 * std::min((s + 1) * cols, grid_cols);
  const ptrdiff_t stride = edit.stride;
  YcPixel* pix = core::PlaneRow(edit, y) + x0;
  // Horizontal edges: rows y-3 .. y+2 inside, columns x0 .. x_last+3 cut at w.
  if (y >= 3 && y + 3 <= h)
    dsp.FilterHorizontalEdges(pix, stride, std::min(x_last + 4, w) - x0, t.alpha, t.beta, t.tc0);
  // Vertical edges: columns x-3 .. x+2 inside (x <= w-3), rows y .. y+3 cut at h.
  const int x_lim = std::min(x_last, w - 3);
  if (x_lim >= x0)
    dsp.FilterVerticalEdges(pix, stride, (x_lim - x0) / 4 + 1, std::min(4, h - y), t.alpha, t.beta, t.tc0);
}

void DeblockWorker(int32_t, int32_t count, void* data) {
  FrameJob* job = static_cast<FrameJob*>(data);
  const Plane& edit = job->edit;
  const int grid_cols = edit.w > 4 ? (edit.w - 1) / 4 : 0;
  int32_t cols, segments;
  SegmentsFor(grid_cols, count, &cols, &segments);
  if (segments == 0 || edit.h <= 0) return;
  GridRows rows(edit.h, job->partitions);
  for (;;) {
    const int64_t k = job->next_row.fetch_add(1, std::memory_order_relaxed);
    int y;
    if (!rows.RowOf(k, &y)) return;
    ProgressSlot& mine = job->slots[k % kRing];
    const ProgressSlot& above = job->slots[(k + kRing - 1) % kRing];  // row k-1
    // Row k-kRing+1 done: the slot's last owner and its reader are finished with it.
    WaitForRow(job->slots[(k + 1) % kRing], k - kRing + 1, segments);
    int32_t seen = 0;
    for (int s = 0; s < segments; ++s) {
      const int32_t need = std::min(s + 2, segments);
      if (seen < need) seen = WaitForRow(above, k - 1, need);
      FilterSegment(*job->dsp, edit, job->thresholds, cols, grid_cols, s, y);
      mine.value.store(Pack(k, s + 1), std::memory_order_release);
    }
  }
}

}  // namespace

void FilterFrame(const DeblockDsp& dsp, const DeblockParams& params, const Plane& edit, int32_t partitions,
                 const core::Workers& workers) {
  FrameJob job;
  job.dsp = &dsp;
  job.edit = edit;
  job.thresholds = ThresholdsFor(params);
  job.partitions = std::max(partitions, 1);
  if (ChangesNothing(job.thresholds)) return;
  job.next_row.store(0, std::memory_order_relaxed);
  const int grid_cols = edit.w > 4 ? (edit.w - 1) / 4 : 0;
  int32_t cols;
  SegmentsFor(grid_cols, kTargetSegments, &cols, &job.segments);
  // Slot i starts as "row i - kRing, finished" (with at least as many segments as any worker
  // counts): row k's predecessor check for k < kRing and its take-over check for k < kRing - 1
  // pass at once (row -1 stands for "no row above").
  for (int i = 0; i < kRing; ++i)
    job.slots[i].value.store(Pack(i - kRing, job.segments), std::memory_order_relaxed);
  // The service's start and return order the job's set-up and the workers' writes.
  core::RunWorkers(workers, &DeblockWorker, &job);
}

void FilterWithTracks(core::CpuFlags flags, const int32_t* tracks, const Plane& edit, const Plane&,
                      int32_t partitions, const core::Workers& workers) {
  DeblockDsp dsp;
  InitDeblockDsp(dsp, flags);
  FilterFrame(dsp, ParamsFromTracks(tracks), edit, partitions, workers);
}

}  // namespace deblock
