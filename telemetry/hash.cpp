#include "telemetry/hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "base/scoped_handle.h"

namespace telemetry {
namespace {

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::BCryptDestroyHash(h); }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

std::string DigestHex(const wchar_t* algorithm, std::string_view data) {
  base::ScopedHandle<AlgorithmTraits> provider;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(provider.Receive(), algorithm, nullptr, 0))) return {};
  DWORD digest_size = 0;
  ULONG written = 0;
  if (!Succeeded(::BCryptGetProperty(provider.Get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digest_size),
                                     sizeof(digest_size), &written, 0)) ||
      digest_size == 0) {
    return {};
  }
  base::ScopedHandle<HashTraits> hash;
  if (!Succeeded(::BCryptCreateHash(provider.Get(), hash.Receive(), nullptr, 0, nullptr, 0, 0))) return {};
  // BCryptHashData takes a ULONG length; the texts hashed here are short, but
  // feed large inputs in pieces all the same.
  const char* cursor = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ULONG piece = left > 0x40000000u ? 0x40000000u : static_cast<ULONG>(left);
    if (!Succeeded(::BCryptHashData(hash.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(cursor)), piece, 0))) {
      return {};
    }
    cursor += piece;
    left -= piece;
  }
  std::vector<unsigned char> digest(digest_size);
  if (!Succeeded(::BCryptFinishHash(hash.Get(), digest.data(), digest_size, 0))) return {};
  return HexLower(digest.data(), digest.size());
}

}  // namespace

std::string HexLower(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string Md5Hex(std::string_view data) { return DigestHex(BCRYPT_MD5_ALGORITHM, data); }
std::string Sha1Hex(std::string_view data) { return DigestHex(BCRYPT_SHA1_ALGORITHM, data); }

}  // namespace telemetry
