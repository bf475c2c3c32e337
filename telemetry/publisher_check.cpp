// VerifyPublisher: the Authenticode check made before an outside library is
// loaded or an installed runtime file is trusted.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <string>

#include "telemetry/os_version.h"
#include "telemetry/product_info.h"
#include "telemetry/product_tables.h"

namespace {

// The signer's display name is read into at most 510 characters.
constexpr DWORD kMaxNameChars = 510;

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsAcceptedResult(LONG result) {
  // An expired signing certificate is accepted: files signed years ago stay
  // loadable.
  return result == ERROR_SUCCESS || result == static_cast<LONG>(CERT_E_EXPIRED);
}

// Owns the verification state of one WinVerifyTrust call and releases it in
// every case.
class TrustVerification {
 public:
  explicit TrustVerification(const std::wstring& path) {
    file_.cbStruct = sizeof(file_);
    file_.pcwszFilePath = path.c_str();
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
  }
  ~TrustVerification() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  LONG Verify() {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }

  // The first signer of the verified file, or null.
  CRYPT_PROVIDER_SGNR* FirstSigner() const {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
    return provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  }

 private:
  WINTRUST_FILE_INFO file_ = {};
  WINTRUST_DATA data_ = {};
};

// Some WinVerifyTrust implementations skip the chain check for leaves whose
// own signature uses SHA-256, which lets a self-signed certificate carrying an
// accepted name through. The Authenticode chain policy on the signer's chain
// is the check Windows' own verification makes; it is repeated here.
bool ChainPolicyAccepts(const CRYPT_PROVIDER_SGNR* signer) {
  if (!signer || !signer->pChainContext) return false;
  CERT_CHAIN_POLICY_PARA para = {};
  para.cbSize = sizeof(para);
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &para,
                                          &status)) {
    return false;
  }
  return IsAcceptedResult(static_cast<LONG>(status.dwError));
}

std::wstring SignerDisplayName(CRYPT_PROVIDER_SGNR* signer) {
  CRYPT_PROVIDER_CERT* cert = signer ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (!cert || !cert->pCert) return std::wstring();
  wchar_t name[kMaxNameChars + 1] = {};
  const DWORD length =
      ::CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, kMaxNameChars + 1);
  return length > 1 ? std::wstring(name) : std::wstring();
}

}  // namespace

bool VerifyPublisher(const std::wstring& path) {
  if (path.empty() || !IsFile(path)) return false;
  // Windows before Vista passes unchecked.
  if (COSVersionCheck::GetInstance()->VersionNumber() < 60) return true;

  TrustVerification verification(path);
  if (!IsAcceptedResult(verification.Verify())) return false;
  CRYPT_PROVIDER_SGNR* signer = verification.FirstSigner();
  if (!ChainPolicyAccepts(signer)) return false;
  return telemetry::IsAcceptedPublisher(SignerDisplayName(signer));
}
