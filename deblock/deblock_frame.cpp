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
// The work comes in units: a tile of the kernel table's shape, R grid rows 4 apart (deblock_dsp.h:
// grid row j of it lags j * S pixels behind the first, so its last lags (R - 1) S), wherever R rows
// of a band allow one with all the rows it touches inside the picture, or else a single grid row (lag
// 0).
// Each unit is cut into segments of grid columns, s = 0 .. S-1, the same columns [X_s, X_(s+1)) for
// every unit: the segment of a single row filters its grid points in [X_s, X_(s+1)), horizontal edges
// then vertical ones (a reordering of the row proven exact in deblock_dsp.h), and the segment of a
// tile is the tile run over [X_s, X_(s+1)) (the last segment of any unit runs to the picture's right
// edge), so each of its rows does the same columns shifted left by its lag.
//
// Why that order gives the defined result. An operation at grid point x touches only columns x-3 ..
// x+3, so two operations can share a sample only when their points are at most 4 apart.
// - Within a unit: a tile runs its segments in turn, so row j's points of segment s+1 (from
//   X_(s+1) - j S on) run after row j+1's points of segment s (below X_(s+1) - (j+1) S), while the
//   defined order has all of row j first. Those are S + 4 >= 16 or more apart, so they share no
//   sample and the swaps change nothing.
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
// Progress lives in a ring of kRing slots on the frame's stack: slot k % kRing belongs to unit k, and
// holds (k mod 2^16) << 16 | segments done, so a reader never mistakes the previous unit of the slot
// (k - kRing) for unit k. A unit that is done retires, in order: `retired` counts the units that
// are, and unit k waits for unit k-1 to retire before it does. Unit k takes over its slot only after
// unit k-kRing+1 has retired: then unit k-kRing (the slot's last owner) and unit k-kRing+1 (which
// waited on its progress) no longer use it. At most kRing-1 units are in flight.
//
// An RGBA picture (the editor's image, 8 or 16 bits a channel) is filtered without a plane of samples: its
// rows pass through a ring of groups of four sample rows in the scratch plane, group g (rows 4g .. 4g+3) in
// slot g % G. With one partition the grid rows are multiples of 4, so a unit's rows are whole
// groups, and the group of the three rows above its first; the kernels take the rows above a
// horizontal edge apart from the rest for that. Unit k converts its own groups in before its first
// segment, and after its last the rows no later unit touches: rows y-2 .. of its first grid row y,
// up to 2 rows before the next unit's first (that unit's horizontal edges still write those two).
// The first unit also takes rows 0 and 1 in and back, which no unit changes: a 16-bit pixel need
// not come back from its samples as it was, and the result is that of converting every pixel.
// Group g's slot held group g - G before: every unit that touches it (the one that covers it and
// the one whose first group follows it) has retired once the unit covering group g - G + 1 has; unit
// k waits for that before converting in.
#include <algorithm>
#include <atomic>
#include <thread>

#include "core/rgba_dsp.h"
#include "deblock/deblock.h"
#include "deblock/deblock_dsp.h"

namespace deblock {
namespace {

using core::Plane;
using core::YcPixel;

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
  Plane edit;                     // the picture's samples; for an RGBA picture w and h, and the ring's rows
  const core::RgbaDsp* rgba_dsp;  // an RGBA picture: the image `rgba`
  core::RgbaImage rgba;
  int32_t ring_groups;  // G
  Thresholds thresholds;
  int32_t partitions;  // >= 1
  std::atomic<int32_t> next_unit;
  std::atomic<int64_t> retired;
  int32_t segments;  // most segments of a row for any worker count: fits the 16-bit count of a slot
  ProgressSlot slots[kRing];
};

// Row y's samples: in the plane, or in the ring (y >= 0).
inline YcPixel* RowAt(const FrameJob& job, int y) {
  if (job.rgba_dsp == nullptr) return core::PlaneRow(job.edit, y);
  const int g = y / 4;
  return core::PlaneRow(job.edit, 4 * (g % job.ring_groups) + y % 4);
}

// The row 3 above row y, where a horizontal edge at y has one (y >= 3); else row y.
inline YcPixel* AboveRow(const FrameJob& job, int y) { return RowAt(job, y >= 3 ? y - 3 : y); }

inline uint32_t Pack(int64_t unit, int32_t done) {
  return (static_cast<uint32_t>(unit) & 0xFFFFu) << 16 | static_cast<uint32_t>(done);
}

inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

// Spins, then yields, until ready() holds.
template <class Ready>
inline void WaitUntil(Ready&& ready) {
  for (int spins = 0; !ready(); ++spins) {
    if (spins < 256) {
      CpuRelax();
    } else {
      std::this_thread::yield();
    }
  }
}

// Waits until `slot` shows unit `unit` with at least `need` segments done; returns how many.
inline int32_t WaitForUnit(const ProgressSlot& slot, int64_t unit, int32_t need) {
  const uint32_t tag = Pack(unit, 0);
  uint32_t v;
  WaitUntil([&] {
    v = slot.value.load(std::memory_order_acquire);
    return (v & 0xFFFF0000u) == tag && static_cast<int32_t>(v & 0xFFFFu) >= need;
  });
  return v & 0xFFFFu;
}

// Waits until the units before `unit` have retired.
inline void WaitForRetired(const FrameJob& job, int64_t unit) {
  WaitUntil([&] { return job.retired.load(std::memory_order_acquire) >= unit; });
}

// A unit of work: the grid row at y, or the tile of grid rows y .. y + 4 (R - 1); whether the unit
// before it is a tile; the row after its last one (y + 4 or y + 4 R).
struct Unit {
  int y;
  bool tile;
  bool after_tile;
  int end(int tile_rows) const { return y + 4 * (tile ? tile_rows : 1); }
};

// Maps the ascending unit indexes one worker takes to units, walking the bands: each band's grid
// rows make as many tiles of `rows` grid rows as fit from its first row on, then single rows.
class Units {
 public:
  Units(int h, int bands, int rows) : h_(h), bands_(bands), rows_(rows) { Enter(0); }

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
    if (i < tiles_) *u = {static_cast<int>(first_ + 4 * rows_ * i), true, after_tile};
    else *u = {static_cast<int>(first_ + 4 * (rows_ * tiles_ + i - tiles_)), false, after_tile};
    return true;
  }

  // With one band: the unit whose rows hold row y (first row of the first unit and on), or -1 before.
  int64_t UnitOfRow(int y) const {
    if (y < first_) return -1;
    const int64_t g = (y - first_) / 4;
    return g < rows_ * tiles_ ? g / rows_ : tiles_ + (g - rows_ * tiles_);
  }

 private:
  void Enter(int band) {
    band_ = band;
    int64_t start = int64_t{h_} * band / bands_;
    const int64_t end = int64_t{h_} * (band + 1) / bands_;
    if (start == 0) start = 4;
    first_ = start;
    const int64_t rows = start < end ? (end - 1 - start) / 4 + 1 : 0;
    // A tile at y touches rows y-3 .. y + 4 R - 1.
    const int64_t fit =
        start >= 3 && start + 4 * rows_ <= h_ ? (h_ - 4 * rows_ - start) / (4 * rows_) + 1 : 0;
    tiles_ = std::min(rows / rows_, fit);
    singles_ = rows - rows_ * tiles_;
  }

  int h_, bands_, rows_;
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
inline void FilterSegment(const FrameJob& job, int cols, int segments, int s, const Unit& u) {
  const DeblockDsp& dsp = *job.dsp;
  const Thresholds& t = job.thresholds;
  const int w = job.edit.w, h = job.edit.h;
  const ptrdiff_t stride = job.edit.stride;
  const int x0 = 4 * (s * cols + 1);
  const int x1 = s + 1 < segments ? 4 * ((s + 1) * cols + 1) : kFar;
  if (u.tile) {
    YcPixel* groups[kMaxTileRows + 1] = {AboveRow(job, u.y)};
    for (int g = 0; g < dsp.tile.rows; ++g) groups[g + 1] = RowAt(job, u.y + 4 * g);
    return dsp.FilterTile(groups, stride, w, x0, x1, t.alpha, t.beta, t.tc0);
  }
  // Horizontal edges where rows y-3 .. y+2 are inside; vertical ones on the rows below h.
  FilterGridRun(dsp.FilterHorizontalEdges, dsp.FilterVerticalEdges, RowAt(job, u.y), AboveRow(job, u.y),
                stride, w, std::min(4, h - u.y), u.y >= 3 && u.y + 3 <= h, x0, x1, t.alpha, t.beta, t.tc0);
}

// Rows [y0, y1) of an RGBA picture to samples in the ring, or back.
void ConvertRows(const FrameJob& job, int y0, int y1, bool to_samples) {
  const int w = job.edit.w;
  for (int y = std::max(y0, 0); y < std::min(y1, job.edit.h); ++y) {
    if (to_samples) core::RgbaImageToYcRow(*job.rgba_dsp, job.rgba, 0, y, RowAt(job, y), w);
    else core::YcToRgbaImageRow(*job.rgba_dsp, RowAt(job, y), job.rgba, 0, y, w);
  }
}

void DeblockWorker(int32_t, int32_t count, void* data) {
  FrameJob* job = static_cast<FrameJob*>(data);
  const int w = job->edit.w, h = job->edit.h;
  const int grid_cols = w > 4 ? (w - 1) / 4 : 0;
  int32_t cols, segments;
  SegmentsFor(grid_cols, count, &cols, &segments);
  if (segments == 0 || h <= 0) return;
  const TileShape tile = job->dsp->tile;
  Units units(h, job->partitions, tile.rows);
  const bool rgba = job->rgba_dsp != nullptr;
  for (;;) {
    const int64_t k = job->next_unit.fetch_add(1, std::memory_order_relaxed);
    Unit u, next;
    if (!units.At(k, &u)) return;
    const bool last = !Units(units).At(k + 1, &next);
    const int lag = u.after_tile ? tile.lag() : 0;  // of unit k-1's last row
    ProgressSlot& mine = job->slots[k % kRing];
    const ProgressSlot& above = job->slots[(k + kRing - 1) % kRing];  // unit k-1
    // Unit k-kRing+1 retired: the slot's last owner and its reader are finished with it.
    WaitForRetired(*job, k - kRing + 2);
    if (rgba) {
      // The last group of this unit takes the slot of the group G before it: free once the unit
      // holding the group after that has retired.
      const int64_t holder = units.UnitOfRow(u.end(tile.rows) - 4 * job->ring_groups);
      if (holder >= 0) WaitForRetired(*job, holder + 1);
      ConvertRows(*job, k == 0 ? 0 : u.y, u.end(tile.rows), true);
    }
    int32_t seen = 0;
    for (int s = 0; s < segments; ++s) {
      const int32_t need = SegmentsNeeded(s, segments, cols, lag);
      if (seen < need) seen = WaitForUnit(above, k - 1, need);
      FilterSegment(*job, cols, segments, s, u);
      mine.value.store(Pack(k, s + 1), std::memory_order_release);
    }
    // The next unit's horizontal edges still write the last two rows.
    if (rgba) ConvertRows(*job, k == 0 ? 0 : u.y - 2, last ? u.end(tile.rows) : u.end(tile.rows) - 2, false);
    WaitForRetired(*job, k);
    job->retired.store(k + 1, std::memory_order_release);
  }
}

// Filters the picture of `job` (set up but for the counters) with the workers.
void Run(FrameJob& job, const core::Workers& workers) {
  job.next_unit.store(0, std::memory_order_relaxed);
  job.retired.store(0, std::memory_order_relaxed);
  const int grid_cols = job.edit.w > 4 ? (job.edit.w - 1) / 4 : 0;
  int32_t cols;
  SegmentsFor(grid_cols, kTargetSegments, &cols, &job.segments);
  // Slot i starts as "unit i - kRing, finished" (with at least as many segments as any worker
  // counts): unit k's look at unit k-1 passes at once for k = 0 (unit -1 stands for "no unit
  // above").
  for (int i = 0; i < kRing; ++i)
    job.slots[i].value.store(Pack(i - kRing, job.segments), std::memory_order_relaxed);
  // The service's start and return order the job's set-up and the workers' writes.
  core::RunWorkers(workers, &DeblockWorker, &job);
}

// Groups of four rows in the ring of an RGBA picture: enough for the units that workers have in
// flight at once (a tile has 4).
int RingGroups(const core::Workers& workers) { return std::max(16, 8 * workers.count); }

}  // namespace
void FilterFrame(const DeblockDsp& dsp, const DeblockParams& params, const Plane& edit, int32_t partitions,
                 const core::Workers& workers) {
  FrameJob job;
  job.dsp = &dsp;
  job.edit = edit;
  job.rgba_dsp = nullptr;
  job.rgba = {};
  job.ring_groups = 0;
  job.thresholds = ThresholdsFor(params);
  job.partitions = std::max(partitions, 1);
  if (ChangesNothing(job.thresholds)) return;
  Run(job, workers);
}

void FilterFrameRgba(const DeblockDsp& dsp, const core::RgbaDsp& rgba_dsp, const DeblockParams& params,
                     const core::RgbaImage& image, const Plane& temp, int32_t partitions,
                     const core::Workers& workers) {
  const int32_t w = image.w, h = image.h;
  if (ChangesNothing(ThresholdsFor(params)) || w <= 0 || h <= 0) return;
  const int groups = RingGroups(workers);
  if (partitions > 1 || h < 8 * groups || w <= 4) {
    // Grid rows off the multiples of 4, a picture that hardly fills the ring, or one without grid
    // columns, which no unit would convert: the whole picture in the scratch plane.
    core::RgbaImageToYcOnWorkers(rgba_dsp, workers, image, temp.pixels);
    FilterFrame(dsp, params, {temp.pixels, w, h, w}, partitions, workers);
    core::YcToRgbaImageOnWorkers(rgba_dsp, workers, temp.pixels, image);
    return;
  }
  FrameJob job;
  job.dsp = &dsp;
  job.edit = {temp.pixels, w, h, temp.stride};
  job.rgba_dsp = &rgba_dsp;
  job.rgba = image;
  job.ring_groups = groups;
  job.thresholds = ThresholdsFor(params);
  job.partitions = 1;
  Run(job, workers);
}

void FilterWithTracks(core::CpuFlags flags, const int32_t* tracks, const Plane& edit, const Plane&,
                      int32_t partitions, const core::Workers& workers) {
  FilterFrame(DeblockDspFor(flags), ParamsFromTracks(tracks), edit, partitions, workers);
}

void FilterRgbaWithTracks(core::CpuFlags flags, const int32_t* tracks, const core::RgbaImage& image,
                          const Plane& temp, int32_t partitions, const core::Workers& workers) {
  FilterFrameRgba(DeblockDspFor(flags), core::RgbaDspFor(flags), ParamsFromTracks(tracks), image, temp,
                  partitions, workers);
}

}  // namespace deblock
