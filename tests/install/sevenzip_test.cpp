// The 7z binding with our 7z.dll stand-in, against archives made by 7zz
// (tests/install/make_archive_fixtures.py).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/sevenzip.h"
#include "install/sevenzip_callbacks.h"
#include "tests/install/archive_test_util.h"
#include "tests/support/test_support.h"

namespace {

using archive_test::Fixture;
using archive_test::IsFolder;
using archive_test::ListFolder;
using archive_test::SourceBytes;
using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;

std::wstring SevenZipDll() { return test_fixtures::WindowsPath(NQ_SEVENZIP_DLL); }

class SevenZipTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(Load7zLibrary(SevenZipDll())); }
};

// 2021-06-01 12:00:00 UTC, the time the fixture script gives its 7z sources.
constexpr uint64_t kFixtureFileTime = 132670224000000000ull;

uint64_t LastWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

TEST_F(SevenZipTest, FilesFoldersAndTimesArrive) {
  std::wstring dest = MakeTempDir(L"7z_basic") + L"\\new\\dest";
  ASSERT_EQ(0, Extract7zArchive(Fixture("basic.7z"), dest));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"empty.txt", L"one.txt", L"random.bin"}),
            ListFolder(dest));
  for (const char* name : {"one.txt", "random.bin", "empty.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(SourceBytes(name), ReadFileBytes(dest + L"\\" + base::Utf8ToWide(name)));
    EXPECT_EQ(kFixtureFileTime, LastWriteTime(dest + L"\\" + base::Utf8ToWide(name)));
  }
  EXPECT_TRUE(IsFolder(dest + L"\\a"));
  EXPECT_EQ(SourceBytes("a/b.txt"), ReadFileBytes(dest + L"\\a\\b.txt"));
}

TEST_F(SevenZipTest, ItemWithoutPathIsWrittenAsContent) {
  std::wstring dest = MakeTempDir(L"7z_content");
  ASSERT_EQ(0, Extract7zArchive(Fixture("content.7z"), dest));
  EXPECT_EQ(std::vector<std::wstring>{L"[Content]"}, ListFolder(dest));
  EXPECT_EQ(SourceBytes("two.txt"), ReadFileBytes(dest + L"\\[Content]"));
}

TEST_F(SevenZipTest, ReadOnlyFileIsReplaced) {
  std::wstring dest = MakeTempDir(L"7z_readonly");
  std::wstring path = dest + L"\\ui.ui";
  ASSERT_TRUE(test_support::WriteFileBytes(path, "old skin package, longer than the new one\n"));
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(0, Extract7zArchive(Fixture("readonly.7z"), dest));
  EXPECT_EQ("new skin package\n", ReadFileBytes(path));
  // The archive's item is read-only itself (packed with mode 0444), so a
  // second run meets a read-only file it made.
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(0, Extract7zArchive(Fixture("readonly.7z"), dest));
  EXPECT_EQ("new skin package\n", ReadFileBytes(path));
}

TEST_F(SevenZipTest, FileThatCannotBeReplacedAbortsTheExtraction) {
  std::wstring dest = MakeTempDir(L"7z_locked");
  std::wstring path = dest + L"\\ui.ui";
  ASSERT_TRUE(test_support::WriteFileBytes(path, "in use\n"));
  HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(-1, Extract7zArchive(Fixture("readonly.7z"), dest));
  ::CloseHandle(held);
  EXPECT_EQ("in use\n", ReadFileBytes(path));
}

TEST_F(SevenZipTest, ArchivesThatCannotBeReadFail) {
  static const struct {
    const char* file;
    const char* what;
  } kCases[] = {
      {"encrypted.7z", "encrypted data: the password request is refused"},
      {"encrypted_names.7z", "encrypted header: the open callback refuses the password"},
      {"lzma.7z", "another coder"},
      {"packed_header.7z", "an encoded (LZMA) header"},
      {"crc_error.7z", "data that fail their CRC"},
      {"truncated.7z", "cut in half"},
      {"mixed.zip", "a zip, not a 7z archive"},
      {"no_such.7z", "no file"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::wstring dest = MakeTempDir(L"7z_fail");
    EXPECT_EQ(-1, Extract7zArchive(Fixture(c.file), dest));
    EXPECT_FALSE(FileExists(dest + L"\\one.txt")) << "no damaged or unreadable file stays";
  }
}

TEST_F(SevenZipTest, ItemPathsLeavingTheDestinationAreRefused) {
  static const char* const kCases[] = {"escape_parent.7z", "escape_rooted.7z", "escape_drive.7z"};
  for (const char* file : kCases) {
    SCOPED_TRACE(file);
    std::wstring root = MakeTempDir(L"7z_escape");
    std::wstring dest = root + L"\\dest";
    EXPECT_EQ(-1, Extract7zArchive(Fixture(file), dest));
    EXPECT_EQ(std::vector<std::wstring>{L"dest"}, ListFolder(root));
    std::vector<std::wstring> inside = ListFolder(dest);
    EXPECT_TRUE(inside.empty() || inside == std::vector<std::wstring>{L"one.txt"});
  }
  EXPECT_FALSE(FileExists(L"C:\\evil.txt"));
  EXPECT_FALSE(FileExists(L"Z:\\evil.txt"));
}

TEST_F(SevenZipTest, PasswordRequestsAreRefused) {
  // Both callbacks answer every password request with E_ABORT: no password
  // is ever defined, so encrypted archives fail.
  base::ComPtr<sevenzip::IArchiveOpenCallback> open;
  *open.Receive() = new CArchiveOpenCallback();
  base::ComPtr<sevenzip::ICryptoGetTextPassword> ask;
  ASSERT_EQ(S_OK, open->QueryInterface(sevenzip::kIidCryptoGetTextPassword, ask.ReceiveVoid()));
  BSTR password = nullptr;
  EXPECT_EQ(E_ABORT, ask->CryptoGetTextPassword(&password));
  EXPECT_EQ(nullptr, password);
}

TEST_F(SevenZipTest, ProgressReachesTheListener) {
  struct Listener : I7zExtractListener {
    void OnTotal(uint64_t bytes) override { total = bytes; }
    void OnCompleted(uint64_t bytes) override { completed = bytes; }
    uint64_t total = 0, completed = 0;
  } listener;
  std::wstring dest = MakeTempDir(L"7z_progress");
  ASSERT_EQ(0, Extract7zArchive(Fixture("basic.7z"), dest, &listener));
  uint64_t expected = SourceBytes("one.txt").size() + SourceBytes("random.bin").size() +
                      SourceBytes("a/b.txt").size();
  EXPECT_EQ(expected, listener.total);
  EXPECT_EQ(expected, listener.completed);
}

TEST_CHILD(extract_7z_without_library) {
  return Extract7zArchive(args.at(0), args.at(1)) == -1 ? 0 : 1;
}

TEST(SevenZipLibraryTest, NothingIsExtractedWithoutALoadedLibrary) {
  std::wstring dest = MakeTempDir(L"7z_nolib");
  EXPECT_EQ(0, test_support::RunChild("extract_7z_without_library",
                                      L"\"" + Fixture("basic.7z") + L"\" \"" + dest + L"\""));
  EXPECT_TRUE(ListFolder(dest).empty());
}

TEST_CHILD(load_7z_twice) {
  // The first module stays; a second path is not even looked at.
  if (!Load7zLibrary(args.at(0))) return 1;
  if (!Load7zLibrary(L"C:\\no\\such\\7z.dll")) return 2;
  wchar_t loaded[MAX_PATH] = {};
  ::GetModuleFileNameW(::GetModuleHandleW(L"7z.dll"), loaded, MAX_PATH);
  return _wcsicmp(loaded, args.at(0).c_str()) == 0 ? 0 : 3;
}

TEST(SevenZipLibraryTest, LoadedOncePerProcess) {
  EXPECT_EQ(0, test_support::RunChild("load_7z_twice", L"\"" + SevenZipDll() + L"\""));
}

TEST_CHILD(load_7z_missing) { return Load7zLibrary(args.at(0)) ? 1 : 0; }

TEST(SevenZipLibraryTest, MissingLibraryDoesNotLoad) {
  EXPECT_EQ(0, test_support::RunChild("load_7z_missing", L"C:\\no\\such\\7z.dll"));
}

}  // namespace
