#include "install/install_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallRulesTest, AddGameToList) {
  static const struct {
    const wchar_t* list;
    const wchar_t* id;
    bool changed;
    const wchar_t* expected;  // only when changed
  } kCases[] = {
      {L"", L"kzr", true, L";kzr;"},
      {L";kzr;", L"abc", true, L";kzr;abc;"},
      {L";kzr;abc;", L"kzr", false, nullptr},
      {L";kzr;abc;", L"abc", false, nullptr},
      // The lone separator the uninstaller leaves behind.
      {L";", L"abc", true, L";abc;"},
      // Only whole ids count: "kz" is not "kzr", "zr" is not "kzr".
      {L";kzr;", L"kz", true, L";kzr;kz;"},
      {L";kzr;", L"zr", true, L";kzr;zr;"},
      {L";akzr;", L"kzr", true, L";akzr;kzr;"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "list '" << c.list << "' id '" << c.id << "'");
    std::wstring out = L"untouched";
    EXPECT_EQ(c.changed, install_rules::AddGameToList(c.list, c.id, &out));
    EXPECT_EQ(c.changed ? std::wstring(c.expected) : std::wstring(L"untouched"), out);
  }
}

TEST(InstallRulesTest, TranslateRuntimeStatus) {
  static const struct {
    int status;
    const char* log;
    const wchar_t* action;
    bool ok;
  } kCases[] = {
      {1, "InstallFiles, InstallCefRes: cef exist", L"cef_exist", true},
      {3, "InstallFiles, InstallCefRes: cefres exist", L"cef_dll_exist", true},
      {4, "InstallFiles, CInstallres::downloadsuccess", L"res_down_success", true},
      {0, "InstallFiles, CInstallres::download() failed", L"qv_show_overtime", false},
      {2, "InstallFiles, InstallCefRes: res_copy_success", L"res_copy_success", true},
      {-1, "InstallFiles, InstallCefRes: res_copy_success", L"res_copy_success", true},
      {77, "InstallFiles, InstallCefRes: res_copy_success", L"res_copy_success", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    const install_rules::RuntimeOutcome outcome = install_rules::TranslateRuntimeStatus(c.status);
    EXPECT_STREQ(c.log, outcome.log_text);
    EXPECT_STREQ(c.action, outcome.action);
    EXPECT_EQ(c.ok, outcome.ok);
  }
}

TEST(InstallRulesTest, ChooseKernel) {
  const install_rules::Kernel& fresh = install_rules::ChooseKernel(true);
  EXPECT_STREQ(L"quarvel", fresh.product);
  EXPECT_STREQ(L"3.3497.1841.0", fresh.version);
  EXPECT_STREQ(L"cef69", fresh.dir_name);
  EXPECT_STREQ(L"CefRes69.dll", fresh.resource_file);
  const install_rules::Kernel& old = install_rules::ChooseKernel(false);
  EXPECT_STREQ(L"radiro", old.product);
  EXPECT_STREQ(L"3.2623.1401.0", old.version);
  EXPECT_STREQ(L"cef", old.dir_name);
  EXPECT_STREQ(L"CefRes.dll", old.resource_file);
}

TEST(InstallRulesTest, UninstallEntryNames) {
  EXPECT_EQ(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brevplay_kzr",
            install_rules::UninstallKey(L"Brevplay", L"kzr"));
  // The path is quoted so that a directory with blanks stays one argument.
  EXPECT_EQ(L"\"C:\\Users\\a b\\AppData\\Roaming\\Brevplay\\kzr\\kzr.exe\" /uninstall /from=uninst",
            install_rules::UninstallCommand(
                L"C:\\Users\\a b\\AppData\\Roaming\\Brevplay\\kzr\\kzr.exe"));
}

TEST(InstallRulesTest, IsGameKey) {
  static const struct {
    const wchar_t* product_key;
    const wchar_t* game_key;
    const wchar_t* game_id;
    bool ok;
  } kCases[] = {
      {L"SOFTWARE\\Brevplay", L"SOFTWARE\\Brevplay\\kzr", L"kzr", true},
      // An empty id would name the product key itself (every game's data).
      {L"SOFTWARE\\Brevplay", L"SOFTWARE\\Brevplay\\", L"", false},
      {L"SOFTWARE\\Brevplay", L"SOFTWARE\\Brevplay", L"", false},
      {L"", L"\\kzr", L"kzr", false},
      {L"SOFTWARE\\Brevplay", L"SOFTWARE\\Other\\kzr", L"kzr", false},
      {L"SOFTWARE\\Brevplay", L"SOFTWARE\\Brevplay\\kzr\\..", L"kzr\\..", false},
      {L"SOFTWARE\\Brevplay", L"", L"kzr", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "key '" << c.game_key << "'");
    EXPECT_EQ(c.ok, install_rules::IsGameKey(c.product_key, c.game_key, c.game_id));
  }
}

}  // namespace
