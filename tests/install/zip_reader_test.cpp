// The zip reader against archives made by Info-ZIP and Python's zipfile
// (tests/install/make_archive_fixtures.py), some with one field damaged.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/zip_archive.h"
#include "tests/install/archive_test_util.h"
#include "tests/support/test_support.h"

namespace {

using archive_test::Fixture;
using archive_test::ListFolder;
using archive_test::SourceBytes;
using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;

TEST(ZipArchiveTest, EndRecordIsSearchedWithinTheWindowOnly) {
  // The record is 22 bytes; with a comment of N bytes it starts N + 22 bytes
  // before the end, and the search reaches 65556.
  static const struct {
    const char* file;
    bool opens;
  } kCases[] = {
      {"comment_65000.zip", true},
      {"comment_65534.zip", true},
      {"comment_65535.zip", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    ZipArchive archive;
    ASSERT_EQ(c.opens, archive.Open(Fixture(c.file)));
    if (!c.opens) continue;
    ASSERT_EQ(1u, archive.entries().size());
    std::string text(archive.GetUncompressedSize(0), '\0');
    ASSERT_TRUE(archive.ReadEntry(0, text.data(), text.size()));
    EXPECT_EQ("comment test\n", text);
  }
}

TEST(ZipArchiveTest, BrokenStructuresAreRejected) {
  std::wstring dir = MakeTempDir(L"zip_reject");
  std::wstring tiny = dir + L"\\tiny.zip";
  ASSERT_TRUE(test_support::WriteFileBytes(tiny, std::string("PK\x05\x06", 4) + std::string(17, '\0')));
  static const struct {
    std::wstring path;
    const char* what;
  } kCases[] = {
      {Fixture("second_disk.zip"), "end record names disk 1"},
      {Fixture("count_mismatch.zip"), "entry counts differ"},
      {Fixture("bad_central.zip"), "central header signature"},
      {tiny, "21 bytes"},
      {dir + L"\\missing.zip", "no such file"},
      {dir, "a folder"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ZipArchive archive;
    EXPECT_FALSE(archive.Open(c.path));
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_FALSE(archive.FindEntry(L"one.txt").has_value());
    std::wstring dest = dir + L"\\out";
    EXPECT_EQ(E_FAIL, ExtractZipArchive(c.path.c_str(), dest.c_str()));
    EXPECT_FALSE(FileExists(dest)) << "nothing is made for an archive that does not open";
  }
}

TEST(ZipArchiveTest, EmptyArchiveExtractsNothing) {
  std::wstring path = Fixture("empty.zip");
  ASSERT_EQ(22u, ReadFileBytes(path).size());
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(path));
  EXPECT_TRUE(archive.entries().empty());
  std::wstring dest = MakeTempDir(L"zip_empty") + L"\\Utils";
  EXPECT_EQ(S_OK, ExtractZipArchive(path.c_str(), dest.c_str()));
  EXPECT_TRUE(archive_test::IsFolder(dest));
  EXPECT_TRUE(ListFolder(dest).empty());
}

TEST(ZipArchiveTest, FolderEntriesInEitherOrder) {
  static const char* const kFiles[] = {"dirs.zip", "file_first.zip"};
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    std::wstring dest = MakeTempDir(L"zip_dirs");
    ASSERT_EQ(S_OK, ExtractZipArchive(Fixture(file).c_str(), dest.c_str()));
    EXPECT_EQ("inside a\n", ReadFileBytes(dest + L"\\a\\b.txt"));
    EXPECT_TRUE(archive_test::IsFolder(dest + L"\\a"));
  }
}

TEST(ZipArchiveTest, StoredDeflatedAndEmptyFilesMatchTheirSources) {
  std::wstring dest = MakeTempDir(L"zip_mixed");
  ASSERT_EQ(S_OK, ExtractZipArchive(Fixture("mixed.zip").c_str(), dest.c_str()));
  for (const char* name : {"one.txt", "empty.txt", "random.bin"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(FileExists(dest + L"\\" + std::wstring(name, name + strlen(name))));
    EXPECT_EQ(SourceBytes(name),
              ReadFileBytes(dest + L"\\" + std::wstring(name, name + strlen(name))));
  }
}

TEST(ZipArchiveTest, SecondOfThreeCorruptKeepsFirstDeletesSecondSkipsThird) {
  std::wstring dest = MakeTempDir(L"zip_corrupt");
  EXPECT_EQ(E_FAIL, ExtractZipArchive(Fixture("corrupt_second.zip").c_str(), dest.c_str()));
  EXPECT_EQ(SourceBytes("one.txt"), ReadFileBytes(dest + L"\\one.txt"));
  EXPECT_FALSE(FileExists(dest + L"\\two.txt"));
  EXPECT_FALSE(FileExists(dest + L"\\three.txt"));
}

TEST(ZipArchiveTest, UnreadableEntriesFailAndLeaveNoFile) {
  static const struct {
    const char* file;
    const char* what;
  } kCases[] = {
      {"encrypted.zip", "encrypted (zip -P)"},
      {"bzip2.zip", "method 12"},
      {"data_past_end.zip", "compressed size runs past the end of the file"},
      {"local_past_end.zip", "local header past the end of the file"},
      {"declared_short.zip", "inflates to more than the declared size"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::wstring dest = MakeTempDir(L"zip_refused");
    EXPECT_EQ(E_FAIL, ExtractZipArchive(Fixture(c.file).c_str(), dest.c_str()));
    EXPECT_TRUE(ListFolder(dest).empty());

    ZipArchive archive;
    ASSERT_TRUE(archive.Open(Fixture(c.file)));
    std::vector<char> buffer(archive.GetUncompressedSize(0) + 64, '\x7f');
    EXPECT_FALSE(archive.ReadEntry(0, buffer.data(), archive.GetUncompressedSize(0)));
    EXPECT_EQ('\x7f', buffer[archive.GetUncompressedSize(0)]) << "wrote past the declared size";
  }
}

TEST(ZipArchiveTest, NamesLeavingTheDestinationAreRefused) {
  static const char* const kCases[] = {
      "parent", "nested_parent", "backslash_parent", "dots", "rooted",
      "drive", "drive_relative", "unc", "parent_folder",
  };
  for (const char* key : kCases) {
    SCOPED_TRACE(key);
    std::wstring root = MakeTempDir(L"zip_escape");
    std::wstring dest = root + L"\\dest";
    std::string file = std::string("escape_") + key + ".zip";
    EXPECT_EQ(E_FAIL, ExtractZipArchive(Fixture(file.c_str()).c_str(), dest.c_str()));
    EXPECT_EQ(std::vector<std::wstring>{L"before.txt"}, ListFolder(dest))
        << "the refused entry counts as the first failure; later files are skipped";
    EXPECT_EQ(std::vector<std::wstring>{L"dest"}, ListFolder(root));
  }
  EXPECT_FALSE(FileExists(L"C:\\evil.txt"));
  EXPECT_FALSE(FileExists(L"Z:\\evil.txt"));
}

TEST(ZipArchiveTest, MissingArgumentsAreInvalid) {
  std::wstring zip = Fixture("mixed.zip");
  EXPECT_EQ(E_INVALIDARG, ExtractZipArchive(nullptr, L"C:\\x"));
  EXPECT_EQ(E_INVALIDARG, ExtractZipArchive(L"", L"C:\\x"));
  EXPECT_EQ(E_INVALIDARG, ExtractZipArchive(zip.c_str(), nullptr));
  EXPECT_EQ(E_INVALIDARG, ExtractZipArchive(zip.c_str(), L""));
}

TEST(ZipArchiveTest, DosTimeIsTakenAsLocalTime) {
  std::wstring dest = MakeTempDir(L"zip_time");
  ASSERT_EQ(S_OK, ExtractZipArchive(Fixture("dostime.zip").c_str(), dest.c_str()));
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(::GetFileAttributesExW((dest + L"\\t.txt").c_str(), GetFileExInfoStandard, &data));
  FILETIME local;
  SYSTEMTIME time;
  ASSERT_TRUE(::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local));
  ASSERT_TRUE(::FileTimeToSystemTime(&local, &time));
  EXPECT_EQ(2020, time.wYear);
  EXPECT_EQ(2, time.wMonth);
  EXPECT_EQ(29, time.wDay);
  EXPECT_EQ(13, time.wHour);
  EXPECT_EQ(37, time.wMinute);
  EXPECT_EQ(42, time.wSecond);
}

TEST(ZipArchiveTest, FindEntryIgnoresCaseAndTakesBackslashes) {
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(Fixture("names.zip")));
  ASSERT_EQ(4u, archive.entries().size());  // Dir/, Dir/Sub/, Dir/Sub/File.TXT, one.txt
  static const struct {
    const wchar_t* name;
    int index;  // -1: none
  } kCases[] = {
      {L"Dir/Sub/File.TXT", 2}, {L"dir\\sub\\file.txt", 2}, {L"DIR/", 0},
      {L"ONE.TXT", 3},          {L"Dir/Sub", -1},           {L"File.TXT", -1},
      {L"", -1},                {L"one.txt ", -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << archive_test::Narrow(c.name));
    std::optional<size_t> found = archive.FindEntry(c.name);
    if (c.index < 0) {
      EXPECT_FALSE(found.has_value());
    } else {
      ASSERT_TRUE(found.has_value());
      EXPECT_EQ(static_cast<size_t>(c.index), *found);
    }
  }
  archive.Close();
  EXPECT_FALSE(archive.FindEntry(L"one.txt").has_value());
}

TEST(ZipArchiveTest, ReadEntryNeedsAFileAndRoomForIt) {
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(Fixture("names.zip")));
  size_t one = archive.FindEntry(L"one.txt").value();
  size_t size = archive.GetUncompressedSize(one);
  ASSERT_EQ(SourceBytes("one.txt").size(), size);

  std::string exact(size, '\0');
  ASSERT_TRUE(archive.ReadEntry(one, exact.data(), exact.size()));
  EXPECT_EQ(SourceBytes("one.txt"), exact);

  std::string roomy(size + 100, '#');
  EXPECT_TRUE(archive.ReadEntry(one, roomy.data(), roomy.size()));
  EXPECT_EQ(std::string(100, '#'), roomy.substr(size));

  std::string shorter(size - 1, '\0');
  EXPECT_FALSE(archive.ReadEntry(one, shorter.data(), shorter.size()));
  char byte = 0;
  EXPECT_FALSE(archive.ReadEntry(archive.FindEntry(L"Dir/").value(), &byte, 1));
  EXPECT_FALSE(archive.ReadEntry(archive.entries().size(), &byte, 1));

  ZipArchive corrupt;
  ASSERT_TRUE(corrupt.Open(Fixture("corrupt_second.zip")));
  size_t two = corrupt.FindEntry(L"two.txt").value();
  std::string buffer(corrupt.GetUncompressedSize(two), '\0');
  EXPECT_FALSE(corrupt.ReadEntry(two, buffer.data(), buffer.size()));
}

TEST(ZipArchiveTest, AnExistingFileIsReplaced) {
  std::wstring dest = MakeTempDir(L"zip_replace");
  ASSERT_TRUE(test_support::WriteFileBytes(dest + L"\\one.txt", std::string(100000, 'x')));
  ASSERT_EQ(S_OK, ExtractZipArchive(Fixture("mixed.zip").c_str(), dest.c_str()));
  EXPECT_EQ(SourceBytes("one.txt"), ReadFileBytes(dest + L"\\one.txt"));
}

}  // namespace
