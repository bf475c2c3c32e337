// The application controller: one per process. Parses the command line,
// builds the game configuration and runs one of the three modes.
#pragma once

#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/game_config.h"

class MainWindow;
class PopTray;
namespace base {
class SingleThreadTaskRunner;
}

class MainControl {
 public:
  // Created by the first caller; safe from any thread. The exit scope of the
  // entry point deletes the instance.
  static MainControl* GetInstance();

  // Runs the process for |text| (the arguments without the program path; null
  // means the process's own command line). Returns 1.
  int Run(const wchar_t* text);

  std::shared_ptr<GameConfig> config() const { return config_; }
  std::shared_ptr<CCommandLine> command_line() const { return command_line_; }
  const std::wstring& command_line_text() const { return command_line_text_; }
  const std::wstring& last_run_time() const { return last_run_time_; }
  const std::wstring& target_dir() const { return target_dir_; }
  int launched_by_installer() const { return launched_by_installer_; }
  MainWindow* main_window() const { return main_window_; }
  int page_status() const { return page_status_; }
  void set_page_status(int status) { page_status_ = status; }
  int web_ready() const { return web_ready_; }
  const std::wstring& timestamp_flag() const { return timestamp_flag_; }
  std::shared_ptr<base::SingleThreadTaskRunner> ui_task_runner() const { return ui_task_runner_; }

  enum class RunMode { kInstall, kUninstall, kClient };

  // Steps of Run, public so that each can be exercised on its own.
  // Stores |text| and parses it (the process's command line when null).
  void SetCommandLine(const wchar_t* text);
  // Builds a fresh configuration from resources, registry, switches and
  // paths, and reads the previous "LastRunTime".
  void InitConfig();
  // Applies the "pid", "subpid", "from", "install_launch", "target_dir" and
  // "disable_tray" switches to the configuration.
  void ParseCommandLine();
  // The mode decision: install when no usable installation exists (and no
  // uninstall is asked for) or the running executable is newer than the
  // installed one; else uninstall for the "uninstall" switch; else client.
  // Loads the installed configuration into config() on the way.
  RunMode ChooseRunMode();

  // Reads the installed configuration into |config| and checks that the
  // installation is usable (skin package, engine library, engine runtime).
  // Every failed check writes one Error record; false selects install mode.
  bool LoadInstalledConfig(GameConfig& config);
  // True (and an Info record) when the running executable's file version is
  // newer than the installed executable's; a missing file reads as 0.0.0.0.
  bool NeedUpdate();

  // The three modes. Each runs on the main thread and returns when its work
  // is done; RunInstall reports whether every install step succeeded.
  bool RunInstall();
  void RunUninstall();
  void RunClient();

 private:
  MainControl();
  ~MainControl();
  static void DeleteInstance(void* instance);

  std::wstring target_dir_;
  std::shared_ptr<GameConfig> config_;
  std::shared_ptr<CCommandLine> command_line_;
  std::wstring command_line_text_;
  std::wstring last_run_time_;
  int launched_by_installer_ = 0;
  int page_status_ = 0;
  int web_ready_ = 0;
  std::wstring timestamp_flag_ = L"-1";
  PopTray* pop_tray_ = nullptr;
  MainWindow* main_window_ = nullptr;
  std::shared_ptr<base::SingleThreadTaskRunner> ui_task_runner_;
};
