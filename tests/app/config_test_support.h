// Shared by the configuration and run-mode tests: a scratch product family
// (its own data directory and registry key) and the log records written
// during a test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/app_names.h"
#include "app/main_control.h"
#include "base/logging.h"
#include "base/string_util.h"
#include "tests/support/test_support.h"
#include "utils/utils.h"

namespace config_test {

// The process-wide logger, pointed once at a scratch file with logging on.
class LogCapture {
 public:
  static LogCapture& Get() {
    static LogCapture capture;
    return capture;
  }
  bool ok() const { return ok_; }
  // Everything written since the previous call.
  std::string TakeNew() {
    const std::string all = test_support::ReadFileBytes(path_);
    const std::string fresh = all.size() >= offset_ ? all.substr(offset_) : all;
    offset_ = all.size();
    return fresh;
  }

 private:
  LogCapture() {
    path_ = test_support::MakeTempDir(L"applog") + L"\\app_test.log";
    test_support::WriteFileBytes(path_ + L".on", "");
    LogUtils::GetInstance()->Init(path_, L"", 0, 0, 104857600);
    // The appender keeps the path of the first Init of the process.
    LOG(Info) << "config_test log probe";
    ok_ = TakeNew().find("config_test log probe") != std::string::npos;
  }

  std::wstring path_;
  size_t offset_ = 0;
  bool ok_ = false;
};

// A product family of its own for each test: AppNames, the data directory
// and HKEY_CURRENT_USER\SOFTWARE\<family> are fresh and removed afterwards.
class ScratchFamilyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LogCapture::Get().ok()) << "another Init owns the process-wide log";
    family_ = base::StrPrintf(L"NqTest%lu", ::GetCurrentProcessId());
    AppNames::GetInstance()->Init(family_, L"kzr");
    Clean();
    control()->SetCommandLine(L"");
    LogCapture::Get().TakeNew();
  }
  void TearDown() override {
    Clean();
    control()->SetCommandLine(L"");
    AppNames::GetInstance()->Init(L"Brevplay", L"kzr");
  }

  MainControl* control() { return MainControl::GetInstance(); }
  std::wstring game_key() const { return L"SOFTWARE\\" + family_ + L"\\kzr"; }
  std::wstring data_dir() const { return AppNames::GetInstance()->data_dir(); }
  // The records written since the previous call.
  std::string NewLog() { return LogCapture::Get().TakeNew(); }

 private:
  void Clean() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"SOFTWARE\\" + family_).c_str());
    const std::wstring dir = AppNames::GetInstance()->data_dir();
    if (dir.size() > family_.size()) utils::ShellDeleteDirectory(dir);
  }

  std::wstring family_;
};

}  // namespace config_test
