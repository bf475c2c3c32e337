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

  // Obtaining 7z.dll (install/ensure_7z.cpp): true when the "Utils" folder
  // has it (already, from the full package's zip, from a sibling product or by
  // download) and it is loaded.
  static bool Ensure7zDll(const GameConfig& config);
  // Copies it from the install folder of another product of the family into
  // |utils_dir|; false when none is registered or has it.
  static bool Copy7zfromProduct(const std::wstring& utils_dir);
  // Downloads it from the packaged game's file host into |utils_dir|.
  static bool download7z(const std::wstring& utils_dir);

  // The install flow (install/install_files.cpp, install/install_entries.cpp).
  // Each step reads the configuration of MainControl, runs on the main thread
  // with COM initialised, logs its failures and reports its statistics.
  //
  // Unpacks the resource packages into the data directory and puts every file
  // in place; the temporary files there are removed whatever the outcome.
  static bool InstallFiles();
  // CefHelper.dll and WebView.dll into the "Utils" folder (unless signed
  // copies are there), then the engine runtime when no kernel folder has it.
  static bool ExtractWebViewAndCefRes();
  // Lets the runtime installer at |helper_path| place the engine runtime;
  // true when the runtime is usable afterwards.
  static bool InstallCefRes(const std::wstring& helper_path);
  // Deletes the game key and writes it anew. False only for a malformed key
  // name, which is never deleted.
  static bool AddRegInfo();
  // Adds the game to "InstalledGameIds"; a listed game changes nothing.
  static bool AddToGameList();
  static bool AddUninstallItem();
  static bool AddStartMenu();
  // False when the display name is empty or the exe or icon is missing.
  static bool AddDeskIcon();
  // Starts the installed copy with " /install_launch" when the command line
  // has "run_at_succ" or the configuration says exactly "yes", unless this
  // process is itself such a copy.
  static void RunAppGame();
};
