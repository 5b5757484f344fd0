#include "core/worker_pool.h"

#include <stdexcept>

namespace core {

WorkerPool::WorkerPool(int threads, bool serial) : threads_(threads), serial_(serial) {
  if (threads < 1) throw std::invalid_argument("worker thread count must be at least 1");
  if (serial_) return;
  try {
    pool_.reserve(threads - 1);
    for (int i = 1; i < threads; ++i) pool_.emplace_back([this, i] { ThreadMain(i); });
  } catch (...) {
    // No thread may outlive a pool that failed to start: stop the ones that did.
    Stop();
    throw;
  }
}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  start_cv_.notify_all();
  for (auto& t : pool_) t.join();
  pool_.clear();
}

void WorkerPool::RunService(const Workers* self, WorkerTask task, void* data) {
  static_cast<WorkerPool*>(self->context)->Run(task, data);
}

void WorkerPool::Run(WorkerTask task, void* data) {
  if (serial_ || threads_ == 1) {
    for (int i = 0; i < threads_; ++i) task(i, threads_, data);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    task_ = task;
    data_ = data;
    pending_ = threads_ - 1;
    ++generation_;
  }
  start_cv_.notify_all();
  task(0, threads_, data);
  std::unique_lock lock(mutex_);
  done_cv_.wait(lock, [this] { return pending_ == 0; });
}

void WorkerPool::ThreadMain(int index) {
  uint64_t seen = 0;
  for (;;) {
    WorkerTask task;
    void* data;
    {
      std::unique_lock lock(mutex_);
      start_cv_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      task = task_;
      data = data_;
    }
    task(index, threads_, data);
    {
      std::lock_guard lock(mutex_);
      if (--pending_ == 0) done_cv_.notify_one();
    }
  }
}

}  // namespace core
