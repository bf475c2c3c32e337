#include "app/main_control.h"

#include <windows.h>

#include <atomic>
#include <thread>

#include "base/exit_scope.h"
#include "base/logging.h"
#include "install/inst_helper.h"
#include "telemetry/statistic.h"
#include "utils/utils.h"

namespace {

std::atomic<MainControl*> g_instance{nullptr};
// Occupies the slot while the winner constructs the instance.
MainControl* const kCreating = reinterpret_cast<MainControl*>(static_cast<uintptr_t>(1));

}  // namespace

MainControl::MainControl()
    : config_(std::make_shared<GameConfig>()), command_line_(std::make_shared<CCommandLine>()) {}

MainControl::~MainControl() = default;

MainControl* MainControl::GetInstance() {
  MainControl* instance = g_instance.load(std::memory_order_acquire);
  if (instance && instance != kCreating) return instance;
  MainControl* expected = nullptr;
  if (g_instance.compare_exchange_strong(expected, kCreating, std::memory_order_acq_rel)) {
    instance = new MainControl();
    g_instance.store(instance, std::memory_order_release);
    base::ExitScope::RegisterCallback(&MainControl::DeleteInstance, nullptr);
    return instance;
  }
  while ((instance = g_instance.load(std::memory_order_acquire)) == kCreating) {
    std::this_thread::yield();
  }
  // Null only if the instance was deleted meanwhile; a new one is made then.
  return instance ? instance : GetInstance();
}

void MainControl::DeleteInstance(void*) {
  MainControl* instance = g_instance.exchange(nullptr, std::memory_order_acq_rel);
  if (instance != kCreating) delete instance;
}

int MainControl::Run(const wchar_t* text) {
  SetCommandLine(text);
  InitConfig();
  CZovStatisticImpl::GetInstance()->SetChannel(config_->channel);
  switch (ChooseRunMode()) {
    case RunMode::kInstall:
      InstallHelper::GetGameConfigFromLocal(*config_);
      if (RunInstall()) InstallHelper::RunAppGame();
      break;
    case RunMode::kUninstall:
      RunUninstall();
      break;
    case RunMode::kClient:
      RunClient();
      break;
  }
  return 1;
}

MainControl::RunMode MainControl::ChooseRunMode() {
  const bool uninstall = command_line_->HasSwitch(L"uninstall");
  const bool loaded = LoadInstalledConfig(*config_);
  // NeedUpdate is not asked when the first condition already holds.
  if ((!loaded && !uninstall) || NeedUpdate()) return RunMode::kInstall;
  if (uninstall) return RunMode::kUninstall;
  return RunMode::kClient;
}

bool MainControl::LoadInstalledConfig(GameConfig& config) {
  if (!utils::PathExists(config.info_path)) {
    LOG(Error) << "MainControl::LoadInstalledConfig, info path " << config.info_path
               << "is not found";
    return false;
  }
  if (!config.FromJsonFile(config.info_path)) {
    LOG(Error) << "MainControl::LoadInstalledConfig, from json file fail info_path:"
               << config.info_path;
    return false;
  }
  if (!utils::PathExists(config.ui_path)) {
    LOG(Error) << "MainControl::LoadInstalledConfig, not find ui :" << config.ui_path;
    return false;
  }
  const std::wstring web_view = config.utils_dir + L"\\WebView.dll";
  if (!utils::PathExists(web_view)) {
    LOG(Error) << "MainControl::LoadInstalledConfig,not find web_view path:" << web_view;
    return false;
  }
  if (!InstallHelper::IsInKernelDir(config.utils_dir, L"libcef.dll")) {
    LOG(Error) << "MainControl::LoadInstalledConfig,not find lic_cef path:";
    return false;
  }
  return true;
}

bool MainControl::NeedUpdate() {
  const std::wstring installed = utils::GetFileVersionText(config_->exe_path);
  const std::wstring current = utils::GetFileVersionText(utils::GetModulePath());
  const bool newer = utils::IsVersionNewer(current, installed);
  if (newer) {
    LOG(Info) << "need update";
  }
  return newer;
}

// Install mode. Each step runs only when the previous one succeeded; what a
// failed install did stays in place, and running the installer again repairs
// it.
bool MainControl::RunInstall() {
  static const struct {
    bool (*step)();
    const char* failure;
  } kSteps[] = {
      {&InstallHelper::InstallFiles, "MainControl::RunInstall,InstallFiles failed"},
      {&InstallHelper::AddRegInfo, "MainControl::RunInstall,AddRegInfo failed"},
      {&InstallHelper::AddToGameList, "MainControl::RunInstall,AddToGameList failed"},
      {&InstallHelper::AddUninstallItem, "MainControl::RunInstall,AddUninstallItem failed"},
      {&InstallHelper::AddStartMenu, "MainControl::RunInstall,AddStartMenu failed"},
  };
  telemetry::ReportEvent(L"install");
  for (const auto& s : kSteps) {
    if (!s.step()) {
      LOG(Error) << s.failure;
      return false;
    }
  }
  if (config_->CreateDeskIcon() && !InstallHelper::AddDeskIcon()) {
    LOG(Error) << "MainControl::RunInstall,AddDeskIcon failed";
    return false;
  }
  telemetry::ReportEvent(L"qv_install_success");
  telemetry::ReportEvent(L"inst_succ");
  return true;
}

// The other mode entries. Their work is the uninstall flow and the client run
// sequence; nothing is removed or shown here.

void MainControl::RunUninstall() {}

void MainControl::RunClient() {}

void MainControl::SetCommandLine(const wchar_t* text) {
  command_line_text_ = text ? text : L"";
  command_line_ = std::make_shared<CCommandLine>();
  command_line_->Parse(text ? command_line_text_ : std::wstring(::GetCommandLineW()));
}

void MainControl::InitConfig() {
  config_ = std::make_shared<GameConfig>();
  config_->LoadStringResources();
  config_->LoadRegistryValues();
  ParseCommandLine();
  config_->DerivePaths();
  last_run_time_ = utils::ReadRegText(HKEY_CURRENT_USER, config_->game_key, L"LastRunTime");
}

void MainControl::ParseCommandLine() {
  GameConfig& config = *config_;
  std::wstring pid;
  command_line_->GetSwitchValue(L"pid", pid);
  if (!pid.empty()) {
    config.pid = pid;
    std::wstring subpid;
    command_line_->GetSwitchValue(L"subpid", subpid);
    if (!subpid.empty()) config.subpid = subpid;
    if (!config.subpid.empty()) {
      config.channel = config.pid + L"_" + config.subpid;
      config.from = config.pid + L"_" + config.subpid + L"_" + config.game_id;
    } else {
      config.channel = config.pid;
      config.from = config.pid + L"_" + config.game_id;
    }
  }
  std::wstring from;
  command_line_->GetSwitchValue(L"from", from);
  if (!from.empty()) config.from = from;
  if (command_line_->HasSwitch(L"install_launch")) launched_by_installer_ = 1;
  std::wstring targetDir;
  if (command_line_->GetSwitchValue(L"target_dir", targetDir) && !targetDir.empty()) {
    target_dir_ = targetDir;
  }
  if (command_line_->HasSwitch(L"disable_tray")) config.install_tray = 0;
}
