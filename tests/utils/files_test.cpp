#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <vector>

#include "app/resource_ids.h"
#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "tests/support/test_support.h"
#include "utils/browser_command.h"
#include "utils/utils.h"

namespace {

using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::WriteFileBytes;

// Opens |path| so that nobody can delete it while the handle lives.
base::ScopedKernelHandle HoldOpen(const std::wstring& path) {
  return base::ScopedKernelHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
}

// The pending renames the system keeps for the next restart, as one text.
std::wstring PendingRenames() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return {};
  }
  DWORD bytes = 0;
  std::wstring text;
  if (::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) ==
      ERROR_SUCCESS) {
    text.resize(bytes / sizeof(wchar_t));
    ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(text.data()), &bytes);
  }
  ::RegCloseKey(key);
  return base::ToLowerW(text);
}

TEST(FilesTest, SaveDataToFileResults) {
  const std::wstring dir = MakeTempDir(L"save");
  const std::wstring path = dir + L"\\out.bin";
  const std::string bytes("a\0b\r\nc", 6);  // byte mode: no newline translation
  EXPECT_EQ(utils::SaveDataToFile(path, bytes), 6);
  EXPECT_EQ(ReadFileBytes(path), bytes);
  EXPECT_EQ(utils::SaveDataToFile(path, "xy"), 2);  // truncated, not appended
  EXPECT_EQ(ReadFileBytes(path), "xy");
  EXPECT_EQ(utils::SaveDataToFile(path, ""), 0);
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(utils::SaveDataToFile(dir + L"\\missing\\out.bin", "xy"), -ENOENT);
  EXPECT_LT(utils::SaveDataToFile(dir, "xy"), 0);  // a directory cannot be opened for writing
}

TEST(FilesTest, LoadResourceData) {
  std::string bytes = "untouched";
  ASSERT_TRUE(utils::LoadResourceData(::GetModuleHandleW(nullptr), IDR_GAME_CONFIG, L"FILERES",
                                      &bytes));
  EXPECT_EQ(bytes.front(), '{');
  EXPECT_NE(bytes.find("\"info_version\""), std::string::npos);

  std::string out = "untouched";
  EXPECT_FALSE(utils::LoadResourceData(::GetModuleHandleW(nullptr), 9999, L"FILERES", &out));
  EXPECT_FALSE(
      utils::LoadResourceData(::GetModuleHandleW(nullptr), IDR_GAME_CONFIG, L"OTHER", &out));
  EXPECT_EQ(out, "untouched");
}

TEST(FilesTest, DeleteFileForceAndOrDefer) {
  const std::wstring dir = MakeTempDir(L"delete");
  const std::wstring read_only = dir + L"\\read_only.txt";
  ASSERT_TRUE(WriteFileBytes(read_only, "r"));
  ::SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(utils::DeleteFileForce(read_only));
  EXPECT_FALSE(FileExists(read_only));
  EXPECT_TRUE(utils::DeleteFileForce(dir + L"\\never_there.txt"));

  ASSERT_TRUE(WriteFileBytes(read_only, "r"));
  ::SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(utils::DeleteFileOrDefer(read_only));
  EXPECT_FALSE(FileExists(read_only));
  EXPECT_TRUE(utils::DeleteFileOrDefer(dir + L"\\never_there.txt"));

  const std::wstring busy = dir + L"\\busy.txt";
  ASSERT_TRUE(WriteFileBytes(busy, "b"));
  {
    base::ScopedKernelHandle holder = HoldOpen(busy);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(utils::DeleteFileOrDefer(busy));
    EXPECT_TRUE(FileExists(busy));
    EXPECT_NE(PendingRenames().find(base::ToLowerW(busy)), std::wstring::npos);
  }
}

TEST(FilesTest, DeleteDirectoryTreeLeavesOnlyWhatIsInUse) {
  const std::wstring dir = MakeTempDir(L"tree");
  const std::wstring root = dir + L"\\root";
  for (const wchar_t* sub : {L"", L"\\a", L"\\a\\b", L"\\c"}) {
    ASSERT_TRUE(::CreateDirectoryW((root + sub).c_str(), nullptr));
  }
  for (const wchar_t* file : {L"\\1.txt", L"\\a\\2.txt", L"\\a\\b\\3.txt", L"\\c\\4.txt"}) {
    ASSERT_TRUE(WriteFileBytes(root + file, "x"));
  }
  ::SetFileAttributesW((root + L"\\a\\2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW((root + L"\\c").c_str(), FILE_ATTRIBUTE_READONLY);
  {
    base::ScopedKernelHandle holder = HoldOpen(root + L"\\a\\b\\3.txt");
    ASSERT_TRUE(holder);
    EXPECT_TRUE(utils::DeleteDirectoryTree(root));
    EXPECT_TRUE(FileExists(root + L"\\a\\b\\3.txt"));
    EXPECT_FALSE(FileExists(root + L"\\1.txt"));
    EXPECT_FALSE(FileExists(root + L"\\a\\2.txt"));
    EXPECT_FALSE(FileExists(root + L"\\c"));
    EXPECT_NE(PendingRenames().find(base::ToLowerW(root + L"\\a\\b\\3.txt")), std::wstring::npos);
  }
  EXPECT_TRUE(utils::DeleteDirectoryTree(root));
  EXPECT_FALSE(FileExists(root));

  EXPECT_FALSE(utils::DeleteDirectoryTree(L""));
  EXPECT_FALSE(utils::DeleteDirectoryTree(L"C:\\" + std::wstring(257, L'x')));
  EXPECT_TRUE(utils::DeleteDirectoryTree(dir + L"\\never_there"));
}

// A linked directory inside the tree is removed as a link; what it points to
// stays.
TEST(FilesTest, DeleteDirectoryTreeDoesNotEnterLinks) {
  const std::wstring dir = MakeTempDir(L"links");
  const std::wstring outside = dir + L"\\outside";
  const std::wstring root = dir + L"\\root";
  ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(outside + L"\\keep.txt", "keep"));
  // Wine reports success but makes no link; the case runs where links exist.
  ::CreateSymbolicLinkW((root + L"\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  const DWORD attributes = ::GetFileAttributesW((root + L"\\link").c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "no directory links on this system";
  }
  EXPECT_TRUE(utils::DeleteDirectoryTree(root));
  EXPECT_EQ(ReadFileBytes(outside + L"\\keep.txt"), "keep");
}

TEST(FilesTest, ShellDeleteDirectory) {
  const std::wstring dir = MakeTempDir(L"shelldel");
  const std::wstring root = dir + L"\\root";
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(root + L"\\sub\\f.txt", "x"));
  EXPECT_TRUE(utils::ShellDeleteDirectory(root));
  EXPECT_FALSE(FileExists(root));
  EXPECT_FALSE(utils::ShellDeleteDirectory(L""));
}

TEST(FilesTest, CopyFileToTempDirAvoidsABusyDestination) {
  const std::wstring dir = MakeTempDir(L"copysrc");
  const std::wstring source = dir + L"\\kzr.exe";
  ASSERT_TRUE(WriteFileBytes(source, "payload"));
  const std::wstring subdir = base::StrPrintf(L"nq_copy_%lu", ::GetCurrentProcessId());
  const std::wstring temp_dir = utils::GetTempSubPath(subdir, false);
  ASSERT_FALSE(temp_dir.empty());

  const std::wstring first = utils::CopyFileToTempDir(source, subdir);
  EXPECT_EQ(first, temp_dir + L"\\kzr.exe");
  EXPECT_EQ(ReadFileBytes(first), "payload");
  // An idle earlier copy is simply replaced.
  EXPECT_EQ(utils::CopyFileToTempDir(source, subdir), first);

  {
    base::ScopedKernelHandle holder = HoldOpen(first);
    ASSERT_TRUE(holder);
    const time_t before = time(nullptr);
    const std::wstring second = utils::CopyFileToTempDir(source, subdir);
    const time_t after = time(nullptr);
    std::wsmatch m;
    const std::wstring pattern = L"kzr\\.exe-(\\d+)$";
    ASSERT_TRUE(std::regex_search(second, m, std::wregex(pattern))) << base::WideToUtf8(second);
    EXPECT_EQ(second.substr(0, first.size() + 1), first + L"-");
    const unsigned long seconds = std::stoul(m[1].str());
    EXPECT_GE(seconds, static_cast<unsigned long>(before));
    EXPECT_LE(seconds, static_cast<unsigned long>(after));
    EXPECT_EQ(ReadFileBytes(second), "payload");
  }

  EXPECT_EQ(utils::CopyFileToTempDir(dir + L"\\missing.exe", subdir), L"");
  utils::DeleteDirectoryTree(temp_dir);
}

TEST(FilesTest, PathHelpers) {
  static const struct {
    const wchar_t* path;
    const wchar_t* dir;
  } kCases[] = {
      {L"C:\\a\\b\\kzr.exe", L"C:\\a\\b"},
      {L"C:\\kzr.exe", L"C:\\"},
      {L"kzr.exe", L""},
      {L"C:\\a\\b\\", L"C:\\a\\b"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.path));
    EXPECT_EQ(utils::GetDirOfPath(c.path), c.dir);
  }
  EXPECT_EQ(utils::GetDirOfPath(L"C:\\" + std::wstring(300, L'x')), L"");

  const std::wstring self = test_support::SelfPath();
  EXPECT_EQ(utils::GetModulePath(), self);
  EXPECT_EQ(utils::GetModuleDir(), utils::GetDirOfPath(self));
  EXPECT_EQ(utils::GetModuleDirPath(nullptr, L"x.txt", false),
            utils::GetDirOfPath(self) + L"\\x.txt");
  EXPECT_EQ(utils::CombinePath(L"C:\\a", L"b", false), L"C:\\a\\b");
  EXPECT_EQ(utils::CombinePath(L"C:\\a\\", L"..\\b", false), L"C:\\b");
}

TEST(FilesTest, KnownFolders) {
  wchar_t appdata[MAX_PATH] = {};
  ASSERT_TRUE(::GetEnvironmentVariableW(L"APPDATA", appdata, MAX_PATH));
  EXPECT_EQ(utils::GetAppDataPath(L"Brevplay", false), std::wstring(appdata) + L"\\Brevplay");
  EXPECT_NE(utils::GetDesktopPath(L"x.lnk", false).find(L"\\Desktop\\x.lnk"), std::wstring::npos);
  EXPECT_NE(utils::GetProgramsPath(L"Velmora", false).find(L"\\Programs\\Velmora"),
            std::wstring::npos);

  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring name = base::StrPrintf(L"nq_known_%lu\\a\\b", ::GetCurrentProcessId());
  const std::wstring created = utils::GetTempSubPath(name, true);
  EXPECT_EQ(created, std::wstring(temp) + name);
  EXPECT_TRUE(::PathIsDirectoryW(created.c_str()));
  utils::DeleteDirectoryTree(utils::GetTempSubPath(
      base::StrPrintf(L"nq_known_%lu", ::GetCurrentProcessId()), false));

  // A directory that cannot be made: a file is in the way.
  const std::wstring dir = MakeTempDir(L"known");
  ASSERT_TRUE(WriteFileBytes(dir + L"\\file", "x"));
  EXPECT_EQ(utils::CombinePath(dir, L"file\\sub", true), L"");
}

TEST(FilesTest, NowText) {
  const std::wstring text = utils::GetNowText();
  ASSERT_TRUE(std::regex_match(base::WideToUtf8(text),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << base::WideToUtf8(text);
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  EXPECT_EQ(std::stoi(text.substr(0, 4)), now.wYear);
  EXPECT_EQ(std::stoi(text.substr(5, 2)), now.wMonth);
}

TEST(FilesTest, RandomInRangeDrawSequence) {
  static const struct {
    unsigned seed;
    int low;
    int high;
  } kCases[] = {{1, 0, 3}, {7, 0, 3}, {42, 10, 20}, {99, -5, 5}, {1234, 0, 1}, {5, 100, 100}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.seed);
    srand(c.seed);
    std::vector<int> draws(110);
    for (int& d : draws) d = rand();
    const int more = static_cast<int>(draws[2] / 32768.0 * 99 + 1);
    ASSERT_GE(more, 1);
    ASSERT_LE(more, 99);
    const int expected =
        static_cast<int>(draws[2 + more] / 32768.0 * (c.high - c.low) + c.low);
    srand(c.seed);
    EXPECT_EQ(utils::RandomInRange(c.low, c.high), expected);
    EXPECT_EQ(rand(), draws[3 + more]) << "the call makes exactly 3 + n draws";
  }
  srand(2024);
  bool seen[3] = {};
  for (int i = 0; i < 300; ++i) {
    const int value = utils::RandomInRange(0, 3);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 3);
    seen[value] = true;
  }
  EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
}

TEST(FilesTest, BrowserPathFromCommand) {
  static const struct {
    const wchar_t* command;
    const wchar_t* path;
  } kCases[] = {
      {L"\"C:\\B\\b.exe\" -osint -url \"%1\"", L"C:\\B\\b.exe"},
      {L"C:\\B\\b.exe -url %1", L"C:\\B\\b.exe"},
      {L"\"C:\\windows\\system32\\winebrowser.exe\" \"%1\"",
       L"C:\\windows\\system32\\winebrowser.exe"},
      {L"C:\\My.exe files\\b.exe %1", L"C:\\My.exe"},  // the first ".exe" cuts
      {L"C:\\B\\b.EXE %1", L"C:\\B\\b.EXE %1"},        // exact lower case only
      {L".exe", L".exe"},
      {L"", L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.command));
    EXPECT_EQ(utils::BrowserPathFromCommand(c.command), c.path);
  }
}

}  // namespace
