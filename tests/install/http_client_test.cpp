// net:: over our NetBridge.dll stand-in and a loopback HTTP server.
#include <winsock2.h>  // before windows.h, for the test server
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>

#include "base/http_client.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/utils/fixture_path.h"

namespace {

using test_support::FileExists;
using test_support::HttpTestServer;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;

std::wstring NetBridgeDll() { return test_fixtures::WindowsPath(NQ_NETBRIDGE_DLL); }

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class HttpClientTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(net::InitNet(NetBridgeDll())); }

  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  std::wstring Url(const char* path) const { return server_.BaseUrl() + base::Utf8ToWide(path); }

  HttpTestServer server_;
};

TEST_F(HttpClientTest, DownloadArrivesByteExact) {
  // Sizes around the library's 64 KiB reads, and one of several megabytes.
  static const size_t kSizes[] = {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 17};
  std::wstring dir = MakeTempDir(L"http_exact");
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    std::string body = RandomBytes(size, static_cast<unsigned>(size));
    server_.Serve("/wan/wan/7z.dll", {200, body});
    std::wstring path = dir + L"\\7z.dll";
    ASSERT_TRUE(net::HttpDownloadFile(Url("/wan/wan/7z.dll"), path, 60000));
    EXPECT_EQ(body, ReadFileBytes(path));
    EXPECT_FALSE(FileExists(path + L".part"));
  }
  EXPECT_EQ("/wan/wan/7z.dll", server_.Requests().back());
}

TEST_F(HttpClientTest, FailedTransferLeavesNoFile) {
  server_.Serve("/other", {200, "x"});
  std::wstring path = MakeTempDir(L"http_404") + L"\\7z.dll";
  EXPECT_FALSE(net::HttpDownloadFile(Url("/missing"), path, 60000));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(FileExists(path + L".part"));
}

TEST_F(HttpClientTest, SilentServerMeansFalseAtTheTimeOut) {
  server_.SetSilent(true);
  std::wstring path = MakeTempDir(L"http_silent") + L"\\7z.dll";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(net::HttpDownloadFile(Url("/wan/wan/7z.dll"), path, 1500));
  double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.4) << "returned before the time-out";
  EXPECT_LT(seconds, 30.0);
  EXPECT_TRUE(server_.WaitForRequests(1, 5000)) << "the request did reach the server";
  EXPECT_FALSE(FileExists(path));
}

TEST_F(HttpClientTest, SignalledExtraHandleEndsTheWaitAtOnce) {
  server_.SetSilent(true);
  HANDLE stop = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  std::wstring path = MakeTempDir(L"http_stop") + L"\\7z.dll";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(net::HttpDownloadFile(Url("/wan/wan/7z.dll"), path, 120000, stop));
  EXPECT_LT(SecondsSince(start), 30.0);
  ::CloseHandle(stop);
}

TEST_F(HttpClientTest, EventsOfAnotherTaskChangeNothing) {
  server_.SetSilent(true);  // the real task never reports
  std::atomic<int> successes{0}, failures{0}, finishes{0}, progress{0};
  net::CHttpDownloadFile download;
  ASSERT_NE(0, download.Start(
                   Url("/x"), MakeTempDir(L"http_other") + L"\\x.bin",
                   [&](uint32_t, uint32_t, uint32_t, uint32_t) { ++progress; },
                   [&](net::Response*) { ++successes; }, [&](net::Response*) { ++failures; },
                   [&] { ++finishes; }));
  ASSERT_NE(nullptr, download.task());

  net::HttpTaskEvent event = {};
  event.size = sizeof(event);
  event.result_code = 7;
  event.text = L"done";
  auto* other = reinterpret_cast<net::IHttpTask*>(&event);  // any other task
  for (int32_t kind : {net::kHttpEventProgress, net::kHttpEventSuccess, net::kHttpEventFailure}) {
    event.kind = kind;
    download.OnTaskEvent(other, &event);
  }
  event.kind = 4;  // unknown kinds are ignored even for the own task
  download.OnTaskEvent(download.task(), &event);
  EXPECT_EQ(0, successes + failures + finishes + progress);
  EXPECT_EQ(0, download.result_code());
  EXPECT_EQ(L"", download.message());

  // The same event for the owned task goes through.
  event.kind = net::kHttpEventSuccess;
  download.OnTaskEvent(download.task(), &event);
  EXPECT_EQ(1, successes);
  EXPECT_EQ(1, finishes);
  EXPECT_EQ(1, progress) << "a download reports its progress once more on success";
  EXPECT_EQ(7, download.result_code());
  EXPECT_EQ(L"done", download.message());
}

TEST_CHILD(init_net_unsigned) {
  // The test executable carries no signature: refused before loading.
  if (net::InitNet(test_support::SelfPath())) return 1;
  if (!net::HttpDownloadFile(L"http://127.0.0.1:1/x", args.at(0) + L"\\x", 1000)) {
    return ::GetModuleHandleW(L"NetBridge.dll") == nullptr ? 0 : 2;
  }
  return 3;
}

TEST(HttpClientBindingTest, UnsignedLibraryIsNotLoaded) {
  EXPECT_EQ(0, test_support::RunChild("init_net_unsigned", MakeTempDir(L"http_unsigned")));
}

TEST_CHILD(init_net_cycle) {
  if (!net::InitNet(args.at(0)) || !net::InitNet(args.at(0))) return 1;
  if (!::GetModuleHandleW(L"NetBridge.dll")) return 2;
  net::UninitNet();
  if (::GetModuleHandleW(L"NetBridge.dll")) return 3;
  // Nothing of the unloaded library is used: a download just fails.
  if (net::HttpDownloadFile(L"http://127.0.0.1:1/x", args.at(1) + L"\\x", 1000)) return 4;
  return net::InitNet(args.at(0)) ? 0 : 5;
}

TEST(HttpClientBindingTest, InitUninitInit) {
  EXPECT_EQ(0, test_support::RunChild(
                   "init_net_cycle",
                   L"\"" + NetBridgeDll() + L"\" \"" + MakeTempDir(L"http_cycle") + L"\""));
}

}  // namespace
