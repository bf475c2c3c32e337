// Text conversions at the Windows boundary: UTF-16 inside, UTF-8 for JSON and
// HTTP, the ANSI code page for the log file.
#pragma once

#include <string>
#include <string_view>

namespace base {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// Characters the ANSI code page cannot hold become its default character.
std::string WideToAnsi(std::wstring_view wide);
std::wstring AnsiToWide(std::string_view ansi);

// printf-style formatting into a wide string (no length limit).
std::wstring StrPrintf(const wchar_t* format, ...);

// Lower-cases with the system's locale-independent rules.
std::wstring ToLowerW(std::wstring_view text);

}  // namespace base
