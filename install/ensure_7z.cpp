// Obtaining the archive library 7z.dll before the 7z package is unpacked:
// from the "Utils" folder, the full package's zip, another installed product
// of the family, or the product's file-distribution server.
#include <windows.h>

#include <string>

#include "app/app_names.h"
#include "app/game_config.h"
#include "app/resource_ids.h"
#include "base/http_client.h"
#include "base/logging.h"
#include "base/string_util.h"
#include "game_build.h"
#include "install/inst_helper.h"
#include "install/sevenzip.h"
#include "install/tray_unzip.h"
#include "telemetry/statistic.h"
#include "utils/utils.h"

namespace {

// Where other products of the family record their install folder, read in
// order under HKEY_LOCAL_MACHINE; %ls is the family name. They are the
// family's engine products (the names CefHelper.dll is given), and a 32-bit
// writer on 64-bit Windows lands under Wow6432Node, which is read as well.
struct SiblingLocation {
  const wchar_t* key_format;
  const wchar_t* value_name;
};
constexpr SiblingLocation kSiblingLocations[] = {
    {L"SOFTWARE\\%ls\\quarvel", L"InstallDir"},
    {L"SOFTWARE\\%ls\\radiro", L"InstallDir"},
    {L"SOFTWARE\\Wow6432Node\\%ls\\quarvel", L"InstallDir"},
    {L"SOFTWARE\\Wow6432Node\\%ls\\radiro", L"InstallDir"},
};

// The download of 7z.dll: a path on the packaged game's file host, and the
// longest the installer waits for it.
constexpr wchar_t k7zDownloadPath[] = L"/wan/wan/7z.dll";
constexpr DWORD k7zDownloadTimeoutMs = 300000;

std::wstring SiblingInstallDir() {
  const std::wstring& family = AppNames::GetInstance()->family_name();
  if (family.empty()) return {};
  for (const SiblingLocation& location : kSiblingLocations) {
    std::wstring key = base::StrPrintf(location.key_format, family.c_str());
    std::wstring dir = utils::ReadRegText(HKEY_LOCAL_MACHINE, key, location.value_name);
    if (!dir.empty()) return dir;
  }
  return {};
}

}  // namespace

bool InstallHelper::Ensure7zDll(const GameConfig& config) {
  const std::wstring path_7z = config.utils_dir + L"\\7z.dll";
  if (utils::FileExists(path_7z)) return Load7zLibrary(path_7z);
  LOG(Debug) << "InstallFiles, InstallHelper::path_7z is not exist";
  if (config.IsPackAllCEF() &&
      utils::TrayUnZipFile2(IDR_PACKAGE_7ZDLL, config.data_dir + L"\\7z.zip", config.utils_dir) &&
      utils::FileExists(path_7z)) {
    LOG(Error) << "ExtractPepflashplayer Packall Move 7z Success";
    return Load7zLibrary(path_7z);
  }
  if (!Copy7zfromProduct(config.utils_dir)) {
    telemetry::ReportEvent(L"7z_noexist");
    LOG(Debug) << "InstallFiles, InstallHelper::Copy7zfromProduct is not exist";
    if (!download7z(config.utils_dir)) {
      LOG(Info) << "InstallFiles, InstallHelper::download7z() failed";
      return false;
    }
  }
  return Load7zLibrary(path_7z);
}

bool InstallHelper::Copy7zfromProduct(const std::wstring& utils_dir) {
  std::wstring sibling = SiblingInstallDir();
  if (sibling.empty()) return false;
  std::wstring source = sibling + L"\\Utils\\7z.dll";
  std::wstring dest = utils_dir + L"\\7z.dll";
  if (!utils::FileExists(source)) return false;
  ::CopyFileW(source.c_str(), dest.c_str(), FALSE);
  if (utils::FileExists(dest)) {
    telemetry::ReportEvent(L"7z_copy_success");
    return true;
  }
  telemetry::ReportEvent(L"7z_copy_fail");
  return false;
}

bool InstallHelper::download7z(const std::wstring& utils_dir) {
  telemetry::ReportEvent(L"7z_download_start");
  std::wstring url = std::wstring(L"http://") + game_build::kFileHost + k7zDownloadPath;
  bool ok = net::HttpDownloadFile(url, utils_dir + L"\\7z.dll", k7zDownloadTimeoutMs, nullptr);
  if (ok) {
    LOG(Error) << "7z_download_success";
    telemetry::ReportEvent(L"7z_download_success");
  } else {
    LOG(Error) << "7z_download_fail";
    telemetry::ReportEvent(L"7z_download_fail");
  }
  return ok;
}
