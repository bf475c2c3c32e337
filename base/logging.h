// The process-wide diagnostic log. Every copy of the client (installer,
// client, uninstaller) appends to one ANSI text file; a named mutex derived
// from the file's path keeps the processes' batches apart. Logging is off
// unless the switch file "<log path>.on" exists when Init runs.
//
// Write records with the LOG macro:  LOG(Error) << "text " << path;
// Nothing after LOG(level) is evaluated when the level is off.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "base/lock.h"

namespace LogUtils {

enum Level : int { Debug = 0, Info = 1, Error = 2, Off = 3 };

class LogAppender;

class Logger {
 public:
  virtual ~Logger() = default;
  virtual void SetLevel(int level) = 0;
  virtual bool IsEnabled(int level) = 0;
  virtual void Init(const std::wstring& path, const std::wstring& tag, int lock_flag,
                    int stop_when_full, int max_size) = 0;
  virtual void Reset() = 0;
  virtual void End() = 0;
  virtual void HandleCommand(const wchar_t* text) = 0;
  // Takes the composed body of one record; the caller has checked IsEnabled.
  virtual void Write(const std::wstring& record) = 0;
};

// Serialises formatted records into the shared file. Records are queued and
// written in batches while this process holds the file's named mutex; an
// ordinary record never waits for another process.
class LogAppender {
 public:
  LogAppender(const std::wstring& path, const std::wstring& tag, int delete_at_first_open);
  virtual ~LogAppender();
  LogAppender(const LogAppender&) = delete;
  LogAppender& operator=(const LogAppender&) = delete;

  // Formats the header, converts to ANSI, queues.
  virtual void Append(const std::wstring& line);
  // Queues |line| and writes the queue; returns the size this process sees.
  virtual int Flush(const std::wstring& line, bool wait);
  // Deletes the file; true when the deletion succeeded.
  virtual bool Truncate();

  unsigned long last_delete_error() const { return last_delete_error_; }
  const std::wstring& mutex_name() const { return mutex_name_; }

 private:
  void* mutex_ = nullptr;
  int size_ = 0;
  bool closed_ = true;
  int delete_at_first_open_ = 0;
  std::wstring path_;
  std::wstring mutex_name_;
  std::wstring tag_;
  int fd_ = -1;
  _BaseModule::CCriticalSection queue_lock_;
  std::string pending_;  // whole formatted records, in arrival order
  unsigned long last_delete_error_ = 0;
};

class LoggerImpl : public Logger {
 public:
  LoggerImpl();
  ~LoggerImpl() override;

  void SetLevel(int level) override;
  bool IsEnabled(int level) override;
  void Init(const std::wstring& path, const std::wstring& tag, int lock_flag, int stop_when_full,
            int max_size) override;
  void Reset() override;
  void End() override;
  void HandleCommand(const wchar_t* text) override;
  void Write(const std::wstring& record) override;

 private:
  bool SwitchFileExists() const;

  _BaseModule::CCriticalSection lock_;
  int threshold_ = Off;
  int level_locked_ = 0;
  int stop_when_full_ = 0;
  std::unique_ptr<LogAppender> appender_;
  std::wstring path_;
  int max_size_ = 104857600;
};

// The process-wide logger, created on first use and never destroyed.
Logger* GetInstance();

// Every ASCII letter and digit of |path|, upper-cased; nothing else.
std::wstring MutexNameFromPath(std::wstring_view path);

// One logging statement: collects the fragments and writes on destruction.
class Record {
 public:
  Record(int level, int line, const char* file);
  ~Record();
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  Record& operator<<(const wchar_t* text);
  Record& operator<<(wchar_t* text) { return *this << static_cast<const wchar_t*>(text); }
  Record& operator<<(const char* utf8);
  Record& operator<<(char* utf8) { return *this << static_cast<const char*>(utf8); }
  Record& operator<<(const std::wstring& text);
  Record& operator<<(std::wstring_view text);
  Record& operator<<(const std::string& utf8);
  Record& operator<<(wchar_t c);
  Record& operator<<(char c);
  template <class T>
  Record& operator<<(const T& value) {
    stream_ << value;
    return *this;
  }

 private:
  std::wostringstream stream_;
};

// "[%4d][%s] " with the base name of |file|, or "[%4d] " when it has no extension.
std::wstring SourcePosition(int line, std::string_view file);

}  // namespace LogUtils

#define LOG(level)                                                  \
  if (!::LogUtils::GetInstance()->IsEnabled(::LogUtils::level)) {  \
  } else                                                            \
    ::LogUtils::Record(::LogUtils::level, __LINE__, __FILE__)
