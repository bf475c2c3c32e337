// Resource packages: the test executable carries "ZIPRES" packages made from
// the archive fixtures (packages_test.rc.in), so the executable's own
// resources are read as in the product.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/resource_ids.h"
#include "base/logging.h"
#include "install/sevenzip.h"
#include "install/tray_unzip.h"
#include "tests/install/archive_test_util.h"
#include "tests/install/packages_test_ids.h"
#include "tests/support/test_support.h"

namespace {

using archive_test::Fixture;
using archive_test::ListFolder;
using archive_test::SourceBytes;
using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;

class TrayUnzipTest : public testing::Test {
 protected:
  // One log file for the process: the logger keeps the first path it is given.
  static void SetUpTestSuite() {
    ASSERT_TRUE(Load7zLibrary(test_fixtures::WindowsPath(NQ_SEVENZIP_DLL)));
    log_ = new std::wstring(MakeTempDir(L"tray_log") + L"\\test.log");
    ASSERT_TRUE(test_support::WriteFileBytes(*log_ + L".on", ""));
    LogUtils::GetInstance()->Init(*log_, L"", 0, 0, 104857600);
  }

  void SetUp() override { base_ = MakeTempDir(L"tray"); }

  static size_t LogSize() { return ReadFileBytes(*log_).size(); }
  // True when |text| was logged after the log had |from| bytes.
  static bool LoggedSince(size_t from, const std::string& text) {
    return ReadFileBytes(*log_).find(text, from) != std::string::npos;
  }

  static std::wstring* log_;
  std::wstring base_;
};

std::wstring* TrayUnzipTest::log_ = nullptr;

TEST_F(TrayUnzipTest, ZipPackageIsSavedAndUnpacked) {
  std::wstring package = base_ + L"\\NetBridge.zip";
  ASSERT_TRUE(utils::TrayUnZipFile2(IDR_PACKAGE_NETBRIDGE, package, base_));
  EXPECT_EQ(ReadFileBytes(Fixture("mixed.zip")), ReadFileBytes(package))
      << "the package stays for the install flow to delete";
  EXPECT_EQ(SourceBytes("one.txt"), ReadFileBytes(base_ + L"\\one.txt"));
  EXPECT_EQ(SourceBytes("random.bin"), ReadFileBytes(base_ + L"\\random.bin"));
}

TEST_F(TrayUnzipTest, SevenZipPackageIsSavedAndUnpacked) {
  std::wstring package = base_ + L"\\res.7z";
  ASSERT_TRUE(utils::TrayUnzip7zFile(IDR_PACKAGE_7Z, package, base_));
  EXPECT_TRUE(FileExists(package));
  EXPECT_EQ(SourceBytes("one.txt"), ReadFileBytes(base_ + L"\\one.txt"));
  EXPECT_EQ(SourceBytes("a/b.txt"), ReadFileBytes(base_ + L"\\a\\b.txt"));
}

TEST_F(TrayUnzipTest, EmptyZipPackageUnpacksNothing) {
  std::wstring utils_dir = base_ + L"\\Utils";
  ASSERT_TRUE(utils::TrayUnZipFile2(kEmptyZipPackage, base_ + L"\\7z.zip", utils_dir));
  EXPECT_EQ(22u, ReadFileBytes(base_ + L"\\7z.zip").size());
  EXPECT_TRUE(ListFolder(utils_dir).empty());
}

TEST_F(TrayUnzipTest, FailuresAreLoggedWithTheirTexts) {
  static const struct {
    bool seven_zip;
    int id;
    const wchar_t* package;  // under the base folder
    const char* log_text;
    bool package_saved;
  } kCases[] = {
      {false, kZeroBytePackage, L"\\z.zip", "TrayUnZipFile2 failed, read resource failed. file: ", false},
      {false, kMissingPackage, L"\\z.zip", "TrayUnZipFile2 failed, read resource failed. file: ", false},
      {true, kMissingPackage, L"\\z.7z", "TrayUnzip7zFile failed, read resource failed. file: ", false},
      {false, kCorruptZipPackage, L"\\no\\such\\folder\\z.zip", "TrayUnZipFile2 failed, save path failed. path:", false},
      {true, IDR_PACKAGE_7Z, L"\\no\\such\\folder\\z.7z", "TrayUnzip7zFile failed, save path failed. path:", false},
      {false, kCorruptZipPackage, L"\\z.zip", "TrayUnzipFile2, un_zip failed path:", true},
      {true, kEncrypted7zPackage, L"\\z.7z", "TrayUnzip7zFile, un_zip failed path:", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.log_text);
    size_t from = LogSize();
    std::wstring package = base_ + c.package;
    std::wstring dest = base_ + L"\\out";
    bool ok = c.seven_zip ? utils::TrayUnzip7zFile(c.id, package, dest)
                          : utils::TrayUnZipFile2(c.id, package, dest);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(LoggedSince(from, c.log_text));
    EXPECT_EQ(c.package_saved, FileExists(package));
    ::DeleteFileW(package.c_str());
  }
}

}  // namespace
