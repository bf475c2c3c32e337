// The UI loop: a message loop on the main thread driven by the system message
// pump, with a reference-counted task runner that any thread may post to.
//
//   base::MessageLoop loop(base::MessageLoop::Type::kUI);
//   base::RunLoop run(CMessageFilters::GetInstance());
//   ui_task_runner_ = loop.task_runner();
//   ... create windows ...
//   run.Run();  // until WM_QUIT
//
// Posted tasks run on the loop's thread one at a time, in posting order,
// between window messages, and only while a RunLoop runs on that thread
// (including modal loops started from inside it). A post after the loop is
// destroyed is dropped.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace base {

// Where a task was posted from, kept for debugging.
struct Location {
  const char* function;
  const char* file;
  int line;
};
#define FROM_HERE ::base::Location{__func__, __FILE__, __LINE__}

class SingleThreadTaskRunner {
 public:
  virtual ~SingleThreadTaskRunner() = default;
  // Queues |task| for the runner's thread; false when it will never run (the
  // loop is gone). Safe from any thread.
  virtual bool PostTask(const Location& from_here, std::function<void()> task) = 0;
  virtual bool RunsTasksOnCurrentThread() const = 0;
};

// Decides what happens to each message the pump retrieves.
class MessagePumpDispatcher {
 public:
  virtual ~MessagePumpDispatcher() = default;
  // Handles |msg| completely (translate and dispatch, or swallow it).
  virtual void Dispatch(const MSG& msg) = 0;
};

class MessageLoopProxy;

class MessageLoop {
 public:
  enum class Type { kUI };

  // Binds the loop to the current thread; at most one per thread.
  explicit MessageLoop(Type type = Type::kUI);
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // The loop of the current thread, or null.
  static MessageLoop* current();

  std::shared_ptr<SingleThreadTaskRunner> task_runner() const;
  Type type() const { return type_; }

 private:
  friend class MessageLoopProxy;
  friend class RunLoop;

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Called from the proxy under its lock: asks the loop's thread to look at
  // the queue.
  void ScheduleWork();
  // Runs at most one task and asks for another turn when more are queued.
  void DoWork();
  void OnRunStart();

  Type type_;
  HWND window_ = nullptr;
  int run_depth_ = 0;
  std::shared_ptr<MessageLoopProxy> proxy_;
};

// Runs the current thread's MessageLoop until WM_QUIT.
class RunLoop {
 public:
  // |dispatcher| may be null: messages are then translated and dispatched.
  explicit RunLoop(MessagePumpDispatcher* dispatcher = nullptr);
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Returns when the pump retrieves WM_QUIT (or at once without a loop).
  void Run();

 private:
  MessagePumpDispatcher* dispatcher_;
};

// The task runner of one MessageLoop. Outlives it when references remain;
// posts are then dropped.
class MessageLoopProxy final : public SingleThreadTaskRunner {
 public:
  bool PostTask(const Location& from_here, std::function<void()> task) override;
  bool RunsTasksOnCurrentThread() const override;

 private:
  friend class MessageLoop;
  struct PendingTask {
    Location from_here;
    std::function<void()> task;
  };

  explicit MessageLoopProxy(MessageLoop* loop);
  // Detaches from the loop; returns the tasks that will never run.
  std::deque<PendingTask> Detach();
  // Takes the oldest task; false when none. |more| tells whether others wait.
  bool TakeTask(PendingTask* task, bool* more);

  mutable std::mutex lock_;
  MessageLoop* loop_;  // null once the loop is gone
  DWORD thread_id_;
  std::deque<PendingTask> queue_;
  bool work_scheduled_ = false;
};

}  // namespace base

// Message filters asked before a message is translated and dispatched.
class CMessageFilter {
 public:
  virtual ~CMessageFilter() = default;
  // True claims |msg|: it is then neither translated nor dispatched.
  virtual bool PreTranslateMessage(MSG* msg) = 0;
};

// The UI loop's dispatcher: a process-wide ordered list of filters. The first
// filter that claims a message ends its handling; a message no filter claims
// is translated and dispatched.
class CMessageFilters final : public base::MessagePumpDispatcher {
 public:
  static CMessageFilters* GetInstance();

  // Filters are owned by the caller and used on the UI thread only.
  void AddFilter(CMessageFilter* filter);
  void RemoveFilter(CMessageFilter* filter);

  void Dispatch(const MSG& msg) override;

 private:
  CMessageFilters() = default;
  std::vector<CMessageFilter*> filters_;
};
