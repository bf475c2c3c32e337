#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "tests/support/test_support.h"
#include "utils/utils.h"

namespace {

using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::SelfPath;
using test_support::WriteFileBytes;

// Child modes of this executable, also run from copies of it.
TEST_CHILD(sleeper) {
  if (args.empty() || !WriteFileBytes(args[0], "ready")) return 2;
  ::Sleep(60000);
  return 3;
}

TEST_CHILD(killer) {
  if (args.empty()) return 2;
  return utils::KillRelatedProcess(args[0]) ? 7 : 8;
}

TEST_CHILD(ensure) {
  if (args.size() < 2) return 2;
  return utils::EnsureRunTempDir(args[0], args[1]) ? 1 : 0;
}

// Writes its own path, its working directory and its other arguments, one a
// line, to the file named first.
TEST_CHILD(record_args) {
  if (args.empty()) return 2;
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring text = SelfPath() + L"\n" + cwd + L"\n";
  for (size_t i = 1; i < args.size(); ++i) text += args[i] + L"\n";
  const std::wstring partial = args[0] + L".part";
  if (!WriteFileBytes(partial, base::WideToUtf8(text))) return 4;
  return ::MoveFileW(partial.c_str(), args[0].c_str()) ? 0 : 5;
}

TEST_CHILD(exit_with) { return args.empty() ? 2 : _wtoi(args[0].c_str()); }

// Starts |exe| (a copy of this executable) in a child mode.
base::ScopedKernelHandle StartCopy(const std::wstring& exe, const std::wstring& child,
                                   const std::wstring& args) {
  std::wstring command = L"\"" + exe + L"\" --child=" + child + L" " + args;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return base::ScopedKernelHandle();
  }
  ::CloseHandle(info.hThread);
  return base::ScopedKernelHandle(info.hProcess);
}

int RunCopy(const std::wstring& exe, const std::wstring& child, const std::wstring& args) {
  base::ScopedKernelHandle process = StartCopy(exe, child, args);
  if (!process) return -1;
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.Get(), &code);
  return static_cast<int>(code);
}

bool WaitForFile(const std::wstring& path, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (FileExists(path)) return true;
    ::Sleep(50);
  }
  return FileExists(path);
}

std::vector<std::wstring> Lines(const std::string& utf8) {
  std::vector<std::wstring> lines;
  std::wistringstream stream(base::Utf8ToWide(utf8));
  for (std::wstring line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::wstring RunTempDir() { return utils::GetTempSubPath(L"__QuarvelTemp__", false); }

// Deletes a copy whose process may still be ending.
void DeleteWhenFree(const std::wstring& path) {
  for (int i = 0; i < 200 && FileExists(path) && !::DeleteFileW(path.c_str()); ++i) ::Sleep(50);
}

TEST(ProcessTest, KillRelatedProcessEndsPrefixMatchesButNotTheCaller) {
  const std::wstring dir = MakeTempDir(L"kill");
  struct Sleeper {
    const wchar_t* folder;
    bool ends;
    base::ScopedKernelHandle process;
  } sleepers[] = {{L"kzr", true, {}}, {L"kzr2", true, {}}, {L"other", false, {}}};
  for (auto& s : sleepers) {
    const std::wstring folder = dir + L"\\" + s.folder;
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), (folder + L"\\x.exe").c_str(), FALSE));
    s.process = StartCopy(folder + L"\\x.exe", L"sleeper", folder + L".ready");
    ASSERT_TRUE(s.process);
  }
  for (auto& s : sleepers) {
    ASSERT_TRUE(WaitForFile(dir + L"\\" + s.folder + L".ready", 20000)) << s.folder;
  }

  // The caller itself runs from under the prefix, given in another letter case.
  const std::wstring killer = dir + L"\\kzr\\x.exe";
  EXPECT_EQ(RunCopy(killer, L"killer", L"\"" + dir + L"\\KZR\""),
            7);

  for (auto& s : sleepers) {
    SCOPED_TRACE(base::WideToUtf8(s.folder));
    if (s.ends) {
      ASSERT_EQ(::WaitForSingleObject(s.process.Get(), 10000), WAIT_OBJECT_0);
      DWORD code = 99;
      ::GetExitCodeProcess(s.process.Get(), &code);
      EXPECT_EQ(code, 0u);
    } else {
      EXPECT_EQ(::WaitForSingleObject(s.process.Get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
      ::TerminateProcess(s.process.Get(), 1);
      ::WaitForSingleObject(s.process.Get(), 10000);
    }
  }
}

TEST(ProcessTest, KillRelatedProcessRefusesOddLengths) {
  EXPECT_FALSE(utils::KillRelatedProcess(L"C:\\"));
  EXPECT_FALSE(utils::KillRelatedProcess(L""));
  EXPECT_FALSE(utils::KillRelatedProcess(L"C:\\" + std::wstring(258, L'x')));
  // A prefix that matches nothing still reads the list.
  EXPECT_TRUE(utils::KillRelatedProcess(L"C:\\no\\such\\folder\\at\\all"));
}

TEST(ProcessTest, EnsureRunTempDirInsideTheTempFolderStartsNothing) {
  const std::wstring dir = MakeTempDir(L"ensure_in") + L"\\__QuarvelTemp__";
  ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
  const std::wstring name = base::StrPrintf(L"nqin_%lu", ::GetCurrentProcessId());
  ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), (dir + L"\\" + name + L".exe").c_str(), FALSE));
  const std::wstring temp_copy = RunTempDir() + L"\\" + name + L".exe";
  ::DeleteFileW(temp_copy.c_str());
  const std::wstring marker = MakeTempDir(L"ensure_in_marker") + L"\\args.txt";

  EXPECT_EQ(RunCopy(dir + L"\\" + name + L".exe", L"ensure",
                    name + L" \"--child=record_args " + marker + L"\""),
            1);
  EXPECT_FALSE(FileExists(temp_copy));
  ::Sleep(500);
  EXPECT_FALSE(FileExists(marker));
}

TEST(ProcessTest, EnsureRunTempDirRelaunchesACopy) {
  const std::wstring dir = MakeTempDir(L"ensure_out") + L"\\game";
  ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
  const std::wstring name = base::StrPrintf(L"nqout_%lu", ::GetCurrentProcessId());
  ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), (dir + L"\\" + name + L".exe").c_str(), FALSE));
  const std::wstring marker = MakeTempDir(L"ensure_out_marker") + L"\\args.txt";

  EXPECT_EQ(RunCopy(dir + L"\\" + name + L".exe", L"ensure",
                    name + L" \"--child=record_args " + marker + L"\""),
            0);
  ASSERT_TRUE(WaitForFile(marker, 20000));
  const std::vector<std::wstring> lines = Lines(ReadFileBytes(marker));
  const std::wstring temp_copy = RunTempDir() + L"\\" + name + L".exe";
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(base::ToLowerW(lines[0]), base::ToLowerW(temp_copy));
  EXPECT_EQ(base::ToLowerW(lines[1]), base::ToLowerW(RunTempDir()));
  EXPECT_EQ(lines[2], L"/target_dir=" + dir);
  EXPECT_EQ(lines[3], L"/S");
  DeleteWhenFree(temp_copy);
}

// The mended case: a copy that cannot be started must not end the caller's
// run as though it had been.
TEST(ProcessTest, EnsureRunTempDirGoesOnWhenTheCopyCannotStart) {
  const std::wstring dir = MakeTempDir(L"ensure_bad");
  const std::wstring name = base::StrPrintf(L"nqbad_%lu", ::GetCurrentProcessId());
  ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), (dir + L"\\runner.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(dir + L"\\" + name + L".exe", "not a program"));
  const std::wstring marker = dir + L"\\args.txt";

  EXPECT_EQ(RunCopy(dir + L"\\runner.exe", L"ensure",
                    name + L" \"--child=record_args " + marker + L"\""),
            1);
  const std::wstring temp_copy = RunTempDir() + L"\\" + name + L".exe";
  EXPECT_EQ(ReadFileBytes(temp_copy), "not a program");
  DeleteWhenFree(temp_copy);
}

TEST(ProcessTest, ShellRunWaitsAndReadsTheExitCode) {
  DWORD code = 0;
  EXPECT_TRUE(utils::ShellRun(SelfPath(), L"--child=exit_with 42", SW_HIDE, true, &code));
  EXPECT_EQ(code, 42u);

  const std::wstring dir = MakeTempDir(L"shellrun");
  EXPECT_FALSE(utils::ShellRun(L"", L"", SW_HIDE, true));
  EXPECT_FALSE(utils::ShellRun(dir + L"\\missing.exe", L"", SW_HIDE, true));
  EXPECT_FALSE(utils::ShellRun(L"C:\\" + std::wstring(260, L'x'), L"", SW_HIDE, true));
}

}  // namespace
