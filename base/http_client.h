// The HTTP client of the installer: downloads through the network library
// "NetBridge.dll", which is loaded at run time after its publisher signature
// has been checked.
//
// The first half of this file is the library's binary interface (shared with
// the stand-in in outside/netbridge/): exports, engine and task objects with
// __stdcall methods in fixed slot order, and the event record the library
// passes to a task's callback. The second half is the client's binding.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace net {

// ---- The library's binary interface ----

enum HttpEventKind : int32_t {
  kHttpEventProgress = 1,
  kHttpEventSuccess = 2,
  kHttpEventFailure = 3,
};

// One event of a task. The offsets noted are those of the 32-bit build, where
// the record's layout is fixed; 64-bit builds use the natural layout of the
// same fields. Pointers stay valid only during the callback.
struct HttpTaskEvent {
  uint32_t size;              // 0: sizeof(HttpTaskEvent)
  int32_t kind;               // 4: HttpEventKind
  int32_t result_code;        // 8: 0 on success, else the HTTP status or system error
  int32_t http_status;        // 12: the server's status code, 0 when none came
  const uint8_t* body;        // 16: received bytes of an in-memory request, or null
  const wchar_t* text;        // 20: zero-terminated message, or null
  uint32_t body_length;       // 24: bytes at |body|
  uint32_t reserved1[3];      // 28
  uint32_t bytes_received;    // 40: body bytes so far (low 32 bits)
  uint32_t bytes_total;       // 44: announced body length, 0 when unknown
  uint32_t reserved2[19];     // 48
  uint32_t percent;           // 124: 0..100, 0 while the total is unknown
  uint32_t bytes_per_second;  // 128: average since the response began
};

#if defined(__i386__)
static_assert(offsetof(HttpTaskEvent, kind) == 4, "event layout");
static_assert(offsetof(HttpTaskEvent, result_code) == 8, "event layout");
static_assert(offsetof(HttpTaskEvent, body) == 16, "event layout");
static_assert(offsetof(HttpTaskEvent, text) == 20, "event layout");
static_assert(offsetof(HttpTaskEvent, body_length) == 24, "event layout");
static_assert(offsetof(HttpTaskEvent, bytes_received) == 40, "event layout");
static_assert(offsetof(HttpTaskEvent, bytes_total) == 44, "event layout");
static_assert(offsetof(HttpTaskEvent, percent) == 124, "event layout");
static_assert(offsetof(HttpTaskEvent, bytes_per_second) == 128, "event layout");
#endif

class IHttpTask;

// What the library calls. Slot 0, OnTaskEvent, is __stdcall, so the callback
// object travels as an explicit first argument; it runs on one of the
// library's threads.
class IHttpTaskCallback {
 public:
  virtual void STDMETHODCALLTYPE OnTaskEvent(IHttpTask* task, HttpTaskEvent* event) = 0;
  virtual ~IHttpTaskCallback() = default;
  virtual void OnEvent(HttpTaskEvent* event) = 0;
};

// One request. Once SetCallback(nullptr) has returned, the library calls the
// previous callback no more. Release gives up the caller's reference; a
// running request then ends on its own without reporting.
class IHttpTask {
 public:
  virtual void STDMETHODCALLTYPE SetCallback(IHttpTaskCallback* callback) = 0;
  // |method| 0 is GET. Non-zero when the request was started.
  virtual int STDMETHODCALLTYPE Start(int method, const wchar_t* url) = 0;
  virtual void STDMETHODCALLTYPE Release() = 0;
  // Where the body is stored; without one it comes with the success event.
  virtual void STDMETHODCALLTYPE SetSavePath(const wchar_t* path) = 0;
  // "gzip": ask for a gzip-encoded body; "ungzip": decode one. Both 0 by
  // default.
  virtual void STDMETHODCALLTYPE SetOption(const char* name, int value) = 0;

 protected:
  ~IHttpTask() = default;
};

class IHttpEngine {
 public:
  virtual IHttpTask* STDMETHODCALLTYPE CreateTask() = 0;

 protected:
  ~IHttpEngine() = default;
};

// The library's exports, by name: "HttpInit", "HttpUninit", "zlib_uncompress",
// "zlib_compress", "zlib_compressBound" (the last three as zlib's functions).
using HttpInitFunc = IHttpEngine*(WINAPI*)();
using HttpUninitFunc = void(WINAPI*)(IHttpEngine* engine);
using ZlibCompressFunc = int(WINAPI*)(uint8_t* dest, unsigned long* dest_length,
                                      const uint8_t* source, unsigned long source_length);
using ZlibUncompressFunc = ZlibCompressFunc;
using ZlibCompressBoundFunc = unsigned long(WINAPI*)(unsigned long source_length);

// ---- The client's binding ----

// Loads the library once per process (relative paths are taken from the
// executable's folder). False, without loading, when the file does not pass
// the publisher check; false when it does not load, lacks "HttpInit" or
// "HttpUninit", or gives no engine. A later call after a successful one does
// not initialise the library again. Call from one thread (the installer's).
bool InitNet(const std::wstring& path);
// Ends the engine and unloads the library; a later InitNet starts afresh.
void UninitNet();

// The response to one request. Handlers run on the library's thread.
class Response : public IHttpTaskCallback {
 public:
  using ResultHandler = std::function<void(Response* response)>;
  using FinishHandler = std::function<void()>;

  Response() = default;
  Response(const Response&) = delete;
  Response& operator=(const Response&) = delete;
  // Detaches from the task before anything else, then releases it.
  ~Response() override;

  // Passes events of the owned task with a known kind to OnEvent.
  void STDMETHODCALLTYPE OnTaskEvent(IHttpTask* task, HttpTaskEvent* event) final;
  void OnEvent(HttpTaskEvent* event) override;

  IHttpTask* task() const { return task_; }
  int32_t result_code() const { return result_code_; }
  const std::string& body() const { return body_; }

 protected:
  // Owns |task| from now on; the previous task is detached and released.
  void SetTask(IHttpTask* task);
  // Stops all further events; safe to call more than once.
  void Detach();

  IHttpTask* task_ = nullptr;
  int32_t result_code_ = 0;
  std::string body_;
  ResultHandler on_success_;
  ResultHandler on_failure_;
  FinishHandler on_finish_;
};

// A download into a file.
class CHttpDownloadFile : public Response {
 public:
  // (percent, bytes received, bytes total, bytes per second)
  using ProgressHandler = std::function<void(uint32_t, uint32_t, uint32_t, uint32_t)>;

  CHttpDownloadFile() = default;
  ~CHttpDownloadFile() override;

  // Starts a GET of |url| stored at |path|. Non-zero when the library took
  // the request; 0 without an engine or a task.
  int Start(const std::wstring& url, const std::wstring& path, ProgressHandler on_progress,
            ResultHandler on_success, ResultHandler on_failure, FinishHandler on_finish);

  void OnEvent(HttpTaskEvent* event) override;

  const std::wstring& message() const { return message_; }

 private:
  ProgressHandler on_progress_;
  std::wstring message_;
};

// Downloads |url| to |path| and waits for the end of the transfer, the
// signalling of |extra_wait| (when given) or |timeout_ms|, whichever comes
// first. True only when the transfer succeeded before the wait ended.
bool HttpDownloadFile(const std::wstring& url, const std::wstring& path, DWORD timeout_ms,
                      HANDLE extra_wait = nullptr);

}  // namespace net
