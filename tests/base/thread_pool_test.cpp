#include "base/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A gate that tasks wait on; opening it releases every waiter.
class Gate {
 public:
  Gate() : future_(promise_.get_future().share()) {}
  void Open() { promise_.set_value(); }
  void Wait() const { future_.wait(); }

 private:
  std::promise<void> promise_;
  std::shared_future<void> future_;
};

// Blocks every worker of |pool| on |gate| and returns once all are blocked.
void OccupyWorkers(base::ThreadPool& pool, const Gate& gate) {
  auto started = std::make_shared<std::atomic<size_t>>(0);
  for (size_t i = 0; i < pool.size(); ++i) {
    pool.enqueue([&gate, started] {
      ++*started;
      gate.Wait();
    });
  }
  while (*started < pool.size()) std::this_thread::sleep_for(1ms);
}

TEST(ThreadPoolTest, WorkerCountFollowsHardwareThreadsWithAFloorOfTwo) {
  static const struct {
    unsigned reported;
    size_t workers;
  } kCases[] = {{0, 2}, {1, 2}, {2, 2}, {3, 3}, {8, 8}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reported);
    base::ThreadPool pool(c.reported);
    EXPECT_EQ(pool.size(), c.workers);
  }
}

// With one reported hardware thread the two workers really run side by side:
// each task waits until the other has started.
TEST(ThreadPoolTest, OneHardwareThreadStillRunsTwoTasksAtOnce) {
  base::ThreadPool pool(1);
  std::atomic<int> started{0};
  auto meet = [&started] {
    ++started;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (started < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return started.load();
  };
  auto a = pool.enqueue(meet);
  auto b = pool.enqueue(meet);
  EXPECT_EQ(a.get(), 2);
  EXPECT_EQ(b.get(), 2);
}

TEST(ThreadPoolTest, FutureCarriesResultAndException) {
  base::ThreadPool pool(2);
  EXPECT_EQ(pool.enqueue([] { return 42; }).get(), 42);
  auto failing = pool.enqueue([]() -> int { throw std::logic_error("task failed"); });
  EXPECT_THROW(failing.get(), std::logic_error);
  // The worker that ran the throwing task goes on.
  EXPECT_EQ(pool.enqueue([] { return std::string("still running"); }).get(), "still running");
}

TEST(ThreadPoolTest, DestructionRunsEveryQueuedTask) {
  constexpr int kTasks = 5000;
  std::atomic<int> ran{0};
  Gate gate;
  auto pool = std::make_unique<base::ThreadPool>(2);
  OccupyWorkers(*pool, gate);
  for (int i = 0; i < kTasks; ++i) pool->enqueue([&ran] { ++ran; });
  // Opened only after destruction has begun, so the queue is still full then.
  std::thread opener([&gate] {
    std::this_thread::sleep_for(100ms);
    gate.Open();
  });
  pool.reset();
  EXPECT_EQ(ran.load(), kTasks);
  opener.join();
}

// An enqueue racing with destruction either queues a task that then runs
// before the destructor returns, or throws the stopped-pool error; it never
// blocks for good, also when it waits on a full queue.
TEST(ThreadPoolTest, EnqueueRacingDestructionQueuesOrThrows) {
  static const struct {
    const char* name;
    bool fill_queue;
  } kCases[] = {{"free-running", false}, {"blocked on a full queue", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto pool = std::make_unique<base::ThreadPool>(2);
    Gate gate;           // holds both workers
    Gate producer_done;  // the destructor cannot finish before the producer stops
    std::atomic<long> queued{0}, ran{0};
    std::string error;
    if (c.fill_queue) {
      OccupyWorkers(*pool, gate);
    } else {
      pool->enqueue([&producer_done] { producer_done.Wait(); });
    }
    // The unique_ptr reads null while its pool is being destroyed; the pool
    // itself stays alive until the producer has stopped (see the gates).
    base::ThreadPool* const racing = pool.get();
    std::thread producer([&] {
      try {
        for (;;) {
          racing->enqueue([&ran] { ++ran; });
          ++queued;
        }
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      producer_done.Open();
      if (c.fill_queue) gate.Open();
    });
    if (c.fill_queue) {
      while (queued < static_cast<long>(base::ThreadPool::kMaxQueue)) std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(50ms);  // the producer is now waiting for room
    } else {
      while (queued < 1000) std::this_thread::yield();
    }
    pool.reset();
    producer.join();
    EXPECT_EQ(error, "enqueue on stopped ThreadPool");
    EXPECT_EQ(ran.load(), queued.load());
    if (c.fill_queue) {
      EXPECT_EQ(queued.load(), static_cast<long>(base::ThreadPool::kMaxQueue));
    }
  }
}

TEST(ThreadPoolTest, FullQueueBlocksTheProducerUntilAWorkerTakesATask) {
  Gate gate;
  std::atomic<int> ran{0};
  {
    base::ThreadPool pool(2);
    OccupyWorkers(pool, gate);
    for (size_t i = 0; i < base::ThreadPool::kMaxQueue; ++i) pool.enqueue([&ran] { ++ran; });
    std::atomic<bool> returned{false};
    std::thread producer([&] {
      pool.enqueue([&ran] { ++ran; });
      returned = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(returned.load()) << "enqueue returned although the queue was full";
    gate.Open();
    producer.join();
    EXPECT_TRUE(returned.load());
  }
  EXPECT_EQ(ran.load(), static_cast<int>(base::ThreadPool::kMaxQueue) + 1);
}

}  // namespace
