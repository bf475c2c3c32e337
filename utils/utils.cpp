#include "utils/utils.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace utils {
namespace {

std::wstring KnownFolderPath(int csidl, const std::wstring& name, bool create) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
  return CombinePath(folder, name, create);
}

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

}  // namespace utils
