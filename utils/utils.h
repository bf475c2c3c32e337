// System utilities: shell, registry, files, processes and versions. Stateless
// free functions; none throws. Paths hold at most MAX_PATH characters.
#pragma once

#include <windows.h>

#include <string>

namespace utils {

// The shell's join of two path parts; with |create| the directory chain is made.
std::wstring CombinePath(const std::wstring& left, const std::wstring& right, bool create);

// Known folders joined with |name|; "" when |create| is set and the directory
// cannot be made.
std::wstring GetAppDataPath(const std::wstring& name, bool create);

}  // namespace utils
