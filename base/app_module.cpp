#include "base/app_module.h"

namespace base {

CAppModule _Module;

HRESULT CAppModule::Init(HINSTANCE instance) {
  instance_ = instance ? instance : ::GetModuleHandleW(nullptr);
  resource_instance_ = instance_;
  return S_OK;
}

void CAppModule::Term() {
  instance_ = nullptr;
  resource_instance_ = nullptr;
}

std::wstring LoadResourceString(UINT id) {
  HINSTANCE module = _Module.GetResourceInstance();
  if (!module) module = ::GetModuleHandleW(nullptr);
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW hands out a pointer into the resource.
  int n = ::LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
  return n > 0 && text ? std::wstring(text, static_cast<size_t>(n)) : std::wstring();
}

}  // namespace base
