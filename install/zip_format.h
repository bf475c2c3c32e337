// The zip structures as the installer and the skin loader read them, over an
// in-memory byte span. Nothing here calls Windows, so the parser builds and
// fuzzes natively; install/zip_archive.h feeds it a mapped file.
//
// Only what the client needs is understood: one disk, no zip64, entries stored
// or deflated, no encryption. Every offset read from the archive is checked
// against the span before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zip_format {

struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Format notes (APPNOTE 4.3.16): the end-of-central-directory record is 22
// bytes plus a comment of at most 65535 bytes, and it is the last thing in
// the file.
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr size_t kEndRecordSize = 22;
// The search for the end record stops here: the record plus the longest
// comment it can announce, minus one byte. A record further from the end is
// not looked for.
constexpr size_t kEndRecordSearchLimit = 65556;

struct EndRecord {
  size_t position = 0;  // of the signature, from the start of the span
  uint16_t disk = 0;
  uint16_t directory_disk = 0;
  uint16_t entries_on_disk = 0;
  uint16_t entries_total = 0;
  uint32_t directory_size = 0;
  uint32_t directory_offset = 0;
  uint16_t comment_length = 0;
};

// Looks for the signature at distances 22, 23, ... up to the search limit or
// the span size from the end; the first match wins. Then requires disk 0 and
// equal counts (no multi-disk archives). False when either fails.
bool FindEndRecord(ByteSpan archive, EndRecord* out);

// Format notes (APPNOTE 4.3.12): a central header is 46 fixed bytes followed
// by the name, the extra field and the comment.
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr size_t kCentralHeaderSize = 46;

struct CentralHeader {
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;
  std::string_view name;  // raw bytes in the archive's own code page
  size_t total_size = 0;  // the distance to the next header
};

// Reads the header at |offset|: signature and every variable part must lie
// inside the span. False otherwise; |out| is then untouched.
bool ReadCentralHeader(ByteSpan archive, size_t offset, CentralHeader* out);

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint32_t kAttributeDirectory = 0x10;  // MS-DOS directory bit
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;

inline bool IsDirectory(const CentralHeader& header) {
  return (header.external_attributes & kAttributeDirectory) != 0;
}

// Format notes (APPNOTE 4.3.7): the data follow the 30-byte local header and
// its own name and extra field, whose lengths may differ from the central
// ones. The sizes are the central header's (a data descriptor may follow).
constexpr size_t kLocalHeaderSize = 30;

// The compressed bytes of the entry; false when the local header or the data
// would run past the end of the span.
bool LocateEntryData(ByteSpan archive, const CentralHeader& header, ByteSpan* data);

enum class DecodeResult {
  kOk,
  kEncrypted,
  kUnsupportedMethod,
  kSizeMismatch,  // stored sizes differ, or inflate gave another length
  kCorrupt,       // the deflate stream is invalid
  kCrcMismatch,
};

// Decodes |data| (the entry's compressed bytes) into |out|, which holds
// exactly the entry's uncompressed size, and checks the CRC-32. Never writes
// beyond |out_size| bytes.
DecodeResult DecodeEntry(const CentralHeader& header, ByteSpan data, uint8_t* out,
                         size_t out_size);

const char* DecodeResultText(DecodeResult result);

}  // namespace zip_format
