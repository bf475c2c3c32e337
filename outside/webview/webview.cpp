// Stand-in engine: every view is a blank child window. It honours the view's
// window operations and listener contract (OnViewCreated arrives on the
// creating thread after SetListener) and fails every page operation, because
// there is no page engine behind it.
#include <windows.h>

#include <string>

#include "web/webview_interface.h"

namespace {

using namespace ZovWebView;

constexpr wchar_t kWindowClass[] = L"NqBlankWebView";
// Posted to the view's own window so that OnViewCreated runs from the message
// loop, never inside the caller's SetListener.
constexpr UINT kMsgAnnounce = WM_APP + 1;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

class BlankView final : public IWebViewEx {
 public:
  static BlankView* Create(int kind, HWND parent, const RECT& rect) {
    static const bool registered = [] {
      WNDCLASSEXW wc = {sizeof(wc)};
      wc.lpfnWndProc = &BlankView::WndProc;
      wc.hInstance = ThisModule();
      wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
      wc.lpszClassName = kWindowClass;
      return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered || !::IsWindow(parent)) return nullptr;
    auto* view = new BlankView(kind);
    view->window_ = ::CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPCHILDREN, rect.left, rect.top,
                                      rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                      ThisModule(), view);
    if (!view->window_) {
      delete view;
      return nullptr;
    }
    return view;
  }

  int GetEngineKind() override { return kind_; }
  void SetListener(IWebViewListener* listener) override {
    listener_ = listener;
    if (listener_ && !announced_) {
      announced_ = true;
      ::PostMessageW(window_, kMsgAnnounce, 0, 0);
    }
  }
  void Detach(int) override {
    listener_ = nullptr;
    advance_listener_ = nullptr;
  }
  bool SetCookie(const wchar_t*, const wchar_t*) override { return false; }
  bool Navigate(const wchar_t*, const wchar_t*) override { return false; }
  void Show(bool show) override { ::ShowWindow(window_, show ? SW_SHOW : SW_HIDE); }
  void Move(const RECT* rect) override {
    if (rect) {
      ::MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    }
  }
  // The holder's Release is the only place the view is deleted; its window
  // may already be gone with the parent.
  void Release() override {
    listener_ = nullptr;
    if (window_) ::DestroyWindow(window_);
    delete this;
  }
  void SetFlag(bool flag) override { flag_ = flag; }
  void Reload() override {}

  void SetAdvanceListener(IWebViewAdvanceListener* listener) override { advance_listener_ = listener; }
  int GetAttribute(const wchar_t* name, void* buffer, int* size) override {
    if (!name || !buffer || !size) return -1;
    if (std::wstring(name) == L"root_window" && *size >= 4) {
      // Window handles fit in 32 bits on every Windows, also in 64-bit processes.
      const LONG handle = HandleToLong(window_);
      ::CopyMemory(buffer, &handle, 4);
      *size = 4;
      return 4;
    }
    return -1;
  }
  int SetAttribute(const wchar_t* name, const wchar_t* value, int) override {
    if (!name || std::wstring(name) != L"special_command") return -1;
    special_command_ = value ? value : L"";
    return 0;
  }
  int CallPageFunction(const wchar_t*, IWebViewExecuteCallback*, const wchar_t**, int) override { return -1; }
  int ExecuteScript(const wchar_t*) override { return -1; }
  void ClearCallbacks() override {}
  int RegisterFunction(const wchar_t*, IWebViewExecuteFunction*) override { return -1; }
  void UnregisterFunctions(int) override {}

 private:
  explicit BlankView(int kind) : kind_(kind) {}
  ~BlankView() = default;

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* view = reinterpret_cast<BlankView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view && message == kMsgAnnounce) {
      if (view->listener_) view->listener_->OnViewCreated(view);
      return 0;
    }
    if (view && message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      view->window_ = nullptr;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }

  int kind_;
  HWND window_ = nullptr;
  IWebViewListener* listener_ = nullptr;
  IWebViewAdvanceListener* advance_listener_ = nullptr;
  bool announced_ = false;
  bool flag_ = false;
  std::wstring special_command_;
};

class Factory final : public IWebViewFactory {
 public:
  int GetVersion() override { return 1; }
  void SetOption(const wchar_t*, const wchar_t*) override {}
  IWebView* CreateView(int engine_kind, HWND parent, RECT rect, const wchar_t*, const wchar_t*) override {
    return BlankView::Create(engine_kind, parent, rect);
  }
};

class MultiTabHost final : public IMultiTabWebView {
 public:
  int GetTabCount() override { return created_; }
  int Init() override { return 1; }
  IWebViewEx* CreateView(HWND parent, RECT rect, const wchar_t*, const wchar_t*) override {
    BlankView* view = BlankView::Create(kEngineChromium, parent, rect);
    if (view) ++created_;
    return view;
  }
  void Release() override { delete this; }

 private:
  int created_ = 0;
};

}  // namespace

extern "C" __declspec(dllexport) IWebViewFactory* GetWebViewFactory() {
  static Factory factory;
  return &factory;
}

extern "C" __declspec(dllexport) IWebViewEx* IWebViewToIWebViewEx(IWebView* view) {
  return dynamic_cast<IWebViewEx*>(view);
}

extern "C" __declspec(dllexport) IMultiTabWebView* CreateMultiTabWebView() {
  return new MultiTabHost();
}
