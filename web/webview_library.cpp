#include "web/webview_library.h"

#include <shlwapi.h>

#include "base/logging.h"
#include "telemetry/product_info.h"

namespace ZovWebView {
namespace {

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ParentDir(const std::wstring& dir) {
  std::wstring trimmed = dir;
  while (!trimmed.empty() && (trimmed.back() == L'\\' || trimmed.back() == L'/')) trimmed.pop_back();
  const size_t slash = trimmed.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : trimmed.substr(0, slash);
}

std::wstring Join(const std::wstring& dir, const wchar_t* name) {
  if (dir.empty()) return std::wstring();
  std::wstring path = dir;
  if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return path + name;
}

std::wstring ExecutableDir() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  ::PathRemoveFileSpecW(path);
  return path;
}

}  // namespace

std::wstring FindWebViewLibrary(const std::wstring& exe_dir) {
  if (exe_dir.empty()) return std::wstring();
  const std::wstring candidates[] = {
      Join(exe_dir, L"WebView.dll"),
      Join(exe_dir, L"Utils\\WebView.dll"),
      Join(exe_dir, L"ZovWebView.dll"),
      Join(ParentDir(exe_dir), L"Utils\\WebView.dll"),
  };
  for (const std::wstring& candidate : candidates) {
    if (!candidate.empty() && IsFile(candidate)) return candidate;
  }
  return std::wstring();
}

WebViewLibrary* WebViewLibrary::GetInstance() {
  static WebViewLibrary* instance = [] {
    auto* library = new WebViewLibrary();
    library->Load(ExecutableDir());
    return library;
  }();
  return instance;
}

bool WebViewLibrary::Load(const std::wstring& exe_dir) {
  _BaseModule::CAutoLocker guard(lock_);
  if (attempted_) return module_.IsValid();
  attempted_ = true;
  path_ = FindWebViewLibrary(exe_dir);
  if (path_.empty()) {
    LOG(Error) << L"WebViewLibrary::Load, not find WebView.dll in " << exe_dir;
    return false;
  }
  if (!VerifyPublisher(path_)) {
    LOG(Error) << L"WebViewLibrary::Load, publisher check failed " << path_;
    return false;
  }
  // The engine's own dependencies sit beside it, not beside the executable.
  HMODULE module = ::LoadLibraryExW(path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    LOG(Error) << L"WebViewLibrary::Load, LoadLibrary failed " << path_ << L" error " << ::GetLastError();
    return false;
  }
  module_.Reset(module);
  get_factory_ = reinterpret_cast<GetWebViewFactoryFunc>(::GetProcAddress(module, kGetWebViewFactoryName));
  to_ex_ = reinterpret_cast<IWebViewToIWebViewExFunc>(::GetProcAddress(module, kIWebViewToIWebViewExName));
  create_multi_tab_ =
      reinterpret_cast<CreateMultiTabWebViewFunc>(::GetProcAddress(module, kCreateMultiTabWebViewName));
  return true;
}

IWebViewFactory* WebViewLibrary::GetFactory() {
  _BaseModule::CAutoLocker guard(lock_);
  if (!factory_asked_ && get_factory_) {
    factory_asked_ = true;
    factory_ = get_factory_();
  }
  return factory_;
}

IWebViewEx* WebViewLibrary::ToWebViewEx(IWebView* view) {
  if (!view) return nullptr;
  IWebViewToIWebViewExFunc to_ex;
  {
    _BaseModule::CAutoLocker guard(lock_);
    to_ex = to_ex_;
  }
  return to_ex ? to_ex(view) : nullptr;
}

IMultiTabWebView* WebViewLibrary::CreateMultiTabWebView() {
  CreateMultiTabWebViewFunc create;
  {
    _BaseModule::CAutoLocker guard(lock_);
    create = create_multi_tab_;
  }
  return create ? create() : nullptr;
}

}  // namespace ZovWebView
