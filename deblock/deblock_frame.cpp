// The frame driver: one run of the workers, a wavefront over the grid rows.
//
// The result is defined as one thread filtering the grid rows of the band partition for T (the
// partition count) in order: band 0's rows, then band 1's, and so on. Call that sequence of grid rows
// k = 0 .. K-1, at rows y_k; y_k strictly increases with k, and y_k - y_(k-1) <= 4 (a band's rows are
// 4 apart; the next non-empty band starts where the previous one ends, at most 4 rows below its last
// grid row). That chain is the whole difficulty: grid row k reads (rows y-3 .. y+2 of its horizontal
// edges) what grid row k-1 wrote (rows y'-2 .. y'+3), so a band cannot start before the band above has
// filtered its last row, and one worker per band would run one after another. The parallelism is
// along the row instead.
//
// The work comes in units: a tile of four grid rows 4 apart (deblock_dsp.h: grid row j of it lags
// j * kTileShift pixels behind the first, so its last lags kTileLag), wherever four rows of a band
// allow one with all the rows it touches inside the picture, or else a single grid row (lag 0).
// Each unit is cut into segments of grid columns, s = 0 .. S-1, the same columns [X_s, X_(s+1)) for
// every unit: the segment of a single row filters its grid points in [X_s, X_(s+1)), horizontal edges
// then vertical ones (a reordering of the row proven exact in deblock_dsp.h), and the segment of a
// tile is the tile run over [X_s, X_(s+1)) (the last segment of any unit runs to the picture's right
// edge), so each of its rows does the same columns shifted left by its lag.
//
// Why that order gives the defined result. An operation at grid point x touches only columns x-3 ..
// x+3, so two operations can share a sample only when their points are at most 4 apart.
// - Within a unit: a tile runs its segments in turn, so row j's points of segment s+1 (from
//   X_(s+1) - j * kTileShift on) run after row j+1's points of segment s (below X_(s+1) - (j+1) *
//   kTileShift), while the defined order has all of row j first. Those are 16 or more apart, so
//   they share no sample and the swaps change nothing.
// - Between units: segment (k, s) starts only after unit k-1 has finished its first need(s)
//   segments: as many as it takes for its last row to have done every point up to X_(s+1) (4 past the
//   last point of unit k's first row in segment s), or all of them for the last segment. What unit
//   k-1 has not done by then lies at X_(s+1) + 4 or beyond, what unit k's segment s does at
//   X_(s+1) - 4 or before: 8 apart. So every pair of operations that can share a sample (earlier units'
//   points no more than 4 to the right) runs in the defined order, and unit k-1, having waited the same
//   way, has had unit k-2 finish still further to the right, and so on. The progress flags are stored
//   with release after a segment and loaded with acquire before one, so each such pair is ordered by
//   happens-before: the result equals the reference, and no two workers touch a sample at the same
//   time while one writes.
//
// Units are handed out in order from an atomic counter, not by band: whichever worker is free takes
// the next unit, so any number of workers computes the result of any partition count. A worker only
// waits for units with a smaller k, which were handed out earlier to a worker that is running (or
// has finished) them, so the smallest unfinished unit can always go on: no deadlock, also when the
// service runs the workers one after another on one thread (there worker 0 takes every unit and the
// others find none).
//
// Progress lives in a ring of kRing slots on FilterFrame's stack: slot k % kRing belongs to unit k,
// and holds (k mod 2^16) << 16 | segments done, so a reader never mistakes the previous unit of the
// slot (k - kRing) for unit k. Unit k takes over its slot only after unit k-kRing+1 is done: then unit
// k-kRing (the slot's last owner) and unit k-kRing+1 (which waited on its progress) no longer use it,
// and unit k-1 (which read it for its own take-over) has done so before unit k's first segment can
// start. At most kRing-1 units are in flight.
#include <algorithm>
#include <atomic>
#include <thread>

#include "deblock/deblock.h"
#include "deblock/deblock_dsp.h"

namespace deblock {
namespace {

using host::Plane;
using host::YcPixel;

constexpr int kRing = 32;
constexpr int kMinSegmentColumns = 8;  // grid columns: 32 pixels
constexpr int kTargetSegments = 16;
constexpr int kFar = 1 << 30;  // a run end past any picture's right edge

// Own cache line for each slot: neighbouring slots are written by different workers.
struct ProgressSlot {
  std::atomic<uint32_t> value;
  char pad[64 - sizeof(std::atomic<uint32_t>)];
};

struct FrameJob {
  const DeblockDsp* dsp;
  Plane edit;
  Thresholds thresholds;
  int32_t partitions;  // 0: the run's worker count
  std::atomic<int32_t> next_unit;
  int32_t segments;  // most segments of a row for any worker count: fits the 16-bit count of a slot
  ProgressSlot slots[kRing];
};

inline uint32_t Pack(int64_t unit, int32_t done) {
  return (static_cast<uint32_t>(unit) & 0xFFFFu) << 16 | static_cast<uint32_t>(done);
}

inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

// Waits until `slot` shows unit `unit` with at least `need` segments done; returns how many.
inline int32_t WaitForUnit(const ProgressSlot& slot, int64_t unit, int32_t need) {
  const uint32_t tag = Pack(unit, 0);
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

// A unit of work: the grid row at y, or the tile of grid rows y .. y + 12; and whether the unit
// before it is a tile.
struct Unit {
  int y;
  bool tile;
  bool after_tile;
};

// Maps the ascending unit indexes one worker takes to units, walking the bands: each band's grid
// rows make as many tiles as fit from its first row on, then single rows.
class Units {
 public:
  Units(int h, int bands) : h_(h), bands_(bands) { Enter(0); }

  // Unit k; false when k is past the last. k must not decrease.
  bool At(int64_t k, Unit* u) {
    while (k >= base_ + tiles_ + singles_) {
      if (band_ + 1 >= bands_) return false;
      if (tiles_ + singles_ > 0) last_is_tile_ = singles_ == 0;
      base_ += tiles_ + singles_;
      Enter(band_ + 1);
    }
    const int64_t i = k - base_;
    const bool after_tile = i == 0 ? last_is_tile_ : i - 1 < tiles_;
    if (i < tiles_) *u = {static_cast<int>(first_ + 4 * kTileRows * i), true, after_tile};
    else *u = {static_cast<int>(first_ + 4 * (kTileRows * tiles_ + i - tiles_)), false, after_tile};
    return true;
  }

 private:
  void Enter(int band) {
    band_ = band;
    int64_t start = int64_t{h_} * band / bands_;
    const int64_t end = int64_t{h_} * (band + 1) / bands_;
    if (start == 0) start = 4;
    first_ = start;
    const int64_t rows = start < end ? (end - 1 - start) / 4 + 1 : 0;
    // A tile at y touches rows y-3 .. y+15.
    const int64_t fit = start >= 3 && start + 4 * kTileRows <= h_ ? (h_ - 4 * kTileRows - start) / 16 + 1 : 0;
    tiles_ = std::min(rows / kTileRows, fit);
    singles_ = rows - kTileRows * tiles_;
  }

  int h_, bands_;
  int band_ = 0;
  int64_t base_ = 0, first_ = 0, tiles_ = 0, singles_ = 0;
  bool last_is_tile_ = false;  // the last unit of the bands before this one
};

// Segments of a unit for T workers. Each costs a look at the unit above and a progress store that
// the next unit's worker reads from another core, so a unit has only as many as keep T units going
// (a unit starts a few segments behind the one above). More workers never get fewer. An even
// number of grid columns: a tile's rows go two grid points at a time.
inline void SegmentsFor(int grid_cols, int workers, int32_t* columns, int32_t* segments) {
  const int target = std::min(kTargetSegments, 4 * std::max(workers, 1));
  *columns = std::max(kMinSegmentColumns, ((grid_cols + target - 1) / target + 1) / 2 * 2);
  *segments = (grid_cols + *columns - 1) / *columns;
}

// Segments of unit k-1 that segment s of unit k waits for: until the last row of unit k-1 (lagging
// `lag` pixels) has done the points up to X_(s+1), 4 past the first row's last point in segment s.
inline int32_t SegmentsNeeded(int s, int segments, int cols, int lag) {
  if (s + 1 >= segments) return segments;
  return std::min(segments, s + 1 + (lag + 4 + 4 * cols - 1) / (4 * cols));
}

// Segment s of unit u: the grid points x in [X_s, X_(s+1)), X_s = 4 (s * cols + 1), the last
// segment to the right edge. Edge lines with a sample outside the picture are left out.
inline void FilterSegment(const DeblockDsp& dsp, const Plane& edit, const Thresholds& t, int cols,
                          int segments, int s, const Unit& u) {
  const int w = edit.w, h = edit.h;
  const int x0 = 4 * (s * cols + 1);
  const int x1 = s + 1 < segments ? 4 * ((s + 1) * cols + 1) : kFar;
  YcPixel* row = host::PlaneRow(edit, u.y);
  if (u.tile) return dsp.FilterTile(row, edit.stride, w, x0, x1, t.alpha, t.beta, t.tc0);
  // Horizontal edges where rows y-3 .. y+2 are inside; vertical ones on the rows below h.
  FilterGridRun(dsp.FilterHorizontalEdges, dsp.FilterVerticalEdges, row, edit.stride, w, std::min(4, h - u.y),
                u.y >= 3 && u.y + 3 <= h, x0, x1, t.alpha, t.beta, t.tc0);
}

void DeblockWorker(int32_t, int32_t count, void* data) {
  FrameJob* job = static_cast<FrameJob*>(data);
  const Plane& edit = job->edit;
  const int grid_cols = edit.w > 4 ? (edit.w - 1) / 4 : 0;
  int32_t cols, segments;
  SegmentsFor(grid_cols, count, &cols, &segments);
  if (segments == 0 || edit.h <= 0) return;
  const int32_t bands = job->partitions > 0 ? job->partitions : count;
  Units units(edit.h, bands < 1 ? 1 : bands);
  for (;;) {
    const int64_t k = job->next_unit.fetch_add(1, std::memory_order_relaxed);
    Unit u;
    if (!units.At(k, &u)) return;
    const int lag = u.after_tile ? kTileLag : 0;  // of unit k-1's last row
    ProgressSlot& mine = job->slots[k % kRing];
    const ProgressSlot& above = job->slots[(k + kRing - 1) % kRing];  // unit k-1
    // Unit k-kRing+1 done: the slot's last owner and its reader are finished with it.
    WaitForUnit(job->slots[(k + 1) % kRing], k - kRing + 1, segments);
    int32_t seen = 0;
    for (int s = 0; s < segments; ++s) {
      const int32_t need = SegmentsNeeded(s, segments, cols, lag);
      if (seen < need) seen = WaitForUnit(above, k - 1, need);
      FilterSegment(*job->dsp, edit, job->thresholds, cols, segments, s, u);
      mine.value.store(Pack(k, s + 1), std::memory_order_release);
    }
  }
}

}  // namespace

void FilterFrame(const DeblockDsp& dsp, const DeblockParams& params, const Plane& edit, int32_t partitions,
                 const host::Workers& workers) {
  FrameJob job;
  job.dsp = &dsp;
  job.edit = edit;
  job.thresholds = ThresholdsFor(params);
  job.partitions = partitions;
  // No line passes |p0 - q0| < 0 or |p1 - p0| < 0: with either threshold 0 (quant + offset up to 15)
  // the frame stays as it is, and there is nothing to do.
  if (job.thresholds.alpha == 0 || job.thresholds.beta == 0) return;
  job.next_unit.store(0, std::memory_order_relaxed);
  const int grid_cols = edit.w > 4 ? (edit.w - 1) / 4 : 0;
  int32_t cols;
  SegmentsFor(grid_cols, kTargetSegments, &cols, &job.segments);
  // Slot i starts as "unit i - kRing, finished" (with at least as many segments as any worker
  // counts): unit k's predecessor check for k < kRing and its take-over check for k < kRing - 1
  // pass at once (unit -1 stands for "no unit above").
  for (int i = 0; i < kRing; ++i)
    job.slots[i].value.store(Pack(i - kRing, job.segments), std::memory_order_relaxed);
  // The service's start and return order the job's set-up and the workers' writes.
  host::RunWorkers(workers, &DeblockWorker, &job);
}

void FilterWithTracks(host::CpuFlags flags, const int32_t* tracks, const Plane& edit, const Plane&,
                      int32_t partitions, const host::Workers& workers) {
  DeblockDsp dsp;
  InitDeblockDsp(dsp, flags);
  FilterFrame(dsp, ParamsFromTracks(tracks), edit, partitions, workers);
}

}  // namespace deblock
