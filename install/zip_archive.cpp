#include "install/zip_archive.h"


#include <algorithm>

#include "base/logging.h"
#include "base/string_util.h"
#include "install/archive_path.h"
#include "install/zip_format.h"
#include "utils/utils.h"

namespace {

using zip_format::ByteSpan;
using zip_format::CentralHeader;

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FullPath(const wchar_t* path) {
  wchar_t buffer[MAX_PATH];
  DWORD length = ::GetFullPathNameW(path, MAX_PATH, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH) return path;
  return std::wstring(buffer, length);
}

std::wstring EntryName(std::string_view raw) {
  std::wstring name = base::AnsiToWide(raw);
  if (name.size() > MAX_PATH) name.resize(MAX_PATH);
  return name;
}

}  // namespace

bool ZipArchive::Open(const std::wstring& path) {
  Close();
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LOG(Error) << "ZipArchive::Open, file not found: " << path;
    return false;
  }
  base::ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size)) {
    LOG(Error) << "ZipArchive::Open, open failed: " << path << " error=" << ::GetLastError();
    return false;
  }
  // The smallest archive is its 22-byte end record; a 32-bit process cannot
  // map what does not fit its address space.
  if (size.QuadPart < static_cast<LONGLONG>(zip_format::kEndRecordSize) ||
      static_cast<uint64_t>(size.QuadPart) > SIZE_MAX / 2) {
    LOG(Error) << "ZipArchive::Open, bad file size " << size.QuadPart << ": " << path;
    return false;
  }
  base::ScopedKernelHandle mapping(
      ::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  ScopedMappedView view(mapping.IsValid()
                            ? ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0)
                            : nullptr);
  if (!view.IsValid()) {
    LOG(Error) << "ZipArchive::Open, map failed: " << path << " error=" << ::GetLastError();
    return false;
  }
  ByteSpan archive{static_cast<const uint8_t*>(view.Get()), static_cast<size_t>(size.QuadPart)};
  zip_format::EndRecord end;
  if (!zip_format::FindEndRecord(archive, &end)) {
    LOG(Error) << "ZipArchive::Open, no usable end record: " << path;
    return false;
  }
  std::vector<ZipEntry> entries;
  entries.reserve(end.entries_total);
  size_t offset = end.directory_offset;
  for (unsigned i = 0; i < end.entries_total; ++i) {
    CentralHeader header;
    if (!zip_format::ReadCentralHeader(archive, offset, &header)) {
      LOG(Error) << "ZipArchive::Open, bad central header " << i << ": " << path;
      return false;
    }
    entries.push_back(ZipEntry{archive.data + offset, EntryName(header.name)});
    offset += header.total_size;
  }
  file_ = std::move(file);
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  file_size_ = static_cast<uint64_t>(size.QuadPart);
  end_record_ = archive.data + end.position;
  entries_ = std::move(entries);
  state_ = State::kOpen;
  return true;
}

void ZipArchive::Close() {
  entries_.clear();
  end_record_ = nullptr;
  file_size_ = 0;
  view_.Close();
  mapping_.Close();
  file_.Close();
  state_ = State::kClosed;
}

namespace {

// Entry headers were checked when the archive was opened, so reading one
// again from the same mapping cannot fail.
CentralHeader HeaderOf(const uint8_t* view, uint64_t view_size, const ZipEntry& entry) {
  ByteSpan archive{view, static_cast<size_t>(view_size)};
  CentralHeader header;
  zip_format::ReadCentralHeader(archive, static_cast<size_t>(entry.header - view), &header);
  return header;
}

}  // namespace

bool ZipArchive::IsDirectory(size_t index) const {
  if (index >= entries_.size()) return false;
  auto view = static_cast<const uint8_t*>(view_.Get());
  return zip_format::IsDirectory(HeaderOf(view, file_size_, entries_[index]));
}

uint32_t ZipArchive::GetUncompressedSize(size_t index) const {
  if (index >= entries_.size()) return 0;
  auto view = static_cast<const uint8_t*>(view_.Get());
  return HeaderOf(view, file_size_, entries_[index]).uncompressed_size;
}

std::optional<size_t> ZipArchive::FindEntry(std::wstring_view name) const {
  if (!IsOpen()) return std::nullopt;
  std::wstring wanted(name);
  std::replace(wanted.begin(), wanted.end(), L'\\', L'/');
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::wstring& candidate = entries_[i].name;
    if (candidate.size() == wanted.size() &&
        ::CompareStringOrdinal(candidate.c_str(), static_cast<int>(candidate.size()),
                               wanted.c_str(), static_cast<int>(wanted.size()),
                               TRUE) == CSTR_EQUAL) {
      return i;
    }
  }
  return std::nullopt;
}

bool ZipArchive::ReadEntry(size_t index, void* buffer, size_t buffer_size) const {
  if (!IsOpen() || index >= entries_.size() || !buffer) return false;
  auto view = static_cast<const uint8_t*>(view_.Get());
  ByteSpan archive{view, static_cast<size_t>(file_size_)};
  CentralHeader header = HeaderOf(view, file_size_, entries_[index]);
  if (zip_format::IsDirectory(header) || buffer_size < header.uncompressed_size) return false;
  ByteSpan data;
  if (!zip_format::LocateEntryData(archive, header, &data)) {
    LOG(Error) << "ZipArchive::ReadEntry, data outside the archive: " << entries_[index].name;
    return false;
  }
  zip_format::DecodeResult result = zip_format::DecodeEntry(
      header, data, static_cast<uint8_t*>(buffer), header.uncompressed_size);
  if (result != zip_format::DecodeResult::kOk) {
    LOG(Error) << "ZipArchive::ReadEntry, " << zip_format::DecodeResultText(result) << ": "
               << entries_[index].name;
    return false;
  }
  return true;
}

namespace {

// Decodes into a writable mapping of |file| sized to the entry.
bool FillThroughMapping(HANDLE file, const CentralHeader& header, ByteSpan data,
                        const std::wstring& path) {
  LARGE_INTEGER size;
  size.QuadPart = header.uncompressed_size;
  if (!::SetFilePointerEx(file, size, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) {
    LOG(Error) << "ZipArchive::ExtractFile, set size failed: " << path
               << " error=" << ::GetLastError();
    return false;
  }
  base::ScopedKernelHandle mapping(
      ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr));
  ScopedMappedView view(mapping.IsValid() ? ::MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0,
                                                            header.uncompressed_size)
                                          : nullptr);
  if (!view.IsValid()) {
    LOG(Error) << "ZipArchive::ExtractFile, map failed: " << path << " error=" << ::GetLastError();
    return false;
  }
  auto out = static_cast<uint8_t*>(const_cast<void*>(view.Get()));
  zip_format::DecodeResult result =
      zip_format::DecodeEntry(header, data, out, header.uncompressed_size);
  if (result != zip_format::DecodeResult::kOk) {
    LOG(Error) << "ZipArchive::ExtractFile, " << zip_format::DecodeResultText(result) << ": "
               << path;
    return false;
  }
  return true;
}

// MS-DOS times carry no zone: they are the local time of whoever packed.
void StampDosTime(HANDLE file, const CentralHeader& header) {
  FILETIME local, utc;
  if (::DosDateTimeToFileTime(header.dos_date, header.dos_time, &local) &&
      ::LocalFileTimeToFileTime(&local, &utc)) {
    ::SetFileTime(file, nullptr, nullptr, &utc);
  }
}

}  // namespace

bool ZipArchive::ExtractFile(size_t index, const std::wstring& path) const {
  if (!IsOpen() || index >= entries_.size()) return false;
  auto view = static_cast<const uint8_t*>(view_.Get());
  ByteSpan archive{view, static_cast<size_t>(file_size_)};
  CentralHeader header = HeaderOf(view, file_size_, entries_[index]);
  if (header.flags & zip_format::kFlagEncrypted) {
    LOG(Error) << "ZipArchive::ExtractFile, encrypted entry: " << path;
    return false;
  }
  std::wstring parent = ParentOf(path);
  if (!parent.empty() && !utils::CreateDirectoryTree(parent)) {
    LOG(Error) << "ZipArchive::ExtractFile, create folder failed: " << parent;
    return false;
  }
  base::ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                              nullptr));
  if (!file.IsValid()) {
    LOG(Error) << "ZipArchive::ExtractFile, create failed: " << path
               << " error=" << ::GetLastError();
    return false;
  }
  if (header.uncompressed_size == 0) return true;
  ByteSpan data;
  bool ok = zip_format::LocateEntryData(archive, header, &data);
  if (!ok) {
    LOG(Error) << "ZipArchive::ExtractFile, data outside the archive: " << path;
  } else {
    ok = FillThroughMapping(file.Get(), header, data, path);
  }
  if (ok) StampDosTime(file.Get(), header);
  file.Close();
  if (!ok) ::DeleteFileW(path.c_str());
  return ok;
}

HRESULT ExtractZipArchive(const wchar_t* zip_path, const wchar_t* dest_dir) {
  if (!zip_path || !*zip_path || !dest_dir || !*dest_dir) return E_INVALIDARG;
  ZipArchive archive;
  if (!archive.Open(zip_path)) return E_FAIL;
  std::wstring dest = FullPath(dest_dir);
  if (!utils::CreateDirectoryTree(dest)) {
    LOG(Error) << "ExtractZipArchive, create destination failed: " << dest;
    return E_FAIL;
  }
  if (dest.back() != L'\\') dest += L'\\';
  bool failed = false;
  for (size_t i = 0; i < archive.entries().size(); ++i) {
    const std::wstring& name = archive.entries()[i].name;
    bool directory = archive.IsDirectory(i);
    if (!directory && failed) continue;
    std::wstring relative;
    if (!archive_path::MakeRelativePath(name, &relative)) {
      LOG(Error) << "ExtractZipArchive, entry leaves the destination: " << name;
      failed = true;
      continue;
    }
    std::wstring path = dest + relative;
    if (directory) {
      while (path.size() > dest.size() && path.back() == L'\\') path.pop_back();
      if (!utils::CreateDirectoryTree(path)) {
        LOG(Error) << "ExtractZipArchive, create folder failed: " << path;
      }
    } else if (!archive.ExtractFile(i, path)) {
      failed = true;
    }
  }
  return failed ? E_FAIL : S_OK;
}
