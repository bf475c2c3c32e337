#include "telemetry/machine_id.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "base/lock.h"
#include "base/scoped_handle.h"
#include "telemetry/hardware_facts.h"
#include "telemetry/machine_id_rules.h"
#include "telemetry/os_version.h"
#include "utils/utils.h"

namespace {

using telemetry::Mid2Facts;
using telemetry::MidFacts;

// Registry text values of one cache key. The product is a 32-bit program, so
// the 32-bit view is named explicitly: 64-bit builds then share the cache.
class RegistryCache {
 public:
  explicit RegistryCache(const wchar_t* key_path) : key_path_(key_path) {}

  bool Read(const char* name, std::string* value) const {
    base::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path_, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.Receive()) !=
        ERROR_SUCCESS) {
      return false;
    }
    char buffer[512] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - 1;
    if (::RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
      return false;
    }
    *value = std::string(buffer, strnlen(buffer, size));
    return true;
  }

  bool Write(const char* name, const std::string& value) const {
    base::ScopedRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path_, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                          key.Receive(), nullptr) != ERROR_SUCCESS) {
      return false;
    }
    return ::RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }

 private:
  const wchar_t* key_path_;
};

// The processor text for mid, measured once per process.
std::string CachedCpuTextForMid() {
  static _BaseModule::CCriticalSection lock;
  static bool measured = false;
  static std::string text;
  _BaseModule::CAutoLocker guard(lock);
  if (!measured) {
    text = telemetry::CpuTextForMid().substr(0, 127);
    measured = true;
  }
  return text;
}

class SystemMidEnvironment final : public telemetry::MidEnvironment {
 public:
  bool ReadValue(const char* name, std::string* value) override { return cache_.Read(name, value); }
  bool WriteValue(const char* name, const std::string& value) override { return cache_.Write(name, value); }
  void Collect(MidFacts* facts) override {
    facts->cpu = CachedCpuTextForMid();
    facts->disk = telemetry::DiskSerialForMid();
    facts->adapter = telemetry::AdapterAddressForMid();
  }

 private:
  RegistryCache cache_{telemetry::kMidCacheKey};
};

bool IsProcessElevated() {
  if (COSVersionCheck::GetInstance()->VersionNumber() < 60) return true;
  base::ScopedKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return true;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size)) return true;
  return elevation.TokenIsElevated != 0;
}

class SystemMid2Environment final : public telemetry::Mid2Environment {
 public:
  bool IsElevated() override { return IsProcessElevated(); }
  bool ReadValue(const char* name, std::string* value) override { return cache_.Read(name, value); }
  bool WriteValue(const char* name, const std::string& value) override { return cache_.Write(name, value); }
  void Collect(Mid2Facts* facts) override {
    if (facts->adapter.empty()) facts->adapter = telemetry::AdapterAddressForMid2();
    if (facts->disk.empty()) facts->disk = telemetry::DiskTextForMid2();
    if (facts->cpu.empty()) facts->cpu = telemetry::CpuTextForMid2();
  }
  void Pause() override { ::Sleep(500); }
  bool NewGuid(uint8_t guid[16]) override {
    GUID value = {};
    if (FAILED(::CoCreateGuid(&value))) return false;
    std::memcpy(guid, &value, 16);
    return true;
  }

 private:
  RegistryCache cache_{telemetry::kMid2CacheKey};
};

// Copies ANSI |text| into a wide buffer of |length| characters, cut to fit.
void CopyOut(const std::string& text, wchar_t* buffer, int length) {
  std::wstring wide(text.size(), L'\0');
  const int chars = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()),
                                          &wide[0], static_cast<int>(wide.size()));
  wide.resize(chars > 0 ? chars : 0);
  const size_t copied = std::min(wide.size(), static_cast<size_t>(length - 1));
  wide.copy(buffer, copied);
  buffer[copied] = L'\0';
}

// The provider of mid2: a COM-style object created once per process.
class CZovMID2 final : public INewMID {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_INewMID)) {
      *object = static_cast<INewMID*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetMid2(wchar_t* buffer, int length) override {
    if (!buffer || length < 50) return E_INVALIDARG;
    if (!computed_.load(std::memory_order_acquire)) {
      _BaseModule::CAutoLocker guard(lock_);
      if (!computed_.load(std::memory_order_relaxed)) {
        SystemMid2Environment environment;
        const std::string value = telemetry::ResolveMid2(environment);
        std::strncpy(text_, value.c_str(), sizeof(text_) - 1);
        computed_.store(true, std::memory_order_release);
      }
    }
    CopyOut(text_, buffer, length);
    return S_OK;
  }

 private:
  ~CZovMID2() = default;

  std::atomic<long> references_{1};
  _BaseModule::CCriticalSection lock_;
  std::atomic<bool> computed_{false};
  char text_[50] = {};
};

// 0 idle, 1 creating, 2 ready.
std::atomic<long> g_provider_state{0};
CZovMID2* g_provider = nullptr;

CZovMID2* Provider() {
  long expected = 0;
  if (g_provider_state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    g_provider = new CZovMID2();  // the process keeps its reference
    g_provider_state.store(2, std::memory_order_release);
  }
  while (g_provider_state.load(std::memory_order_acquire) != 2) ::Sleep(1);
  return g_provider;
}

}  // namespace

bool GetMid(wchar_t* buffer, int length) {
  if (!buffer || length < 32) return false;
  static _BaseModule::CCriticalSection lock;
  static std::string mid;  // kept for the life of the process once known
  std::string value;
  {
    _BaseModule::CAutoLocker guard(lock);
    if (mid.empty()) {
      SystemMidEnvironment environment;
      mid = telemetry::ResolveMid(environment);
    }
    value = mid;
  }
  if (value.empty()) return false;
  CopyOut(value, buffer, length);
  return true;
}

HRESULT GetMid2(wchar_t* buffer, int length) {
  if (!buffer || length < 50) return E_INVALIDARG;
  base::ComPtr<INewMID> provider;
  Provider()->QueryInterface(IID_INewMID, provider.ReceiveVoid());
  return provider ? provider->GetMid2(buffer, length) : E_FAIL;
}

namespace utils {

std::wstring GetMidText() {
  wchar_t mid[260] = {};
  return GetMid(mid, 260) ? std::wstring(mid) : std::wstring();
}

}  // namespace utils
