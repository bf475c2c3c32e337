// The run-mode decision against installations laid out on disk.
#include <gtest/gtest.h>
#include <json/json.h>
#include <windows.h>

#include <string>

#include "app/main_control.h"
#include "tests/app/config_test_support.h"
#include "tests/utils/fixture_path.h"
#include "utils/json_text.h"
#include "utils/utils.h"

namespace {

using Mode = MainControl::RunMode;
using test_support::WriteFileBytes;

// What an installation holds.
enum class Exe { kNone, kCurrent, kOlder };
enum class Info { kNone, kEnciphered, kPlain };
struct Install {
  Info info = Info::kEnciphered;
  bool ui = true;
  bool web_view = true;
  const wchar_t* kernel = L"cef";  // folder holding libcef.dll; null for none
  Exe exe = Exe::kCurrent;
};

// Distinct from the packaged document, so a loaded installation shows.
constexpr char kInstalledDocument[] =
    R"({"info_version": "7", "login_url": "http://127.0.0.1/installed.html"})";

class RunModeTest : public config_test::ScratchFamilyTest {
 protected:
  // Lays out |install| where the configuration of this family points.
  void Lay(const Install& install) {
    control()->SetCommandLine(L"");
    control()->InitConfig();
    GameConfig config = *control()->config();
    ASSERT_FALSE(utils::CombinePath(config.install_dir, L"", true).empty());
    ASSERT_FALSE(utils::CombinePath(config.utils_dir, L"", true).empty());
    Json::Value document;
    ASSERT_TRUE(utils::ParseJsonText(kInstalledDocument, &document));
    config.FromJson(document);
    if (install.info == Info::kEnciphered) {
      ASSERT_TRUE(config.SaveToFile());
    }
    if (install.info == Info::kPlain) {
      ASSERT_TRUE(WriteFileBytes(config.info_path, config.json_text));
    }
    if (install.ui) {
      ASSERT_TRUE(WriteFileBytes(config.ui_path, "skin"));
    }
    if (install.web_view) {
      ASSERT_TRUE(WriteFileBytes(config.utils_dir + L"\\WebView.dll", "dll"));
    }
    if (install.kernel) {
      const std::wstring kernel = utils::CombinePath(config.utils_dir, install.kernel, true);
      ASSERT_TRUE(WriteFileBytes(kernel + L"\\libcef.dll", "dll"));
    }
    if (install.exe != Exe::kNone) {
      const std::wstring source = install.exe == Exe::kCurrent
                                      ? test_support::SelfPath()
                                      : test_fixtures::FixtureModule("old_version");
      ASSERT_TRUE(::CopyFileW(source.c_str(), config.exe_path.c_str(), FALSE));
    }
  }

  Mode Decide(const wchar_t* switches) {
    control()->SetCommandLine(switches);
    control()->InitConfig();
    NewLog();
    return control()->ChooseRunMode();
  }
};

TEST_F(RunModeTest, Decisions) {
  const GameConfig paths = [this] {
    control()->InitConfig();
    return *control()->config();
  }();
  const std::string web_view = base::WideToAnsi(paths.utils_dir + L"\\WebView.dll");
  const std::string info = base::WideToAnsi(paths.info_path);
  const std::string ui = base::WideToAnsi(paths.ui_path);
  const struct {
    const char* name;
    bool installed;
    Install install;
    const wchar_t* switches;
    Mode mode;
    std::string record;  // an Error or Info record the decision writes
  } kCases[] = {
      {"nothing installed", false, {}, L"", Mode::kInstall,
       "MainControl::LoadInstalledConfig, info path " + info + "is not found"},
      {"installed and current", true, {}, L"", Mode::kClient, ""},
      {"installed, runtime in cef69", true, {Info::kEnciphered, true, true, L"cef69"}, L"",
       Mode::kClient, ""},
      {"a newer running version", true, {Info::kEnciphered, true, true, L"cef", Exe::kOlder}, L"",
       Mode::kInstall, "need update"},
      {"installed file lacks its executable", true,
       {Info::kEnciphered, true, true, L"cef", Exe::kNone}, L"", Mode::kInstall, "need update"},
      {"uninstall with nothing installed", false, {}, L"/uninstall", Mode::kInstall,
       "need update"},
      {"uninstall of a current installation", true, {}, L"/uninstall /from=uninst",
       Mode::kUninstall, ""},
      {"uninstall of an older installation", true,
       {Info::kEnciphered, true, true, L"cef", Exe::kOlder}, L"/uninstall", Mode::kInstall,
       "need update"},
      {"no WebView.dll", true, {Info::kEnciphered, true, false}, L"", Mode::kInstall,
       "MainControl::LoadInstalledConfig,not find web_view path:" + web_view},
      {"no WebView.dll, uninstall", true, {Info::kEnciphered, true, false}, L"/uninstall",
       Mode::kUninstall, "MainControl::LoadInstalledConfig,not find web_view path:" + web_view},
      {"no skin package", true, {Info::kEnciphered, false}, L"", Mode::kInstall,
       "MainControl::LoadInstalledConfig, not find ui :" + ui},
      {"no engine runtime", true, {Info::kEnciphered, true, true, nullptr}, L"", Mode::kInstall,
       "MainControl::LoadInstalledConfig,not find lic_cef path:"},
      {"plain JSON installed file", true, {Info::kPlain}, L"", Mode::kInstall,
       "MainControl::LoadInstalledConfig, from json file fail info_path:" + info},
      {"no installed file", true, {Info::kNone}, L"", Mode::kInstall,
       "MainControl::LoadInstalledConfig, info path " + info + "is not found"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.installed) Lay(c.install);
    EXPECT_EQ(Decide(c.switches), c.mode);
    const std::string log = NewLog();
    if (!c.record.empty()) {
      EXPECT_NE(log.find(c.record), std::string::npos) << log;
    }
    // "need update" only when the running executable is newer.
    const bool newer = log.find("need update") != std::string::npos;
    EXPECT_EQ(newer, c.record == "need update") << log;
    if (c.mode == Mode::kClient) {
      EXPECT_EQ(log, "") << "a usable installation writes no record";
      // The installed document replaced the record's document fields.
      EXPECT_EQ(control()->config()->login_url, L"http://127.0.0.1/installed.html");
      EXPECT_EQ(control()->config()->info_version, L"7");
    }
  }
}

// The first condition settles install mode without asking for the version.
TEST_F(RunModeTest, NothingInstalledLogsOnlyTheMissingFile) {
  EXPECT_EQ(Decide(L""), Mode::kInstall);
  const std::string log = NewLog();
  EXPECT_NE(log.find("MainControl::LoadInstalledConfig, info path "), std::string::npos);
  EXPECT_EQ(log.find("need update"), std::string::npos);
}

TEST_F(RunModeTest, NeedUpdateComparesFileVersions) {
  Lay({});
  control()->InitConfig();
  EXPECT_FALSE(control()->NeedUpdate());
  Lay({Info::kEnciphered, true, true, L"cef", Exe::kOlder});
  control()->InitConfig();
  NewLog();
  EXPECT_TRUE(control()->NeedUpdate());
  EXPECT_NE(NewLog().find("[I]"), std::string::npos);
}

}  // namespace
