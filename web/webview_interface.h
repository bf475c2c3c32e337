// The interface of the browser engine library "WebView.dll". The engine and
// the client are separate modules, so the vtable order below is the contract:
// never reorder, insert or remove an operation. Slots the client never calls
// still keep their place. Nothing crosses this boundary as an exception;
// strings are UTF-16 and owned by the side that passes them unless stated.
//
// Both sides are built with the same compiler: under GCC's ABI a virtual
// destructor takes two vtable slots (MSVC's takes one), which only matters for
// the listener, the one interface that starts with its destructor.
#pragma once

#include <windows.h>

namespace ZovWebView {

class IWebView;
class IWebViewEx;

// Engine events, called on the UI thread that created the view.
class IWebViewListener {
 public:
  virtual ~IWebViewListener() {}
  // The view is ready for navigation; attributes can be read from now on.
  virtual void OnViewCreated(IWebView* view) = 0;
  virtual void OnViewShown(IWebView* view) = 0;
  // The engine is closing the view; the owner releases it soon after.
  virtual void OnViewClosing(IWebView* view) = 0;
  virtual void OnViewClosed(IWebView* view) = 0;
  virtual void OnLoadProgress(IWebView* view, int state, int percent) = 0;
  virtual void OnDocumentReady(IWebView* view) = 0;
  virtual void OnUrlChanged(IWebView* view, const wchar_t* url) = 0;
  virtual void OnTitleChanged(IWebView* view, const wchar_t* title) = 0;
  // The page asked for a new browser window for |url|.
  virtual void OnNewView(IWebView* view, const wchar_t* url) = 0;
};

class IWebViewAdvanceListener {
 public:
  virtual void OnAdvanceEvent(IWebView* view, int code, WPARAM wparam, LPARAM lparam) = 0;

 protected:
  ~IWebViewAdvanceListener() = default;
};

// A native function the page can call by name.
class IWebViewExecuteFunction {
 public:
  // Returns 0 when |name| is registered (and |*result| may receive a buffer
  // the engine hands back through FreeResult), 1 otherwise.
  virtual int Execute(const wchar_t* name, const wchar_t** args, int count, wchar_t** result) = 0;
  virtual void FreeResult(wchar_t* result) = 0;
  virtual void OnFunctionRemoved(const wchar_t* name) = 0;

 protected:
  ~IWebViewExecuteFunction() = default;
};

// The answer to a CallPageFunction.
class IWebViewExecuteCallback {
 public:
  virtual void OnExecuteCallback(int call_id, int result_code, const wchar_t* result) = 0;
  virtual void OnCallbackDropped(int call_id) = 0;

 protected:
  ~IWebViewExecuteCallback() = default;
};

// Engine kinds for IWebViewFactory::CreateView.
enum EngineKind : int { kEngineIE = 1, kEngineChromium = 2 };

// One engine view. Owned by the engine; the holder gives it back with Release
// (after Detach(0)) and never deletes it.
class IWebView {
 public:
  virtual int GetEngineKind() = 0;
  virtual void SetListener(IWebViewListener* listener) = 0;
  virtual void Detach(int flags) = 0;
  virtual bool SetCookie(const wchar_t* url, const wchar_t* cookies) = 0;
  virtual bool Navigate(const wchar_t* url, const wchar_t* cookies) = 0;
  virtual void Show(bool show) = 0;
  virtual void Move(const RECT* rect) = 0;
  virtual void Release() = 0;
  virtual void SetFlag(bool flag) = 0;
  virtual void Reload() = 0;

 protected:
  ~IWebView() = default;
};

class IWebViewEx : public IWebView {
 public:
  virtual void SetAdvanceListener(IWebViewAdvanceListener* listener) = 0;
  // Copies the attribute into |buffer|; |*size| is its size in bytes on entry
  // and the bytes written on return. Negative on failure. "root_window" gives
  // the engine's top window handle as 4 bytes.
  virtual int GetAttribute(const wchar_t* name, void* buffer, int* size) = 0;
  // "special_command": the engine start arguments. |reserved| is 0.
  virtual int SetAttribute(const wchar_t* name, const wchar_t* value, int reserved) = 0;
  // Calls a global page function; a result > 0 is the call id the callback
  // later receives.
  virtual int CallPageFunction(const wchar_t* name, IWebViewExecuteCallback* callback,
                               const wchar_t** args, int count) = 0;
  virtual int ExecuteScript(const wchar_t* script) = 0;
  virtual void ClearCallbacks() = 0;
  virtual int RegisterFunction(const wchar_t* name, IWebViewExecuteFunction* function) = 0;
  virtual void UnregisterFunctions(int reserved) = 0;

 protected:
  ~IWebViewEx() = default;
};

// Creates single views. Obtained once per process and never released.
class IWebViewFactory {
 public:
  virtual int GetVersion() = 0;
  virtual void SetOption(const wchar_t* name, const wchar_t* value) = 0;
  virtual IWebView* CreateView(int engine_kind, HWND parent, RECT rect, const wchar_t* url,
                               const wchar_t* command) = 0;

 protected:
  ~IWebViewFactory() = default;
};

// A host whose Chromium views share one browser process (a tab group).
class IMultiTabWebView {
 public:
  virtual int GetTabCount() = 0;
  // Non-zero when the host is usable.
  virtual int Init() = 0;
  virtual IWebViewEx* CreateView(HWND parent, RECT rect, const wchar_t* url,
                                 const wchar_t* command) = 0;
  virtual void Release() = 0;

 protected:
  ~IMultiTabWebView() = default;
};

// The library's exports, resolved by name.
using GetWebViewFactoryFunc = IWebViewFactory* (*)();
using IWebViewToIWebViewExFunc = IWebViewEx* (*)(IWebView* view);
using CreateMultiTabWebViewFunc = IMultiTabWebView* (*)();

inline constexpr char kGetWebViewFactoryName[] = "GetWebViewFactory";
inline constexpr char kIWebViewToIWebViewExName[] = "IWebViewToIWebViewEx";
inline constexpr char kCreateMultiTabWebViewName[] = "CreateMultiTabWebView";

}  // namespace ZovWebView
