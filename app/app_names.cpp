#include "app/app_names.h"

#include "base/lock.h"
#include "utils/utils.h"

namespace {
_BaseModule::CCriticalSection g_creation_lock;
AppNames* g_instance = nullptr;
}  // namespace

AppNames::AppNames() : product_name_(L"Nevaquar") {}

AppNames* AppNames::GetInstance() {
  _BaseModule::CAutoLocker guard(g_creation_lock);
  if (!g_instance) g_instance = new AppNames();
  return g_instance;
}

void AppNames::Init(const std::wstring& family_name, const std::wstring& game_id) {
  (void)game_id;  // the names depend on the family only
  if (family_name.empty()) return;
  family_name_ = family_name;
  data_dir_ = utils::GetAppDataPath(family_name_, false);
  log_path_ = data_dir_ + L"\\" + family_name_ + L".log";
  product_key_ = L"SOFTWARE\\" + family_name_;
  web_window_class_ = family_name_ + L":WebWnd";
  message_box_class_ = family_name_ + L"_MESSAGEBOX";
  tray_message_name_ = L"s_TrayMessage";
}
