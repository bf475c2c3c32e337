// Entry point: sets up the platform services in a fixed order, runs the one
// MainControl and tears down in reverse. Always returns 0.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <gdiplus.h>

#include "app/app_names.h"
#include "app/main_control.h"
#include "app/resource_ids.h"
#include "base/app_module.h"
#include "base/exit_scope.h"
#include "base/logging.h"
#include "telemetry/statistic.h"

namespace {
// Size cap of the shared log file: 100 MiB.
constexpr int kLogMaxSize = 104857600;
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t* command_line, int) {
  ::CoInitialize(nullptr);
  ::DefWindowProcW(nullptr, 0, 0, 0);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
  base::_Module.Init(instance);

  const std::wstring family = base::LoadResourceString(IDS_FAMILY_NAME);
  const std::wstring game_id = base::LoadResourceString(IDS_GAME_ID);
  if (family.empty() || game_id.empty()) return 0;
  AppNames::GetInstance()->Init(family, game_id);

  {
    base::ExitScope exit_scope;
    LogUtils::GetInstance()->Init(AppNames::GetInstance()->log_path(), L"", 0, 0, kLogMaxSize);

    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR gdiplus_token = 0;
    Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);
    CZovStatisticImpl::GetInstance()->Init(0, L"Quarvel", L"");

    MainControl::GetInstance()->Run(command_line);

    CZovStatisticImpl::GetInstance()->Shutdown();

    Gdiplus::GdiplusShutdown(gdiplus_token);
    base::_Module.Term();
    ::CoUninitialize();
  }
  return 0;
}
