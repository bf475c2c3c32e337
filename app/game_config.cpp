#include "app/game_config.h"

#include <json/json.h>

#include <climits>
#include <cstring>
#include <new>

#include "app/app_names.h"
#include "app/main_control.h"
#include "app/resource_ids.h"
#include "base/app_module.h"
#include "base/logging.h"
#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "utils/json_text.h"
#include "utils/utils.h"

namespace {

// Prefix of the uninstall entry's name: "卸载" ("uninstall").
constexpr wchar_t kUninstallPrefix[] = L"\u5378\u8f7d";

const Json::Value& Member(const Json::Value& document, const char* key) {
  if (!document.isObject()) return Json::Value::nullSingleton();
  const Json::Value* value = document.find(key, key + strlen(key));
  return value ? *value : Json::Value::nullSingleton();
}

// Only a JSON string is taken.
std::wstring ReadText(const Json::Value& document, const char* key,
                      const wchar_t* default_value = L"") {
  const Json::Value& value = Member(document, key);
  return value.isString() ? base::Utf8ToWide(value.asString()) : std::wstring(default_value);
}

// A decimal number at the start of |text| as the C library reads one
// (leading blanks and a sign allowed; "yes" and "" read 0); |default_value|
// when it does not fit 32 bits.
int DecimalPrefix(const std::string& text, int default_value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1LL + INT_MAX) return default_value;
  }
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return default_value;
  return static_cast<int>(value);
}

// Integers, reals (truncated), booleans and decimal strings are taken as a
// signed 32-bit number; null, arrays, objects and numbers beyond 32 bits give
// |default_value|.
int ReadInt(const Json::Value& document, const char* key, int default_value) {
  const Json::Value& value = Member(document, key);
  switch (value.type()) {
    case Json::intValue: {
      const Json::Int64 number = value.asInt64();
      return number >= INT_MIN && number <= INT_MAX ? static_cast<int>(number) : default_value;
    }
    case Json::uintValue: {
      const Json::UInt64 number = value.asUInt64();
      return number <= static_cast<Json::UInt64>(INT_MAX) ? static_cast<int>(number)
                                                           : default_value;
    }
    case Json::realValue: {
      const double number = value.asDouble();
      // Bounds one past the range: truncation brings -2147483648.5 into it.
      if (!(number > -2147483649.0 && number < 2147483648.0)) return default_value;
      return static_cast<int>(number);
    }
    case Json::booleanValue:
      return value.asBool() ? 1 : 0;
    case Json::stringValue:
      return DecimalPrefix(value.asString(), default_value);
    default:
      return default_value;
  }
}

// The whole file, opened for reading while others may read or delete it.
bool ReadInstalledFile(const std::wstring& path, std::string* bytes) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  base::ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart >= 0x100000000LL) {
    return false;
  }
  const DWORD length = static_cast<DWORD>(size.QuadPart);
  std::string content;
  try {
    content.resize(length);
  } catch (const std::bad_alloc&) {
    return false;  // far beyond any configuration; a 32-bit process may not hold it
  }
  DWORD read = 0;
  if (length > 0 && (!::ReadFile(file.Get(), content.data(), length, &read, nullptr) ||
                     read != length)) {
    return false;
  }
  *bytes = std::move(content);
  return true;
}

}  // namespace

void GameConfig::LoadStringResources() {
  game_id = base::LoadResourceString(IDS_GAME_ID);
  game_name = base::LoadResourceString(IDS_GAME_NAME);
  pid = base::LoadResourceString(IDS_DEFAULT_PID);
}

void GameConfig::LoadRegistryValues() {
  // Registry value names compare without regard to case, so the installer's
  // "PID", "Channel" and "From" are found here.
  const std::wstring key = AppNames::GetInstance()->product_key() + L"\\" + game_id;
  pid = utils::ReadRegText(HKEY_CURRENT_USER, key, L"pid", pid);
  channel = utils::ReadRegText(HKEY_CURRENT_USER, key, L"channel");
  from = utils::ReadRegText(HKEY_CURRENT_USER, key, L"from");
}

void GameConfig::DerivePaths() {
  if (channel.empty()) channel = pid;
  if (from.empty()) from = channel;
  const AppNames* names = AppNames::GetInstance();
  data_dir = names->data_dir();
  install_dir = data_dir + L"\\" + game_id;
  utils_dir = data_dir + L"\\Utils";
  info_path = install_dir + L"\\" + game_id + L".json";
  exe_path = install_dir + L"\\" + game_id + L".exe";
  ico_path = install_dir + L"\\" + game_id + L".ico";
  ui_path = install_dir + L"\\" + game_id + L".ui";
  cef_cache_dir = data_dir + L"\\cef_cache";
  product_key = names->product_key();
  game_key = product_key + L"\\" + game_id;
  desk_link_name = game_name;
  uninstall_name = kUninstallPrefix + game_name;
  tray_icon_tip = game_name;
}

bool GameConfig::FromJson(const Json::Value& document) {
  std::wstring url;
  MainControl::GetInstance()->command_line()->GetSwitchValue(L"url", url);
  login_url = url.empty() ? ReadText(document, "login_url") : url;
  info_version = ReadText(document, "info_version");
  kefu_page_url = ReadText(document, "kefu_page_url");
  index_page_url = ReadText(document, "index_page_url");
  charge_url_format = ReadText(document, "charge_url_format");
  site_url_format = ReadText(document, "site_url_format");
  uninst_open_url = ReadText(document, "uninst_open_url");
  pop_tray_url = ReadText(document, "pop_tray_url");
  startmenu_no_uninst = ReadInt(document, "startmenu_no_uninst", 0);
  tray_icon_tip = ReadText(document, "tray_icon_tip");
  pattern_str = ReadText(document, "pattern_str");
  silence_inst = ReadText(document, "silence_inst");
  run_after_silence_inst = ReadText(document, "run_after_silence_inst");
  install_tray = ReadInt(document, "install_tray", 0);
  delay_install_extra_days = ReadInt(document, "delay_install_extra_days", 0);
  install_open_text = ReadText(document, "install_open_text");
  install_open_select = ReadInt(document, "install_open_select", 0);
  install_show_close = ReadInt(document, "install_show_close", 1);
  pepflashplayer = ReadInt(document, "pepflashplayer", 0);
  exit_when_close_playwnd = ReadInt(document, "exit_when_close_playwnd", 0);
  NotCreateDeskIcon = ReadText(document, "NotCreateDeskIcon", L"0");
  IsUserNewKernel_ = ReadText(document, "IsUserNewKernel", L"0");
  IsPackAllCEF_ = ReadText(document, "IsPackAllCEF", L"0");
  json_text = utils::StyledJsonText(document);
  return IsValid();
}

bool GameConfig::FromJsonFile(const std::wstring& path) {
  std::string text;
  if (!ReadInstalledFile(path, &text)) {
    LOG(Error) << "GameConfig::FromJsonFile read fail, path" << path;
    return false;
  }
  std::string plain;
  if (!utils::DecryptText(text, &plain, false)) return false;
  // The zero bytes that filled the last cipher block are no part of the JSON.
  const size_t end = plain.find_last_not_of('\0');
  plain.resize(end == std::string::npos ? 0 : end + 1);
  Json::Value document;
  if (!utils::ParseJsonText(plain, &document)) return false;
  return FromJson(document);
}

bool GameConfig::SaveToFile() const {
  std::string text;
  if (!utils::EncryptText(json_text, &text, false)) return false;
  return utils::SaveDataToFile(info_path, text) > 0;
}

bool GameConfig::IsValid() const {
  return !info_version.empty() && !game_id.empty() && !pid.empty() && !channel.empty() &&
         !from.empty() && !game_name.empty() && !login_url.empty();
}
