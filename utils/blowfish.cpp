#include "utils/blowfish.h"

#include <utility>

namespace utils {
namespace {

uint32_t LoadBigEndian(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

void StoreBigEndian(uint32_t value, uint8_t* bytes) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

}  // namespace

Blowfish::Blowfish(const uint8_t* key, size_t key_size) {
  if (!key || key_size == 0 || key_size > kMaxKeySize) return;

  const uint32_t* pi = kPiWords;
  for (auto& word : p_) word = *pi++;
  for (auto& box : s_) {
    for (auto& word : box) word = *pi++;
  }

  // Format note: the key bytes, repeated cyclically, are XORed into the
  // P-array 32 bits at a time, most significant byte first.
  size_t k = 0;
  for (auto& word : p_) {
    uint32_t data = 0;
    for (int i = 0; i < 4; ++i) {
      data = (data << 8) | key[k];
      k = (k + 1) % key_size;
    }
    word ^= data;
  }

  // Then the all-zero block is enciphered repeatedly, each output replacing
  // the next two entries of P and then of the S-boxes, in order.
  uint32_t left = 0;
  uint32_t right = 0;
  for (size_t i = 0; i < p_.size(); i += 2) {
    Encrypt(left, right);
    p_[i] = left;
    p_[i + 1] = right;
  }
  for (auto& box : s_) {
    for (size_t i = 0; i < box.size(); i += 2) {
      Encrypt(left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
  keyed_ = true;
}

uint32_t Blowfish::F(uint32_t x) const {
  const uint32_t a = s_[0][x >> 24];
  const uint32_t b = s_[1][(x >> 16) & 0xFF];
  const uint32_t c = s_[2][(x >> 8) & 0xFF];
  const uint32_t d = s_[3][x & 0xFF];
  return ((a + b) ^ c) + d;
}

void Blowfish::Encrypt(uint32_t& left, uint32_t& right) const {
  for (size_t i = 0; i < kRounds; ++i) {
    left ^= p_[i];
    right ^= F(left);
    std::swap(left, right);
  }
  std::swap(left, right);
  right ^= p_[kRounds];
  left ^= p_[kRounds + 1];
}

void Blowfish::Decrypt(uint32_t& left, uint32_t& right) const {
  for (size_t i = kRounds + 1; i > 1; --i) {
    left ^= p_[i];
    right ^= F(left);
    std::swap(left, right);
  }
  std::swap(left, right);
  right ^= p_[1];
  left ^= p_[0];
}

void Blowfish::EncryptBlock(uint8_t block[kBlockSize]) const {
  if (!keyed_) return;
  uint32_t left = LoadBigEndian(block);
  uint32_t right = LoadBigEndian(block + 4);
  Encrypt(left, right);
  StoreBigEndian(left, block);
  StoreBigEndian(right, block + 4);
}

void Blowfish::DecryptBlock(uint8_t block[kBlockSize]) const {
  if (!keyed_) return;
  uint32_t left = LoadBigEndian(block);
  uint32_t right = LoadBigEndian(block + 4);
  Decrypt(left, right);
  StoreBigEndian(left, block);
  StoreBigEndian(right, block + 4);
}

}  // namespace utils
