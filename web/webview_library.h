// Finding, checking and loading the engine library "WebView.dll". The library
// is loaded only when its publisher signature checks out, and it is never
// unloaded: engine views and the factory live until the process ends.
#pragma once

#include <windows.h>

#include <string>

#include "base/lock.h"
#include "base/scoped_handle.h"
#include "web/webview_interface.h"

namespace ZovWebView {

// The first existing file of: <dir>\WebView.dll, <dir>\Utils\WebView.dll,
// <dir>\ZovWebView.dll, <parent of dir>\Utils\WebView.dll. Empty when none.
std::wstring FindWebViewLibrary(const std::wstring& exe_dir);

class WebViewLibrary {
 public:
  // The process's library, found beside the running executable on first use.
  // Safe from any thread.
  static WebViewLibrary* GetInstance();

  WebViewLibrary() = default;
  WebViewLibrary(const WebViewLibrary&) = delete;
  WebViewLibrary& operator=(const WebViewLibrary&) = delete;

  // Finds the library for |exe_dir|, checks its signature and loads it. Only
  // the first call does anything; it returns whether the library is usable.
  bool Load(const std::wstring& exe_dir);
  bool loaded() const { return module_.IsValid(); }
  const std::wstring& path() const { return path_; }

  // The engine's factory, asked for once; null without a library.
  IWebViewFactory* GetFactory();
  // Null without the library or its conversion export, or for a null view.
  IWebViewEx* ToWebViewEx(IWebView* view);
  // A new multi-tab host, or null.
  IMultiTabWebView* CreateMultiTabWebView();

 private:
  _BaseModule::CCriticalSection lock_;
  bool attempted_ = false;
  std::wstring path_;
  // The process instance is never destroyed, so its library stays loaded.
  base::ScopedModule module_;
  GetWebViewFactoryFunc get_factory_ = nullptr;
  IWebViewToIWebViewExFunc to_ex_ = nullptr;
  CreateMultiTabWebViewFunc create_multi_tab_ = nullptr;
  bool factory_asked_ = false;
  IWebViewFactory* factory_ = nullptr;
};

}  // namespace ZovWebView
