#include "app/game_config.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <windows.h>

#include <climits>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "install/inst_helper.h"
#include "tests/app/config_test_support.h"
#include "tests/utils/fixture_path.h"
#include "utils/json_text.h"
#include "utils/utils.h"

namespace {

using config_test::ScratchFamilyTest;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::WriteFileBytes;

Json::Value Parse(const std::string& text) {
  Json::Value document;
  EXPECT_TRUE(utils::ParseJsonText(text, &document)) << text;
  return document;
}

// A record as InitConfig leaves it for the demo game, before any document.
GameConfig BaseRecord() {
  GameConfig config;
  config.LoadStringResources();
  config.DerivePaths();
  return config;
}

// Every field a document sets, as text, in declaration order.
std::vector<std::wstring> DocumentFields(const GameConfig& c) {
  return {c.info_version,     c.NotCreateDeskIcon,   c.IsUserNewKernel_,
          c.IsPackAllCEF_,    c.run_after_silence_inst, c.tray_icon_tip,
          c.login_url,        c.site_url_format,     c.index_page_url,
          c.kefu_page_url,    c.charge_url_format,   c.uninst_open_url,
          c.pop_tray_url,     c.silence_inst,        c.install_open_text,
          c.pattern_str,      base::Utf8ToWide(c.json_text),
          std::to_wstring(c.pepflashplayer),       std::to_wstring(c.install_tray),
          std::to_wstring(c.delay_install_extra_days), std::to_wstring(c.install_open_select),
          std::to_wstring(c.startmenu_no_uninst),  std::to_wstring(c.install_show_close),
          std::to_wstring(c.exit_when_close_playwnd)};
}

TEST(GameConfigTest, IntegerKeys) {
  static const struct {
    const char* json;  // the value of both keys; null means absent
    int install_tray;  // default 0
    int install_show_close;  // default 1
  } kCases[] = {
      {nullptr, 0, 1},
      {"5", 5, 5},
      {"\"0\"", 0, 0},
      {"\"7\"", 7, 7},
      {"\"12abc\"", 12, 12},
      {"\"yes\"", 0, 0},
      {"\"\"", 0, 0},
      {"\" 42\"", 42, 42},
      {"\"-5\"", -5, -5},
      {"\"99999999999\"", 0, 1},
      {"true", 1, 1},
      {"false", 0, 0},
      {"3.9", 3, 3},
      {"-3.9", -3, -3},
      {"2147483647", INT_MAX, INT_MAX},
      {"-2147483648", INT_MIN, INT_MIN},
      {"2147483648", 0, 1},
      {"4294967296", 0, 1},
      {"18446744073709551615", 0, 1},
      {"1e20", 0, 1},
      {"null", 0, 1},
      {"[1]", 0, 1},
      {"{\"a\": 1}", 0, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json ? c.json : "absent");
    const std::string text = c.json ? std::string("{\"install_tray\": ") + c.json +
                                          ", \"install_show_close\": " + c.json + "}"
                                    : "{}";
    GameConfig config = BaseRecord();
    config.install_tray = 77;
    config.install_show_close = 77;
    config.FromJson(Parse(text));
    EXPECT_EQ(config.install_tray, c.install_tray);
    EXPECT_EQ(config.install_show_close, c.install_show_close);
  }
  GameConfig config = BaseRecord();
  config.FromJson(Parse("{\"pepflashplayer\": true, \"exit_when_close_playwnd\": \"1\"}"));
  EXPECT_EQ(config.pepflashplayer, 1);
  EXPECT_EQ(config.exit_when_close_playwnd, 1);
}

TEST(GameConfigTest, TextKeys) {
  static const struct {
    const char* json;
    const wchar_t* tip;  // default ""
    const wchar_t* desk_icon;  // default "0"
  } kCases[] = {
      {nullptr, L"", L"0"},
      {"\"1\"", L"1", L"1"},
      {"\"\\u7ef4\\u5c14\"", L"\u7ef4\u5c14", L"\u7ef4\u5c14"},
      {"1", L"", L"0"},
      {"true", L"", L"0"},
      {"null", L"", L"0"},
      {"[\"x\"]", L"", L"0"},
      {"{}", L"", L"0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json ? c.json : "absent");
    const std::string text = c.json ? std::string("{\"tray_icon_tip\": ") + c.json +
                                          ", \"NotCreateDeskIcon\": " + c.json + "}"
                                    : "{}";
    GameConfig config = BaseRecord();
    ASSERT_EQ(config.tray_icon_tip, L"Velmora");  // derived, replaced by every document
    config.FromJson(Parse(text));
    EXPECT_EQ(config.tray_icon_tip, c.tip);
    EXPECT_EQ(config.NotCreateDeskIcon, c.desk_icon);
    EXPECT_EQ(config.CreateDeskIcon(), std::wstring(c.desk_icon) != L"1");
  }
}

TEST(GameConfigTest, OptionPredicatesAreExact) {
  GameConfig config = BaseRecord();
  config.FromJson(
      Parse(R"({"IsUserNewKernel": "1", "IsPackAllCEF": " 1", "NotCreateDeskIcon": "01"})"));
  EXPECT_TRUE(config.IsUserNewKernel());
  EXPECT_FALSE(config.IsPackAllCEF());
  EXPECT_TRUE(config.CreateDeskIcon());
}

TEST(GameConfigTest, ValidityNeedsEveryRequiredField) {
  const Json::Value document = Parse(R"({"info_version": "1", "login_url": "http://l/"})");
  GameConfig config = BaseRecord();
  ASSERT_TRUE(config.FromJson(document));
  static const struct {
    const char* field;
    std::wstring GameConfig::*member;
  } kCases[] = {
      {"game_id", &GameConfig::game_id}, {"pid", &GameConfig::pid},
      {"channel", &GameConfig::channel}, {"from", &GameConfig::from},
      {"game_name", &GameConfig::game_name},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.field);
    GameConfig broken = BaseRecord();
    broken.*c.member = L"";
    EXPECT_FALSE(broken.FromJson(document));
  }
  EXPECT_FALSE(config.FromJson(Parse(R"({"login_url": "http://l/"})")));
  EXPECT_FALSE(config.FromJson(Parse(R"({"info_version": "1"})")));
}

class GameConfigFamilyTest : public ScratchFamilyTest {};

// A number where the address belongs leaves it empty, unless the "url"
// switch gives one.
TEST_F(GameConfigFamilyTest, LoginUrlFromDocumentOrSwitch) {
  const Json::Value numeric = Parse(R"({"info_version": "1", "login_url": 12})");
  GameConfig config = BaseRecord();
  EXPECT_FALSE(config.FromJson(numeric));
  EXPECT_EQ(config.login_url, L"");

  control()->SetCommandLine(L"/url=http://127.0.0.1/switch.html");
  EXPECT_TRUE(config.FromJson(numeric));
  EXPECT_EQ(config.login_url, L"http://127.0.0.1/switch.html");
  EXPECT_TRUE(config.FromJson(Parse(R"({"info_version": "1", "login_url": "http://doc/"})")));
  EXPECT_EQ(config.login_url, L"http://127.0.0.1/switch.html");

  control()->SetCommandLine(L"/url=");  // an empty switch does not count
  EXPECT_TRUE(config.FromJson(Parse(R"({"info_version": "1", "login_url": "http://doc/"})")));
  EXPECT_EQ(config.login_url, L"http://doc/");
}

TEST(GameConfigTest, JsonTextIsTheStyledDocument) {
  GameConfig config = BaseRecord();
  config.FromJson(Parse(R"({"sign": "s", "b": [1, 2], "a": "x", "c": {"d": null}})"));
  EXPECT_EQ(config.json_text,
            "{\n"
            "   \"a\" : \"x\",\n"
            "   \"b\" : [ 1, 2 ],\n"
            "   \"c\" : {\n"
            "      \"d\" : null\n"
            "   },\n"
            "   \"sign\" : \"s\"\n"
            "}\n");
}

TEST(GameConfigTest, DocumentsThatAreNoObjectReadAsEmpty) {
  for (const char* text : {"[1, 2]", "\"text\"", "null", "42"}) {
    SCOPED_TRACE(text);
    GameConfig config = BaseRecord();
    EXPECT_FALSE(config.FromJson(Parse(text)));
    EXPECT_EQ(config.install_show_close, 1);
    EXPECT_EQ(config.NotCreateDeskIcon, L"0");
    EXPECT_EQ(config.login_url, L"");
  }
}

TEST_F(GameConfigFamilyTest, RegistryAndSwitchesMakeTheAttribution) {
  static const struct {
    const wchar_t* pid;      // registry values; null = absent
    const wchar_t* channel;
    const wchar_t* from;
    const wchar_t* switches;
    const wchar_t* want_pid;
    const wchar_t* want_channel;
    const wchar_t* want_from;
  } kCases[] = {
      {nullptr, nullptr, nullptr, L"", L"Ferrant", L"Ferrant", L"Ferrant"},
      {nullptr, L"ab", nullptr, L"", L"Ferrant", L"ab", L"ab"},
      {L"rp", nullptr, nullptr, L"", L"rp", L"rp", L"rp"},
      {L"rp", L"rc", L"rf", L"", L"rp", L"rc", L"rf"},
      {nullptr, nullptr, nullptr, L"/pid=p1 /subpid=s2", L"p1", L"p1_s2", L"p1_s2_kzr"},
      {nullptr, nullptr, nullptr, L"/pid=p1 /subpid=s2 /from=f3", L"p1", L"p1_s2", L"f3"},
      {nullptr, L"ab", L"fr", L"/pid=p1", L"p1", L"p1", L"p1_kzr"},
      {nullptr, L"ab", nullptr, L"/from=desk_icon", L"Ferrant", L"ab", L"desk_icon"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.switches));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, game_key().c_str());
    // The installer's letter case; the reader asks for lower-case names.
    if (c.pid) utils::WriteRegText(HKEY_CURRENT_USER, game_key(), L"PID", c.pid);
    if (c.channel) utils::WriteRegText(HKEY_CURRENT_USER, game_key(), L"Channel", c.channel);
    if (c.from) utils::WriteRegText(HKEY_CURRENT_USER, game_key(), L"From", c.from);
    control()->SetCommandLine(c.switches);
    control()->InitConfig();
    const auto config = control()->config();
    EXPECT_EQ(config->pid, c.want_pid);
    EXPECT_EQ(config->channel, c.want_channel);
    EXPECT_EQ(config->from, c.want_from);
  }
}

TEST_F(GameConfigFamilyTest, DerivedPathsAndLastRunTime) {
  utils::WriteRegText(HKEY_CURRENT_USER, game_key(), L"LastRunTime", L"2024-01-02 03:04:05");
  control()->SetCommandLine(L"");
  control()->InitConfig();
  const GameConfig& c = *control()->config();
  const std::wstring dir = data_dir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(c.data_dir, dir);
  EXPECT_EQ(c.install_dir, dir + L"\\kzr");
  EXPECT_EQ(c.utils_dir, dir + L"\\Utils");
  EXPECT_EQ(c.info_path, dir + L"\\kzr\\kzr.json");
  EXPECT_EQ(c.exe_path, dir + L"\\kzr\\kzr.exe");
  EXPECT_EQ(c.ico_path, dir + L"\\kzr\\kzr.ico");
  EXPECT_EQ(c.ui_path, dir + L"\\kzr\\kzr.ui");
  EXPECT_EQ(c.cef_cache_dir, dir + L"\\cef_cache");
  EXPECT_EQ(c.product_key, AppNames::GetInstance()->product_key());
  EXPECT_EQ(c.game_key, game_key());
  EXPECT_EQ(c.game_name, L"Velmora");
  EXPECT_EQ(c.desk_link_name, L"Velmora");
  EXPECT_EQ(c.uninstall_name, L"\u5378\u8f7dVelmora");
  EXPECT_EQ(c.tray_icon_tip, L"Velmora");
  EXPECT_EQ(control()->last_run_time(), L"2024-01-02 03:04:05");

  ::RegDeleteTreeW(HKEY_CURRENT_USER, game_key().c_str());
  control()->InitConfig();
  EXPECT_EQ(control()->last_run_time(), L"");
}

TEST(GameConfigFileTest, SaveThenReadGivesTheSameFields) {
  const std::wstring dir = MakeTempDir(L"cfgfile");
  GameConfig written = BaseRecord();
  written.info_path = dir + L"\\kzr.json";
  // Read from the packaged resource: every key, Chinese text included.
  std::string packaged;
  ASSERT_TRUE(utils::LoadResourceData(::GetModuleHandleW(nullptr), 202, L"FILERES", &packaged));
  ASSERT_TRUE(written.FromJson(Parse(packaged)));
  ASSERT_NE(written.json_text.size() % 8, 0u) << "choose a document that needs zero fill";
  ASSERT_TRUE(written.SaveToFile());

  // Never the plain document: the whole file is Base64 text.
  const std::string file = ReadFileBytes(written.info_path);
  EXPECT_EQ(file.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  std::string plain;
  ASSERT_TRUE(utils::DecryptText(file, &plain, false));
  const size_t fill = (8 - written.json_text.size() % 8) % 8;
  EXPECT_EQ(plain, written.json_text + std::string(fill, '\0'));

  GameConfig read = BaseRecord();
  read.info_path = written.info_path;
  ASSERT_TRUE(read.FromJsonFile(written.info_path));
  EXPECT_EQ(DocumentFields(read), DocumentFields(written));
  EXPECT_EQ(read.tray_icon_tip, L"Velmora \u7ef4\u5c14\u83ab\u62c9");

  // Readable while someone else reads it too.
  base::ScopedKernelHandle reader(::CreateFileW(written.info_path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader);
  EXPECT_TRUE(read.FromJsonFile(written.info_path));
}

TEST(GameConfigFileTest, SaveToFileFailures) {
  const std::wstring dir = MakeTempDir(L"cfgsave");
  GameConfig config = BaseRecord();
  config.info_path = dir + L"\\kzr.json";
  config.json_text.clear();
  EXPECT_FALSE(config.SaveToFile());
  config.json_text = "{}\n";
  config.info_path = dir + L"\\missing\\kzr.json";
  EXPECT_FALSE(config.SaveToFile());
}

class GameConfigFileFamilyTest : public ScratchFamilyTest {};

TEST_F(GameConfigFileFamilyTest, UnreadableFilesFail) {
  const std::wstring dir = MakeTempDir(L"cfgbad");
  auto encrypted = [](const std::string& plain) {
    std::string text;
    utils::EncryptText(plain, &text, false);
    return text;
  };
  const struct {
    const char* name;
    std::string content;  // written to the file unless the path is special
    bool logged;
  } kCases[] = {
      {"plain JSON", R"({"info_version": "1", "login_url": "http://l/"})", false},
      {"Base64 length not a multiple of 4", "QUJD", false},
      {"Base64 length not a multiple of 4", "QUJDRA=", false},
      {"empty file", "", false},
      {"not JSON inside", encrypted("not json at all"), false},
      {"deeply nested JSON", encrypted(std::string(20000, '[')), false},
      {"a document without login_url", encrypted(R"({"info_version": "1"})"), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = dir + L"\\kzr.json";
    ASSERT_TRUE(WriteFileBytes(path, c.content));
    GameConfig config = BaseRecord();
    EXPECT_FALSE(config.FromJsonFile(path));
    EXPECT_EQ(NewLog().find("GameConfig::FromJsonFile"), std::string::npos);
  }
  for (const std::wstring& path : {dir + L"\\missing.json", dir}) {
    SCOPED_TRACE(base::WideToUtf8(path));
    GameConfig config = BaseRecord();
    EXPECT_FALSE(config.FromJsonFile(path));
    EXPECT_NE(NewLog().find("GameConfig::FromJsonFile read fail, path" + base::WideToAnsi(path)),
              std::string::npos);
  }
}

TEST_F(GameConfigFileFamilyTest, PackagedConfiguration) {
  control()->SetCommandLine(L"");
  control()->InitConfig();
  GameConfig& config = *control()->config();
  EXPECT_TRUE(InstallHelper::GetGameConfigFromLocal(config));
  EXPECT_EQ(config.login_url, L"http://127.0.0.1:28710/login.html");
  EXPECT_EQ(config.run_after_silence_inst, L"yes");
  EXPECT_TRUE(config.IsUserNewKernel());
  EXPECT_NE(config.json_text.find("\"sign\" : "), std::string::npos);
  const std::string log = NewLog();
  EXPECT_NE(log.find("[I]"), std::string::npos);
  EXPECT_NE(log.find("InstallHelper::GetGameConfigFromLocal"), std::string::npos);
  EXPECT_EQ(log.find("[E]"), std::string::npos) << log;
}

TEST_F(GameConfigFileFamilyTest, PackagedConfigurationFailuresAreLogged) {
  static const struct {
    const char* module;
    bool read_failed;
    bool parse_failed;
  } kCases[] = {
      {"old_version", true, true},  // no configuration resource at all
      {"bad_config", false, true},
      {"no_login", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.module);
    base::ScopedModule module(::LoadLibraryExW(test_fixtures::FixtureModule(c.module).c_str(),
                                               nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    GameConfig config = BaseRecord();
    EXPECT_TRUE(InstallHelper::GetGameConfigFromModule(module.Get(), config));
    const std::string log = NewLog();
    const auto has = [&](const char* text) { return log.find(text) != std::string::npos; };
    EXPECT_EQ(has("[E]") && has("InstallHelper::GetGameConfigFromLocal read resource failed."),
              c.read_failed);
    EXPECT_EQ(has("InstallHelper::GetGameConfigFromLocal parse json failed."), c.parse_failed);
    EXPECT_TRUE(has("InstallHelper::GetGameConfigFromLocal parse parse config.")) << log;
  }
}

}  // namespace
