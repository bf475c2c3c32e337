#include "tests/support/test_support.h"

#include <shellapi.h>

#include <atomic>
#include <map>

#include "base/string_util.h"
#include "utils/utils.h"

namespace test_support {
namespace {

std::map<std::string, ChildMain>& Children() {
  static std::map<std::string, ChildMain> children;
  return children;
}

std::vector<std::wstring>& CreatedDirs() {
  static std::vector<std::wstring> dirs;
  return dirs;
}

void RemoveTree(const std::wstring& dir) {
  std::wstring from = dir + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
  ::SHFileOperationW(&op);
}

struct Cleanup {
  Cleanup() { CreatedDirs(); }  // constructed first, so destroyed after us
  ~Cleanup() {
    for (const auto& dir : CreatedDirs()) RemoveTree(dir);
  }
} g_cleanup;

}  // namespace

std::wstring MakeTempDir(const std::wstring& tag) {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring dir = base::StrPrintf(L"%lsnq_%ls_%lu_%d", temp, tag.c_str(),
                                     ::GetCurrentProcessId(), counter++);
  RemoveTree(dir);
  ::CreateDirectoryW(dir.c_str(), nullptr);
  CreatedDirs().push_back(dir);
  return dir;
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buf[65536];
  DWORD got = 0;
  while (::ReadFile(file, buf, sizeof(buf), &got, nullptr) && got > 0) bytes.append(buf, got);
  ::CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

bool RegisterChild(const char* name, ChildMain main) {
  Children()[name] = main;
  return true;
}

HANDLE StartChild(const std::string& name, const std::wstring& args) {
  std::wstring commandLine = L"\"" + SelfPath() + L"\" --child=" + base::Utf8ToWide(name) + L" " + args;
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
    return nullptr;
  }
  ::CloseHandle(pi.hThread);
  return pi.hProcess;
}

int RunChild(const std::string& name, const std::wstring& args) {
  HANDLE process = StartChild(name, args);
  if (!process) return -1;
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return static_cast<int>(code);
}

bool DispatchChild(int argc, wchar_t** argv, int* exit_code) {
  if (argc < 2) return false;
  std::wstring first = argv[1];
  const std::wstring prefix = L"--child=";
  if (first.compare(0, prefix.size(), prefix) != 0) return false;
  auto it = Children().find(base::WideToUtf8(first.substr(prefix.size())));
  if (it == Children().end()) {
    *exit_code = 97;
    return true;
  }
  std::vector<std::wstring> args(argv + 2, argv + argc);
  *exit_code = it->second(args);
  return true;
}

}  // namespace test_support
