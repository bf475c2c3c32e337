// The record that describes the one game this executable serves: identity,
// attribution, web addresses, install options and every installation path.
// Filled on the main thread during start-up; read-only afterwards except
// login_url, which the client extends before its window exists.
#pragma once

#include <string>

namespace Json {
class Value;
}

struct GameConfig {
  std::wstring info_version;
  std::wstring NotCreateDeskIcon = L"1";
  // The JSON texts "IsUserNewKernel" and "IsPackAllCEF"; the underscore keeps
  // them apart from the predicates of the same name.
  std::wstring IsUserNewKernel_ = L"0";
  std::wstring IsPackAllCEF_ = L"0";
  std::wstring pid;
  std::wstring game_id;
  std::wstring game_name;
  std::wstring channel;
  std::wstring from;
  std::wstring subpid;
  std::wstring exe_path;
  std::wstring info_path;
  std::wstring ico_path;
  std::wstring ui_path;
  std::wstring cef_cache_dir;
  std::wstring utils_dir;
  std::wstring install_dir;
  std::wstring data_dir;
  std::wstring game_key;
  std::wstring product_key;
  std::wstring run_after_silence_inst;
  std::wstring desk_link_name;
  std::wstring uninstall_name;
  std::wstring tray_icon_tip;
  std::wstring login_url;
  std::wstring site_url_format;
  std::wstring index_page_url;
  std::wstring kefu_page_url;
  std::wstring charge_url_format;
  std::wstring uninst_open_url;
  std::wstring pop_tray_url;
  std::wstring silence_inst;
  std::wstring install_open_text;
  std::wstring pattern_str;
  std::string json_text;
  int pepflashplayer = 0;
  int install_tray = 0;
  int delay_install_extra_days = 0;
  int install_open_select = 0;
  int startmenu_no_uninst = 0;
  int install_show_close = 0;
  int exit_when_close_playwnd = 0;

  // game_id, game_name and pid from the string resources 126, 123 and 121.
  void LoadStringResources();
  // pid, channel and from from the game's registry key (HKEY_CURRENT_USER,
  // product key of AppNames + "\\" + game_id); value names in any letter case.
  // A missing pid keeps the resource value, a missing channel or from is empty.
  void LoadRegistryValues();
  // Completes channel and from, then sets every path and name derived from
  // the data directory, the product key, game_id and game_name.
  void DerivePaths();

  // Reads every document field from |document| (an object; anything else
  // reads as an empty object), each falling back to its default when absent
  // or of another type; login_url comes from a non-empty "url" switch instead
  // when one was given. json_text becomes the styled form of |document|.
  // Returns IsValid().
  bool FromJson(const Json::Value& document);
  // Reads the installed, enciphered document at |path|. False, with the
  // record possibly changed only by FromJson, when the file cannot be read,
  // deciphered or parsed, or the record is invalid afterwards.
  bool FromJsonFile(const std::wstring& path);
  // Writes json_text enciphered to info_path; true when every byte was written.
  bool SaveToFile() const;

  // info_version, game_id, pid, channel, from, game_name and login_url are all
  // non-empty.
  bool IsValid() const;

  bool CreateDeskIcon() const { return NotCreateDeskIcon != L"1"; }
  bool IsPackAllCEF() const { return IsPackAllCEF_ == L"1"; }
  bool IsUserNewKernel() const { return IsUserNewKernel_ == L"1"; }
};
