// The program path inside a shell "open" command text such as
// "C:\B\b.exe" -osint -url "%1". Pure code.
#pragma once

#include <string>

namespace utils {

// When ".exe" (exact lower case) occurs after the first character, the text
// is cut right after its first occurrence and one leading double quote is
// removed; otherwise the text is returned unchanged.
std::wstring BrowserPathFromCommand(const std::wstring& command);

}  // namespace utils
