#include "install/zip_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace zip_format {
namespace {

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// True when [offset, offset + length) lies inside a span of |size| bytes,
// written so that no sum can wrap.
bool Fits(size_t size, size_t offset, size_t length) {
  return offset <= size && length <= size - offset;
}

// Output is decoded in slices of this size and each slice is checksummed
// while it is still in the cache; one pass over a large file would read every
// byte back from memory.
constexpr size_t kSliceSize = 256 * 1024;

DecodeResult CopyStored(ByteSpan data, uint8_t* out, size_t out_size, uint32_t* crc) {
  if (data.size != out_size) return DecodeResult::kSizeMismatch;
  uLong sum = crc32(0, nullptr, 0);
  for (size_t done = 0; done < out_size;) {
    size_t slice = std::min(kSliceSize, out_size - done);
    std::memcpy(out + done, data.data + done, slice);
    sum = crc32(sum, out + done, static_cast<uInt>(slice));
    done += slice;
  }
  *crc = static_cast<uint32_t>(sum);
  return DecodeResult::kOk;
}

// Format notes (APPNOTE 4.4.5, RFC 1951): method 8 is a raw deflate stream
// without zlib header or trailer; it must end exactly at the declared size.
DecodeResult Inflate(ByteSpan data, uint8_t* out, size_t out_size, uint32_t* crc) {
  z_stream stream = {};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return DecodeResult::kCorrupt;
  stream.next_in = const_cast<Bytef*>(data.data);
  stream.avail_in = static_cast<uInt>(data.size);  // sizes come from 32-bit fields
  uLong sum = crc32(0, nullptr, 0);
  DecodeResult result = DecodeResult::kOk;
  size_t done = 0;
  int status = Z_OK;
  while (done < out_size) {
    size_t slice = std::min(kSliceSize, out_size - done);
    stream.next_out = out + done;
    stream.avail_out = static_cast<uInt>(slice);
    status = inflate(&stream, Z_NO_FLUSH);
    size_t produced = slice - stream.avail_out;
    sum = crc32(sum, out + done, static_cast<uInt>(produced));
    done += produced;
    if (status == Z_STREAM_END) break;
    if (status != Z_OK || produced == 0) {
      result = DecodeResult::kCorrupt;
      break;
    }
  }
  if (result == DecodeResult::kOk && done < out_size) {
    result = status == Z_STREAM_END ? DecodeResult::kSizeMismatch : DecodeResult::kCorrupt;
  }
  if (result == DecodeResult::kOk && status != Z_STREAM_END) {
    // All declared bytes are there; the stream must end now. One spare byte
    // tells "ends here" from "has more", without touching |out|.
    uint8_t spare = 0;
    stream.next_out = &spare;
    stream.avail_out = 1;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_STREAM_END) {
      result = stream.avail_out == 0 ? DecodeResult::kSizeMismatch : DecodeResult::kCorrupt;
    }
  }
  inflateEnd(&stream);
  *crc = static_cast<uint32_t>(sum);
  return result;
}

}  // namespace

bool FindEndRecord(ByteSpan archive, EndRecord* out) {
  if (archive.size < kEndRecordSize) return false;
  size_t limit = std::min(kEndRecordSearchLimit, archive.size);
  const uint8_t* found = nullptr;
  for (size_t distance = kEndRecordSize; distance <= limit; ++distance) {
    const uint8_t* p = archive.data + archive.size - distance;
    if (Read32(p) == kEndRecordSignature) {
      found = p;
      break;
    }
  }
  if (!found) return false;
  EndRecord record;
  record.position = static_cast<size_t>(found - archive.data);
  record.disk = Read16(found + 4);
  record.directory_disk = Read16(found + 6);
  record.entries_on_disk = Read16(found + 8);
  record.entries_total = Read16(found + 10);
  record.directory_size = Read32(found + 12);
  record.directory_offset = Read32(found + 16);
  record.comment_length = Read16(found + 20);
  if (record.disk != 0 || record.entries_on_disk != record.entries_total) return false;
  *out = record;
  return true;
}

bool ReadCentralHeader(ByteSpan archive, size_t offset, CentralHeader* out) {
  if (!Fits(archive.size, offset, kCentralHeaderSize)) return false;
  const uint8_t* p = archive.data + offset;
  if (Read32(p) != kCentralHeaderSignature) return false;
  size_t name_length = Read16(p + 28);
  size_t extra_length = Read16(p + 30);
  size_t comment_length = Read16(p + 32);
  size_t total = kCentralHeaderSize + name_length + extra_length + comment_length;
  if (!Fits(archive.size, offset, total)) return false;
  CentralHeader header;
  header.flags = Read16(p + 8);
  header.method = Read16(p + 10);
  header.dos_time = Read16(p + 12);
  header.dos_date = Read16(p + 14);
  header.crc32 = Read32(p + 16);
  header.compressed_size = Read32(p + 20);
  header.uncompressed_size = Read32(p + 24);
  header.external_attributes = Read32(p + 38);
  header.local_header_offset = Read32(p + 42);
  header.name = std::string_view(reinterpret_cast<const char*>(p + kCentralHeaderSize), name_length);
  header.total_size = total;
  *out = header;
  return true;
}

bool LocateEntryData(ByteSpan archive, const CentralHeader& header, ByteSpan* data) {
  size_t local = header.local_header_offset;
  if (!Fits(archive.size, local, kLocalHeaderSize)) return false;
  const uint8_t* p = archive.data + local;
  size_t start = local + kLocalHeaderSize + Read16(p + 26) + Read16(p + 28);
  if (!Fits(archive.size, start, header.compressed_size)) return false;
  data->data = archive.data + start;
  data->size = header.compressed_size;
  return true;
}

DecodeResult DecodeEntry(const CentralHeader& header, ByteSpan data, uint8_t* out,
                         size_t out_size) {
  if (header.flags & kFlagEncrypted) return DecodeResult::kEncrypted;
  if (out_size != header.uncompressed_size) return DecodeResult::kSizeMismatch;
  uint32_t crc = 0;
  DecodeResult result;
  switch (header.method) {
    case kMethodStored:
      result = CopyStored(data, out, out_size, &crc);
      break;
    case kMethodDeflate:
      result = Inflate(data, out, out_size, &crc);
      break;
    default:
      return DecodeResult::kUnsupportedMethod;
  }
  if (result != DecodeResult::kOk) return result;
  return crc == header.crc32 ? DecodeResult::kOk : DecodeResult::kCrcMismatch;
}

const char* DecodeResultText(DecodeResult result) {
  switch (result) {
    case DecodeResult::kOk:
      return "ok";
    case DecodeResult::kEncrypted:
      return "encrypted";
    case DecodeResult::kUnsupportedMethod:
      return "unsupported method";
    case DecodeResult::kSizeMismatch:
      return "size mismatch";
    case DecodeResult::kCorrupt:
      return "corrupt data";
    case DecodeResult::kCrcMismatch:
      return "crc mismatch";
  }
  return "unknown";
}

}  // namespace zip_format
