#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "app/app_names.h"
#include "app/main_control.h"
#include "base/exit_scope.h"
#include "base/string_util.h"

namespace {

// Many threads released at once; every one must see the same instance.
template <class Get>
std::set<void*> RaceFor(Get get) {
  constexpr int kThreads = 16;
  std::atomic<bool> go{false};
  std::vector<void*> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      seen[i] = get();
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  return std::set<void*>(seen.begin(), seen.end());
}

TEST(SingletonsTest, OneAppNamesAndOneMainControlUnderARace) {
  base::ExitScope scope;  // MainControl registers its deletion here
  auto names = RaceFor([] { return static_cast<void*>(AppNames::GetInstance()); });
  EXPECT_EQ(names.size(), 1u);
  auto controls = RaceFor([] { return static_cast<void*>(MainControl::GetInstance()); });
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_NE(*controls.begin(), nullptr);
  EXPECT_EQ(MainControl::GetInstance(), *controls.begin());
}

TEST(SingletonsTest, AppNamesFromFamilyName) {
  AppNames* names = AppNames::GetInstance();
  names->Init(L"", L"ignored");  // an empty family changes nothing
  names->Init(L"Brevplay", L"kzr");
  EXPECT_EQ(names->product_name(), L"Nevaquar");
  EXPECT_EQ(names->family_name(), L"Brevplay");
  EXPECT_EQ(names->product_key(), L"SOFTWARE\\Brevplay");
  EXPECT_EQ(names->web_window_class(), L"Brevplay:WebWnd");
  EXPECT_EQ(names->message_box_class(), L"Brevplay_MESSAGEBOX");
  EXPECT_EQ(names->tray_message_name(), L"s_TrayMessage");
  wchar_t appdata[MAX_PATH] = {};
  ASSERT_TRUE(::GetEnvironmentVariableW(L"APPDATA", appdata, MAX_PATH));
  EXPECT_EQ(names->data_dir(), std::wstring(appdata) + L"\\Brevplay");
  EXPECT_EQ(names->log_path(), std::wstring(appdata) + L"\\Brevplay\\Brevplay.log");
}

TEST(SingletonsTest, ParseCommandLineAttributionRules) {
  struct {
    const wchar_t* text;
    const wchar_t* pid;
    const wchar_t* channel;
    const wchar_t* from;
  } const kCases[] = {
      // No pid switch: the resource pid stays and channel/from are untouched here.
      {L"", L"Ferrant", L"", L""},
      {L"/pid=p1", L"p1", L"p1", L"p1_kzr"},
      {L"/pid=p1 /subpid=s2", L"p1", L"p1_s2", L"p1_s2_kzr"},
      {L"/pid=p1 /subpid=s2 /from=f3", L"p1", L"p1_s2", L"f3"},
      // subpid counts only together with a pid.
      {L"/subpid=s2", L"Ferrant", L"", L""},
      {L"/from=desk_icon", L"Ferrant", L"", L"desk_icon"},
      {L"/pid= /from=", L"Ferrant", L"", L""},
  };
  // Registry attribution would override the resource pid; start without it.
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Brevplay\\kzr");
  MainControl* control = MainControl::GetInstance();
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.text));
    control->SetCommandLine(c.text);
    control->InitConfig();
    const auto config = control->config();
    EXPECT_EQ(config->game_id, L"kzr");
    EXPECT_EQ(config->pid, c.pid);
    // Channel and from may be completed from pid later; only the switch rules
    // are checked when the switches set them.
    if (*c.channel) {
      EXPECT_EQ(config->channel, c.channel);
    }
    if (*c.from) {
      EXPECT_EQ(config->from, c.from);
    }
  }

  control->SetCommandLine(L"/target_dir=\"C:\\a b\" /install_launch /disable_tray");
  control->InitConfig();
  EXPECT_EQ(control->target_dir(), L"C:\\a b");
  EXPECT_EQ(control->launched_by_installer(), 1);
  EXPECT_EQ(control->config()->install_tray, 0);
  EXPECT_EQ(control->command_line_text(), L"/target_dir=\"C:\\a b\" /install_launch /disable_tray");
}

}  // namespace
