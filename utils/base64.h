// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). Pure code.
#pragma once

#include <string>
#include <string_view>

namespace utils {

std::string Base64Encode(std::string_view bytes);

// Strict: the length must be a multiple of 4, every character from the
// alphabet, and "=" only as one or two final padding characters. On failure
// |out| is left untouched.
bool Base64Decode(std::string_view text, std::string* out);

}  // namespace utils
