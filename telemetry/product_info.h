// Product lookups, file versions, the true OS version and the publisher check.
#pragma once

#include <string>

// True when |path| carries a valid Authenticode signature whose signer is one
// of the accepted publishers.
bool VerifyPublisher(const std::wstring& path);
