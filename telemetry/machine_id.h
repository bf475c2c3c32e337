// The two machine identifiers. mid: 32 hex digits, the MD5 of hardware facts.
// mid2: 44 characters, an SHA-1 (or random) body with a kind byte and a check
// byte. Both are cached under HKEY_LOCAL_MACHINE, shared with the maker's
// other products, and computed at most once per process. Safe from any
// thread; nothing is logged.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

// Copies mid into |buffer| (at most |length| - 1 characters and a NUL). False
// for a missing buffer or a length below 32.
bool GetMid(wchar_t* buffer, int length);

// Copies mid2 into |buffer|. E_INVALIDARG for a missing buffer or a length
// below 50.
HRESULT GetMid2(wchar_t* buffer, int length);

// {6C1D5E0B-7A44-4F51-9C7E-2E8B1D9A0F36}
inline constexpr IID IID_INewMID = {0x6c1d5e0b, 0x7a44, 0x4f51, {0x9c, 0x7e, 0x2e, 0x8b, 0x1d, 0x9a, 0x0f, 0x36}};

// The mid2 provider's interface.
struct INewMID : public IUnknown {
  // Computes mid2 once per provider and copies it (same contract as GetMid2).
  virtual HRESULT STDMETHODCALLTYPE GetMid2(wchar_t* buffer, int length) = 0;
};

// The registry keys of the caches (HKEY_LOCAL_MACHINE, 32-bit view).
namespace telemetry {
inline constexpr wchar_t kMidCacheKey[] = L"SOFTWARE\\ZovSoft\\Updater";
inline constexpr wchar_t kMid2CacheKey[] = L"SOFTWARE\\ZovSoft\\Shared";
}  // namespace telemetry
