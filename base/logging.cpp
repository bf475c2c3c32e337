#include "base/logging.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "base/string_util.h"

namespace LogUtils {
namespace {

constexpr wchar_t kSwitchSuffix[] = L".on";
// The header is composed in a buffer of this many characters; a tag that does
// not fit is cut.
constexpr size_t kHeaderChars = 100;

const wchar_t* LevelTag(int level) {
  switch (level) {
    case Debug: return L"[D]";
    case Info: return L"[I]";
    case Error: return L"[E]";
    default: return L"";
  }
}

std::wstring FormatHeader(const std::wstring& tag) {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  wchar_t buf[kHeaderChars];
  int n = _snwprintf(buf, kHeaderChars, L"%02d-%02d %02d:%02d:%02d.%03d [%5lu][%5lu]", t.wMonth,
                     t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                     ::GetCurrentProcessId(), ::GetCurrentThreadId());
  std::wstring header(buf, n > 0 ? static_cast<size_t>(n) : 0);
  if (!tag.empty()) {
    size_t room = kHeaderChars - 1 - header.size();
    if (room > 2) header += L"[" + tag.substr(0, room - 2) + L"]";
  }
  return header;
}

}  // namespace

std::wstring MutexNameFromPath(std::wstring_view path) {
  std::wstring name;
  for (wchar_t c : path) {
    if (c >= L'a' && c <= L'z') {
      name += static_cast<wchar_t>(c - L'a' + L'A');
    } else if ((c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9')) {
      name += c;
    }
  }
  return name;
}

// ---------------------------------------------------------------------------
// LogAppender

LogAppender::LogAppender(const std::wstring& path, const std::wstring& tag, int delete_at_first_open)
    : delete_at_first_open_(delete_at_first_open), path_(path), tag_(tag) {
  mutex_name_ = MutexNameFromPath(path_);
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, mutex_name_.c_str());
  bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  mutex_ = mutex;
  if (mutex && !existed) {
    // First user of the file since no copy held the mutex.
    if (delete_at_first_open_) ::DeleteFileW(path_.c_str());
    ::ReleaseMutex(mutex);
  }
}

LogAppender::~LogAppender() {
  if (fd_ != -1) _close(fd_);
  if (mutex_) ::CloseHandle(static_cast<HANDLE>(mutex_));
}

void LogAppender::Append(const std::wstring& line) {
  std::string record = base::WideToAnsi(FormatHeader(tag_) + line);
  record += "\r\n";
  _BaseModule::CAutoLocker guard(queue_lock_);
  pending_ += record;
}

int LogAppender::Flush(const std::wstring& line, bool wait) {
  Append(line);
  if (closed_) {
    int err = _wsopen_s(&fd_, path_.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY | _O_CREAT,
                        _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (err != 0) {
      fd_ = -1;
      std::string msg = "open " + base::WideToAnsi(path_) + " error. [" + std::to_string(err) + "]\r\n";
      ::OutputDebugStringA(msg.c_str());
    }
    size_ = fd_ != -1 ? static_cast<int>(_lseek(fd_, 0, SEEK_END)) : -1;
    closed_ = false;
  }
  if (!mutex_) {
    // Without the mutex nothing can ever be written; keep nothing either.
    _BaseModule::CAutoLocker guard(queue_lock_);
    pending_.clear();
    return size_;
  }
  HANDLE mutex = static_cast<HANDLE>(mutex_);
  DWORD got = ::WaitForSingleObject(mutex, 0);
  if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
    if (!wait) return size_;
    got = ::WaitForSingleObject(mutex, INFINITE);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) return size_;
  }
  std::string batch;
  {
    _BaseModule::CAutoLocker guard(queue_lock_);
    batch.swap(pending_);
  }
  if (fd_ != -1 && !batch.empty()) {
    int written = _write(fd_, batch.data(), static_cast<unsigned>(batch.size()));
    if (written > 0) size_ += written;
  }
  ::ReleaseMutex(mutex);
  return size_;
}

bool LogAppender::Truncate() {
  if (fd_ != -1) {
    _close(fd_);
    fd_ = -1;
    closed_ = true;
  }
  _BaseModule::CAutoLocker guard(queue_lock_);
  size_ = 0;
  pending_.clear();
  if (::DeleteFileW(path_.c_str())) return true;
  last_delete_error_ = ::GetLastError();
  return false;
}

// ---------------------------------------------------------------------------
// LoggerImpl

LoggerImpl::LoggerImpl() = default;
LoggerImpl::~LoggerImpl() = default;

bool LoggerImpl::SwitchFileExists() const {
  return ::GetFileAttributesW((path_ + kSwitchSuffix).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void LoggerImpl::Init(const std::wstring& path, const std::wstring& tag, int lock_flag,
                      int stop_when_full, int max_size) {
  _BaseModule::CAutoLocker guard(lock_);
  path_ = path;
  max_size_ = max_size;
  stop_when_full_ = stop_when_full;
  if (!appender_) appender_ = std::make_unique<LogAppender>(path, tag, stop_when_full);
  threshold_ = lock_flag ? Info : Off;
  if (SwitchFileExists()) {
    threshold_ = Debug;
    level_locked_ = lock_flag;
  }
  if (IsEnabled(Info)) appender_->Append(L"-------log start");
}

bool LoggerImpl::IsEnabled(int level) {
  _BaseModule::CAutoLocker guard(lock_);
  return level >= threshold_;
}

void LoggerImpl::SetLevel(int level) {
  _BaseModule::CAutoLocker guard(lock_);
  if (level_locked_) return;
  if (appender_) {
    if (threshold_ <= Info) {
      if (level == Off) {
        appender_->Flush(L"-------log off", true);
      } else {
        appender_->Flush(L"-------log lev change", false);
      }
    } else if (level <= Info) {
      appender_->Flush(L"-------log lev change", false);
    }
  }
  threshold_ = level;
}

void LoggerImpl::Reset() {
  _BaseModule::CAutoLocker guard(lock_);
  if (!appender_) return;
  appender_->Truncate();
  if (IsEnabled(Info)) appender_->Append(L"-------log reset");
}

void LoggerImpl::End() {
  _BaseModule::CAutoLocker guard(lock_);
  if (!appender_) return;
  if (IsEnabled(Info)) appender_->Flush(L"-------log end", true);
  threshold_ = Off;
}

void LoggerImpl::HandleCommand(const wchar_t* text) {
  if (!text) return;
  std::wstring lower = base::ToLowerW(text);
  static const wchar_t* const kLevels[] = {L"--set_log_lev=0", L"--set_log_lev=1",
                                           L"--set_log_lev=2", L"--set_log_lev=3"};
  for (int level = 0; level < 4; ++level) {
    if (lower.find(kLevels[level]) != std::wstring::npos) {
      SetLevel(level);
      return;
    }
  }
  if (lower.find(L"--reload_log_switch") != std::wstring::npos) {
    _BaseModule::CAutoLocker guard(lock_);
    threshold_ = Off;
    if (SwitchFileExists()) threshold_ = Debug;
    if (appender_ && IsEnabled(Info)) appender_->Append(L"-------log reload switch");
  }
}

void LoggerImpl::Write(const std::wstring& record) {
  _BaseModule::CAutoLocker guard(lock_);
  if (!appender_) return;
  int size = appender_->Flush(record, false);
  if (size <= max_size_) return;
  if (stop_when_full_) {
    appender_->Flush(L"-------log full", true);
    threshold_ = Off;
  } else if (appender_->Truncate()) {
    appender_->Append(L"-------log full reset");
  } else {
    DWORD error = static_cast<DWORD>(appender_->last_delete_error());
    std::wstring text = L"-------log full reset failed. " + std::to_wstring(error);
    wchar_t* message = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (n && message) {
      std::wstring msg(message, n);
      for (size_t pos; (pos = msg.find(L"\r\n")) != std::wstring::npos;) msg.erase(pos, 2);
      text += L":" + msg;
    }
    if (message) ::LocalFree(message);
    appender_->Append(text);
    threshold_ = Off;
  }
}

Logger* GetInstance() {
  static _BaseModule::CCriticalSection creation_lock;
  static std::atomic<Logger*> instance{nullptr};
  Logger* logger = instance.load(std::memory_order_acquire);
  if (!logger) {
    _BaseModule::CAutoLocker guard(creation_lock);
    logger = instance.load(std::memory_order_relaxed);
    if (!logger) {
      logger = new LoggerImpl();
      instance.store(logger, std::memory_order_release);
    }
  }
  return logger;
}

// ---------------------------------------------------------------------------
// Record

std::wstring SourcePosition(int line, std::string_view file) {
  size_t slash = file.find_last_of("\\/");
  std::string_view name = slash == std::string_view::npos ? file : file.substr(slash + 1);
  size_t dot = name.rfind('.');
  wchar_t buf[32];
  _snwprintf(buf, 32, L"[%4d]", line);
  std::wstring out(buf);
  if (dot == std::string_view::npos) return out + L" ";
  return out + L"[" + base::AnsiToWide(name.substr(0, dot)) + L"] ";
}

Record::Record(int level, int line, const char* file) {
  stream_ << LevelTag(level) << SourcePosition(line, file ? file : "");
}

Record::~Record() { GetInstance()->Write(stream_.str()); }

Record& Record::operator<<(const wchar_t* text) {
  stream_ << (text ? text : L"(null)");
  return *this;
}
Record& Record::operator<<(const char* utf8) {
  if (!utf8) {
    stream_ << L"(null)";
  } else {
    stream_ << base::Utf8ToWide(utf8);
  }
  return *this;
}
Record& Record::operator<<(const std::wstring& text) {
  stream_ << text;
  return *this;
}
Record& Record::operator<<(std::wstring_view text) {
  stream_ << text;
  return *this;
}
Record& Record::operator<<(const std::string& utf8) {
  stream_ << base::Utf8ToWide(utf8);
  return *this;
}
Record& Record::operator<<(wchar_t c) {
  stream_ << c;
  return *this;
}
Record& Record::operator<<(char c) {
  stream_ << static_cast<wchar_t>(static_cast<unsigned char>(c));
  return *this;
}

}  // namespace LogUtils
