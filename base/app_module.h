// The application module: the instance handle of the executable and the
// module whose resources the UI reads, set for the life of the run.
#pragma once

#include <windows.h>

#include <string>

namespace base {

class CAppModule {
 public:
  HRESULT Init(HINSTANCE instance);
  void Term();

  HINSTANCE GetModuleInstance() const { return instance_; }
  HINSTANCE GetResourceInstance() const { return resource_instance_; }

 private:
  HINSTANCE instance_ = nullptr;
  HINSTANCE resource_instance_ = nullptr;
};

// The one module of the process.
extern CAppModule _Module;

// A string resource of the application module ("" when missing or empty).
std::wstring LoadResourceString(UINT id);

}  // namespace base
