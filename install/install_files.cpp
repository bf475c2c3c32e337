// InstallHelper::InstallFiles and the steps it runs: unpacking the resource
// packages into the base directory B, moving each file to the install
// directory I, the shared directory U or the kernel directory K, and letting
// CefHelper.dll place the web-engine runtime and the Flash plug-in.
//
// Every step runs only when the previous one succeeded; the clean-up of the
// temporary files in B runs in every case. What earlier steps put in place
// stays when a later one fails: running the installer again repairs it.
#include <windows.h>

#include <string>
#include <vector>

#include "app/game_config.h"
#include "app/main_control.h"
#include "app/resource_ids.h"
#include "base/http_client.h"
#include "base/logging.h"
#include "base/scoped_handle.h"
#include "install/inst_helper.h"
#include "install/install_rules.h"
#include "install/tray_unzip.h"
#include "telemetry/product_info.h"
#include "telemetry/statistic.h"
#include "utils/utils.h"

namespace {

// Entry points of CefHelper.dll (wide texts, WINAPI).
using SetProductInfoFn = int(WINAPI*)(const wchar_t* product, const wchar_t* base_dir,
                                      const wchar_t* path_7z);
using StartExFn = int(WINAPI*)(const wchar_t* helper_dir, const wchar_t* kernel_version);
using StartFlashExFn = int(WINAPI*)(const wchar_t* kernel_dir, const wchar_t* flash_version);

// Icon sizes written to the game's .ico, in this order.
constexpr int kIconSizes[] = {16, 24, 32, 48, 96, 128, 256};

// Moves a file unpacked into B to its place. An existing target is replaced:
// the callers decide before the move whether an installed file stays.
bool MoveInto(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
  base::ScopedKernelHandle file(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, 0, nullptr));
  return file && ::GetFileInformationByHandle(file.Get(), info);
}

// True when both paths name the same existing file (an installed copy that
// runs the install itself), also under different spellings (short names,
// letter case).
bool IsSameFile(const std::wstring& a, const std::wstring& b) {
  if (::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
  BY_HANDLE_FILE_INFORMATION info_a;
  BY_HANDLE_FILE_INFORMATION info_b;
  return FileIdentity(a, &info_a) && FileIdentity(b, &info_b) &&
         info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
         info_a.nFileIndexHigh == info_b.nFileIndexHigh &&
         info_a.nFileIndexLow == info_b.nFileIndexLow;
}

void Report(const wchar_t* action) { telemetry::ReportEvent(action); }

struct Layout {
  std::wstring base;    // B
  std::wstring utils;   // U
  std::wstring kernel;  // K
};

Layout LayoutOf(const GameConfig& config) {
  const install_rules::Kernel& kernel = install_rules::ChooseKernel(config.IsUserNewKernel());
  return {config.data_dir, config.utils_dir, config.utils_dir + L"\\" + kernel.dir_name};
}

// Step 2: NetBridge.dll in B, unpacked from package 204 when missing.
bool InstallNetBridge(const Layout& layout) {
  const std::wstring netbridge = layout.base + L"\\NetBridge.dll";
  const std::wstring package = layout.base + L"\\NetBridge.zip";
  if (!utils::FileExists(netbridge)) {
    LOG(Debug) << "InstallFiles, InstallHelper::path_netbridge is not exist";
    utils::TrayUnZipFile2(IDR_PACKAGE_NETBRIDGE, package, layout.base);
  }
  utils::DeleteFileForce(package);
  if (!utils::FileExists(netbridge)) return false;
  net::InitNet(netbridge);
  LOG(Info) << "net::InitNet(L..  // NetBridge.dll)";
  return true;
}

// Step 5: the icon resource in seven sizes. Its outcome does not matter; a
// missing icon makes the desktop shortcut step fail later.
void WriteIconFile(const GameConfig& config) {
  utils::DeleteFileForce(config.ico_path);
  std::vector<base::ScopedIcon> icons;
  std::vector<HICON> handles;
  for (int size : kIconSizes) {
    HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                 MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size,
                                                 size, LR_DEFAULTCOLOR));
    if (!icon) continue;
    icons.emplace_back(icon);
    handles.push_back(icon);
  }
  if (!handles.empty()) {
    utils::SaveIconFile(handles.data(), static_cast<int>(handles.size()), config.ico_path);
  }
}

// Step 7: the skin package into I (required) and the loading animation into U.
bool InstallSkin(const GameConfig& config, const Layout& layout) {
  utils::DeleteFileForce(config.ui_path);
  if (!MoveInto(layout.base + L"\\ui.ui", config.ui_path)) {
    LOG(Debug) << "utils::MoveFile: ui, failed";
    return false;
  }
  const std::wstring progress = layout.utils + L"\\progress.gif";
  utils::DeleteFileForce(progress);
  if (!MoveInto(layout.base + L"\\progress.gif", progress)) {
    LOG(Debug) << "utils::MoveFile: progress, failed";
  }
  return true;
}

// Step 8: the running executable copied to the install directory.
bool InstallExecutable(const GameConfig& config) {
  const std::wstring self = utils::GetModulePath();
  // An installed copy repairing its own install must not delete itself: the
  // copy below could then not bring it back.
  if (!IsSameFile(self, config.exe_path)) {
    utils::DeleteFileForce(config.exe_path);
    ::CopyFileW(self.c_str(), config.exe_path.c_str(), FALSE);
  }
  if (!utils::FileExists(config.exe_path)) {
    LOG(Error) << "InstallHelper::InstallFiles, copy exe file failed, path:" << config.exe_path;
    return false;
  }
  return true;
}

// Step 9: the family's total uninstaller. An installed copy that is signed
// by an accepted publisher and not older than the packaged one stays.
bool InstallUninstaller(const Layout& layout) {
  const std::wstring installed = layout.utils + L"\\uninst.exe";
  const std::wstring packaged = layout.base + L"\\uninst.exe";
  const bool keep = utils::FileExists(installed) && VerifyPublisher(installed) &&
                    !utils::IsVersionNewer(utils::GetFileVersionText(packaged),
                                           utils::GetFileVersionText(installed));
  bool ok = true;
  if (!keep) {
    utils::DeleteFileForce(installed);
    if (!MoveInto(packaged, installed)) {
      LOG(Error) << "InstallHelper::InstallFiles uninst.exe failed";
      ok = false;
    }
  }
  utils::DeleteFileForce(packaged);
  return ok;
}

// Step 10, full package only: the engine resource file into U.
bool InstallEngineResources(const GameConfig& config, const Layout& layout) {
  Report(L"install_all_pack");
  const std::wstring name = install_rules::ChooseKernel(config.IsUserNewKernel()).resource_file;
  const std::wstring target = layout.utils + L"\\" + name;
  if (utils::FileExists(target)) return true;
  if (!MoveInto(layout.base + L"\\" + name, target)) {
    LOG(Debug) << "utils::MoveFile: CefRes, failed(install_all_pack)";
    return false;
  }
  return true;
}

// Step 12: the engine host process into K unless a kernel directory has one.
bool InstallCefView(const Layout& layout) {
  if (InstallHelper::IsInKernelDir(layout.utils, L"CefView.exe")) return true;
  if (!utils::CreateDirectoryTree(layout.kernel) ||
      !MoveInto(layout.base + L"\\CefView.exe", layout.kernel + L"\\CefView.exe")) {
    LOG(Error) << "InstallHelper::InstallFiles unzip cefview.exe failed, path:" << layout.kernel;
    return false;
  }
  return true;
}

// Step 13: the uninstall shortcut in I; its outcome does not matter.
void CreateUninstallShortcut(const GameConfig& config) {
  if (config.uninstall_name.empty()) return;
  utils::CreateShortcut(config.uninstall_name, config.exe_path, L"/uninstall /from=uninst",
                        config.install_dir + L"\\" + config.uninstall_name + L".lnk",
                        config.ico_path, 0);
}

// Step 14: the Flash plug-in in K, from a full package or from CefHelper.dll.
bool ExtractPepflashplayer(const GameConfig& config, const Layout& layout) {
  if (config.IsPackAllCEF() && utils::CreateDirectoryTree(layout.kernel) &&
      MoveInto(layout.base + L"\\pepflashplayer.dll", layout.kernel + L"\\pepflashplayer.dll")) {
    LOG(Error) << "ExtractPepflashplayer Packall Move PepFalsh Success";
    return true;
  }
  const std::wstring helper = layout.utils + L"\\CefHelper.dll";
  if (!utils::FileExists(helper)) return false;
  base::ScopedModule module(
      ::LoadLibraryExW(helper.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module) return false;
  auto start_flash =
      reinterpret_cast<StartFlashExFn>(::GetProcAddress(module.Get(), "StartFlashEx"));
  if (!start_flash) return false;
  return start_flash(layout.kernel.c_str(), install_rules::kFlashVersion) != 0;
}

// Steps 1 to 14; false at the first failing step.
bool InstallFilesSteps(const GameConfig& config, const Layout& layout) {
  for (const std::wstring& dir : {config.install_dir, layout.utils}) {
    if (!utils::CreateDirectoryTree(dir)) {
      LOG(Error) << "InstallHelper::InstallFiles, create directory failed, path:" << dir;
      return false;
    }
  }
  if (!InstallNetBridge(layout)) return false;
  if (!InstallHelper::Ensure7zDll(config)) return false;
  if (!utils::TrayUnzip7zFile(IDR_PACKAGE_7Z, layout.base + L"\\res.7z", layout.base)) {
    LOG(Debug) << "utils::TrayUnZipFile: res.7z, failed";
    return false;
  }
  WriteIconFile(config);
  utils::DeleteFileForce(config.info_path);
  if (!config.SaveToFile()) {
    LOG(Debug) << "utils::TrayUnZipFile: GameConfig.json, failed";
    return false;
  }
  if (!InstallSkin(config, layout)) return false;
  if (!InstallExecutable(config)) return false;
  if (!InstallUninstaller(layout)) return false;
  if (config.IsPackAllCEF() && !InstallEngineResources(config, layout)) return false;
  if (!InstallHelper::ExtractWebViewAndCefRes()) return false;
  if (!InstallCefView(layout)) return false;
  CreateUninstallShortcut(config);
  if (config.pepflashplayer != 0 && !ExtractPepflashplayer(config, layout)) return false;
  return true;
}

}  // namespace

bool InstallHelper::InstallFiles() {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  const Layout layout = LayoutOf(*config);
  const bool ok = InstallFilesSteps(*config, layout);
  if (ok) net::UninitNet();
  for (const wchar_t* name : install_rules::kBaseTempFiles) {
    utils::DeleteFileForce(layout.base + L"\\" + name);
  }
  return ok;
}

bool InstallHelper::ExtractWebViewAndCefRes() {
  const Layout layout = LayoutOf(*MainControl::GetInstance()->config());
  const std::wstring helper = layout.utils + L"\\CefHelper.dll";
  const std::wstring web_view = layout.utils + L"\\WebView.dll";
  bool ok = true;
  if (!utils::FileExists(helper) || !VerifyPublisher(helper)) {
    if (!MoveInto(layout.base + L"\\CefHelper.dll", helper)) {
      LOG(Error) << "InstallHelper::InstallFiles move cefhelper.dll failed, path:" << layout.kernel;
      ok = false;
    }
  }
  if (ok && !(utils::FileExists(web_view) && VerifyPublisher(web_view))) {
    if (!MoveInto(layout.base + L"\\WebView.dll", web_view)) {
      LOG(Error) << "InstallHelper::InstallFiles move WebView.dll failed, path:" << layout.kernel;
      ok = false;
    }
  }
  utils::DeleteFileForce(layout.base + L"\\CefHelper.dll");
  utils::DeleteFileForce(layout.base + L"\\WebView.dll");
  if (!ok) return false;
  if (IsInKernelDir(layout.utils, L"libcef.dll")) return true;
  LOG(Error) << "ExtractWebViewAndCefRes InstallHelper::InstallCefRes";
  return InstallCefRes(helper);
}

bool InstallHelper::InstallCefRes(const std::wstring& helper_path) {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  int status = 0;
  if (utils::FileExists(helper_path)) {
    base::ScopedModule module(
        ::LoadLibraryExW(helper_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
      LOG(Info) << "cefhelper.dll module is nullptr";
    } else if (auto start = reinterpret_cast<StartExFn>(::GetProcAddress(module.Get(), "StartEx"));
               !start) {
      LOG(Info) << "cefhelper.dll StartEx function is nullptr";
    } else if (auto set_product = reinterpret_cast<SetProductInfoFn>(
                   ::GetProcAddress(module.Get(), "SetProductInfo"))) {
      const std::wstring helper_dir = utils::GetDirOfPath(helper_path);
      const std::wstring parent = utils::GetDirOfPath(helper_dir);
      const install_rules::Kernel& kernel = install_rules::ChooseKernel(config->IsUserNewKernel());
      LOG(Info) << (config->IsUserNewKernel() ? "Unzip new kernel" : "Unzip old kernel");
      set_product(kernel.product, parent.c_str(), (helper_dir + L"\\7z.dll").c_str());
      status = start(helper_dir.c_str(), kernel.version);
    }
  }
  const install_rules::RuntimeOutcome outcome = install_rules::TranslateRuntimeStatus(status);
  LOG(Error) << outcome.log_text;
  Report(outcome.action);
  return outcome.ok;
}
