#include "base/task_loop.h"

#include <algorithm>
#include <utility>

namespace base {
namespace {

constexpr wchar_t kWindowClass[] = L"NqMessageLoopWindow";
// Asks the loop's thread to run one queued task. At most one such message is
// in the thread's queue at a time, so posting many tasks cannot fill it.
constexpr UINT kMsgDoWork = WM_APP + 0x3A1;

thread_local MessageLoop* g_current = nullptr;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

}  // namespace

// ---- MessageLoopProxy --------------------------------------------------------

MessageLoopProxy::MessageLoopProxy(MessageLoop* loop) : loop_(loop), thread_id_(::GetCurrentThreadId()) {}

bool MessageLoopProxy::PostTask(const Location& from_here, std::function<void()> task) {
  if (!task) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (!loop_) return false;
  queue_.push_back({from_here, std::move(task)});
  if (!work_scheduled_) loop_->ScheduleWork();
  return true;
}

bool MessageLoopProxy::RunsTasksOnCurrentThread() const { return ::GetCurrentThreadId() == thread_id_; }

std::deque<MessageLoopProxy::PendingTask> MessageLoopProxy::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  loop_ = nullptr;
  return std::exchange(queue_, {});
}

bool MessageLoopProxy::TakeTask(PendingTask* task, bool* more) {
  std::lock_guard<std::mutex> guard(lock_);
  if (queue_.empty() || !loop_) {
    work_scheduled_ = false;
    return false;
  }
  *task = std::move(queue_.front());
  queue_.pop_front();
  *more = !queue_.empty();
  // Ask for the next turn before this task runs, so other messages that
  // arrived meanwhile are handled between the two tasks.
  work_scheduled_ = false;
  if (*more) loop_->ScheduleWork();
  return true;
}

// ---- MessageLoop -------------------------------------------------------------

MessageLoop::MessageLoop(Type type) : type_(type) {
  static const bool registered = [] {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = &MessageLoop::WndProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  (void)registered;
  window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
  if (window_) ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  proxy_.reset(new MessageLoopProxy(this));
  if (!g_current) g_current = this;
}

MessageLoop::~MessageLoop() {
  // Tasks that never ran are destroyed here, outside the proxy's lock, so a
  // task's destructor may post (the post is dropped).
  std::deque<MessageLoopProxy::PendingTask> dropped = proxy_->Detach();
  if (window_) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  if (g_current == this) g_current = nullptr;
}

MessageLoop* MessageLoop::current() { return g_current; }

std::shared_ptr<SingleThreadTaskRunner> MessageLoop::task_runner() const { return proxy_; }

void MessageLoop::ScheduleWork() {
  // Runs under the proxy's lock, so the window cannot be destroyed meanwhile.
  proxy_->work_scheduled_ = window_ && ::PostMessageW(window_, kMsgDoWork, 0, 0);
}

void MessageLoop::OnRunStart() {
  std::lock_guard<std::mutex> guard(proxy_->lock_);
  if (!proxy_->queue_.empty() && !proxy_->work_scheduled_) ScheduleWork();
}

void MessageLoop::DoWork() {
  if (run_depth_ == 0) {
    // Not running: the tasks wait for the next Run, which asks again.
    std::lock_guard<std::mutex> guard(proxy_->lock_);
    proxy_->work_scheduled_ = false;
    return;
  }
  MessageLoopProxy::PendingTask task;
  bool more = false;
  if (proxy_->TakeTask(&task, &more)) task.task();
}

LRESULT CALLBACK MessageLoop::WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kMsgDoWork) {
    // Reached when a modal loop inside Run dispatches the message.
    if (auto* loop = reinterpret_cast<MessageLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) loop->DoWork();
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// ---- RunLoop -----------------------------------------------------------------

RunLoop::RunLoop(MessagePumpDispatcher* dispatcher) : dispatcher_(dispatcher) {}

void RunLoop::Run() {
  MessageLoop* loop = MessageLoop::current();
  if (!loop) return;
  ++loop->run_depth_;
  loop->OnRunStart();
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kMsgDoWork && msg.hwnd == loop->window_) {
      loop->DoWork();
      continue;
    }
    if (dispatcher_) {
      dispatcher_->Dispatch(msg);
    } else {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  --loop->run_depth_;
}

}  // namespace base

// ---- CMessageFilters -----------------------------------------------------------

CMessageFilters* CMessageFilters::GetInstance() {
  static CMessageFilters* instance = new CMessageFilters();  // lives until the process ends
  return instance;
}

void CMessageFilters::AddFilter(CMessageFilter* filter) {
  if (filter && std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) filters_.push_back(filter);
}

void CMessageFilters::RemoveFilter(CMessageFilter* filter) {
  filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
}

void CMessageFilters::Dispatch(const MSG& msg) {
  MSG copy = msg;
  for (CMessageFilter* filter : filters_) {
    if (filter->PreTranslateMessage(&copy)) return;
  }
  ::TranslateMessage(&copy);
  ::DispatchMessageW(&copy);
}
