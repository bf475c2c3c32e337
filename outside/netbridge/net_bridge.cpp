// "NetBridge.dll": our stand-in for the network library the installer loads.
// Its binary interface is the first half of base/http_client.h. Each started
// task runs one plain HTTP/1.1 request over WinHTTP on a thread of its own.
//
// A body stored to a file is written to "<path>.part" and renamed to the
// save path only when every byte announced has arrived, so the success event
// always names a complete file and a failed transfer leaves no file.
//
// WinHTTP under Wine cannot abort a blocking request from another thread,
// so a released task is not torn down: its thread keeps the task and this
// module alive until the request ends by itself, and then exits.
#include <windows.h>
#include <winhttp.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/http_client.h"
#include "base/scoped_handle.h"

namespace {

using net::HttpTaskEvent;

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};
using ScopedInternet = base::ScopedHandle<InternetHandleTraits>;

// Longer than any caller waits (the installer waits 5 minutes for 7z.dll):
// the time-out of a transfer belongs to the caller, not to the library.
constexpr int kReceiveTimeoutMs = 10 * 60 * 1000;
constexpr int kConnectTimeoutMs = 60 * 1000;
constexpr DWORD kReadChunk = 64 * 1024;

class Task final : public net::IHttpTask {
 public:
  Task() { ::InitializeCriticalSection(&lock_); }

  void STDMETHODCALLTYPE SetCallback(net::IHttpTaskCallback* callback) override {
    ::EnterCriticalSection(&lock_);
    callback_ = callback;
    ::LeaveCriticalSection(&lock_);
  }

  int STDMETHODCALLTYPE Start(int method, const wchar_t* url) override {
    if (method != 0 || !url || started_.exchange(true)) return 0;
    url_ = url;
    // The thread holds a reference to the task and one to this module.
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&ThreadMain), &self)) {
      return 0;
    }
    refs_.fetch_add(1);
    HANDLE thread = ::CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr);
    if (!thread) {
      refs_.fetch_sub(1);
      ::FreeLibrary(self);
      return 0;
    }
    ::CloseHandle(thread);
    return 1;
  }

  void STDMETHODCALLTYPE Release() override {
    abandoned_ = true;  // only the caller releases through the interface
    Drop();
  }

  void STDMETHODCALLTYPE SetSavePath(const wchar_t* path) override {
    save_path_ = path ? path : L"";
  }

  void STDMETHODCALLTYPE SetOption(const char* name, int value) override {
    if (!name) return;
    if (std::strcmp(name, "gzip") == 0) ask_gzip_ = value != 0;
    if (std::strcmp(name, "ungzip") == 0) decode_gzip_ = value != 0;
  }

 private:
  ~Task() { ::DeleteCriticalSection(&lock_); }

  void Drop() {
    if (refs_.fetch_sub(1) == 1) delete this;
  }

  static DWORD WINAPI ThreadMain(void* param) {
    auto* task = static_cast<Task*>(param);
    task->Run();
    task->Drop();
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThreadMain), &self);
    ::FreeLibraryAndExitThread(self, 0);
  }

  void Fire(HttpTaskEvent* event) {
    ::EnterCriticalSection(&lock_);
    if (callback_) callback_->OnTaskEvent(this, event);
    ::LeaveCriticalSection(&lock_);
  }

  HttpTaskEvent NewEvent(int32_t kind) const {
    HttpTaskEvent event = {};
    event.size = sizeof(event);
    event.kind = kind;
    event.http_status = status_;
    event.bytes_received = static_cast<uint32_t>(received_);
    event.bytes_total = static_cast<uint32_t>(total_);
    event.percent = total_ > 0 ? static_cast<uint32_t>(received_ * 100 / total_) : 0;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    event.bytes_per_second = seconds > 0 ? static_cast<uint32_t>(received_ / seconds) : 0;
    return event;
  }

  void Fail(int32_t code, const std::wstring& text) {
    if (!part_path_.empty()) {
      file_.Close();
      ::DeleteFileW(part_path_.c_str());
    }
    HttpTaskEvent event = NewEvent(net::kHttpEventFailure);
    event.result_code = code;
    event.text = text.c_str();
    Fire(&event);
  }

  void Run() {
    began_ = std::chrono::steady_clock::now();
    DWORD error = Transfer();
    if (error != 0) {
      Fail(static_cast<int32_t>(error), error_text_);
      return;
    }
    std::wstring text = save_path_.empty() ? L"OK" : save_path_;
    HttpTaskEvent progress = NewEvent(net::kHttpEventProgress);
    Fire(&progress);
    HttpTaskEvent event = NewEvent(net::kHttpEventSuccess);
    event.text = text.c_str();
    if (save_path_.empty()) {
      event.body = memory_.data();
      event.body_length = static_cast<uint32_t>(memory_.size());
    }
    Fire(&event);
  }

  // 0 on success, else the HTTP status (>= 300) or a system error code, with
  // error_text_ set.
  DWORD Transfer() {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!::WinHttpCrackUrl(url_.c_str(), 0, 0, &parts)) return SystemError(L"bad URL");
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    ScopedInternet session(::WinHttpOpen(L"NetBridge/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return SystemError(L"WinHttpOpen");
    ::WinHttpSetTimeouts(session.Get(), 0, kConnectTimeoutMs, kConnectTimeoutMs,
                         kReceiveTimeoutMs);
    ScopedInternet connection(::WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    if (!connection) return SystemError(L"WinHttpConnect");
    DWORD flags = WINHTTP_FLAG_REFRESH;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= WINHTTP_FLAG_SECURE;
    ScopedInternet request(::WinHttpOpenRequest(connection.Get(), L"GET", target.c_str(), nullptr,
                                                WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) return SystemError(L"WinHttpOpenRequest");
    const wchar_t* headers = ask_gzip_ ? L"Accept-Encoding: gzip\r\n" : WINHTTP_NO_ADDITIONAL_HEADERS;
    if (!::WinHttpSendRequest(request.Get(), headers, ask_gzip_ ? static_cast<DWORD>(-1) : 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr)) {
      return SystemError(L"request failed");
    }
    DWORD status = 0, size = sizeof(status);
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    status_ = static_cast<int32_t>(status);
    if (status < 200 || status >= 300) {
      error_text_ = L"HTTP status " + std::to_wstring(status);
      return status ? status : ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    }
    DWORD length = 0;
    size = sizeof(length);
    bool has_length = ::WinHttpQueryHeaders(
        request.Get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
        WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX);
    total_ = has_length ? length : 0;
    wchar_t encoding[32] = {};
    size = sizeof(encoding);
    bool gzip = decode_gzip_ &&
                ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_CONTENT_ENCODING,
                                      WINHTTP_HEADER_NAME_BY_INDEX, encoding, &size,
                                      WINHTTP_NO_HEADER_INDEX) &&
                _wcsicmp(encoding, L"gzip") == 0;
    return ReceiveBody(request.Get(), has_length, gzip);
  }

  DWORD ReceiveBody(HINTERNET request, bool has_length, bool gzip) {
    if (!save_path_.empty()) {
      part_path_ = save_path_ + L".part";
      file_.Reset(::CreateFileW(part_path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file_.IsValid()) return SystemError(L"cannot create the file");
    }
    z_stream inflater = {};
    if (gzip && inflateInit2(&inflater, 16 + MAX_WBITS) != Z_OK) return SystemError(L"zlib");
    std::vector<uint8_t> chunk(kReadChunk), decoded(4 * kReadChunk);
    DWORD error = 0;
    for (;;) {
      if (abandoned_) {
        error = ERROR_CANCELLED;
        error_text_ = L"abandoned";
        break;
      }
      DWORD got = 0;
      if (!::WinHttpReadData(request, chunk.data(), kReadChunk, &got)) {
        error = SystemError(L"read failed");
        break;
      }
      if (got == 0) break;
      received_ += got;
      if (!gzip) {
        error = Store(chunk.data(), got);
      } else {
        inflater.next_in = chunk.data();
        inflater.avail_in = got;
        while (error == 0 && inflater.avail_in > 0) {
          inflater.next_out = decoded.data();
          inflater.avail_out = static_cast<uInt>(decoded.size());
          int z = inflate(&inflater, Z_NO_FLUSH);
          if (z != Z_OK && z != Z_STREAM_END) error = Invalid(L"bad gzip body");
          if (error == 0) error = Store(decoded.data(), decoded.size() - inflater.avail_out);
          if (z == Z_STREAM_END) break;
        }
      }
      if (error != 0) break;
      HttpTaskEvent progress = NewEvent(net::kHttpEventProgress);
      Fire(&progress);
    }
    if (gzip) inflateEnd(&inflater);
    if (error == 0 && has_length && received_ != total_) error = Invalid(L"body cut short");
    if (error == 0 && file_.IsValid()) {
      bool flushed = ::FlushFileBuffers(file_.Get()) != 0;
      file_.Close();
      if (!flushed || !::MoveFileExW(part_path_.c_str(), save_path_.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = SystemError(L"cannot store the file");
      } else {
        part_path_.clear();
      }
    }
    return error;
  }

  DWORD Store(const uint8_t* data, size_t size) {
    if (!file_.IsValid()) {
      memory_.insert(memory_.end(), data, data + size);
      return 0;
    }
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), data, static_cast<DWORD>(size), &written, nullptr) ||
        written != size) {
      return SystemError(L"write failed");
    }
    return 0;
  }

  DWORD SystemError(const wchar_t* what) {
    DWORD error = ::GetLastError();
    if (error == 0) error = ERROR_GEN_FAILURE;
    error_text_ = std::wstring(what) + L", error " + std::to_wstring(error);
    return error;
  }

  DWORD Invalid(const wchar_t* what) {
    error_text_ = what;
    return ERROR_INVALID_DATA;
  }

  CRITICAL_SECTION lock_;
  net::IHttpTaskCallback* callback_ = nullptr;  // guarded by lock_
  std::atomic<long> refs_{1};
  std::atomic<bool> started_{false};
  std::atomic<bool> abandoned_{false};
  bool ask_gzip_ = false;
  bool decode_gzip_ = false;
  std::wstring url_;
  std::wstring save_path_;
  // Used by the request thread only.
  std::wstring part_path_;
  base::ScopedKernelHandle file_;
  std::vector<uint8_t> memory_;
  std::wstring error_text_;
  int32_t status_ = 0;
  uint64_t received_ = 0;
  uint64_t total_ = 0;
  std::chrono::steady_clock::time_point began_;
};

class Engine final : public net::IHttpEngine {
 public:
  net::IHttpTask* STDMETHODCALLTYPE CreateTask() override { return new Task(); }
};

}  // namespace

extern "C" {

__declspec(dllexport) net::IHttpEngine* WINAPI HttpInit() { return new Engine(); }

// Tasks already started finish on their own threads.
__declspec(dllexport) void WINAPI HttpUninit(net::IHttpEngine* engine) {
  delete static_cast<Engine*>(engine);
}

__declspec(dllexport) int WINAPI zlib_uncompress(uint8_t* dest, unsigned long* dest_length,
                                                 const uint8_t* source,
                                                 unsigned long source_length) {
  uLongf length = *dest_length;
  int result = uncompress(dest, &length, source, source_length);
  *dest_length = static_cast<unsigned long>(length);
  return result;
}

__declspec(dllexport) int WINAPI zlib_compress(uint8_t* dest, unsigned long* dest_length,
                                               const uint8_t* source, unsigned long source_length) {
  uLongf length = *dest_length;
  int result = compress(dest, &length, source, source_length);
  *dest_length = static_cast<unsigned long>(length);
  return result;
}

__declspec(dllexport) unsigned long WINAPI zlib_compressBound(unsigned long source_length) {
  return static_cast<unsigned long>(compressBound(source_length));
}

}  // extern "C"
