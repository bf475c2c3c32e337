#include "utils/browser_command.h"

namespace utils {

std::wstring BrowserPathFromCommand(const std::wstring& command) {
  const size_t exe = command.find(L".exe");
  if (exe == std::wstring::npos || exe == 0) return command;
  std::wstring path = command.substr(0, exe + 4);
  if (path[0] == L'"') path.erase(0, 1);
  return path;
}

}  // namespace utils
