// ThreadPool throughput for tiny tasks: two producers enqueue at once and keep
// every future, then wait for all of them. The same work through std::async
// (a thread per task) is the baseline, measured in the same run.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

#include "base/thread_pool.h"

namespace {

constexpr int kProducers = 2;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs |per_producer| tiny tasks from each producer through |submit| and
// returns the seconds until every future is ready.
template <class Submit>
double Measure(int per_producer, Submit submit, std::atomic<long>* counter) {
  std::vector<std::vector<std::future<void>>> futures(kProducers);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      futures[p].reserve(per_producer);
      for (int i = 0; i < per_producer; ++i) futures[p].push_back(submit([counter] { ++*counter; }));
    });
  }
  for (auto& producer : producers) producer.join();
  for (auto& list : futures) {
    for (auto& future : list) future.get();
  }
  return Seconds(std::chrono::steady_clock::now() - start);
}

void Print(const char* name, int per_producer, double seconds) {
  const int total = per_producer * kProducers;
  std::printf("%-28s %12.0f tasks/s  (%d tasks, %.3f s)\n", name, total / seconds, total, seconds);
}

}  // namespace

int wmain() {
  std::atomic<long> counter{0};

  constexpr int kPoolTasks = 200000;
  double pool_seconds = 0;
  unsigned workers = 0;
  {
    base::ThreadPool pool;
    workers = static_cast<unsigned>(pool.size());
    pool_seconds = Measure(kPoolTasks, [&pool](auto task) { return pool.enqueue(task); }, &counter);
  }

  // A thread per task costs far more, so fewer tasks keep the run short.
  constexpr int kAsyncTasks = 1000;
  const double async_seconds = Measure(
      kAsyncTasks, [](auto task) { return std::async(std::launch::async, task); }, &counter);

  std::printf("tiny tasks from %d producers, hardware threads %u\n", kProducers,
              std::thread::hardware_concurrency());
  char pool_name[64];
  std::snprintf(pool_name, sizeof(pool_name), "ThreadPool (%u workers)", workers);
  Print(pool_name, kPoolTasks, pool_seconds);
  Print("std::async (baseline)", kAsyncTasks, async_seconds);
  std::printf("ratio: %.1fx\n", (kPoolTasks / pool_seconds) / (kAsyncTasks / async_seconds));
  return counter == kProducers * (kPoolTasks + kAsyncTasks) ? 0 : 1;
}
