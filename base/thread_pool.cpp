#include "base/thread_pool.h"

namespace base {

ThreadPool::ThreadPool() : ThreadPool(std::thread::hardware_concurrency()) {}

ThreadPool::ThreadPool(unsigned hardware_threads) : state_(std::make_shared<State>()) {
  const unsigned count = WorkerCountFor(hardware_threads);
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->target_count = count;
  state_->workers.reserve(count);
  for (unsigned i = 0; i < count; ++i) state_->workers.emplace_back(&ThreadPool::WorkerLoop, state_, i);
}

ThreadPool::~ThreadPool() {
  std::unique_lock<std::mutex> guard(state_->lock);
  state_->stop = true;
  state_->not_full.notify_all();
  state_->work.notify_all();
  state_->target_count = 0;
  state_->work.wait(guard, [this] { return state_->workers.empty(); });
  guard.unlock();
  state_->tasks.clear();
}

size_t ThreadPool::size() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->workers.size();
}

void ThreadPool::Push(std::function<void()> task) {
  std::unique_lock<std::mutex> guard(state_->lock);
  state_->not_full.wait(guard, [this] { return state_->tasks.size() < state_->max_queue || state_->stop; });
  if (state_->stop) throw std::runtime_error("enqueue on stopped ThreadPool");
  state_->tasks.push_back(std::move(task));
  state_->work.notify_one();
}

void ThreadPool::WorkerLoop(std::shared_ptr<State> state, unsigned index) {
  std::unique_lock<std::mutex> guard(state->lock);
  for (;;) {
    state->work.wait(guard, [&] { return state->stop || !state->tasks.empty() || state->target_count < index + 1; });
    const bool active = !state->stop && state->target_count >= index + 1;
    if (active || (state->stop && !state->tasks.empty())) {
      if (state->tasks.empty()) continue;
      std::function<void()> task = std::move(state->tasks.front());
      state->tasks.pop_front();
      // Producers wait only at the bound; waking them at the bound and when
      // the queue runs dry is enough.
      if (state->tasks.size() == state->max_queue - 1 || state->tasks.empty()) state->not_full.notify_all();
      guard.unlock();
      task();  // a task's exception is kept in its future
      task = nullptr;
      guard.lock();
      continue;
    }
    // Leaving: only the last worker of the list may go, so workers leave in
    // reverse order of creation.
    if (state->workers.empty() || state->workers.back().get_id() != std::this_thread::get_id()) {
      // Wait for the worker after this one to leave; its leaving wakes us.
      state->work.wait(guard, [&] {
        return state->workers.empty() || state->workers.back().get_id() == std::this_thread::get_id() ||
               (state->stop && !state->tasks.empty());
      });
      continue;
    }
    state->workers.back().detach();
    state->workers.pop_back();
    state->work.notify_all();
    return;  // |state| is released after the lock: the pool may be gone by then
  }
}

}  // namespace base
