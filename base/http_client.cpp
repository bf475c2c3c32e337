#include "base/http_client.h"

#include <shlwapi.h>

#include <atomic>
#include <memory>

#include "base/lock.h"
#include "base/logging.h"
#include "base/scoped_handle.h"
#include "telemetry/product_info.h"
#include "utils/utils.h"

namespace net {
namespace {

// The library binding: one per process, never destroyed. Its fields are
// written only by InitNet and UninitNet on the installer's thread.
struct NetBridgeBinding {
  base::ScopedModule module;
  HttpInitFunc http_init = nullptr;
  HttpUninitFunc http_uninit = nullptr;
  // Resolved with the others and kept; the client itself has no use for them.
  ZlibUncompressFunc zlib_uncompress = nullptr;
  ZlibCompressFunc zlib_compress = nullptr;
  ZlibCompressBoundFunc zlib_compress_bound = nullptr;
  IHttpEngine* engine = nullptr;
};

_BaseModule::CCriticalSection g_binding_lock;
NetBridgeBinding* g_binding = nullptr;

NetBridgeBinding* Binding() {
  _BaseModule::CAutoLocker guard(g_binding_lock);
  if (!g_binding) g_binding = new NetBridgeBinding();
  return g_binding;
}

template <class T>
T Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<T>(::GetProcAddress(module, name));
}

}  // namespace

bool InitNet(const std::wstring& path) {
  std::wstring full = path;
  if (::PathIsRelativeW(path.c_str())) full = utils::GetModuleDir(nullptr) + L"\\" + path;
  if (!VerifyPublisher(full)) {
    LOG(Error) << "net::InitNet, publisher check failed: " << full;
    return false;
  }
  NetBridgeBinding* binding = Binding();
  if (!binding->module.IsValid()) {
    binding->module.Reset(::LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!binding->module.IsValid()) {
      LOG(Error) << "net::InitNet, load failed: " << full << " error=" << ::GetLastError();
      return false;
    }
    HMODULE module = binding->module.Get();
    binding->http_init = Resolve<HttpInitFunc>(module, "HttpInit");
    binding->http_uninit = Resolve<HttpUninitFunc>(module, "HttpUninit");
    binding->zlib_uncompress = Resolve<ZlibUncompressFunc>(module, "zlib_uncompress");
    binding->zlib_compress = Resolve<ZlibCompressFunc>(module, "zlib_compress");
    binding->zlib_compress_bound = Resolve<ZlibCompressBoundFunc>(module, "zlib_compressBound");
    if (binding->http_init) binding->engine = binding->http_init();
  }
  return binding->http_uninit && binding->http_init && binding->engine;
}

void UninitNet() {
  NetBridgeBinding* binding = Binding();
  if (binding->http_uninit) binding->http_uninit(binding->engine);
  // Nothing of the unloaded library may be reached afterwards: the engine
  // pointer goes with the entry points.
  binding->engine = nullptr;
  if (binding->module.IsValid()) {
    binding->http_init = nullptr;
    binding->http_uninit = nullptr;
    binding->zlib_uncompress = nullptr;
    binding->zlib_compress = nullptr;
    binding->zlib_compress_bound = nullptr;
    binding->module.Close();
  }
}

// ---- Response ----

Response::~Response() {
  IHttpTask* task = task_;
  Detach();
  on_success_ = nullptr;
  on_failure_ = nullptr;
  on_finish_ = nullptr;
  body_.clear();
  task_ = nullptr;
  if (task) task->Release();
}

void Response::Detach() {
  if (task_) task_->SetCallback(nullptr);
}

void Response::SetTask(IHttpTask* task) {
  IHttpTask* previous = task_;
  if (previous) previous->SetCallback(nullptr);
  task_ = task;
  if (previous) previous->Release();
}

void Response::OnTaskEvent(IHttpTask* task, HttpTaskEvent* event) {
  if (!event || task != task_) return;
  if (event->kind < kHttpEventProgress || event->kind > kHttpEventFailure) return;
  OnEvent(event);
}

void Response::OnEvent(HttpTaskEvent* event) {
  if (event->kind == kHttpEventProgress) return;
  result_code_ = event->result_code;
  bool success = event->kind == kHttpEventSuccess;
  if (success && event->body) {
    body_.assign(reinterpret_cast<const char*>(event->body), event->body_length);
  }
  const ResultHandler& handler = success ? on_success_ : on_failure_;
  if (handler) handler(this);
  if (on_finish_) on_finish_();
}

// ---- CHttpDownloadFile ----

CHttpDownloadFile::~CHttpDownloadFile() {
  // Our own members go before ~Response runs: no event may reach them then.
  Detach();
}

int CHttpDownloadFile::Start(const std::wstring& url, const std::wstring& path,
                             ProgressHandler on_progress, ResultHandler on_success,
                             ResultHandler on_failure, FinishHandler on_finish) {
  IHttpEngine* engine = Binding()->engine;
  if (!engine) return 0;
  IHttpTask* task = engine->CreateTask();
  if (!task) return 0;
  task->SetOption("ungzip", 0);
  task->SetOption("gzip", 0);
  SetTask(task);
  task->SetCallback(this);
  task->SetSavePath(path.c_str());
  on_progress_ = std::move(on_progress);
  on_success_ = std::move(on_success);
  on_failure_ = std::move(on_failure);
  on_finish_ = std::move(on_finish);
  return task->Start(0, url.c_str());
}

void CHttpDownloadFile::OnEvent(HttpTaskEvent* event) {
  auto progress = [this, event] {
    if (on_progress_) {
      on_progress_(event->percent, event->bytes_received, event->bytes_total,
                   event->bytes_per_second);
    }
  };
  if (event->kind == kHttpEventProgress) {
    progress();
    return;
  }
  if (event->text) message_ = event->text;
  if (event->kind == kHttpEventSuccess) progress();
  Response::OnEvent(event);
}

// ---- HttpDownloadFile ----

bool HttpDownloadFile(const std::wstring& url, const std::wstring& path, DWORD timeout_ms,
                      HANDLE extra_wait) {
  base::ScopedKernelHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done.IsValid()) return false;
  // Written on the library's thread, read here after the download object is
  // gone (and with it every way for a handler to run).
  std::atomic<bool> succeeded{false};
  HANDLE done_event = done.Get();
  auto download = std::make_unique<CHttpDownloadFile>();
  int started = download->Start(
      url, path, [](uint32_t, uint32_t, uint32_t, uint32_t) {},
      [&succeeded](Response*) { succeeded = true; }, [](Response*) {},
      [done_event] { ::SetEvent(done_event); });
  if (!started) {
    LOG(Error) << "net::HttpDownloadFile, request not started: " << url;
  } else {
    HANDLE handles[2] = {done_event, extra_wait};
    DWORD count = extra_wait ? 2 : 1;
    DWORD wait = ::WaitForMultipleObjects(count, handles, FALSE, timeout_ms);
    if (wait == WAIT_TIMEOUT) {
      LOG(Error) << "net::HttpDownloadFile, time-out: " << url;
    } else if (wait == WAIT_OBJECT_0 + 1) {
      LOG(Error) << "net::HttpDownloadFile, stopped: " << url;
    }
  }
  download.reset();
  return succeeded;
}

}  // namespace net
