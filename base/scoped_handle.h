// Move-only owners for Win32 handles and COM pointers. Each owner closes what
// it holds exactly once; Take() hands ownership back to the caller.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace base {

template <class Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle h) : handle_(h) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Take()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Take());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }

  bool IsValid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Get() const { return handle_; }
  // For APIs that fill a handle through an out-parameter; closes any current one.
  Handle* Receive() {
    Close();
    return &handle_;
  }
  Handle Take() { return std::exchange(handle_, Traits::NullHandle()); }
  void Reset(Handle h = Traits::NullHandle()) {
    Close();
    handle_ = h;
  }
  void Close() {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = Traits::NullHandle();
  }

 private:
  Handle handle_ = Traits::NullHandle();
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};
using ScopedRegKey = ScopedHandle<RegKeyTraits>;

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};
using ScopedModule = ScopedHandle<ModuleTraits>;

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;

struct IconTraits {
  using Handle = HICON;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DestroyIcon(h); }
};
using ScopedIcon = ScopedHandle<IconTraits>;

// Owns one reference of a COM interface pointer.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // For APIs that return a new reference through T**; releases any current one.
  T** Receive() {
    Reset();
    return &ptr_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (ptr_) std::exchange(ptr_, nullptr)->Release();
  }
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    return ptr_ ? ptr_->QueryInterface(__uuidof(U), out->ReceiveVoid()) : E_POINTER;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace base
