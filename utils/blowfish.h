// The Blowfish block cipher: the standard key schedule over the pi tables,
// 64-bit blocks whose two 32-bit halves are read and written big-endian.
// Pure code: no platform calls, no state shared between instances.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace utils {

class Blowfish {
 public:
  static constexpr size_t kBlockSize = 8;
  // Key lengths the key schedule accepts: 1 to 56 bytes (32 to 448 bits in the
  // published definition; shorter keys are cycled like any other).
  static constexpr size_t kMaxKeySize = 56;

  // An empty or over-long key leaves the instance unkeyed: IsKeyed() is false
  // and the block functions do nothing.
  Blowfish(const uint8_t* key, size_t key_size);

  bool IsKeyed() const { return keyed_; }

  // Enciphers or deciphers one 8-byte block in place.
  void EncryptBlock(uint8_t block[kBlockSize]) const;
  void DecryptBlock(uint8_t block[kBlockSize]) const;

  static constexpr size_t kRounds = 16;
  static constexpr size_t kPiWordCount = kRounds + 2 + 4 * 256;
  // The initial P-array followed by the four S-boxes (blowfish_tables.cpp).
  static const uint32_t kPiWords[kPiWordCount];

 private:
  uint32_t F(uint32_t x) const;
  void Encrypt(uint32_t& left, uint32_t& right) const;
  void Decrypt(uint32_t& left, uint32_t& right) const;

  std::array<uint32_t, kRounds + 2> p_{};
  std::array<std::array<uint32_t, 256>, 4> s_{};
  bool keyed_ = false;
};

}  // namespace utils
