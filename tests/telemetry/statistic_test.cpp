// winsock2.h must come before windows.h.
#include "tests/support/http_test_server.h"

#include "telemetry/statistic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/string_util.h"
#include "telemetry/product_info.h"
#include "utils/utils.h"

namespace {

using namespace std::chrono_literals;
using telemetry::TemplateValues;

TEST(StatisticRulesTest, TemplateExpansion) {
  TemplateValues values;
  values.type = L"Quarvel";
  values.action = L"close_game";
  values.appver = L"1.0.0.1";
  values.modver = L"2.0.0.2";
  values.mid = L"M1";
  values.mid2 = L"M2";
  values.pid = L"abc";
  values.app = L"Nevaquar";
  static const struct {
    const char* name;
    const wchar_t* url_template;
    const wchar_t* url;
  } kCases[] = {
      {"the statistics address", L"http://h/wan?type={type}&action={action}&channel={pid}&mid={mid}&mid2={mid2}",
       L"http://h/wan?type=Quarvel&action=close_game&channel=abc&mid=M1&mid2=M2"},
      {"every placeholder, repeated", L"?{app}{appver}{modver}{type}{app}",
       L"?Nevaquar1.0.0.12.0.0.2QuarvelNevaquar"},
      {"a placeholder at the very start stays, everywhere", L"{type}x{type}&{action}",
       L"{type}x{type}&close_game"},
      {"{mid} does not eat {mid2}", L"/{mid2}/{mid}", L"/M2/M1"},
      {"no placeholders", L"http://h/plain", L"http://h/plain"},
      {"empty", L"", L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(telemetry::ExpandTemplate(c.url_template, values), c.url);
  }
  values.pid = L"a b&c=d";
  values.type = L"t%20";
  EXPECT_EQ(telemetry::ExpandTemplate(L"/wan?type={type}&channel={pid}", values), L"/wan?type=t%20&channel=a b&c=d");
}

TEST(StatisticRulesTest, Sampling) {
  static const struct {
    int percent, threshold;
    bool sent;
    const wchar_t* action;
  } kCases[] = {
      {100, 1, true, L"install"},
      {100, 100, true, L"install"},
      {60, 57, true, L"60per_install"},
      {57, 57, true, L"57per_install"},
      {50, 57, false, L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.percent << "/" << c.threshold);
    std::wstring sent;
    EXPECT_EQ(telemetry::SampleAction(c.percent, c.threshold, L"install", &sent), c.sent);
    EXPECT_EQ(sent, c.action);
  }
}

class FakeTransport : public telemetry::ReportTransport {
 public:
  bool IsConnected() override {
    calls.push_back("connected");
    return connected;
  }
  std::vector<std::string> GatewayAddresses() override {
    calls.push_back("gateways");
    return gateways;
  }
  void Fetch(const std::wstring& url) override { calls.push_back("fetch " + base::WideToUtf8(url)); }

  bool connected = false;
  std::vector<std::string> gateways;
  std::vector<std::string> calls;
};

TEST(StatisticRulesTest, WorkerChecksConnectivityBeforeTheRequest) {
  static const struct {
    const char* name;
    bool connected;
    std::vector<std::string> gateways;
    std::vector<std::string> calls;
  } kCases[] = {
      {"connected", true, {}, {"connected", "fetch http://h/wan"}},
      {"offline, an adapter with a gateway", false, {"0.0.0.0", "192.168.1.1"},
       {"connected", "gateways", "fetch http://h/wan"}},
      {"offline, no gateway", false, {"0.0.0.0", ""}, {"connected", "gateways"}},
      {"offline, no adapter", false, {}, {"connected", "gateways"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeTransport transport;
    transport.connected = c.connected;
    transport.gateways = c.gateways;
    telemetry::SendReport(L"http://h/wan", transport);
    EXPECT_EQ(transport.calls, c.calls);
  }
}

std::wstring SettingsFile() {
  const std::wstring path = GetSettingsFile(0);
  EXPECT_FALSE(path.empty());
  return path;
}

TEST(StatisticTest, SampleThresholdIsPersistedInTheSettingsFile) {
  CZovStatisticImpl* reporter = CZovStatisticImpl::GetInstance();
  const std::wstring settings = SettingsFile();
  static const struct {
    const char* name;
    const wchar_t* stored;  // null: absent
    int expected;           // 0: a new draw in 1..100
  } kCases[] = {
      {"absent: drawn and written", nullptr, 0},
      {"kept from an earlier start", L"42", 42},
      {"out of range: drawn again", L"150", 0},
      {"zero: drawn again", L"0", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ::WritePrivateProfileStringW(L"statistic", L"stat_rand", c.stored, settings.c_str());
    ASSERT_TRUE(reporter->Init(0, L"Quarvel", L""));
    const int threshold = reporter->sample_threshold();
    if (c.expected) {
      EXPECT_EQ(threshold, c.expected);
    } else {
      EXPECT_GE(threshold, 1);
      EXPECT_LE(threshold, 100);
    }
    EXPECT_EQ(static_cast<int>(::GetPrivateProfileIntW(L"statistic", L"stat_rand", -1, settings.c_str())), threshold);
    reporter->Shutdown();
  }
}

TEST(StatisticTest, InitContract) {
  CZovStatisticImpl* reporter = CZovStatisticImpl::GetInstance();
  EXPECT_EQ(reporter, CZovStatisticImpl::GetInstance());
  EXPECT_FALSE(reporter->Init(-1, L"Quarvel", L""));
  EXPECT_FALSE(reporter->initialized());
  ASSERT_TRUE(reporter->Init(0, L"Quarvel", L""));
  EXPECT_TRUE(reporter->Init(0, L"Other", L"ignored"));  // a second call changes nothing
  EXPECT_EQ(reporter->mid(), utils::GetMidText());
  EXPECT_EQ(reporter->mid2().size(), 44u);
  reporter->Shutdown();
  EXPECT_FALSE(reporter->initialized());
}

// A real HTTP server on the statistics port receives what the reporter sends.
TEST(StatisticTest, ReportsReachTheStatisticsServer) {
  test_support::HttpTestServer server;
  ASSERT_TRUE(server.Start(28711)) << "the statistics port is taken";
  server.Serve("/wan", {200, "", "text/plain"});
  CZovStatisticImpl* reporter = CZovStatisticImpl::GetInstance();

  // Before Init: nothing is sent.
  telemetry::ReportEvent(L"close_game");

  ASSERT_TRUE(reporter->Init(0, L"Quarvel", L""));
  reporter->SetChannel(L"abc");
  const std::string mid = base::WideToUtf8(reporter->mid());
  const std::string mid2 = base::WideToUtf8(reporter->mid2());
  ASSERT_EQ(mid.size(), 32u);
  ASSERT_EQ(mid2.size(), 44u);

  telemetry::ReportEvent(L"close_game");
  ASSERT_TRUE(server.WaitForRequests(1, 15000));
  EXPECT_EQ(server.Requests()[0], "/wan?type=Quarvel&action=close_game&channel=abc&mid=" + mid + "&mid2=" + mid2);

  // Values go in unencoded: the "&" of a channel splits the query.
  reporter->SetChannel(L"a&b=c");
  telemetry::ReportEvent(L"main_show");
  ASSERT_TRUE(server.WaitForRequests(2, 15000));
  EXPECT_EQ(server.Requests()[1], "/wan?type=Quarvel&action=main_show&channel=a&b=c&mid=" + mid + "&mid2=" + mid2);

  // A report made just before Shutdown has arrived when Shutdown returns.
  reporter->SetChannel(L"abc");
  telemetry::ReportEvent(L"inst_open");
  reporter->Shutdown();
  ASSERT_EQ(server.Requests().size(), 3u);
  EXPECT_NE(server.Requests()[2].find("action=inst_open&"), std::string::npos);

  // After Shutdown: nothing new.
  telemetry::ReportEvent(L"close_game");
  reporter->Report(L"close_game", L"Other", L"http://127.0.0.1:28711/wan?x={action}");
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(server.Requests().size(), 3u);
}

// A server that never answers cannot hold the process at its end: Shutdown
// waits a bounded time for the report under way.
TEST(StatisticTest, ShutdownWaitIsBounded) {
  test_support::HttpTestServer server;
  ASSERT_TRUE(server.Start(28711));
  server.SetSilent(true);
  CZovStatisticImpl* reporter = CZovStatisticImpl::GetInstance();
  ASSERT_TRUE(reporter->Init(0, L"Quarvel", L""));
  telemetry::ReportEvent(L"close_game");
  ASSERT_TRUE(server.WaitForRequests(1, 15000));
  const auto start = std::chrono::steady_clock::now();
  reporter->Shutdown();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, 10s);  // liveness only: the bound is a few seconds
  server.Stop();
}

}  // namespace
