#include "install/inst_helper.h"

#include <json/json.h>

#include "app/game_config.h"
#include "app/resource_ids.h"
#include "base/logging.h"
#include "utils/json_text.h"
#include "utils/utils.h"

bool InstallHelper::GetGameConfigFromLocal(GameConfig& config) {
  return GetGameConfigFromModule(::GetModuleHandleW(nullptr), config);
}

bool InstallHelper::GetGameConfigFromModule(HMODULE module, GameConfig& config) {
  LOG(Info) << "InstallHelper::GetGameConfigFromLocal";
  std::string bytes;
  if (!utils::LoadResourceData(module, IDR_GAME_CONFIG, L"FILERES", &bytes)) {
    LOG(Error) << "InstallHelper::GetGameConfigFromLocal read resource failed.";
  }
  Json::Value document;
  if (!utils::ParseJsonText(bytes, &document)) {
    LOG(Error) << "InstallHelper::GetGameConfigFromLocal parse json failed.";
  }
  if (!config.FromJson(document)) {
    LOG(Error) << "InstallHelper::GetGameConfigFromLocal parse parse config.";
  }
  return true;
}

bool InstallHelper::IsInKernelDir(const std::wstring& utils_dir, const std::wstring& file_name) {
  for (const wchar_t* kernel : {L"\\cef\\", L"\\cef69\\"}) {
    const std::wstring path = utils_dir + kernel + file_name;
    if (utils::PathExists(path)) return true;
  }
  return false;
}
