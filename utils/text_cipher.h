// The text cipher of the installed game configuration: Blowfish in ECB mode
// under a fixed key, zero fill to whole blocks, then standard Base64. Pure
// code, usable without Windows.
#pragma once

#include <string>
#include <string_view>

namespace utils {

// Format notes:
//  - plain bytes are extended with zero bytes to a multiple of 8 (nothing is
//    added to a length that already is one) and enciphered block by block;
//  - the cipher text is written as Base64; with |substitute| every "/" becomes
//    "&" and every "=" becomes "@", so the text survives where those two
//    characters are special.
// Empty input fails. On failure |out| is left untouched.
bool EncryptText(std::string_view plain, std::string* out, bool substitute);

// The reverse. The output keeps the whole deciphered length, the zero fill
// of the last block included. Fails, leaving |out| untouched, for empty text,
// invalid Base64, or a decoded length that is not a whole number of blocks
// (no text EncryptText wrote has one).
bool DecryptText(std::string_view text, std::string* out, bool substitute);

}  // namespace utils
