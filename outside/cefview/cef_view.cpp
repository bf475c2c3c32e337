// CefView.exe: the engine's host process. The engine starts it with the id of
// the process it serves ("--parent-pid=<id>") and it lives exactly as long as
// that process, so a crashed client never leaves it behind. Exit codes: 0 when
// the parent ended, 2 for a missing or unusable parent id.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <cwctype>
#include <string>

#include "base/scoped_handle.h"

namespace {

constexpr wchar_t kParentSwitch[] = L"--parent-pid=";
constexpr int kBadArguments = 2;

// The decimal id after the switch, or 0 when absent or not a plain number.
DWORD ParentPid(int argc, wchar_t** argv) {
  const size_t prefix = std::wcslen(kParentSwitch);
  for (int i = 1; i < argc; ++i) {
    if (std::wcsncmp(argv[i], kParentSwitch, prefix) != 0) continue;
    const wchar_t* digits = argv[i] + prefix;
    if (!*digits) return 0;
    unsigned long long value = 0;
    for (const wchar_t* p = digits; *p; ++p) {
      if (!std::iswdigit(*p)) return 0;
      value = value * 10 + static_cast<unsigned>(*p - L'0');
      if (value > 0xFFFFFFFFull) return 0;
    }
    return static_cast<DWORD>(value);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const DWORD pid = argv ? ParentPid(argc, argv) : 0;
  if (argv) ::LocalFree(argv);
  if (pid == 0 || pid == ::GetCurrentProcessId()) return kBadArguments;
  base::ScopedKernelHandle parent(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!parent) return kBadArguments;
  ::WaitForSingleObject(parent.Get(), INFINITE);
  return 0;
}
