#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "core/worker_pool.h"

namespace {

struct Record {
  std::vector<int> count_seen;
  std::vector<std::thread::id> thread_of;
  std::atomic<int> running{0};
  std::atomic<int> max_running{0};
};

void RecordWorker(int32_t index, int32_t count, void* data) {
  auto* r = static_cast<Record*>(data);
  const int now = ++r->running;
  int prev = r->max_running.load();
  while (now > prev && !r->max_running.compare_exchange_weak(prev, now)) {
  }
  r->count_seen[index] = count;
  r->thread_of[index] = std::this_thread::get_id();
  // Give the other workers time to start, so overlapping runs are observed.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  --r->running;
}

TEST(WorkerPool, RunsEveryIndexOnceWithSameCountAndParams) {
  for (int threads : {1, 2, 3, 8}) {
    core::WorkerPool pool(threads, false);
    for (int round = 0; round < 3; ++round) {
      Record r;
      r.count_seen.assign(threads, -1);
      r.thread_of.resize(threads);
      pool.Run(&RecordWorker, &r);
      std::set<std::thread::id> ids(r.thread_of.begin(), r.thread_of.end());
      for (int i = 0; i < threads; ++i) {
        EXPECT_EQ(r.count_seen[i], threads);
      }
      EXPECT_EQ(static_cast<int>(ids.size()), threads) << "every worker on a thread of its own";
      EXPECT_EQ(r.thread_of[0], std::this_thread::get_id()) << "index 0 runs on the caller";
      if (threads > 1) {
        EXPECT_GT(r.max_running.load(), 1) << "workers run at the same time";
      }
      EXPECT_EQ(r.running.load(), 0) << "Run returned before every worker finished";
    }
  }
}

TEST(WorkerPool, SerialModeRunsAllOnCallerOneAfterAnother) {
  core::WorkerPool pool(5, true);
  Record r;
  r.count_seen.assign(5, -1);
  r.thread_of.resize(5);
  const core::Workers service = pool.workers();
  EXPECT_EQ(service.count, 5);
  core::RunWorkers(service, &RecordWorker, &r);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(r.count_seen[i], 5);
    EXPECT_EQ(r.thread_of[i], std::this_thread::get_id());
  }
  EXPECT_EQ(r.max_running.load(), 1);
}

TEST(WorkerPool, RejectsZeroThreads) { EXPECT_THROW(core::WorkerPool(0, false), std::invalid_argument); }

}  // namespace
