// Product lookups, file versions and the publisher check (the true OS version
// is in telemetry/os_version.h).
// Every lookup fails soft (empty, 0 or false) and logs nothing: callers decide.
// |levels| is how many folders above the executable's folder the product root
// lies (0 for the client).
#pragma once

#include <string>

// True when |path| carries a valid Authenticode signature whose signer is one
// of the accepted publishers.
bool VerifyPublisher(const std::wstring& path);

// The product id whose marker file lies in the product root; 0 when none does.
int DetectProduct(int levels);
// Full path of the product's settings file (its folder is created), or "".
std::wstring GetSettingsFile(int levels);
// The product's registered channel, or "".
std::wstring GetDefaultChannel(int levels);
std::wstring GetAppName(int levels);
std::wstring GetDefaultTemplate(int levels);
// Version text of the product's marker file, or "".
std::wstring GetAppVersion(int levels);

// The version of |path| as four dot-separated numbers; on 32-bit Windows 10
// and later the file's own "FileVersion" string (commas to dots, no spaces)
// when it has one. False, with |version| untouched, without a version block.
bool GetFileVersion(const std::wstring& path, std::wstring* version);

namespace telemetry {

// The rule of GetFileVersion over the facts read from the file:
// |prefer_string| is "Windows 10 or later on a 32-bit system".
std::wstring FileVersionText(bool prefer_string, const std::wstring& version_string, unsigned long ms,
                             unsigned long ls);

}  // namespace telemetry
