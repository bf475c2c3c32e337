#include "install/install_rules.h"

namespace install_rules {

bool AddGameToList(const std::wstring& list, const std::wstring& game_id, std::wstring* out) {
  const std::wstring token = L";" + game_id + L";";
  if (list.find(token) != std::wstring::npos) return false;
  *out = list.empty() ? token : list + game_id + L";";
  return true;
}

RuntimeOutcome TranslateRuntimeStatus(int status) {
  switch (status) {
    case 1:
      return {"InstallFiles, InstallCefRes: cef exist", L"cef_exist", true};
    case 3:
      return {"InstallFiles, InstallCefRes: cefres exist", L"cef_dll_exist", true};
    case 4:
      return {"InstallFiles, CInstallres::downloadsuccess", L"res_down_success", true};
    case 0:
      return {"InstallFiles, CInstallres::download() failed", L"qv_show_overtime", false};
    default:
      return {"InstallFiles, InstallCefRes: res_copy_success", L"res_copy_success", true};
  }
}

const Kernel& ChooseKernel(bool new_kernel) {
  static constexpr Kernel kNew = {L"quarvel", L"3.3497.1841.0", L"cef69", L"CefRes69.dll"};
  static constexpr Kernel kOld = {L"radiro", L"3.2623.1401.0", L"cef", L"CefRes.dll"};
  return new_kernel ? kNew : kOld;
}

std::wstring UninstallKey(const std::wstring& family, const std::wstring& game_id) {
  return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + family + L"_" + game_id;
}

std::wstring UninstallCommand(const std::wstring& exe_path) {
  return L"\"" + exe_path + L"\" /uninstall /from=uninst";
}

bool IsGameKey(const std::wstring& product_key, const std::wstring& game_key,
               const std::wstring& game_id) {
  if (product_key.empty() || game_id.empty()) return false;
  if (game_id.find(L'\\') != std::wstring::npos) return false;
  return game_key == product_key + L"\\" + game_id;
}

}  // namespace install_rules
