// Processes and the shell: relaunching from the temp folder, ending the
// processes of a directory, starting programs and the browser.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "base/logging.h"
#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "utils/browser_command.h"
#include "utils/utils.h"

namespace utils {
namespace {

// The temp subfolder the uninstaller runs from; its name also tells a copy
// that it already runs there.
constexpr wchar_t kRunTempDirName[] = L"__QuarvelTemp__";

// Room for this many process ids per scan.
constexpr DWORD kMaxProcessIds = 1024;

// The association text is read into 720 bytes.
constexpr DWORD kAssocBufferChars = 720 / sizeof(wchar_t);

// The quoted program path handed to the shell.
constexpr size_t kQuotedPathLimit = 1023;

bool ShellStartSucceeded(HINSTANCE result) {
  return reinterpret_cast<INT_PTR>(result) > 32;
}

void EnableDebugPrivilege() {
  base::ScopedKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.Receive())) {
    return;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) return;
  ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
}

// Lower-cased path of the first module of |process_id|, or "".
std::wstring ProcessImagePath(DWORD process_id) {
  base::ScopedKernelHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  if (!process) return {};
  HMODULE first_module = nullptr;
  DWORD needed = 0;
  if (!::EnumProcessModules(process.Get(), &first_module, sizeof(first_module), &needed)) return {};
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameExW(process.Get(), first_module, path, MAX_PATH);
  if (n == 0) return {};
  return base::ToLowerW(std::wstring(path, n));
}

}  // namespace

bool EnsureRunTempDir(const std::wstring& base_name, const std::wstring& args) {
  const std::wstring dir = GetModuleDir();
  const size_t marker = dir.find(kRunTempDirName);
  if (marker != std::wstring::npos && marker > 0) return true;

  const std::wstring copy = CopyFileToTempDir(dir + L"\\" + base_name + L".exe", kRunTempDirName);
  if (copy.empty()) {
    LOG(Error) << "InstallHelper::EnsureRunTempDir, copy to temp path failed.";
    return true;
  }
  const std::wstring copy_args = args + L" /target_dir=\"" + dir + L"\" /S";
  const std::wstring copy_dir = GetDirOfPath(copy);
  HINSTANCE started = ::ShellExecuteW(nullptr, L"open", copy.c_str(), copy_args.c_str(),
                                      copy_dir.c_str(), SW_SHOW);
  // Ending now although no copy runs would leave the work undone.
  if (!ShellStartSucceeded(started)) {
    LOG(Error) << "InstallHelper::EnsureRunTempDir, start temp copy failed." << copy;
    return true;
  }
  return false;
}

bool KillRelatedProcess(const std::wstring& dir) {
  const std::wstring prefix = base::ToLowerW(dir);
  if (prefix.size() < 4 || prefix.size() > MAX_PATH) return false;
  EnableDebugPrivilege();

  DWORD ids[kMaxProcessIds] = {};
  DWORD bytes = 0;
  if (!::EnumProcesses(ids, sizeof(ids), &bytes)) return false;
  const DWORD self = ::GetCurrentProcessId();
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    if (ids[i] == self) continue;
    const std::wstring path = ProcessImagePath(ids[i]);
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    base::ScopedKernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, ids[i]));
    if (!process) continue;
    LOG(Debug) << "KillRelatedProcess, kill: " << path;
    ::TerminateProcess(process.Get(), 0);
  }
  return true;
}

bool OpenUrlInBrowser(const std::wstring& url) {
  wchar_t command[kAssocBufferChars] = {};
  DWORD chars = kAssocBufferChars;
  if (FAILED(::AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_COMMAND, L"http", L"open", command,
                                 &chars))) {
    chars = kAssocBufferChars;
    command[0] = L'\0';
    if (FAILED(::AssocQueryStringW(ASSOCF_OPEN_BYEXENAME, ASSOCSTR_EXECUTABLE, L"iexplore.exe",
                                   nullptr, command, &chars))) {
      return false;
    }
  }
  const std::wstring program = BrowserPathFromCommand(command);
  HINSTANCE started =
      ::ShellExecuteW(nullptr, L"open", program.c_str(), url.c_str(), nullptr, SW_SHOWNORMAL);
  if (!ShellStartSucceeded(started)) ShellRun(program, url, SW_SHOWNORMAL, false);
  return true;
}

bool ShellRun(const std::wstring& path, const std::wstring& params, int show, bool wait,
              DWORD* exit_code) {
  if (path.empty() || path.size() > MAX_PATH) return false;
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  const std::wstring quoted = L"\"" + path + L"\"";
  if (quoted.size() > kQuotedPathLimit) return false;

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = quoted.c_str();
  info.lpParameters = params.empty() ? nullptr : params.c_str();
  info.nShow = show;
  if (!::ShellExecuteExW(&info)) return false;
  base::ScopedKernelHandle process(info.hProcess);  // null when the shell used DDE
  if (process && wait) ::WaitForSingleObject(process.Get(), INFINITE);
  if (process && exit_code) ::GetExitCodeProcess(process.Get(), exit_code);
  return true;
}

}  // namespace utils
