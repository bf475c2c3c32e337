#include "install/archive_path.h"

namespace archive_path {
namespace {

// Windows drops trailing dots and blanks from a path component, so "..." and
// ".. " can end up meaning the parent folder.
bool IsParentLike(std::wstring_view component) {
  if (component.empty() || component == L".") return false;
  return component.find_first_not_of(L". ") == std::wstring_view::npos;
}

}  // namespace

bool MakeRelativePath(std::wstring_view name, std::wstring* relative) {
  if (name.empty()) return false;
  std::wstring path(name);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path[0] == L'\\') return false;
  if (path.find_first_of(std::wstring_view(L":\0", 2)) != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (IsParentLike(std::wstring_view(path).substr(start, end - start))) return false;
    start = end + 1;
  }
  *relative = std::move(path);
  return true;
}

}  // namespace archive_path
