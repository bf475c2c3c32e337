#include "base/logging.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/string_util.h"
#include "tests/support/test_support.h"

namespace {

using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::WriteFileBytes;

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = bytes.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(bytes.substr(start, pos - start));
  }
  EXPECT_EQ(start, bytes.size()) << "the file must end with CR LF";
  return lines;
}

// The header is fixed-width up to the process and thread ids.
const std::regex kHeader(R"(^(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d\d\d) \[( *\d+)\]\[( *\d+)\])");

// Splits a line into header and body, checking the header format.
std::string Body(const std::string& line) {
  std::smatch m;
  if (!std::regex_search(line, m, kHeader)) {
    ADD_FAILURE() << "bad header: " << line;
    return {};
  }
  return m.suffix();
}

TEST(LoggingTest, MutexNameAndSourcePosition) {
  EXPECT_EQ(LogUtils::MutexNameFromPath(L"C:\\Users\\ann\\AppData\\Roaming\\Brevplay\\Brevplay.log"),
            L"CUSERSANNAPPDATAROAMINGBREVPLAYBREVPLAYLOG");
  EXPECT_EQ(LogUtils::MutexNameFromPath(L"z:\\a_b-9\\é中.log"), L"ZAB9LOG");

  const struct {
    int line;
    const char* file;
    const wchar_t* expected;
  } kCases[] = {
      {7, "/src/app/main_control.cpp", L"[   7][main_control] "},
      {111, "C:\\src\\web\\web_browser_base.cpp", L"[ 111][web_browser_base] "},
      {12345, "a.b.h", L"[12345][a.b] "},
      {42, "C:\\src\\Makefile", L"[  42] "},
      {1, "", L"[   1] "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(LogUtils::SourcePosition(c.line, c.file), c.expected);
  }
}

TEST(LoggingTest, SwitchOffWritesNothingAndCreatesNoFile) {
  std::wstring dir = MakeTempDir(L"logoff");
  std::wstring path = dir + L"\\Brevplay.log";
  LogUtils::LoggerImpl logger;
  logger.Init(path, L"", 0, 0, 104857600);
  EXPECT_FALSE(logger.IsEnabled(LogUtils::Error));
  EXPECT_FALSE(logger.IsEnabled(LogUtils::Debug));
  EXPECT_FALSE(FileExists(path));
}

// The process-wide logger and the LOG macro, first off, then on. Its appender
// is made by the first Init and keeps that path, so only this test uses it.
TEST(LoggingTest, MacroRecordsAgainstFileBytes) {
  std::wstring dir = MakeTempDir(L"logfmt");
  std::wstring path = dir + L"\\Brevplay.log";
  LogUtils::GetInstance()->Init(path, L"", 0, 0, 104857600);
  int evaluated = 0;
  auto sideEffect = [&] { return ++evaluated; };
  LOG(Error) << "never " << sideEffect();
  EXPECT_EQ(evaluated, 0) << "nothing is composed when the level is off";
  EXPECT_FALSE(FileExists(path));

  ASSERT_TRUE(WriteFileBytes(path + L".on", ""));
  LogUtils::GetInstance()->Init(path, L"", 0, 0, 104857600);
  ASSERT_TRUE(LogUtils::GetInstance()->IsEnabled(LogUtils::Debug));

  const wchar_t* nullText = nullptr;
  const std::wstring nonAscii = L"caf\u00e9 \u4e2d\u6587";
  LOG(Error) << "open url ShellExecuteW" << L"http://127.0.0.1/x?a=1";
  const int errorLine = __LINE__ - 1;
  LOG(Info) << L"count " << 42 << L" null " << nullText;
  LOG(Debug) << nonAscii;

  std::vector<std::string> lines = Lines(ReadFileBytes(path));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(Body(lines[0]), "-------log start");
  char position[64];
  snprintf(position, sizeof(position), "[E][%4d][logging_test] ", errorLine);
  EXPECT_EQ(Body(lines[1]), std::string(position) + "open url ShellExecuteWhttp://127.0.0.1/x?a=1");
  snprintf(position, sizeof(position), "[I][%4d][logging_test] ", errorLine + 2);
  EXPECT_EQ(Body(lines[2]), std::string(position) + "count 42 null (null)");
  // Stored in the ANSI code page, unrepresentable characters replaced.
  std::string body = Body(lines[3]);
  EXPECT_EQ(body.substr(body.find("] ") + 2), base::WideToAnsi(nonAscii));

  // Header fields: local time, process and thread id right-aligned in five columns.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[1], m, kHeader));
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  EXPECT_EQ(std::stoi(m[1]), now.wMonth);
  EXPECT_EQ(std::stoi(m[2]), now.wDay);
  EXPECT_GE(m[7].length(), 5u);
  EXPECT_EQ(std::stoul(m[7]), ::GetCurrentProcessId());
  EXPECT_EQ(std::stoul(m[8]), ::GetCurrentThreadId());
}

TEST(LoggingTest, FullFileStartsAgainWithResetMarker) {
  std::wstring dir = MakeTempDir(L"logcap");
  std::wstring path = dir + L"\\cap.log";
  ASSERT_TRUE(WriteFileBytes(path + L".on", ""));
  LogUtils::LoggerImpl logger;
  logger.Init(path, L"", 0, 0, 400);
  // Each record is about 60 bytes: the seventh crosses 400.
  int crossed = -1;
  for (int i = 0; i < 7 && crossed < 0; ++i) {
    logger.Write(L"[I] record " + std::to_wstring(i) + L" ....................");
    if (ReadFileBytes(path).empty()) crossed = i;
  }
  ASSERT_GE(crossed, 0) << "the cap never reset the file";
  EXPECT_FALSE(FileExists(path)) << "the crossing record goes with the old file";
  logger.Write(L"[I] after the reset");
  std::vector<std::string> lines = Lines(ReadFileBytes(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Body(lines[0]), "-------log full reset");
  EXPECT_EQ(Body(lines[1]), "[I] after the reset");
}

TEST(LoggingTest, StopWhenFullFreezesTheFile) {
  std::wstring dir = MakeTempDir(L"logstop");
  std::wstring path = dir + L"\\stop.log";
  ASSERT_TRUE(WriteFileBytes(path + L".on", ""));
  LogUtils::LoggerImpl logger;
  logger.Init(path, L"", 0, 1, 200);
  for (int i = 0; i < 10 && logger.IsEnabled(LogUtils::Error); ++i) {
    logger.Write(L"[E] record " + std::to_wstring(i) + L" ....................");
  }
  EXPECT_FALSE(logger.IsEnabled(LogUtils::Error));
  std::vector<std::string> lines = Lines(ReadFileBytes(path));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(Body(lines.back()), "-------log full");
}

TEST(LoggingTest, RunTimeControlMarkers) {
  std::wstring dir = MakeTempDir(L"logctl");
  std::wstring path = dir + L"\\ctl.log";
  ASSERT_TRUE(WriteFileBytes(path + L".on", ""));
  LogUtils::LoggerImpl logger;
  logger.Init(path, L"", 0, 0, 104857600);
  logger.HandleCommand(nullptr);
  // The first substring of the command table wins: 0, a "lev change" from Debug.
  logger.HandleCommand(L"x --SET_LOG_LEV=2 --set_log_lev=0");
  EXPECT_TRUE(logger.IsEnabled(LogUtils::Debug));
  logger.SetLevel(LogUtils::Error);  // from Debug: "lev change"
  EXPECT_FALSE(logger.IsEnabled(LogUtils::Info));
  logger.SetLevel(LogUtils::Off);  // from Error: no marker
  logger.SetLevel(LogUtils::Info);  // from Off to Info: "lev change"
  logger.SetLevel(LogUtils::Off);  // from Info: "log off"
  logger.HandleCommand(L"--Reload_Log_Switch");
  EXPECT_TRUE(logger.IsEnabled(LogUtils::Debug));
  logger.Write(L"[I] after reload");
  logger.End();
  EXPECT_FALSE(logger.IsEnabled(LogUtils::Error));

  std::vector<std::string> bodies;
  for (const auto& line : Lines(ReadFileBytes(path))) bodies.push_back(Body(line));
  const std::vector<std::string> expected = {
      "-------log start",      "-------log lev change",    "-------log lev change",
      "-------log lev change", "-------log off",           "-------log reload switch",
      "[I] after reload",      "-------log end"};
  EXPECT_EQ(bodies, expected);

  // Reset deletes the file; the next one begins with the reset marker.
  logger.SetLevel(LogUtils::Debug);
  logger.Reset();
  logger.Write(L"[I] fresh");
  bodies.clear();
  for (const auto& line : Lines(ReadFileBytes(path))) bodies.push_back(Body(line));
  EXPECT_EQ(bodies, (std::vector<std::string>{"-------log reset", "[I] fresh"}));
}

TEST(LoggingTest, TagIsPrintedAndCut) {
  std::wstring dir = MakeTempDir(L"logtag");
  std::wstring path = dir + L"\\tag.log";
  ASSERT_TRUE(WriteFileBytes(path + L".on", ""));
  LogUtils::LoggerImpl logger;
  logger.Init(path, std::wstring(300, L't'), 0, 0, 104857600);
  logger.Write(L"[I] x");
  std::vector<std::string> lines = Lines(ReadFileBytes(path));
  ASSERT_EQ(lines.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[1], m, kHeader));
  std::string rest = m.suffix();
  ASSERT_EQ(rest.front(), '[');
  size_t close = rest.find(']');
  EXPECT_LT(m.length(0) + close + 1, 100u);
  EXPECT_EQ(rest.substr(close + 1), "[I] x");
}

// A second process writing numbered records into the shared file.
TEST_CHILD(log_writer) {
  const std::wstring& path = args.at(0);
  const std::wstring& id = args.at(1);
  int count = std::stoi(args.at(2));
  LogUtils::LoggerImpl logger;
  logger.Init(path, L"", 0, 0, 104857600);
  for (int i = 0; i < count; ++i) {
    logger.Write(L"[I] writer " + id + L" seq " + std::to_wstring(i) + L" " + std::wstring(40, L'x'));
  }
  logger.End();  // waits for the mutex, so nothing stays queued
  return 0;
}

TEST(LoggingTest, TwoProcessesShareTheFile) {
  std::wstring dir = MakeTempDir(L"logmp");
  std::wstring path = dir + L"\\shared.log";
  ASSERT_TRUE(WriteFileBytes(path + L".on", ""));
  constexpr int kRecords = 2000;
  HANDLE a = test_support::StartChild("log_writer", L"\"" + path + L"\" A " + std::to_wstring(kRecords));
  HANDLE b = test_support::StartChild("log_writer", L"\"" + path + L"\" B " + std::to_wstring(kRecords));
  ASSERT_TRUE(a && b);
  HANDLE both[] = {a, b};
  ASSERT_EQ(::WaitForMultipleObjects(2, both, TRUE, 120000), WAIT_OBJECT_0);
  for (HANDLE h : both) {
    DWORD code = 1;
    ::GetExitCodeProcess(h, &code);
    EXPECT_EQ(code, 0u);
    ::CloseHandle(h);
  }

  const std::regex kRecord(R"(^\[I\] writer ([AB]) seq (\d+) x{40}$)");
  std::map<std::string, int> next = {{"A", 0}, {"B", 0}};
  int markers = 0;
  for (const auto& line : Lines(ReadFileBytes(path))) {
    std::string body = Body(line);
    if (body == "-------log start" || body == "-------log end") {
      ++markers;
      continue;
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(body, m, kRecord)) << "torn or foreign line: " << line;
    EXPECT_EQ(std::stoi(m[2]), next[m[1]]++) << "out of order for writer " << m[1];
  }
  EXPECT_EQ(next["A"], kRecords);
  EXPECT_EQ(next["B"], kRecords);
  EXPECT_EQ(markers, 4);
}

}  // namespace
