#include "utils/text_cipher.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "utils/base64.h"
#include "utils/blowfish.h"

namespace utils {
namespace {

// The 33-character key is assembled at run time from pieces instead of being
// stored as one string. Changing any piece makes every configuration file
// already installed unreadable.
constexpr std::string_view kKeyPieces[] = {"Qv7#", "mR2p", "!Lx9", "zT4w", "Nq", "8&Hd",
                                           "3Kc0", "Ys6e", "Gj1"};
constexpr size_t KeyLength() {
  size_t n = 0;
  for (std::string_view piece : kKeyPieces) n += piece.size();
  return n;
}
static_assert(KeyLength() == 33, "the configuration key is 33 characters long");

const Blowfish& Cipher() {
  static const Blowfish cipher = [] {
    std::string key;
    for (std::string_view piece : kKeyPieces) key.append(piece);
    return Blowfish(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  }();
  return cipher;
}

}  // namespace

bool EncryptText(std::string_view plain, std::string* out, bool substitute) {
  if (!out || plain.empty()) return false;
  constexpr size_t kBlock = Blowfish::kBlockSize;
  std::string bytes(plain);
  bytes.resize((bytes.size() + kBlock - 1) / kBlock * kBlock, '\0');
  const Blowfish& cipher = Cipher();
  for (size_t i = 0; i < bytes.size(); i += kBlock) {
    cipher.EncryptBlock(reinterpret_cast<uint8_t*>(&bytes[i]));
  }
  std::string text = Base64Encode(bytes);
  if (substitute) {
    std::replace(text.begin(), text.end(), '/', '&');
    std::replace(text.begin(), text.end(), '=', '@');
  }
  *out = std::move(text);
  return true;
}

bool DecryptText(std::string_view text, std::string* out, bool substitute) {
  if (!out || text.empty()) return false;
  std::string base64(text);
  if (substitute) {
    std::replace(base64.begin(), base64.end(), '&', '/');
    std::replace(base64.begin(), base64.end(), '@', '=');
  }
  std::string bytes;
  if (!Base64Decode(base64, &bytes)) return false;
  constexpr size_t kBlock = Blowfish::kBlockSize;
  if (bytes.empty() || bytes.size() % kBlock != 0) return false;
  const Blowfish& cipher = Cipher();
  for (size_t i = 0; i < bytes.size(); i += kBlock) {
    cipher.DecryptBlock(reinterpret_cast<uint8_t*>(&bytes[i]));
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace utils
