#include "base/task_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/thread_pool.h"

namespace {

// Ends a RunLoop that would otherwise wait for ever when a task never runs.
class Watchdog {
 public:
  Watchdog() { timer_ = ::SetTimer(nullptr, 0, 20000, &Watchdog::Fire); }
  ~Watchdog() { ::KillTimer(nullptr, timer_); }
  static bool fired() { return fired_; }

 private:
  static void CALLBACK Fire(HWND, UINT, UINT_PTR, DWORD) {
    fired_ = true;
    ::PostQuitMessage(1);
  }
  UINT_PTR timer_ = 0;
  static inline bool fired_ = false;
};

// Pumps what is queued now without a RunLoop, as a foreign pump would.
void PumpPending() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

TEST(TaskLoopTest, TaskPostedFromAPoolThreadRunsOnTheUiThreadOnlyWhileTheLoopRuns) {
  base::MessageLoop loop(base::MessageLoop::Type::kUI);
  ASSERT_EQ(base::MessageLoop::current(), &loop);
  std::shared_ptr<base::SingleThreadTaskRunner> runner = loop.task_runner();
  const DWORD ui_thread = ::GetCurrentThreadId();
  std::atomic<DWORD> ran_on{0};
  DWORD poster = 0;
  {
    base::ThreadPool pool(2);
    pool.enqueue([&] {
          poster = ::GetCurrentThreadId();
          EXPECT_FALSE(runner->RunsTasksOnCurrentThread());
          runner->PostTask(FROM_HERE, [&] {
            ran_on = ::GetCurrentThreadId();
            ::PostQuitMessage(0);
          });
        })
        .get();
  }
  PumpPending();
  EXPECT_EQ(ran_on.load(), 0u) << "ran although no loop was running";

  Watchdog watchdog;
  base::RunLoop(CMessageFilters::GetInstance()).Run();
  ASSERT_FALSE(Watchdog::fired());
  EXPECT_EQ(ran_on.load(), ui_thread);
  EXPECT_NE(ran_on.load(), poster);
  EXPECT_TRUE(runner->RunsTasksOnCurrentThread());
}

TEST(TaskLoopTest, TasksRunInPostingOrderFromManyThreads) {
  base::MessageLoop loop;
  auto runner = loop.task_runner();
  static constexpr int kPerThread = 500;
  std::vector<int> order;  // touched only by tasks, i.e. on this thread
  std::vector<std::thread> posters;
  for (int t = 0; t < 2; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) runner->PostTask(FROM_HERE, [&order, t, i] { order.push_back(t * kPerThread + i); });
    });
  }
  for (auto& poster : posters) poster.join();
  runner->PostTask(FROM_HERE, [] { ::PostQuitMessage(0); });
  Watchdog watchdog;
  base::RunLoop().Run();
  ASSERT_FALSE(Watchdog::fired());
  ASSERT_EQ(order.size(), 2u * kPerThread);
  // Each thread's tasks keep their relative order.
  int next[2] = {0, kPerThread};
  for (int value : order) {
    const int t = value / kPerThread;
    EXPECT_EQ(value, next[t]);
    next[t] = value + 1;
  }
}

TEST(TaskLoopTest, PostAfterTheLoopIsGoneIsDroppedAndQueuedTasksAreReleased) {
  std::shared_ptr<base::SingleThreadTaskRunner> runner;
  auto captured = std::make_shared<int>(0);
  bool ran = false;
  {
    base::MessageLoop loop;
    runner = loop.task_runner();
    EXPECT_TRUE(runner->PostTask(FROM_HERE, [captured, &ran] { ran = true; }));
  }
  EXPECT_EQ(base::MessageLoop::current(), nullptr);
  EXPECT_EQ(captured.use_count(), 1) << "the never-run task was not released";
  EXPECT_FALSE(runner->PostTask(FROM_HERE, [&ran] { ran = true; }));
  PumpPending();
  EXPECT_FALSE(ran);
}

class ClaimMessage : public CMessageFilter {
 public:
  explicit ClaimMessage(UINT message) : message_(message) {}
  bool PreTranslateMessage(MSG* msg) override { return msg->message == message_; }

 private:
  UINT message_;
};

std::vector<UINT>* g_seen = nullptr;
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_APP && g_seen) g_seen->push_back(message);
  return ::DefWindowProcW(window, message, wparam, lparam);
}

TEST(TaskLoopTest, AClaimingFilterKeepsItsMessageFromTheWindow) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &RecordingProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"NqTaskLoopTestWindow";
  ::RegisterClassW(&wc);
  HWND window = ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  std::vector<UINT> seen;
  g_seen = &seen;

  ClaimMessage claim(WM_APP + 5);
  CMessageFilters* filters = CMessageFilters::GetInstance();
  filters->AddFilter(&claim);
  base::MessageLoop loop;
  ::PostMessageW(window, WM_APP + 5, 0, 0);
  ::PostMessageW(window, WM_APP + 6, 0, 0);
  loop.task_runner()->PostTask(FROM_HERE, [] { ::PostQuitMessage(0); });
  Watchdog watchdog;
  base::RunLoop(filters).Run();
  filters->RemoveFilter(&claim);

  EXPECT_EQ(seen, std::vector<UINT>{WM_APP + 6});
  g_seen = nullptr;
  ::DestroyWindow(window);
}

}  // namespace
