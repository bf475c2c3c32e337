// Message digests through the system's hash providers (CNG). Used for the
// machine identifiers, whose formulas are fixed by the values already cached
// on users' machines.
#pragma once

#include <string>
#include <string_view>

namespace telemetry {

// Lowercase hexadecimal digests of |data|; empty when the provider fails.
std::string Md5Hex(std::string_view data);
std::string Sha1Hex(std::string_view data);

// Lowercase hexadecimal text of |size| bytes.
std::string HexLower(const unsigned char* bytes, size_t size);

}  // namespace telemetry
