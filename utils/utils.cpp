// Paths, known folders, registry text, versions, time, random numbers,
// resources and whole-file writes.
#include "utils/utils.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/scoped_handle.h"
#include "base/string_util.h"

namespace utils {
namespace {

std::wstring KnownFolderPath(int csidl, const std::wstring& name, bool create) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
  return CombinePath(folder, name, create);
}

// Registry reads go through a buffer of this many bytes: a longer value is
// treated as unreadable rather than returned cut.
constexpr DWORD kRegReadBufferBytes = 1024;

// The version block is read into a buffer of this size; a bigger block is
// refused.
constexpr DWORD kMaxVersionBlockBytes = 8191;

}  // namespace

std::wstring CombinePath(const std::wstring& left, const std::wstring& right, bool create) {
  wchar_t joined[MAX_PATH] = {};
  if (!::PathCombineW(joined, left.c_str(), right.c_str())) return {};
  std::wstring path = joined;
  if (create) {
    ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    if (!::PathIsDirectoryW(path.c_str())) return {};
  }
  return path;
}

std::wstring GetAppDataPath(const std::wstring& name, bool create) {
  return KnownFolderPath(CSIDL_APPDATA, name, create);
}

std::wstring GetDesktopPath(const std::wstring& name, bool create) {
  return KnownFolderPath(CSIDL_DESKTOPDIRECTORY, name, create);
}

std::wstring GetProgramsPath(const std::wstring& name, bool create) {
  return KnownFolderPath(CSIDL_PROGRAMS, name, create);
}

std::wstring GetTempSubPath(const std::wstring& name, bool create) {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return {};
  return CombinePath(temp, name, create);
}

std::wstring GetModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // cut: the path is longer than the buffer
  }
}

std::wstring GetModuleDir(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return GetDirOfPath(path);
}

std::wstring GetModuleDirPath(HMODULE module, const std::wstring& name, bool create) {
  const std::wstring dir = GetModuleDir(module);
  if (dir.empty()) return {};
  return CombinePath(dir, name, create);
}

std::wstring GetDirOfPath(const std::wstring& path) {
  if (path.size() >= MAX_PATH) return {};
  wchar_t buffer[MAX_PATH] = {};
  path.copy(buffer, path.size());
  ::PathRemoveFileSpecW(buffer);
  return buffer;
}

std::wstring ReadRegText(HKEY root, const std::wstring& subkey, const std::wstring& value_name,
                         const std::wstring& default_value) {
  if (!root || subkey.empty() || value_name.empty()) return default_value;
  base::ScopedRegKey key;
  if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
    return default_value;
  }
  wchar_t buffer[kRegReadBufferBytes / sizeof(wchar_t)] = {};
  DWORD type = 0;
  DWORD bytes = kRegReadBufferBytes;
  if (::RegQueryValueExW(key.Get(), value_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS) {
    return default_value;
  }
  // Anything but text would come back as garbage characters.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return default_value;
  // Writers may or may not count the terminator.
  std::wstring text(buffer, bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

bool WriteRegText(HKEY root, const std::wstring& subkey, const std::wstring& value_name,
                  const std::wstring& text) {
  if (!root || subkey.empty() || value_name.empty()) return false;
  base::ScopedRegKey key;
  if (::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  return ::RegSetValueExW(key.Get(), value_name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

bool GetFileVersionNumbers(const std::wstring& path, DWORD* ms, DWORD* ls, std::wstring* text,
                           bool file_version) {
  if (path.empty()) return false;
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0 || size > kMaxVersionBlockBytes) return false;
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT info_size = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &info_size) ||
      !info || info_size < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != VS_FFI_SIGNATURE) {
    return false;
  }
  const DWORD high = file_version ? info->dwFileVersionMS : info->dwProductVersionMS;
  const DWORD low = file_version ? info->dwFileVersionLS : info->dwProductVersionLS;
  if (ms) *ms = high;
  if (ls) *ls = low;
  if (text) {
    wchar_t buffer[MAX_PATH] = {};
    _snwprintf(buffer, MAX_PATH - 1, L"%d.%d.%d.%d", HIWORD(high), LOWORD(high), HIWORD(low),
               LOWORD(low));
    *text = buffer;
  }
  return true;
}

std::wstring GetFileVersionText(const std::wstring& path) {
  std::wstring text;
  if (!GetFileVersionNumbers(path, nullptr, nullptr, &text, true)) return {};
  return text;
}

std::wstring GetNowText() {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  char buffer[64] = {};
  snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth,
           now.wDay, now.wHour, now.wMinute, now.wSecond);
  return base::AnsiToWide(buffer);
}

int RandomInRange(int low, int high) {
  constexpr double kRandRange = 32768.0;  // the C library draws 0..32767
  rand();
  rand();
  const int draws = static_cast<int>(rand() / kRandRange * 99 + 1);
  const double span = static_cast<double>(high) - static_cast<double>(low);
  int result = low;
  for (int i = 0; i < draws; ++i) {
    result = static_cast<int>(rand() / kRandRange * span + low);
  }
  return result;
}

bool LoadResourceData(HMODULE module, int id, const wchar_t* type, std::string* out) {
  if (!type || !out) return false;
  HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!info) return false;
  const DWORD size = ::SizeofResource(module, info);
  HGLOBAL loaded = ::LoadResource(module, info);  // module memory: never freed
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data || size == 0) return false;
  out->assign(static_cast<const char*>(data), size);
  return true;
}

int64_t SaveDataToFile(const std::wstring& path, const std::string& bytes) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return -static_cast<int64_t>(errno);
  const size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = fclose(file) == 0;  // the last bytes reach the disk here
  if (!closed || written != bytes.size()) return 0;
  return static_cast<int64_t>(written);
}

}  // namespace utils
