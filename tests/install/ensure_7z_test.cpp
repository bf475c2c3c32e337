// Ensure7zDll in each of its branches. Every case runs in a child process,
// which starts without 7z.dll loaded; this process plays the file host on the
// packaged game's fixed loopback port.
#include <winsock2.h>  // before windows.h, for the test server
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app_names.h"
#include "app/game_config.h"
#include "base/http_client.h"
#include "base/string_util.h"
#include "install/inst_helper.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/utils/fixture_path.h"
#include "utils/utils.h"

namespace {

using test_support::FileExists;
using test_support::HttpTestServer;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;

// game_build::kFileHost of the packaged game.
constexpr unsigned short kFileHostPort = 28712;

std::wstring SevenZipDll() { return test_fixtures::WindowsPath(NQ_SEVENZIP_DLL); }
std::wstring NetBridgeDll() { return test_fixtures::WindowsPath(NQ_NETBRIDGE_DLL); }

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

// args: family name, base folder, "1" for a full package, NetBridge.dll or "-".
GameConfig ChildConfig(const std::vector<std::wstring>& args) {
  AppNames::GetInstance()->Init(args.at(0), L"kzr");
  GameConfig config;
  config.data_dir = args.at(1);
  config.utils_dir = args.at(1) + L"\\Utils";
  config.IsPackAllCEF_ = args.at(2);
  if (args.at(3) != L"-") net::InitNet(args.at(3));
  return config;
}

// 0: true and a 7z.dll module is loaded; 1: false; 2: true but nothing loaded.
TEST_CHILD(ensure_7z) {
  GameConfig config = ChildConfig(args);
  if (!InstallHelper::Ensure7zDll(config)) return 1;
  return ::GetModuleHandleW(L"7z.dll") ? 0 : 2;
}

struct Case {
  std::wstring family = L"NqEnsure7zNone";
  bool full = false;
  bool with_netbridge = false;
};

class Ensure7zTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = MakeTempDir(L"ensure7z");
    ASSERT_TRUE(::CreateDirectoryW(Utils().c_str(), nullptr));
    ASSERT_TRUE(server_.Start(kFileHostPort)) << "port " << kFileHostPort << " busy";
  }

  std::wstring Utils() const { return base_ + L"\\Utils"; }

  int Run(const Case& c) {
    return test_support::RunChild(
        "ensure_7z", Quote(c.family) + L" " + Quote(base_) + (c.full ? L" 1 " : L" 0 ") +
                         (c.with_netbridge ? Quote(NetBridgeDll()) : L"-"));
  }

  std::wstring base_;
  HttpTestServer server_;
};

TEST_F(Ensure7zTest, PresentInUtils) {
  ASSERT_TRUE(::CopyFileW(SevenZipDll().c_str(), (Utils() + L"\\7z.dll").c_str(), FALSE));
  EXPECT_EQ(0, Run(Case{}));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(Ensure7zTest, FromTheFullPackageZip) {
  Case c;
  c.full = true;
  EXPECT_EQ(0, Run(c));
  EXPECT_EQ(ReadFileBytes(SevenZipDll()), ReadFileBytes(Utils() + L"\\7z.dll"));
  EXPECT_TRUE(FileExists(base_ + L"\\7z.zip")) << "the package stays for the clean-up";
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(Ensure7zTest, CopiedFromASiblingProduct) {
  // The second row of the table: a machine-wide "radiro" of the family.
  const std::wstring family = L"NqEnsure7zSibling";
  const std::wstring key = L"SOFTWARE\\" + family;
  std::wstring sibling = MakeTempDir(L"ensure7z_sibling");
  ASSERT_TRUE(::CreateDirectoryW((sibling + L"\\Utils").c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW(SevenZipDll().c_str(), (sibling + L"\\Utils\\7z.dll").c_str(), FALSE));
  ASSERT_TRUE(utils::WriteRegText(HKEY_LOCAL_MACHINE, key + L"\\radiro", L"InstallDir", sibling));
  Case c;
  c.family = family;
  EXPECT_EQ(0, Run(c));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  EXPECT_EQ(ReadFileBytes(SevenZipDll()), ReadFileBytes(Utils() + L"\\7z.dll"));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(Ensure7zTest, DownloadedFromTheFileHost) {
  std::string dll = ReadFileBytes(SevenZipDll());
  server_.Serve("/wan/wan/7z.dll", {200, dll});
  Case c;
  c.with_netbridge = true;
  EXPECT_EQ(0, Run(c));
  EXPECT_EQ(dll, ReadFileBytes(Utils() + L"\\7z.dll"));
  EXPECT_EQ(std::vector<std::string>{"/wan/wan/7z.dll"}, server_.Requests());
}

TEST_F(Ensure7zTest, EverySourceFailing) {
  // Not a full package, no sibling, and the host does not have the file.
  Case c;
  c.with_netbridge = true;
  EXPECT_EQ(1, Run(c));
  EXPECT_EQ(std::vector<std::string>{"/wan/wan/7z.dll"}, server_.Requests());
  EXPECT_FALSE(FileExists(Utils() + L"\\7z.dll"));
  EXPECT_FALSE(FileExists(Utils() + L"\\7z.dll.part"));
}

// args: two base folders whose Utils both hold 7z.dll.
TEST_CHILD(ensure_7z_twice) {
  GameConfig first, second;
  first.utils_dir = args.at(0) + L"\\Utils";
  second.utils_dir = args.at(1) + L"\\Utils";
  if (!InstallHelper::Ensure7zDll(first) || !InstallHelper::Ensure7zDll(second)) return 1;
  wchar_t loaded[MAX_PATH] = {};
  ::GetModuleFileNameW(::GetModuleHandleW(L"7z.dll"), loaded, MAX_PATH);
  return _wcsicmp(loaded, (first.utils_dir + L"\\7z.dll").c_str()) == 0 ? 0 : 2;
}

TEST(Ensure7zLoadedTest, AFreshUtilsFolderDoesNotLoadAgain) {
  std::wstring a = MakeTempDir(L"ensure7z_a"), b = MakeTempDir(L"ensure7z_b");
  for (const std::wstring& dir : {a, b}) {
    ASSERT_TRUE(::CreateDirectoryW((dir + L"\\Utils").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(SevenZipDll().c_str(), (dir + L"\\Utils\\7z.dll").c_str(), FALSE));
  }
  EXPECT_EQ(0, test_support::RunChild("ensure_7z_twice", Quote(a) + L" " + Quote(b)));
}

}  // namespace
