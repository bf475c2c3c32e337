// JSON text in and out through jsoncpp, with its exceptions kept inside.
#pragma once

#include <string>
#include <string_view>

namespace Json {
class Value;
}

namespace utils {

// Parses a UTF-8 JSON text (comments allowed, text after the root value
// ignored). False, with |out| untouched, for malformed or too deeply nested
// text.
bool ParseJsonText(std::string_view text, Json::Value* out);

// jsoncpp's styled form: three-space indentation, one member per line,
// members in ascending key order, a final line break.
std::string StyledJsonText(const Json::Value& value);

}  // namespace utils
