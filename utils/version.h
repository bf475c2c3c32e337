// Four-part version numbers (major.minor.build.revision, each 16 bits) as
// written in file version blocks. Pure code.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace utils {

using VersionParts = std::array<uint16_t, 4>;

// Splits at "." into at most four parts, left to right; each part is read as
// a decimal number (leading blanks and a sign allowed, reading stops at the
// first other character) and kept modulo 65536, so "65537" is 1. Missing parts
// are 0; parts after the fourth are ignored.
VersionParts ParseVersion(std::wstring_view text);

// True when |a| is newer than |b|: the first differing part, in the order
// major, minor, build, revision, decides. Equal versions give false.
bool IsVersionNewer(std::wstring_view a, std::wstring_view b);

}  // namespace utils
