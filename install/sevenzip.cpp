#include "install/sevenzip.h"

#include <windows.h>
#include <shlobj.h>

#include <mutex>

#include "base/logging.h"
#include "base/scoped_handle.h"
#include "install/sevenzip_abi.h"
#include "install/sevenzip_callbacks.h"

namespace {

std::mutex& ModuleLock() {
  static std::mutex lock;
  return lock;
}

// Loaded once, released only when the process ends.
base::ScopedModule& Module() {
  static base::ScopedModule module;
  return module;
}

sevenzip::CreateObjectFunc FindCreateObject() {
  std::lock_guard<std::mutex> hold(ModuleLock());
  if (!Module().IsValid()) return nullptr;
  return reinterpret_cast<sevenzip::CreateObjectFunc>(
      ::GetProcAddress(Module().Get(), "CreateObject"));
}

std::wstring FullDirectory(const std::wstring& dir) {
  wchar_t buffer[MAX_PATH];
  DWORD length = ::GetFullPathNameW(dir.c_str(), MAX_PATH, buffer, nullptr);
  std::wstring full = length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : dir;
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full;
}

bool MakeDirectoryTree(const std::wstring& dir) {
  DWORD attributes = ::GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    attributes = ::GetFileAttributesW(dir.c_str());
  }
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool Load7zLibrary(const std::wstring& path) {
  std::lock_guard<std::mutex> hold(ModuleLock());
  if (Module().IsValid()) return true;
  // Altered search path: anything 7z.dll needs is looked for beside it.
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    LOG(Error) << "Load7zLibrary, load failed: " << path << " error=" << ::GetLastError();
    return false;
  }
  Module().Reset(module);
  return true;
}

int Extract7zArchive(const std::wstring& archive_path, const std::wstring& dest_dir,
                     I7zExtractListener* listener) {
  std::wstring dest = FullDirectory(dest_dir);
  if (dest.empty() || !MakeDirectoryTree(dest)) {
    LOG(Error) << "Extract7zArchive, create destination failed: " << dest;
    return -1;
  }
  sevenzip::CreateObjectFunc create_object = FindCreateObject();
  if (!create_object) {
    LOG(Error) << "Extract7zArchive, no 7z.dll with CreateObject loaded";
    return -1;
  }
  base::ComPtr<sevenzip::IInArchive> archive;
  HRESULT hr = create_object(&sevenzip::kClsid7zFormat, &sevenzip::kIidInArchive,
                             archive.ReceiveVoid());
  if (FAILED(hr) || !archive) {
    LOG(Error) << "Extract7zArchive, CreateObject failed: " << hr;
    return -1;
  }

  base::ComPtr<sevenzip::IInStream> in_stream;
  auto* file = new CInFileStream();
  *in_stream.Receive() = file;
  if (!file->Open(archive_path)) {
    LOG(Error) << "Extract7zArchive, open failed: " << archive_path << " error=" << ::GetLastError();
    return -1;
  }
  base::ComPtr<sevenzip::IArchiveOpenCallback> open_callback;
  *open_callback.Receive() = new CArchiveOpenCallback();
  hr = archive->Open(in_stream.Get(), nullptr, open_callback.Get());
  if (hr != S_OK) {
    LOG(Error) << "Extract7zArchive, not a readable 7z archive: " << archive_path << " hr=" << hr;
    return -1;
  }

  auto* extract = new CArchiveExtractCallback(archive.Get(), dest, listener);
  base::ComPtr<sevenzip::IArchiveExtractCallback> extract_callback;
  *extract_callback.Receive() = extract;
  hr = archive->Extract(nullptr, sevenzip::kAllItems, 0, extract_callback.Get());
  archive->Close();
  if (hr != S_OK) {
    LOG(Error) << "Extract7zArchive, extract failed: " << archive_path << " hr=" << hr;
    return -1;
  }
  // Items the library reported as damaged or undecodable were deleted; the
  // package is then incomplete and must not count as unpacked.
  if (extract->error_count() > 0) {
    LOG(Error) << "Extract7zArchive, damaged items: " << extract->error_count() << " in "
               << archive_path;
    return -1;
  }
  return 0;
}
