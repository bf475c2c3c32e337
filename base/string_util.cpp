#include "base/string_util.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>

namespace base {
namespace {

std::wstring MultiToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToMulti(UINT codePage, std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) { return MultiToWide(CP_UTF8, utf8); }
std::string WideToUtf8(std::wstring_view wide) { return WideToMulti(CP_UTF8, wide); }
std::string WideToAnsi(std::wstring_view wide) { return WideToMulti(CP_ACP, wide); }
std::wstring AnsiToWide(std::string_view ansi) { return MultiToWide(CP_ACP, ansi); }

std::wstring StrPrintf(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  va_list probe;
  va_copy(probe, args);
  int n = _vscwprintf(format, probe);
  va_end(probe);
  std::wstring out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    _vsnwprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::wstring ToLowerW(std::wstring_view text) {
  std::wstring out(text);
  if (!out.empty()) ::CharLowerBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

}  // namespace base
