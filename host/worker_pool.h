#pragma once
// A persistent pool of worker threads that runs one WorkerProc per thread index and returns when
// all of them have finished: the editor's worker service, as our hosts and tests provide it.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "host/host_abi.h"

namespace host {

class WorkerPool {
 public:
  // threads >= 1. serial: run the workers one after another on the calling thread, never start a
  // thread (for environments in which creating threads fails).
  WorkerPool(int threads, bool serial);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return threads_; }
  bool serial() const { return serial_; }

  // Calls proc(i, threads(), param1, param2) for every i in 0..threads()-1; index 0 runs on the
  // calling thread, the others on the pool's threads at the same time. Returns when all are done.
  void Run(WorkerProc proc, void* param1, void* param2);

 private:
  void ThreadMain(int index);

  int threads_;
  bool serial_;
  std::vector<std::thread> pool_;
  std::mutex mutex_;
  std::condition_variable start_cv_;
  std::condition_variable done_cv_;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  WorkerProc proc_ = nullptr;
  void* param1_ = nullptr;
  void* param2_ = nullptr;
};

}  // namespace host
