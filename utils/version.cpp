#include "utils/version.h"

namespace utils {
namespace {

// Reads like the C library's decimal conversion, but keeps the value in 16
// bits by wrapping instead of overflowing.
uint16_t ParsePart(std::wstring_view part) {
  size_t i = 0;
  while (i < part.size() && (part[i] == L' ' || part[i] == L'\t')) ++i;
  bool negative = false;
  if (i < part.size() && (part[i] == L'+' || part[i] == L'-')) negative = part[i++] == L'-';
  uint32_t value = 0;
  for (; i < part.size() && part[i] >= L'0' && part[i] <= L'9'; ++i) {
    value = (value * 10 + static_cast<uint32_t>(part[i] - L'0')) & 0xFFFF;
  }
  if (negative) value = (0x10000 - value) & 0xFFFF;
  return static_cast<uint16_t>(value);
}

}  // namespace

VersionParts ParseVersion(std::wstring_view text) {
  VersionParts parts = {0, 0, 0, 0};
  size_t start = 0;
  for (size_t index = 0; index < parts.size() && start <= text.size(); ++index) {
    size_t dot = text.find(L'.', start);
    if (dot == std::wstring_view::npos) dot = text.size();
    parts[index] = ParsePart(text.substr(start, dot - start));
    start = dot + 1;
  }
  return parts;
}

bool IsVersionNewer(std::wstring_view a, std::wstring_view b) {
  const VersionParts left = ParseVersion(a);
  const VersionParts right = ParseVersion(b);
  for (size_t i = 0; i < left.size(); ++i) {
    if (left[i] != right[i]) return left[i] > right[i];
  }
  return false;
}

}  // namespace utils
