// Deleting files and directory trees, and copying into the temp folder.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <ctime>

#include "utils/utils.h"

namespace utils {
namespace {

// The shell's file operations take at most this many characters of path.
constexpr size_t kShellPathLimit = 4096;

// A FindFirstFileW search; FindClose is not CloseHandle, so it has its own owner.
class ScopedFind {
 public:
  ScopedFind(const std::wstring& pattern, WIN32_FIND_DATAW* data)
      : handle_(::FindFirstFileW(pattern.c_str(), data)) {}
  ~ScopedFind() {
    if (IsValid()) ::FindClose(handle_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;

  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAW* data) { return ::FindNextFileW(handle_, data) != FALSE; }

 private:
  HANDLE handle_;
};

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsLinkedDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool PathExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectoryTree(const std::wstring& dir) {
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  ::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
  return DirectoryExists(dir);
}

bool DeleteFileForce(const std::wstring& path) {
  if (!Exists(path)) return true;
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(path.c_str()) != FALSE;
}

bool DeleteFileOrDefer(const std::wstring& path) {
  if (::DeleteFileW(path.c_str())) return true;
  if (!Exists(path)) return true;
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::DeleteFileW(path.c_str())) return true;
  ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return false;
}

bool DeleteDirectoryTree(const std::wstring& dir) {
  if (dir.empty() || dir.size() >= MAX_PATH) return false;
  const DWORD attributes = ::GetFileAttributesW(dir.c_str());
  // A junction or directory link is removed as a link: entering it would
  // delete files that live outside the tree.
  if (IsLinkedDirectory(attributes)) {
    ::RemoveDirectoryW(dir.c_str());
    return true;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(dir.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  WIN32_FIND_DATAW data = {};
  ScopedFind find(dir + L"\\*", &data);
  for (bool more = find.IsValid(); more; more = find.Next(&data)) {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = dir + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      DeleteDirectoryTree(path);
    } else {
      DeleteFileOrDefer(path);
    }
  }
  ShellDeleteDirectory(dir);
  return true;
}

bool ShellDeleteDirectory(const std::wstring& dir) {
  if (dir.empty() || dir.size() > kShellPathLimit) return false;
  std::wstring from = dir;
  from.push_back(L'\0');  // the list ends with a second terminator
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  ::SHFileOperationW(&operation);
  return true;
}

std::wstring CopyFileToTempDir(const std::wstring& source, const std::wstring& subdir) {
  const std::wstring dir = GetTempSubPath(subdir, true);
  if (dir.empty()) return {};
  const size_t slash = source.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? source : source.substr(slash + 1);
  std::wstring destination;
  if (name.empty()) {
    wchar_t temp_name[MAX_PATH] = {};
    if (!::GetTempFileNameW(dir.c_str(), L"~tm", 0, temp_name)) return {};
    destination = temp_name;
  } else {
    destination = dir + L"\\" + name;
    // Typically a copy from an earlier run that is still running.
    if (Exists(destination) && !DeleteFileForce(destination)) {
      destination += L"-" + std::to_wstring(static_cast<uint32_t>(time(nullptr)));
    }
  }
  if (!::CopyFileW(source.c_str(), destination.c_str(), FALSE)) return {};
  return destination;
}

}  // namespace utils
