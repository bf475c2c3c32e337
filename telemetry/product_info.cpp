#include "telemetry/product_info.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "telemetry/os_version.h"
#include "telemetry/product_tables.h"

namespace {

using telemetry::FindProduct;
using telemetry::ProductRow;

// Channel values are at most 260 characters.
constexpr DWORD kMaxChannelChars = 260;

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
  return std::wstring();
}

// The executable's folder with |levels| more folders removed.
std::wstring ProductRoot(int levels) {
  std::wstring root = ExecutablePath();
  for (int i = 0; i <= levels && !root.empty(); ++i) {
    const size_t slash = root.find_last_of(L'\\');
    root = slash == std::wstring::npos ? std::wstring() : root.substr(0, slash);
  }
  return root;
}

std::wstring JoinPath(const std::wstring& left, const std::wstring& right) {
  if (left.empty()) return right;
  return left.back() == L'\\' ? left + right : left + L'\\' + right;
}

std::wstring RoamingAppData() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
  return path;
}

bool ContainsIgnoreCase(const std::wstring& text, const std::wstring& part) {
  if (part.empty()) return false;
  return base::ToLowerW(text).find(base::ToLowerW(part)) != std::wstring::npos;
}

// A string or expandable-string value of at most 260 characters; a stored
// terminator may follow, a missing one is supplied.
bool ReadChannelValue(HKEY root, const std::wstring& key_path, const wchar_t* name, REGSAM view,
                      std::wstring* value) {
  base::ScopedRegKey key;
  if (::RegOpenKeyExW(root, key_path.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) return false;
  wchar_t buffer[kMaxChannelChars + 2] = {};
  DWORD type = 0;
  DWORD size = (kMaxChannelChars + 1) * sizeof(wchar_t);
  if (::RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  const DWORD chars = size / sizeof(wchar_t);
  if (chars == kMaxChannelChars + 1 && buffer[kMaxChannelChars] != L'\0') return false;
  buffer[chars] = L'\0';
  *value = buffer;
  return true;
}

bool ReadFixedVersion(const std::vector<BYTE>& block, DWORD* ms, DWORD* ls) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) || !fixed ||
      size < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  *ms = fixed->dwFileVersionMS;
  *ls = fixed->dwFileVersionLS;
  return true;
}

// The "FileVersion" string of the first translation that has one.
std::wstring VersionString(const std::vector<BYTE>& block) {
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translations = nullptr;
  UINT size = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &size) ||
      !translations) {
    return std::wstring();
  }
  for (UINT i = 0; i < size / sizeof(Translation); ++i) {
    const std::wstring query = base::StrPrintf(L"\\StringFileInfo\\%04x%04x\\FileVersion",
                                               translations[i].language, translations[i].code_page);
    wchar_t* text = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) && text &&
        length > 0) {
      return std::wstring(text, wcsnlen(text, length));
    }
  }
  return std::wstring();
}

using RtlGetVersionFunc = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using IsWow64Process2Func = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

bool IsNative64Bit() {
  SYSTEM_INFO info = {};
  ::GetNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
      return true;
    default:
      break;
  }
  // An x86 process on ARM64 sees an x86 system above; only the WOW64 machine
  // query tells the truth there.
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto query = kernel ? reinterpret_cast<IsWow64Process2Func>(::GetProcAddress(kernel, "IsWow64Process2")) : nullptr;
  USHORT process_machine = 0, native_machine = 0;
  if (query && query(::GetCurrentProcess(), &process_machine, &native_machine)) {
    return native_machine == IMAGE_FILE_MACHINE_AMD64 || native_machine == IMAGE_FILE_MACHINE_IA64 ||
           native_machine == 0xAA64;  // IMAGE_FILE_MACHINE_ARM64
  }
  return false;
}

// Windows 10 or later from the kernel's own numbers (6.4 was its preview).
bool IsWindows10OrLater() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto rtl_get_version =
      ntdll ? reinterpret_cast<RtlGetVersionFunc>(::GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!rtl_get_version || rtl_get_version(&version) != 0) return false;
  return version.dwMajorVersion >= 10 || (version.dwMajorVersion == 6 && version.dwMinorVersion == 4);
}

// Measured once per process; a race only repeats the work.
bool PreferVersionString() {
  static const bool prefer = IsWindows10OrLater() && !IsNative64Bit();
  return prefer;
}

}  // namespace

int DetectProduct(int levels) {
  const std::wstring root = ProductRoot(levels);
  if (root.empty()) return 0;
  const std::wstring exe_path = ExecutablePath();
  int count = 0;
  const ProductRow* rows = telemetry::ProductRows(&count);
  for (int i = 0; i < count; ++i) {
    const ProductRow& row = rows[i];
    if (*row.marker_file && IsFile(JoinPath(root, row.marker_file))) return row.id;
    if (row.id == telemetry::kAppPathsProduct && *row.data_folder) {
      const std::wstring appdata = RoamingAppData();
      if (!appdata.empty() && ContainsIgnoreCase(exe_path, JoinPath(appdata, row.data_folder))) return row.id;
    }
  }
  return 0;
}

std::wstring GetSettingsFile(int levels) {
  const int id = DetectProduct(levels);
  const ProductRow* row = FindProduct(id);
  if (!row || !*row->data_folder) return std::wstring();
  const bool zov = telemetry::UsesZovSettingsFile(id);
  const std::wstring appdata = RoamingAppData();
  if (appdata.empty()) return std::wstring();
  const std::wstring folder = JoinPath(appdata, zov ? L"zov" : row->data_folder);
  const int created = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) {
    return std::wstring();
  }
  return JoinPath(folder, zov ? L"zov.set" : L"config.ini");
}

std::wstring GetDefaultChannel(int levels) {
  const int id = DetectProduct(levels);
  const ProductRow* row = FindProduct(id);
  if (!row || !*row->registry_key) return std::wstring();
  std::wstring channel;
  if (telemetry::ChannelFromCurrentUser(id)) {
    ReadChannelValue(HKEY_CURRENT_USER, row->registry_key, telemetry::ChannelValueName(id), 0, &channel);
    return channel;
  }
  if (telemetry::ChannelJoinsSubPid(id)) {
    std::wstring pid, subpid;
    if (!ReadChannelValue(HKEY_LOCAL_MACHINE, row->registry_key, L"PID", KEY_WOW64_32KEY, &pid)) {
      return std::wstring();
    }
    ReadChannelValue(HKEY_LOCAL_MACHINE, row->registry_key, L"SUBPID", KEY_WOW64_32KEY, &subpid);
    if (subpid.empty()) subpid = pid;
    return pid + L"__" + subpid;
  }
  ReadChannelValue(HKEY_LOCAL_MACHINE, row->registry_key, telemetry::ChannelValueName(id), KEY_WOW64_32KEY,
                   &channel);
  return channel;
}

std::wstring GetAppName(int levels) {
  const ProductRow* row = FindProduct(DetectProduct(levels));
  return row ? row->app_name : L"";
}

std::wstring GetDefaultTemplate(int levels) {
  const ProductRow* row = FindProduct(DetectProduct(levels));
  return row ? row->default_template : L"";
}

std::wstring GetAppVersion(int levels) {
  const int id = DetectProduct(levels);
  const ProductRow* row = FindProduct(id);
  if (!row) return std::wstring();
  std::wstring version;
  if (*row->marker_file) {
    const std::wstring marker = JoinPath(ProductRoot(levels), row->marker_file);
    if (IsFile(marker)) {
      GetFileVersion(marker, &version);
      return version;
    }
  }
  if (id == telemetry::kAppPathsProduct && *row->registry_key) {
    std::wstring stored;
    if (ReadChannelValue(HKEY_LOCAL_MACHINE, row->registry_key, L"", KEY_WOW64_32KEY, &stored) &&
        IsFile(stored)) {
      GetFileVersion(stored, &version);
    }
  }
  return version;
}

namespace telemetry {

std::wstring FileVersionText(bool prefer_string, const std::wstring& version_string, unsigned long ms,
                             unsigned long ls) {
  if (prefer_string) {
    std::wstring text;
    for (wchar_t c : version_string) {
      if (c == L' ') continue;
      text += c == L',' ? L'.' : c;
    }
    if (!text.empty()) return text;
  }
  return base::StrPrintf(L"%d.%d.%d.%d", static_cast<int>(HIWORD(ms)), static_cast<int>(LOWORD(ms)),
                         static_cast<int>(HIWORD(ls)), static_cast<int>(LOWORD(ls)));
}

}  // namespace telemetry

bool GetFileVersion(const std::wstring& path, std::wstring* version) {
  if (path.empty() || !version) return false;
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  DWORD ms = 0, ls = 0;
  if (!ReadFixedVersion(block, &ms, &ls)) return false;
  const bool prefer = PreferVersionString();
  *version = telemetry::FileVersionText(prefer, prefer ? VersionString(block) : std::wstring(), ms, ls);
  return true;
}
