#include "utils/base64.h"

#include <cstdint>
#include <utility>

namespace utils {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                           (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                           uint32_t{static_cast<uint8_t>(bytes[i + 2])};
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += kAlphabet[(group >> 6) & 63];
    out += kAlphabet[group & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
    if (rest == 2) group |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string* out) {
  if (!out || text.size() % 4 != 0) return false;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') {
    padding = text[text.size() - 2] == '=' ? 2 : 1;
  }

  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    uint32_t group = 0;
    for (size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      int sextet = SextetOf(c);
      if (sextet < 0) {
        // "=" is only valid as the padding of the final group.
        if (c != '=' || !last || j < 4 - padding) return false;
        sextet = 0;
      }
      group = (group << 6) | static_cast<uint32_t>(sextet);
    }
    bytes += static_cast<char>(group >> 16);
    if (!last || padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (!last || padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace utils
