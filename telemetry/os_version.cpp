#include "telemetry/os_version.h"

#include <string>
#include <vector>

namespace {

using RtlGetVersionFunc = LONG(WINAPI*)(OSVERSIONINFOEXW*);

bool IsWow64() {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

DWORD Number(DWORD major, DWORD minor) { return major * 10 + minor; }

// The file version of the kernel image, read as data.
bool KernelFileVersion(DWORD* ms, DWORD* ls) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  // A 32-bit process on 64-bit Windows reaches the native System32 only
  // through SysNative.
  const std::wstring path = std::wstring(windows) + (IsWow64() ? L"\\SysNative" : L"\\System32") + L"\\ntoskrnl.exe";
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || !fixed ||
      fixed_size < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  *ms = fixed->dwFileVersionMS;
  *ls = fixed->dwFileVersionLS;
  return true;
}

}  // namespace

COSVersionCheck* COSVersionCheck::GetInstance() {
  static COSVersionCheck* instance = new COSVersionCheck();  // lives until the process ends
  return instance;
}

COSVersionCheck::COSVersionCheck() {
  version_.dwOSVersionInfoSize = sizeof(version_);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version_));
#pragma GCC diagnostic pop
  // Windows XP / Server 2003 x64 running this 32-bit process: nothing to fix.
  if (version_.dwMajorVersion == 5 && IsWow64()) return;

  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto rtl_get_version =
      ntdll ? reinterpret_cast<RtlGetVersionFunc>(::GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
  if (rtl_get_version) {
    OSVERSIONINFOEXW kernel = {};
    kernel.dwOSVersionInfoSize = sizeof(kernel);
    if (rtl_get_version(&kernel) == 0 &&
        Number(kernel.dwMajorVersion, kernel.dwMinorVersion) >
            Number(version_.dwMajorVersion, version_.dwMinorVersion)) {
      version_ = kernel;
    }
  }

  DWORD ms = 0, ls = 0;
  if (KernelFileVersion(&ms, &ls) &&
      Number(HIWORD(ms), LOWORD(ms)) > Number(version_.dwMajorVersion, version_.dwMinorVersion)) {
    version_.dwMajorVersion = HIWORD(ms);
    version_.dwMinorVersion = LOWORD(ms);
    version_.dwBuildNumber = HIWORD(ls);
    corrected_ = true;
  }
}

void COSVersionCheck::GetVersion(OSVERSIONINFOEXW* record) const {
  if (!record) return;
  record->dwMajorVersion = version_.dwMajorVersion;
  record->dwMinorVersion = version_.dwMinorVersion;
  record->dwBuildNumber = version_.dwBuildNumber;
  record->dwPlatformId = version_.dwPlatformId;
}
