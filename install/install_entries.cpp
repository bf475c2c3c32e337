// The install steps after the files: the game key, the installed-games list,
// the uninstall entry, the start-menu and desktop shortcuts, and starting the
// installed copy. All values are REG_SZ under HKEY_CURRENT_USER.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "app/app_names.h"
#include "app/game_config.h"
#include "app/main_control.h"
#include "base/logging.h"
#include "install/inst_helper.h"
#include "install/install_rules.h"
#include "telemetry/statistic.h"
#include "utils/utils.h"

namespace {

void Report(const wchar_t* action) { telemetry::ReportEvent(action); }

// The address written as "URLInfoAbout": the game's official site, else its
// home page.
std::wstring ProductSiteUrl(const GameConfig& config) {
  return config.site_url_format.empty() ? config.index_page_url : config.site_url_format;
}

}  // namespace

bool InstallHelper::AddRegInfo() {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  const GameConfig& c = *config;
  // The key is deleted as a whole; a malformed name could take the product
  // key of every game of the family (or worse) with it.
  if (!install_rules::IsGameKey(c.product_key, c.game_key, c.game_id)) {
    LOG(Error) << "InstallHelper::AddRegInfo, refusing to delete key:" << c.game_key;
    return false;
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, c.game_key.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, c.game_key.c_str());
  // Individual write failures do not fail the step.
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"From", c.from);
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"InstallDir", c.install_dir);
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"ExePath", c.exe_path);
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"InstallTime", utils::GetNowText());
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"DisplayName", c.game_name);
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"PID", c.pid);
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"Version",
                      utils::GetFileVersionText(c.exe_path));
  utils::WriteRegText(HKEY_CURRENT_USER, c.game_key, L"Channel", c.channel);
  return true;
}

bool InstallHelper::AddToGameList() {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  LOG(Debug) << "AddToGameList game:" << config->game_id;
  const std::wstring list =
      utils::ReadRegText(HKEY_CURRENT_USER, config->product_key, L"InstalledGameIds");
  std::wstring updated;
  if (!install_rules::AddGameToList(list, config->game_id, &updated)) return true;
  return utils::WriteRegText(HKEY_CURRENT_USER, config->product_key, L"InstalledGameIds",
                             updated) &&
         utils::WriteRegText(HKEY_CURRENT_USER, config->product_key, L"Setup Path",
                             config->data_dir);
}

bool InstallHelper::AddUninstallItem() {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  const GameConfig& c = *config;
  const std::wstring key =
      install_rules::UninstallKey(AppNames::GetInstance()->family_name(), c.game_id);
  utils::WriteRegText(HKEY_CURRENT_USER, key, L"DisplayName", c.uninstall_name);
  utils::WriteRegText(HKEY_CURRENT_USER, key, L"UninstallString",
                      install_rules::UninstallCommand(c.exe_path));
  utils::WriteRegText(HKEY_CURRENT_USER, key, L"Publisher", c.game_name);
  utils::WriteRegText(HKEY_CURRENT_USER, key, L"InstallLocation", c.install_dir);
  utils::WriteRegText(HKEY_CURRENT_USER, key, L"URLInfoAbout", ProductSiteUrl(c));
  LOG(Info) << "InstallHelper::AddUninstallItem success";
  return true;
}

bool InstallHelper::AddStartMenu() {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  const GameConfig& c = *config;
  const std::wstring folder = utils::GetProgramsPath(c.game_name, true);
  if (folder.empty()) {
    // No folder, no link; the game still runs, so the install goes on.
    LOG(Error) << "InstallHelper::AddStartMenu, create folder failed:" << c.game_name;
    return true;
  }
  const std::wstring link = folder + L"\\" + c.game_name + L".lnk";
  if (utils::PathExists(link)) {
    utils::DeleteFileForce(link);
    LOG(Debug) << "InstallHelper::AddStartMenu delete link file:" << link;
  }
  utils::CreateShortcut(c.game_name, c.exe_path, L" /from=start_menu", link, c.ico_path, 0);
  return true;
}

bool InstallHelper::AddDeskIcon() {
  std::shared_ptr<GameConfig> config = MainControl::GetInstance()->config();
  const GameConfig& c = *config;
  const std::wstring link = utils::GetDesktopPath(c.desk_link_name + L".lnk", false);
  if (utils::PathExists(link)) {
    utils::DeleteFileForce(link);
    LOG(Debug) << "InstallHelper::AddDeskIcon delete desk lnk: " << link;
  }
  if (c.desk_link_name.empty() || !utils::PathExists(c.exe_path) || !utils::PathExists(c.ico_path)) {
    return false;
  }
  if (!utils::CreateShortcut(c.desk_link_name, c.exe_path, L" /from=desk_icon", link, c.ico_path,
                             0)) {
    LOG(Error) << "InstallHelper::AddDeskIcon FAILED";
  }
  // Lets the shell and open windows pick up the new icon.
  ::PostMessageW(HWND_BROADCAST, WM_WININICHANGE, 42, 0);
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
  Report(L"add_desk_icon");
  return true;
}

void InstallHelper::RunAppGame() {
  MainControl* control = MainControl::GetInstance();
  std::shared_ptr<GameConfig> config = control->config();
  if (!control->command_line()->HasSwitch(L"run_at_succ") &&
      config->run_after_silence_inst != L"yes") {
    return;
  }
  // A copy the installer started lands here only when its installation was
  // unusable; starting yet another copy could repeat that without end.
  if (control->launched_by_installer()) {
    LOG(Error) << "InstallHelper::RunAppGame, started by the installer itself, not starting "
                  "again:" << config->exe_path;
    return;
  }
  LOG(Debug) << "InstallHelper::RunAppGame" << config->exe_path << "  "
             << control->command_line_text();
  Report(L"inst_open");
  const std::wstring params = control->command_line_text() + L" /install_launch";
  const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", config->exe_path.c_str(),
                                           params.c_str(), nullptr, SW_SHOW);
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    LOG(Error) << "InstallHelper::RunAppGame, start failed, path:" << config->exe_path;
  }
}
