// A bounded worker pool: a fixed set of threads taking tasks from one queue.
// Producers block while the queue is full; nothing is dropped. Destruction
// runs every task still queued before it returns.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

namespace base {

class ThreadPool {
 public:
  // Waiting tasks allowed before enqueue blocks: keeps a flood of calls from
  // exhausting memory.
  static constexpr size_t kMaxQueue = 100000;

  // One worker per hardware thread the system reports, at least 2.
  ThreadPool();
  // The same with |hardware_threads| taken as the reported count.
  explicit ThreadPool(unsigned hardware_threads);
  // Runs every queued task, then lets the workers leave, last started first.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  static unsigned WorkerCountFor(unsigned hardware_threads) { return hardware_threads < 2 ? 2 : hardware_threads; }

  // Queues |task|; its result (or the exception it throws) arrives through the
  // future. Blocks while kMaxQueue tasks wait. Throws std::runtime_error
  // ("enqueue on stopped ThreadPool") once destruction has begun. Safe from any
  // thread, including the pool's own workers (which then may block on a full
  // queue like any producer).
  template <class F>
  std::future<std::invoke_result_t<std::decay_t<F>>> enqueue(F&& task);

  // Workers currently in the pool.
  size_t size() const;

 private:
  // Shared with the workers, which may still be unlocking it after the pool
  // has seen the last of them leave.
  struct State {
    std::vector<std::thread> workers;
    unsigned target_count = 0;
    std::deque<std::function<void()>> tasks;
    size_t max_queue = kMaxQueue;
    bool stop = false;
    mutable std::mutex lock;
    std::condition_variable not_full;
    std::condition_variable work;
  };

  static void WorkerLoop(std::shared_ptr<State> state, unsigned index);
  void Push(std::function<void()> task);

  std::shared_ptr<State> state_;
};

template <class F>
std::future<std::invoke_result_t<std::decay_t<F>>> ThreadPool::enqueue(F&& task) {
  using Result = std::invoke_result_t<std::decay_t<F>>;
  auto packaged = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(task));
  std::future<Result> future = packaged->get_future();
  Push([packaged] { (*packaged)(); });
  return future;
}

}  // namespace base
