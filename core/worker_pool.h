#pragma once
// A persistent pool of worker threads: our hosts' worker service. A run calls a task once per
// worker index and returns when all of them have finished.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "core/workers.h"

namespace core {

class WorkerPool {
 public:
  // threads >= 1. serial: run the workers one after another on the calling thread, never start a
  // thread (for environments in which creating threads fails). Throws std::system_error if a
  // thread cannot be started, after stopping those that were.
  WorkerPool(int threads, bool serial);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return threads_; }
  bool serial() const { return serial_; }

  // Calls task(i, threads(), data) for every i in 0..threads()-1; index 0 runs on the calling
  // thread, the others on the pool's threads at the same time. Returns when all are done. One run
  // at a time.
  void Run(WorkerTask task, void* data);

  // This pool as a worker service; valid while the pool lives.
  Workers workers() { return {&RunService, this, threads_}; }

 private:
  static void RunService(const Workers* self, WorkerTask task, void* data);
  void ThreadMain(int index);
  void Stop();

  int threads_;
  bool serial_;
  std::vector<std::thread> pool_;
  std::mutex mutex_;
  std::condition_variable start_cv_;
  std::condition_variable done_cv_;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  WorkerTask task_ = nullptr;
  void* data_ = nullptr;
};

}  // namespace core
