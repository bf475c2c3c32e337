// The install side of the application: reading the packaged configuration
// and the checks shared with the run-mode decision.
#pragma once

#include <windows.h>

#include <string>

struct GameConfig;

class InstallHelper {
 public:
  // Loads the packaged configuration (resource "FILERES" 202 of the running
  // executable) into |config|. Each failure is logged and the read goes on
  // with what it has, so the result is always true.
  static bool GetGameConfigFromLocal(GameConfig& config);
  // The same read from the resources of |module|.
  static bool GetGameConfigFromModule(HMODULE module, GameConfig& config);

  // True when |file_name| is present in one of the two kernel directories of
  // the engine runtime, |utils_dir| + "\cef" or |utils_dir| + "\cef69".
  static bool IsInKernelDir(const std::wstring& utils_dir, const std::wstring& file_name);
};
