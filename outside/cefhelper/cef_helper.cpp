// CefHelper.dll: places the web-engine runtime of a kernel version and the
// Flash plug-in for the installer. Both travel inside this library as
// resources; a full package may also ship the runtime in an engine resource
// file (CefRes.dll / CefRes69.dll) beside it, which is preferred when present.
//
// Exports (wide texts, WINAPI, names undecorated on every architecture):
//   int SetProductInfo(product, base_dir, path_7z)  1 when stored, 0 for a null text
//   int StartEx(helper_dir, kernel_version)         status, see StartStatus
//   int StartFlashEx(kernel_dir, flash_version)     1 when the plug-in is in place
//
// Single-threaded use by one installer at a time is expected; the stored
// product info is still guarded so that a stray second caller cannot tear it.
#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "base/scoped_handle.h"
#include "outside/cefhelper/payload_ids.h"

namespace {

// What StartEx reports. The installer treats 0 as failure and every other
// value as "the runtime is usable in the kernel directory".
enum StartStatus : int {
  kStartFailed = 0,
  kRuntimeWasPresent = 1,
  kRuntimeCopied = 2,
  kRuntimeFromResourceFile = 3,
};

struct Kernel {
  const wchar_t* version;
  const wchar_t* dir_name;
  const wchar_t* resource_file;
  int payload_id;
};

// The two kernels the client family knows; the versions are the ones the
// installer passes for its new and old kernel setting.
constexpr Kernel kKernels[] = {
    {L"3.3497.1841.0", L"cef69", L"CefRes69.dll", IDR_RUNTIME_NEW_KERNEL},
    {L"3.2623.1401.0", L"cef", L"CefRes.dll", IDR_RUNTIME_OLD_KERNEL},
};

// The one plug-in version this library carries.
constexpr wchar_t kFlashVersion[] = L"24.0.0.221";
constexpr wchar_t kRuntimeFile[] = L"libcef.dll";
constexpr wchar_t kFlashFile[] = L"pepflashplayer.dll";

// Leaves room below MAX_PATH for "\cef69\libcef.dll.part".
constexpr size_t kMaxDirLength = MAX_PATH - 32;

SRWLOCK g_lock = SRWLOCK_INIT;
bool g_product_set = false;
std::wstring g_product;
std::wstring g_base_dir;
std::wstring g_path_7z;

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A usable directory argument without trailing separators, or "" when the
// text is null, empty or too long to hold the files placed below it.
std::wstring CleanDir(const wchar_t* text) {
  if (!text) return L"";
  std::wstring dir(text);
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  if (dir.empty() || dir.size() > kMaxDirLength) return L"";
  return dir;
}

bool EnsureDir(const std::wstring& dir) {
  if (DirExists(dir)) return true;
  return ::CreateDirectoryW(dir.c_str(), nullptr) || DirExists(dir);
}

HMODULE SelfModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&SelfModule), &module);
  return module;
}

// The bytes of an RCDATA resource; they stay valid while |module| is loaded.
bool FindPayload(HMODULE module, int id, std::string_view* out) {
  HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RCDATA */);
  if (!info) return false;
  HGLOBAL loaded = ::LoadResource(module, info);
  const DWORD size = ::SizeofResource(module, info);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data || size == 0) return false;
  *out = std::string_view(static_cast<const char*>(data), size);
  return true;
}

// Writes beside the target and renames, so a reader never sees a partial
// file under the final name (the installer checks presence only).
bool WriteFileWhole(const std::wstring& path, std::string_view bytes) {
  const std::wstring part = path + L".part";
  {
    base::ScopedKernelHandle file(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size()) {
      file.Close();
      ::DeleteFileW(part.c_str());
      return false;
    }
  }
  if (!::MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(part.c_str());
    return false;
  }
  return true;
}

std::wstring FileVersionText(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<char> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"";
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(*info)) {
    return L"";
  }
  wchar_t text[64];
  ::wsprintfW(text, L"%u.%u.%u.%u", HIWORD(info->dwFileVersionMS),
                LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                LOWORD(info->dwFileVersionLS));
  return text;
}

const Kernel* FindKernel(const wchar_t* version) {
  if (!version) return nullptr;
  for (const Kernel& kernel : kKernels) {
    if (std::wcscmp(kernel.version, version) == 0) return &kernel;
  }
  return nullptr;
}

bool ProductInfoSet() {
  ::AcquireSRWLockShared(&g_lock);
  const bool set = g_product_set;
  ::ReleaseSRWLockShared(&g_lock);
  return set;
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI SetProductInfo(const wchar_t* product,
                                                           const wchar_t* base_dir,
                                                           const wchar_t* path_7z) {
  if (!product || !base_dir || !path_7z) return 0;
  ::AcquireSRWLockExclusive(&g_lock);
  g_product = product;
  g_base_dir = base_dir;
  g_path_7z = path_7z;
  g_product_set = true;
  ::ReleaseSRWLockExclusive(&g_lock);
  return 1;
}

// Places the runtime of |kernel_version| in helper_dir\<kernel dir>. The
// product info must have been given first: the real placement depends on it,
// and a caller that skips it has a bug worth failing on.
extern "C" __declspec(dllexport) int WINAPI StartEx(const wchar_t* helper_dir,
                                                    const wchar_t* kernel_version) {
  const Kernel* kernel = FindKernel(kernel_version);
  const std::wstring dir = CleanDir(helper_dir);
  if (!kernel || dir.empty() || !DirExists(dir) || !ProductInfoSet()) return kStartFailed;

  const std::wstring kernel_dir = dir + L"\\" + kernel->dir_name;
  const std::wstring runtime = kernel_dir + L"\\" + kRuntimeFile;
  if (FileExists(runtime)) return kRuntimeWasPresent;
  if (!EnsureDir(kernel_dir)) return kStartFailed;

  const std::wstring resource_file = dir + L"\\" + kernel->resource_file;
  if (FileExists(resource_file)) {
    base::ScopedModule resources(::LoadLibraryExW(
        resource_file.c_str(), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    std::string_view bytes;
    if (resources && FindPayload(resources.Get(), IDR_CEFRES_RUNTIME, &bytes) &&
        WriteFileWhole(runtime, bytes)) {
      return kRuntimeFromResourceFile;
    }
    // A damaged resource file falls back to the carried copy below.
  }
  std::string_view bytes;
  if (!FindPayload(SelfModule(), kernel->payload_id, &bytes)) return kStartFailed;
  return WriteFileWhole(runtime, bytes) ? kRuntimeCopied : kStartFailed;
}

// Makes pepflashplayer.dll of |flash_version| available in |kernel_dir|
// (created when missing). Only the carried version can be provided.
extern "C" __declspec(dllexport) int WINAPI StartFlashEx(const wchar_t* kernel_dir,
                                                         const wchar_t* flash_version) {
  const std::wstring dir = CleanDir(kernel_dir);
  if (dir.empty() || !flash_version || std::wcscmp(flash_version, kFlashVersion) != 0) return 0;
  if (!EnsureDir(dir)) return 0;
  const std::wstring plugin = dir + L"\\" + kFlashFile;
  if (FileExists(plugin) && FileVersionText(plugin) == kFlashVersion) return 1;
  std::string_view bytes;
  if (!FindPayload(SelfModule(), IDR_FLASH_PLUGIN, &bytes)) return 0;
  return WriteFileWhole(plugin, bytes) ? 1 : 0;
}
