// The zip reader of the installer and the skin loader: one read-only mapping
// of the whole archive, entries listed from the central directory, data
// decoded straight from the mapping (stored or deflate, CRC-32 checked).
// The byte-level rules live in install/zip_format.h.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/scoped_handle.h"

struct MappedViewTraits {
  using Handle = const void*;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::UnmapViewOfFile(h); }
};
using ScopedMappedView = base::ScopedHandle<MappedViewTraits>;

struct ZipEntry {
  const uint8_t* header = nullptr;  // its central header, inside the mapped view
  std::wstring name;                // from the ANSI code page, at most MAX_PATH characters
};

// Used by one thread at a time. Entry pointers stay valid until Close.
class ZipArchive {
 public:
  ZipArchive() = default;
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Maps |path| and lists its entries in directory order. False (logged, the
  // archive stays closed) when the file is missing, 21 bytes or shorter, has
  // no end record in the search window, spans disks, or has a bad central
  // header.
  bool Open(const std::wstring& path);
  void Close();
  bool IsOpen() const { return state_ == State::kOpen; }

  const std::vector<ZipEntry>& entries() const { return entries_; }
  bool IsDirectory(size_t index) const;
  // The decoded size of the entry; 0 for an index out of range.
  uint32_t GetUncompressedSize(size_t index) const;

  // The first entry, in directory order, whose name equals |name| ignoring
  // case, with every "\" of |name| taken as "/". None in a closed archive.
  std::optional<size_t> FindEntry(std::wstring_view name) const;

  // Decodes a file entry into |buffer|, which must hold at least its
  // uncompressed size. False for a directory, a short buffer, an encrypted
  // entry, another method, damaged data or a CRC mismatch.
  bool ReadEntry(size_t index, void* buffer, size_t buffer_size) const;

  // Writes a file entry to |path| (its folder is made when missing) through
  // a writable mapping of the final size, and stamps the entry's MS-DOS time
  // (local time) as the last-write time. On failure nothing is left at
  // |path|.
  bool ExtractFile(size_t index, const std::wstring& path) const;

 private:
  enum class State { kClosed, kOpen };

  State state_ = State::kClosed;
  base::ScopedKernelHandle file_;
  base::ScopedKernelHandle mapping_;
  ScopedMappedView view_;
  uint64_t file_size_ = 0;
  const uint8_t* end_record_ = nullptr;
  std::vector<ZipEntry> entries_;
};

// Unpacks every entry of |zip_path| below |dest_dir| (made with its parents
// when missing). Directory entries become folders; file entries are written
// while every earlier file succeeded, and skipped after the first failure.
// An entry whose name would leave |dest_dir| counts as a failed file.
// S_OK, E_INVALIDARG for a missing argument, E_FAIL otherwise.
HRESULT ExtractZipArchive(const wchar_t* zip_path, const wchar_t* dest_dir);
