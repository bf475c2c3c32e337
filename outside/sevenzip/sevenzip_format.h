// The 7z container as this stand-in reads it, over in-memory byte spans and
// free of Windows calls (it builds natively for fuzzing). The layout follows
// 7-Zip's published format description (7zFormat.txt): a 32-byte signature
// header pointing at a property-coded header at the end of the file.
//
// Everything in the header is parsed and checked; only folders made of the
// single Copy coder can be unpacked (see IsCopyFolder). Every count is bounded
// by the bytes that could describe it, so hostile input cannot make the
// parser allocate without limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sevenzip_format {

struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

constexpr size_t kSignatureHeaderSize = 32;

struct StartHeader {
  uint64_t next_header_offset = 0;  // from the end of the signature header
  uint64_t next_header_size = 0;
  uint32_t next_header_crc = 0;
};

// Checks the signature, the major version (0) and the start header's CRC.
bool ReadSignatureHeader(ByteSpan first_bytes, StartHeader* out);

struct Coder {
  std::vector<uint8_t> method_id;
  uint64_t in_streams = 1;
  uint64_t out_streams = 1;
  std::vector<uint8_t> properties;
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<std::pair<uint64_t, uint64_t>> bind_pairs;  // (in index, out index)
  std::vector<uint64_t> packed_streams;                   // in indices fed by pack streams
  std::vector<uint64_t> unpack_sizes;                     // one per coder out stream
  bool crc_defined = false;
  uint32_t crc = 0;
  uint64_t first_pack_stream = 0;
  uint64_t substreams = 1;

  // The size of the folder's final output (its one unbound out stream).
  uint64_t UnpackSize() const;
};

constexpr uint32_t kNoFolder = 0xFFFFFFFFu;

struct Item {
  std::u16string name;
  bool is_dir = false;
  bool has_stream = false;
  bool is_anti = false;
  uint64_t size = 0;
  bool crc_defined = false;
  uint32_t crc = 0;
  bool attrib_defined = false;
  uint32_t attrib = 0;
  bool mtime_defined = false;
  uint64_t mtime = 0;  // FILETIME: 100 ns since 1601, UTC
  uint32_t folder = kNoFolder;
  uint64_t offset_in_folder = 0;  // within the folder's unpacked output
};

struct Archive {
  uint64_t pack_pos = 0;  // of the first pack stream, after the signature header
  std::vector<uint64_t> pack_sizes;
  std::vector<Folder> folders;
  std::vector<Item> items;
  bool has_names = false;  // false: the items carry no path at all

  // Where folder |index|'s first pack stream starts in the file.
  uint64_t FolderPackOffset(size_t index) const;
};

enum class ParseResult {
  kOk,
  kEncodedHeader,  // the header is itself packed; |out| holds its folders
  kCorrupt,
};

// Parses the next header (after its CRC was checked). For an encoded header
// only the streams that hold the real header are filled in.
ParseResult ParseHeader(ByteSpan header, Archive* out);

// Method ids from the format description.
bool IsCopyFolder(const Folder& folder);  // one coder, method 00
bool IsEncryptedFolder(const Folder& folder);  // a 7zAES coder (06 F1 07 01)

// Bit-exact CRC-32 (the zip/PNG polynomial) as 7z stores it.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace sevenzip_format
