// The rules of the install flow that need no system: the installed-games
// list, the runtime installer's status codes, the kernel choice and the names
// of the registry entries. Pure code, usable without Windows.
#pragma once

#include <string>

namespace install_rules {

// Format notes (installed-games list "InstalledGameIds"): every installed
// game id enclosed in semicolons, ids separated by one semicolon, e.g.
// ";kzr;abc;"; the empty list is "". After the last game is removed the list
// may be a lone ";".
//
// Returns false (nothing to write) when |list| already holds ";<id>;".
// Otherwise |out| is |list| + "<id>;" for a non-empty list, or ";<id>;".
bool AddGameToList(const std::wstring& list, const std::wstring& game_id, std::wstring* out);

// What a status of the runtime installer's "StartEx" means for the install.
struct RuntimeOutcome {
  const char* log_text;  // written at the Error level
  const wchar_t* action;  // statistics action
  bool ok;               // the runtime is usable afterwards
};
// 1 runtime present, 3 taken from the engine resource file, 4 downloaded,
// 0 failed; any other value is a copy that succeeded.
RuntimeOutcome TranslateRuntimeStatus(int status);

// The two web-engine kernels: what the runtime installer is told and where
// the runtime lives below the shared "Utils" directory.
struct Kernel {
  const wchar_t* product;        // product name given to "SetProductInfo"
  const wchar_t* version;        // kernel version given to "StartEx"
  const wchar_t* dir_name;       // K = Utils + "\" + dir_name
  const wchar_t* resource_file;  // engine resource file of a full package
};
const Kernel& ChooseKernel(bool new_kernel);

// The Flash plug-in version asked of "StartFlashEx".
inline constexpr wchar_t kFlashVersion[] = L"24.0.0.221";

// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<family>_<game id>".
std::wstring UninstallKey(const std::wstring& family, const std::wstring& game_id);
// The executable in double quotes followed by " /uninstall /from=uninst".
std::wstring UninstallCommand(const std::wstring& exe_path);

// True when |game_key| is exactly |product_key| + "\" + |game_id| with both
// parts non-empty, so deleting it can never take the product key (every game
// of the family) or more with it.
bool IsGameKey(const std::wstring& product_key, const std::wstring& game_key,
               const std::wstring& game_id);

// Temporary files the install leaves in the base directory, deleted at the
// end of every install, successful or not, in this order.
inline constexpr const wchar_t* kBaseTempFiles[] = {
    L"res.7z",      L"CefRes69.dll", L"CefView.exe", L"7z.zip",
    L"CefRes.dll",  L"CefHelper.dll", L"uninst.exe", L"WebView.dll",
    L"progress.gif", L"ui.ui",       L"NetBridge.zip", L"pepflashplayer.dll",
};

}  // namespace install_rules
