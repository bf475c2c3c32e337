#include "web/webview_library.h"

#include <gtest/gtest.h>

#include <string>

#include "base/string_util.h"
#include "tests/support/test_support.h"

namespace {

using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::WriteFileBytes;

// The build tree is the Z: drive inside Wine.
std::wstring SignedWebView() {
  std::wstring path = L"Z:" + base::Utf8ToWide(NQ_WEBVIEW_DLL);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

bool MakeDir(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

TEST(WebViewLibraryTest, SearchOrder) {
  static const struct {
    const char* name;
    std::vector<const wchar_t*> present;  // relative to <root>; the exe folder is <root>\game
    const wchar_t* found;                 // relative to <root>, or null
  } kCases[] = {
      {"beside the executable first", {L"game\\WebView.dll", L"game\\Utils\\WebView.dll", L"Utils\\WebView.dll"},
       L"game\\WebView.dll"},
      {"then Utils below it", {L"game\\Utils\\WebView.dll", L"game\\ZovWebView.dll"}, L"game\\Utils\\WebView.dll"},
      {"then ZovWebView.dll", {L"game\\ZovWebView.dll", L"Utils\\WebView.dll"}, L"game\\ZovWebView.dll"},
      {"then Utils beside the executable's folder", {L"Utils\\WebView.dll"}, L"Utils\\WebView.dll"},
      {"nothing", {}, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring root = MakeTempDir(L"wvsearch");
    ASSERT_TRUE(MakeDir(root + L"\\game"));
    MakeDir(root + L"\\game\\Utils");
    MakeDir(root + L"\\Utils");
    for (const wchar_t* file : c.present) ASSERT_TRUE(WriteFileBytes(root + L"\\" + file, "x"));
    EXPECT_EQ(ZovWebView::FindWebViewLibrary(root + L"\\game"), c.found ? root + L"\\" + c.found : L"");
  }
  EXPECT_EQ(ZovWebView::FindWebViewLibrary(L""), L"");
}

// A signed library is loaded, its three exports resolved, and the factory
// gives views; the stand-in's blank view answers the interface honestly.
TEST(WebViewLibraryTest, LoadsASignedLibraryAndResolvesItsExports) {
  const std::wstring dir = MakeTempDir(L"wvload");
  ASSERT_TRUE(WriteFileBytes(dir + L"\\WebView.dll", ReadFileBytes(SignedWebView())));
  ZovWebView::WebViewLibrary library;
  ASSERT_TRUE(library.Load(dir));
  EXPECT_TRUE(library.loaded());
  EXPECT_EQ(library.path(), dir + L"\\WebView.dll");
  EXPECT_TRUE(library.Load(dir));  // once only

  ZovWebView::IWebViewFactory* factory = library.GetFactory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(library.GetFactory(), factory);
  EXPECT_EQ(library.ToWebViewEx(nullptr), nullptr);

  HWND parent = ::CreateWindowW(L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  ZovWebView::IWebView* view =
      factory->CreateView(ZovWebView::kEngineChromium, parent, RECT{0, 0, 200, 100}, L"about:blank", L"");
  ASSERT_NE(view, nullptr);
  ZovWebView::IWebViewEx* view_ex = library.ToWebViewEx(view);
  ASSERT_NE(view_ex, nullptr);
  LONG root = 0;
  int size = sizeof(root);
  EXPECT_EQ(view_ex->GetAttribute(L"root_window", &root, &size), 4);
  EXPECT_TRUE(::IsWindow(reinterpret_cast<HWND>(static_cast<LONG_PTR>(root))));
  EXPECT_EQ(::GetParent(reinterpret_cast<HWND>(static_cast<LONG_PTR>(root))), parent);
  EXPECT_LT(view_ex->GetAttribute(L"unknown", &root, &size), 0);
  EXPECT_FALSE(view_ex->Navigate(L"http://127.0.0.1/", L""));  // no page engine behind it
  view_ex->Detach(0);
  view_ex->Release();

  ZovWebView::IMultiTabWebView* host = library.CreateMultiTabWebView();
  ASSERT_NE(host, nullptr);
  EXPECT_NE(host->Init(), 0);
  ZovWebView::IWebViewEx* tab = host->CreateView(parent, RECT{0, 0, 100, 100}, L"about:blank", L"");
  ASSERT_NE(tab, nullptr);
  tab->Release();
  host->Release();
  ::DestroyWindow(parent);
}

TEST(WebViewLibraryTest, RefusesALibraryThatFailsThePublisherCheck) {
  std::string tampered = ReadFileBytes(SignedWebView());
  ASSERT_GT(tampered.size(), 0x500u);
  tampered[0x480] = static_cast<char>(tampered[0x480] ^ 0x01);
  const std::wstring dir = MakeTempDir(L"wvbad");
  ASSERT_TRUE(MakeDir(dir + L"\\Utils"));
  ASSERT_TRUE(WriteFileBytes(dir + L"\\Utils\\WebView.dll", tampered));
  ZovWebView::WebViewLibrary library;
  EXPECT_FALSE(library.Load(dir));
  EXPECT_FALSE(library.loaded());
  EXPECT_EQ(library.GetFactory(), nullptr);
  EXPECT_EQ(library.CreateMultiTabWebView(), nullptr);
  // The first library found decides: a good one further down is not tried.
  EXPECT_EQ(library.path(), dir + L"\\Utils\\WebView.dll");
}

}  // namespace
