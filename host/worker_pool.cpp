#include "host/worker_pool.h"

#include <stdexcept>

namespace host {

WorkerPool::WorkerPool(int threads, bool serial) : threads_(threads), serial_(serial) {
  if (threads < 1) throw std::invalid_argument("worker thread count must be at least 1");
  if (serial_) return;
  pool_.reserve(threads - 1);
  for (int i = 1; i < threads; ++i) pool_.emplace_back([this, i] { ThreadMain(i); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  start_cv_.notify_all();
  for (auto& t : pool_) t.join();
}

void WorkerPool::Run(WorkerProc proc, void* param1, void* param2) {
  if (serial_ || threads_ == 1) {
    for (int i = 0; i < threads_; ++i) proc(i, threads_, param1, param2);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    proc_ = proc;
    param1_ = param1;
    param2_ = param2;
    pending_ = threads_ - 1;
    ++generation_;
  }
  start_cv_.notify_all();
  proc(0, threads_, param1, param2);
  std::unique_lock lock(mutex_);
  done_cv_.wait(lock, [this] { return pending_ == 0; });
}

void WorkerPool::ThreadMain(int index) {
  uint64_t seen = 0;
  for (;;) {
    WorkerProc proc;
    void* p1;
    void* p2;
    {
      std::unique_lock lock(mutex_);
      start_cv_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      proc = proc_;
      p1 = param1_;
      p2 = param2_;
    }
    proc(index, threads_, p1, p2);
    {
      std::lock_guard lock(mutex_);
      if (--pending_ == 0) done_cv_.notify_one();
    }
  }
}

}  // namespace host
