#pragma once
// The worker service a filter core runs its parallel work on. Any host provides one: a thread
// pool of its own, an editor's worker threads, or the calling thread alone.
#include <cstdint>

namespace core {

// One worker's share: index 0 .. count - 1, the same count and data for every worker of a run.
typedef void (*WorkerTask)(int32_t index, int32_t count, void* data);

// run(self, task, data) calls task once for every worker index, possibly at the same time on
// different threads, and returns when every call has returned. count is how many workers a run
// starts.
struct Workers {
  void (*run)(const Workers* self, WorkerTask task, void* data);
  void* context;
  int32_t count;
};

inline void RunWorkers(const Workers& workers, WorkerTask task, void* data) {
  workers.run(&workers, task, data);
}

// One worker, on the calling thread.
inline Workers SerialWorkers() {
  return {[](const Workers*, WorkerTask task, void* data) { task(0, 1, data); }, nullptr, 1};
}

}  // namespace core
