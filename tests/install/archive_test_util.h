// Fixture access for the archive tests: the archives and their source files
// made at build time by make_archive_fixtures.py under NQ_ARCHIVE_FIXTURES.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/string_util.h"
#include "tests/support/test_support.h"
#include "tests/utils/fixture_path.h"

namespace archive_test {

inline std::wstring Fixture(const std::string& name) {
  return test_fixtures::WindowsPath(std::string(NQ_ARCHIVE_FIXTURES) + "/" + name);
}

// The bytes an archive member was made from.
inline std::string SourceBytes(const std::string& name) {
  return test_support::ReadFileBytes(Fixture("src/" + name));
}

// The names in |dir|, sorted; empty when it does not exist.
inline std::vector<std::wstring> ListFolder(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

inline bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string Narrow(const std::wstring& text) { return base::WideToUtf8(text); }

}  // namespace archive_test
