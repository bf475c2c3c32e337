#include "utils/json_text.h"

#include <json/json.h>

#include <exception>
#include <memory>

namespace utils {

bool ParseJsonText(std::string_view text, Json::Value* out) {
  if (!out) return false;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  try {
    // jsoncpp throws when the nesting passes its stack limit.
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return false;
  } catch (const std::exception&) {
    return false;
  }
  *out = std::move(value);
  return true;
}

std::string StyledJsonText(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

}  // namespace utils
