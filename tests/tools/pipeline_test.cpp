// The staged run of frames against one thread doing everything, and the descriptors it reads and
// writes through.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "tests/support/test_support.h"
#include "tools/cli/files.h"
#include "tools/cli/pipeline.h"

namespace {

// Where a run of `frames` frames fails: the frame whose read, processing or writing throws (-1:
// none). `jitter` makes the stages dawdle at random, to vary how the threads meet.
struct Script {
  int frames = 6;
  int read_fails = -1, process_fails = -1, write_fails = -1;
  uint32_t jitter = 0;
};

struct Outcome {
  std::vector<int> written;  // the frames written, in order
  std::string error;         // what the run threw
  int most_in_flight = 0;    // frames read but not yet written, at the most
  bool operator==(const Outcome& o) const { return written == o.written && error == o.error; }
};

std::string Describe(const Outcome& o) {
  std::string s = "wrote";
  for (int f : o.written) s += " " + std::to_string(f);
  return s + "; threw '" + o.error + "'";
}

Outcome RunScript(const Script& script, bool threads, int ring) {
  Outcome out;
  std::mutex mutex;  // the counts below are shared by the stages' threads
  int read = 0;
  testsupport::Rng rngs[3] = {testsupport::Rng(script.jitter), testsupport::Rng(script.jitter + 1),
                              testsupport::Rng(script.jitter + 2)};
  auto dawdle = [&](int stage) {
    if (script.jitter == 0) return;
    const int r = rngs[stage].Uniform(0, 9);
    if (r < 3) std::this_thread::sleep_for(std::chrono::microseconds(50 * r));
    else if (r < 6) std::this_thread::yield();
  };
  cli::Stages stages;
  stages.read = [&](io::FramePacket& p) {
    dawdle(0);
    std::lock_guard<std::mutex> lock(mutex);
    if (read == script.read_fails) throw io::IoError("read " + std::to_string(read));
    if (read == script.frames) return false;
    p.start = size_t(read++);  // the frame's number travels in the packet
    out.most_in_flight = std::max(out.most_in_flight, read - int(out.written.size()));
    return true;
  };
  stages.process = [&](io::FramePacket& in, io::FramePacket& out_packet, int64_t index) {
    dawdle(1);
    EXPECT_EQ(in.start, size_t(index));
    if (index == script.process_fails) throw io::IoError("process " + std::to_string(index));
    out_packet.start = in.start;
  };
  stages.write = [&](io::FramePacket& p, int64_t index) {
    dawdle(2);
    EXPECT_EQ(p.start, size_t(index));
    if (index == script.write_fails) throw io::IoError("write " + std::to_string(index));
    std::lock_guard<std::mutex> lock(mutex);
    out.written.push_back(int(p.start));
  };
  cli::PipelineOptions options;
  options.threads = threads;
  options.ring = ring;
  try {
    const int64_t n = cli::RunPipeline(stages, options);
    EXPECT_EQ(n, int64_t(out.written.size()));
  } catch (const io::IoError& e) {
    out.error = e.what();
  }
  return out;
}

// Every combination of failures: the threads write what one thread would, and report the failure
// it would meet first.
TEST(Pipeline, ThreadsGiveWhatOneThreadGives) {
  int runs = 0;
  for (int r = -1; r < 6; ++r)
    for (int p = -1; p < 6; ++p)
      for (int w = -1; w < 6; ++w) {
        Script s;
        s.read_fails = r, s.process_fails = p, s.write_fails = w;
        const Outcome one = RunScript(s, false, 3);
        for (int ring : {2, 3, 5}) {
          s.jitter = uint32_t(++runs);
          const Outcome many = RunScript(s, true, ring);
          ASSERT_TRUE(many == one) << "read fails at " << r << ", process at " << p << ", write at " << w
                                   << ", ring " << ring << ": one thread " << Describe(one) << ", threads "
                                   << Describe(many);
        }
      }
}

// The reader never runs more than the two rings ahead of the writer, however slow the writer is.
TEST(Pipeline, FramesInFlightStayWithinTheRings) {
  for (int ring : {2, 3, 4}) {
    Script s;
    s.frames = 40;
    s.jitter = uint32_t(ring);
    const Outcome o = RunScript(s, true, ring);
    EXPECT_EQ(o.written.size(), 40u);
    EXPECT_LE(o.most_in_flight, 2 * ring) << "ring " << ring;
    EXPECT_GE(o.most_in_flight, 2) << "the stages never overlapped";
  }
}

// A failure of the writer ends the run while the reader waits for input that never comes: the
// reader's wait is cut short.
TEST(Pipeline, AFailedWriteEndsAReadThatWaits) {
  std::mutex mutex;
  std::condition_variable cancelled_cv;
  bool cancelled = false;
  int reads = 0;
  cli::Stages stages;
  stages.read = [&](io::FramePacket&) {
    std::unique_lock<std::mutex> lock(mutex);
    if (reads++ == 0) return true;
    // Frame 1 never arrives: only a cancel ends the wait (or, failing that, the test's patience).
    cancelled_cv.wait_for(lock, std::chrono::seconds(20), [&] { return cancelled; });
    throw io::IoError("read cancelled");
  };
  stages.process = [](io::FramePacket&, io::FramePacket&, int64_t) {
  };
  stages.write = [](io::FramePacket&, int64_t) {
    throw io::IoError("stdout: write failed");
  };
  stages.cancel_read = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
    cancelled_cv.notify_all();
  };
  try {
    cli::RunPipeline(stages, {});
    ADD_FAILURE() << "the run did not fail";
  } catch (const io::IoError& e) {
    EXPECT_STREQ(e.what(), "stdout: write failed");
  }
  EXPECT_TRUE(cancelled);
}

// Descriptors: a pipe is read in the pieces that arrive, a wait for more is cut short by Cancel()
// from another thread, and only a regular file knows what is left of it.
TEST(Descriptors, PipesFilesAndCancel) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  cli::DescriptorSource source(fds[0], true);
  EXPECT_EQ(source.Remaining(), -1);
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  char buffer[16];
  EXPECT_EQ(source.ReadSome(buffer, sizeof buffer), 3);
  std::atomic<bool> returned{false};
  ptrdiff_t got = 0;
  std::thread reader([&] {
    got = source.ReadSome(buffer, sizeof buffer);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned) << "the read did not wait for input";
  source.Cancel();
  reader.join();
  EXPECT_EQ(got, -1);
  EXPECT_EQ(source.ReadSome(buffer, sizeof buffer), -1) << "reads after a cancel fail too";

  // Writing into a pipe nobody reads any more fails instead of killing the process.
  signal(SIGPIPE, SIG_IGN);
  cli::DescriptorSink sink(fds[1]);
  EXPECT_TRUE(sink.Write("xyz", 3));
  int closed[2];
  ASSERT_EQ(pipe(closed), 0);
  close(closed[0]);
  EXPECT_FALSE(cli::DescriptorSink(closed[1]).Write("xyz", 3));
  close(closed[1]);
  close(fds[1]);

  char name[] = "/tmp/pipeline_test.XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "0123456789", 10), 10);
  ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
  {
    cli::DescriptorSource file(fd, true);
    EXPECT_EQ(file.Remaining(), 6);
    EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 6);
    EXPECT_EQ(file.Remaining(), 0);
    EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 0);
  }
  unlink(name);
}

}  // namespace
