// Paths of build-tree fixtures as the Windows side sees them.
#pragma once

#include <string>

#include "base/string_util.h"

namespace test_fixtures {

// A Linux path of the build tree, which Wine shows under drive Z:.
inline std::wstring WindowsPath(const std::string& linux_path) {
  std::wstring path = base::Utf8ToWide(linux_path);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path.size() > 0 && path[0] == L'\\' ? L"Z:" + path : path;
}

#ifdef NQ_FIXTURE_DIR
// A fixture module built by tests/utils (nq_fixture_<name>.exe).
inline std::wstring FixtureModule(const std::string& name) {
  return WindowsPath(std::string(NQ_FIXTURE_DIR) + "/nq_fixture_" + name + ".exe");
}
#endif

}  // namespace test_fixtures
