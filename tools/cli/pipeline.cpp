#include "tools/cli/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace cli {
namespace {

// Steps in the order of one thread doing everything: frame i is read at step 3i, processed at 3i+1
// and written at 3i+2. A failure at step s stops each stage before its first step after s; of
// several failures, the one with the smallest step is reported.
constexpr int64_t ReadStep(int64_t i) { return 3 * i; }
constexpr int64_t ProcessStep(int64_t i) { return 3 * i + 1; }
constexpr int64_t WriteStep(int64_t i) { return 3 * i + 2; }

class Pipeline {
 public:
  Pipeline(const Stages& stages, const PipelineOptions& options)
      : stages_(stages), in_(size_t(std::max(2, options.ring))), out_(in_.size()) {}

  int64_t Run() {
    std::thread reader, writer;
    try {
      reader = std::thread([this] { ReadAll(); });
      writer = std::thread([this] { WriteAll(); });
    } catch (const std::system_error& e) {
      Fail(-1, std::current_exception());
      if (reader.joinable()) reader.join();
      throw io::IoError("cannot start the reader and writer threads (" + e.code().message() + ")");
    } catch (...) {
      Fail(-1, std::current_exception());
      if (reader.joinable()) reader.join();
      throw;
    }
    ProcessAll();
    reader.join();
    writer.join();
    if (failure_) std::rethrow_exception(failure_);
    return written_;
  }

 private:
  // Frame i travels in packet i % size of each ring.
  io::FramePacket& In(int64_t i) { return in_[size_t(i % int64_t(in_.size()))]; }
  io::FramePacket& Out(int64_t i) { return out_[size_t(i % int64_t(out_.size()))]; }
  int64_t RingSize() const { return int64_t(in_.size()); }
  bool Stopped(int64_t step) const { return failed_step_ < step; }  // with the lock held

  void Fail(int64_t step, std::exception_ptr e) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (step < failed_step_) {
        failed_step_ = step;
        failure_ = std::move(e);
      }
    }
    changed_.notify_all();
    // The reader is past every step of the other stages: it has nothing more to do.
    if (step % 3 != 0 && stages_.cancel_read) stages_.cancel_read();
  }

  // Frame i is through a stage: count = i + 1.
  void Advance(int64_t& count, int64_t i) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      count = i + 1;
    }
    changed_.notify_all();
  }

  void End(bool& ended) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended = true;
    }
    changed_.notify_all();
  }

  void ReadAll() {
    for (int64_t i = 0;; ++i) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return i - processed_ < RingSize() || Stopped(ReadStep(i)); });
        if (Stopped(ReadStep(i))) break;
      }
      bool more = false;
      try {
        more = stages_.read(In(i));
      } catch (...) {
        Fail(ReadStep(i), std::current_exception());
      }
      if (!more) break;
      Advance(read_, i);
    }
    End(read_ended_);
  }

  void ProcessAll() {
    for (int64_t i = 0;; ++i) {
      int64_t written = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          return ((i < read_ || read_ended_) && i - written_ < RingSize()) || Stopped(ProcessStep(i));
        });
        if (Stopped(ProcessStep(i)) || i >= read_) break;
      }
      try {
        stages_.process(In(i), Out(i), i);
      } catch (...) {
        Fail(ProcessStep(i), std::current_exception());
        break;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        processed_ = i + 1;
        written = written_;
      }
      changed_.notify_all();
      if (stages_.progress) stages_.progress(written);
    }
    End(process_ended_);
  }

  void WriteAll() {
    for (int64_t i = 0;; ++i) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return i < processed_ || process_ended_ || Stopped(WriteStep(i)); });
        if (Stopped(WriteStep(i)) || i >= processed_) break;
      }
      try {
        stages_.write(Out(i), i);
      } catch (...) {
        Fail(WriteStep(i), std::current_exception());
        break;
      }
      Advance(written_, i);
    }
  }

  const Stages& stages_;
  std::vector<io::FramePacket> in_, out_;

  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t read_ = 0, processed_ = 0, written_ = 0;  // frames through each stage
  bool read_ended_ = false, process_ended_ = false;
  int64_t failed_step_ = std::numeric_limits<int64_t>::max();
  std::exception_ptr failure_;
};

}  // namespace

int64_t RunPipeline(const Stages& stages, const PipelineOptions& options) {
  if (options.threads) return Pipeline(stages, options).Run();
  io::FramePacket in, out;
  int64_t frames = 0;
  while (stages.read(in)) {
    stages.process(in, out, frames);
    stages.write(out, frames);
    ++frames;
    if (stages.progress) stages.progress(frames);
  }
  return frames;
}

}  // namespace cli
