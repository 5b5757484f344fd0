#pragma once
// The frames of a run through three stages: read, process (convert, filter, convert back), write.
// With threads, a reader thread and a writer thread move frames as the formats store them, in
// small rings, beside the processing: frame n+1 is read and frame n-1 written while frame n is
// processed, and memory stays at the rings' few frames however long the input is. Whatever the
// threads, what comes out is what one thread doing read, process and write for each frame in turn
// would give: the same frames written in the same order, and on a failure the failure that thread
// would have met first, after the frames it would have written before it.
#include <cstdint>
#include <functional>

#include "tools/io/frame_io.h"

namespace cli {

struct Stages {
  // Reads the next frame as stored into `packet`; false at the end. On the reader thread.
  std::function<bool(io::FramePacket& packet)> read;
  // Frame `index` (from 0): from the packet read to the packet to write. On the calling thread.
  std::function<void(io::FramePacket& in, io::FramePacket& out, int64_t index)> process;
  // Writes a processed packet. On the writer thread.
  std::function<void(io::FramePacket& packet, int64_t index)> write;
  // Makes a read that waits for input fail, from another thread; may be empty.
  std::function<void()> cancel_read;
  // Told the frames written so far after each processed frame, on the calling thread; may be empty.
  std::function<void(int64_t written)> progress;
};

struct PipelineOptions {
  bool threads = true;  // false: everything on the calling thread, one frame at a time
  int ring = 3;         // packets in each ring: a frame in hand and frames waiting
};

// Runs every frame through the stages; returns how many were written. A stage's exception ends the
// run and is rethrown here.
int64_t RunPipeline(const Stages& stages, const PipelineOptions& options);

}  // namespace cli
