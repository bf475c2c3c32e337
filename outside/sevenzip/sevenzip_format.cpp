#include "outside/sevenzip/sevenzip_format.h"

#include <zlib.h>

#include <cstring>

namespace sevenzip_format {
namespace {

// Property ids of the header (7zFormat.txt).
enum PropertyId : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kName = 0x11,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
  kDummy = 0x19,
};

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

// Coders per folder and streams per coder: 7-Zip itself writes at most four
// coders with four streams each.
constexpr uint64_t kMaxCoders = 64;
constexpr uint64_t kMaxCoderStreams = 64;
// Items per archive: the client's packages hold a handful; a million keeps a
// hostile header from asking for gigabytes of item records.
constexpr uint64_t kMaxItems = 1u << 20;

uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Load64(const uint8_t* p) {
  return static_cast<uint64_t>(Load32(p)) | (static_cast<uint64_t>(Load32(p + 4)) << 32);
}

// A cursor over one span. Any read past the end sets |ok| to false and
// returns zeros, so callers check |ok| once per structure.
class Reader {
 public:
  explicit Reader(ByteSpan span) : span_(span) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == span_.size; }
  size_t Remaining() const { return span_.size - pos_; }
  bool Fail() { return ok_ = false; }

  uint8_t Byte() {
    if (pos_ >= span_.size) return Fail(), 0;
    return span_.data[pos_++];
  }

  uint32_t UInt32() {
    if (Remaining() < 4) return Fail(), 0;
    uint32_t v = Load32(span_.data + pos_);
    pos_ += 4;
    return v;
  }

  uint64_t UInt64() {
    if (Remaining() < 8) return Fail(), 0;
    uint64_t v = Load64(span_.data + pos_);
    pos_ += 8;
    return v;
  }

  // Format notes: a NUMBER is 1 to 9 bytes; the count of leading 1 bits of
  // the first byte is the count of extra little-endian bytes, and the rest of
  // the first byte supplies the highest bits.
  uint64_t Number() {
    uint8_t first = Byte();
    uint8_t mask = 0x80;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) {
        uint64_t high = first & (mask - 1u);
        return value | (high << (8 * i));
      }
      value |= static_cast<uint64_t>(Byte()) << (8 * i);
      mask >>= 1;
    }
    return value;
  }

  // A count of things that each take at least 1/|per_byte| bytes of what is
  // left; anything larger cannot be genuine.
  uint64_t Count(uint64_t per_byte = 1) {
    uint64_t n = Number();
    if (n > (Remaining() + 1) * per_byte) Fail();
    return ok_ ? n : 0;
  }

  ByteSpan Take(uint64_t size) {
    if (size > Remaining()) return Fail(), ByteSpan{};
    ByteSpan part{span_.data + pos_, static_cast<size_t>(size)};
    pos_ += static_cast<size_t>(size);
    return part;
  }

  void Skip(uint64_t size) { Take(size); }

 private:
  ByteSpan span_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Format notes: a bit vector packs one flag per item, most significant bit
// first, padded to whole bytes.
std::vector<bool> ReadBits(Reader& r, size_t count) {
  std::vector<bool> bits(count);
  uint8_t byte = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i % 8 == 0) byte = r.Byte();
    bits[i] = (byte & (0x80 >> (i % 8))) != 0;
  }
  return bits;
}

// "AllAreDefined" byte, then a bit vector when it is 0.
std::vector<bool> ReadDefined(Reader& r, size_t count) {
  if (r.Byte() != 0) return std::vector<bool>(count, true);
  return ReadBits(r, count);
}

struct Digests {
  std::vector<bool> defined;
  std::vector<uint32_t> values;
};

Digests ReadDigests(Reader& r, size_t count) {
  Digests d;
  d.defined = ReadDefined(r, count);
  d.values.assign(count, 0);
  for (size_t i = 0; i < count && r.ok(); ++i) {
    if (d.defined[i]) d.values[i] = r.UInt32();
  }
  return d;
}

bool ReadPackInfo(Reader& r, Archive* a) {
  a->pack_pos = r.Number();
  uint64_t count = r.Count();
  a->pack_sizes.assign(count, 0);
  for (uint8_t id = r.Byte(); r.ok() && id != kEnd; id = r.Byte()) {
    if (id == kSize) {
      for (auto& size : a->pack_sizes) size = r.Number();
    } else if (id == kCrc) {
      ReadDigests(r, a->pack_sizes.size());  // checked per item instead
    } else {
      return r.Fail();
    }
  }
  return r.ok();
}

bool ReadFolder(Reader& r, Folder* f) {
  uint64_t coders = r.Number();
  if (coders == 0 || coders > kMaxCoders) return r.Fail();
  uint64_t total_in = 0, total_out = 0;
  for (uint64_t i = 0; i < coders && r.ok(); ++i) {
    Coder c;
    uint8_t flags = r.Byte();
    if (flags & 0x80) return r.Fail();  // alternative methods: never written
    ByteSpan id = r.Take(flags & 0x0F);
    c.method_id.assign(id.data, id.data + id.size);
    if (flags & 0x10) {
      c.in_streams = r.Number();
      c.out_streams = r.Number();
      if (c.in_streams > kMaxCoderStreams || c.out_streams > kMaxCoderStreams) return r.Fail();
    }
    if (flags & 0x20) {
      ByteSpan props = r.Take(r.Number());
      c.properties.assign(props.data, props.data + props.size);
    }
    total_in += c.in_streams;
    total_out += c.out_streams;
    f->coders.push_back(std::move(c));
  }
  if (!r.ok() || total_out == 0) return r.Fail();
  for (uint64_t i = 0; i + 1 < total_out; ++i) {
    uint64_t in = r.Number();
    uint64_t out = r.Number();
    if (in >= total_in || out >= total_out) return r.Fail();
    f->bind_pairs.emplace_back(in, out);
  }
  if (total_in < f->bind_pairs.size() + 1) return r.Fail();
  uint64_t packed = total_in - f->bind_pairs.size();
  if (packed == 1) {
    for (uint64_t in = 0; in < total_in; ++in) {
      bool bound = false;
      for (const auto& pair : f->bind_pairs) bound = bound || pair.first == in;
      if (!bound) {
        f->packed_streams.push_back(in);
        break;
      }
    }
  } else {
    for (uint64_t i = 0; i < packed; ++i) f->packed_streams.push_back(r.Number());
  }
  f->unpack_sizes.assign(total_out, 0);
  return r.ok() && !f->packed_streams.empty();
}

bool ReadUnpackInfo(Reader& r, Archive* a) {
  if (r.Byte() != kFolder) return r.Fail();
  uint64_t count = r.Count();
  if (r.Byte() != 0) return r.Fail();  // folders stored elsewhere: never written
  a->folders.resize(count);
  uint64_t pack_index = 0;
  for (auto& folder : a->folders) {
    if (!ReadFolder(r, &folder)) return false;
    folder.first_pack_stream = pack_index;
    pack_index += folder.packed_streams.size();
  }
  if (pack_index > a->pack_sizes.size()) return r.Fail();
  if (r.Byte() != kCodersUnpackSize) return r.Fail();
  for (auto& folder : a->folders) {
    for (auto& size : folder.unpack_sizes) size = r.Number();
  }
  for (uint8_t id = r.Byte(); r.ok() && id != kEnd; id = r.Byte()) {
    if (id != kCrc) return r.Fail();
    Digests d = ReadDigests(r, a->folders.size());
    for (size_t i = 0; i < a->folders.size() && r.ok(); ++i) {
      a->folders[i].crc_defined = d.defined[i];
      a->folders[i].crc = d.values[i];
    }
  }
  return r.ok();
}

// The unpacked streams of all folders in order, as files use them.
struct Substream {
  uint32_t folder;
  uint64_t offset;
  uint64_t size;
  bool crc_defined;
  uint32_t crc;
};

bool ReadSubStreamsInfo(Reader& r, Archive* a, std::vector<Substream>* out) {
  uint8_t id = r.Byte();
  if (id == kNumUnpackStream) {
    for (auto& folder : a->folders) folder.substreams = r.Count(8);
    id = r.Byte();
  }
  std::vector<uint64_t> sizes;
  for (const auto& folder : a->folders) {
    if (folder.substreams == 0) continue;
    uint64_t sum = 0;
    if (id == kSize) {
      for (uint64_t j = 1; j < folder.substreams && r.ok(); ++j) {
        uint64_t size = r.Number();
        if (size > folder.UnpackSize() - sum) return r.Fail();
        sizes.push_back(size);
        sum += size;
      }
    } else if (folder.substreams != 1) {
      return r.Fail();
    }
    sizes.push_back(folder.UnpackSize() - sum);
  }
  if (id == kSize) id = r.Byte();
  if (!r.ok()) return false;

  size_t index = 0;
  for (size_t f = 0; f < a->folders.size(); ++f) {
    uint64_t offset = 0;
    for (uint64_t j = 0; j < a->folders[f].substreams; ++j) {
      const Folder& folder = a->folders[f];
      bool known = folder.substreams == 1 && folder.crc_defined;
      out->push_back({static_cast<uint32_t>(f), offset, sizes[index], known, folder.crc});
      offset += sizes[index++];
    }
  }
  for (; r.ok() && id != kEnd; id = r.Byte()) {
    if (id != kCrc) return r.Fail();
    size_t unknown = 0;
    for (const auto& s : *out) unknown += s.crc_defined ? 0 : 1;
    Digests d = ReadDigests(r, unknown);
    size_t k = 0;
    for (auto& s : *out) {
      if (s.crc_defined || !r.ok()) continue;
      s.crc_defined = d.defined[k];
      s.crc = d.values[k++];
    }
  }
  return r.ok();
}

bool ReadStreamsInfo(Reader& r, Archive* a, std::vector<Substream>* substreams) {
  bool have_substreams = false;
  for (uint8_t id = r.Byte(); r.ok() && id != kEnd; id = r.Byte()) {
    if (id == kPackInfo) {
      if (!ReadPackInfo(r, a)) return false;
    } else if (id == kUnpackInfo) {
      if (!ReadUnpackInfo(r, a)) return false;
    } else if (id == kSubStreamsInfo) {
      if (!ReadSubStreamsInfo(r, a, substreams)) return false;
      have_substreams = true;
    } else {
      return r.Fail();
    }
  }
  if (!have_substreams) {
    for (size_t f = 0; f < a->folders.size(); ++f) {
      const Folder& folder = a->folders[f];
      substreams->push_back(
          {static_cast<uint32_t>(f), 0, folder.UnpackSize(), folder.crc_defined, folder.crc});
    }
  }
  return r.ok();
}

// "External" byte, which must say the data follow in place.
bool InPlace(Reader& r) { return r.Byte() == 0 || r.Fail(); }

bool ReadNames(Reader r, std::vector<Item>* items) {
  if (!InPlace(r)) return false;
  for (auto& item : *items) {
    for (;;) {
      uint8_t lo = r.Byte(), hi = r.Byte();
      if (!r.ok()) return false;
      char16_t c = static_cast<char16_t>(lo | (hi << 8));
      if (c == 0) break;
      item.name.push_back(c);
    }
  }
  return true;
}

bool ReadFilesInfo(Reader& r, Archive* a, const std::vector<Substream>& substreams) {
  uint64_t count = r.Count(8);
  if (count > kMaxItems) return r.Fail();
  std::vector<Item>& items = a->items;
  items.resize(count);
  std::vector<bool> empty_stream(count, false), empty_file, anti;
  size_t empty_count = 0;
  for (uint8_t id = r.Byte(); r.ok() && id != kEnd; id = r.Byte()) {
    Reader p(r.Take(r.Number()));
    if (!r.ok()) return false;
    switch (id) {
      case kEmptyStream:
        empty_stream = ReadBits(p, count);
        empty_count = 0;
        for (bool b : empty_stream) empty_count += b ? 1 : 0;
        empty_file.assign(empty_count, false);
        anti.assign(empty_count, false);
        break;
      case kEmptyFile:
        empty_file = ReadBits(p, empty_count);
        break;
      case kAnti:
        anti = ReadBits(p, empty_count);
        break;
      case kName:
        if (!ReadNames(p, &items)) return r.Fail();
        a->has_names = true;
        break;
      case kMTime: {
        std::vector<bool> defined = ReadDefined(p, count);
        if (!InPlace(p)) return r.Fail();
        for (size_t i = 0; i < count && p.ok(); ++i) {
          items[i].mtime_defined = defined[i];
          if (defined[i]) items[i].mtime = p.UInt64();
        }
        break;
      }
      case kWinAttributes: {
        std::vector<bool> defined = ReadDefined(p, count);
        if (!InPlace(p)) return r.Fail();
        for (size_t i = 0; i < count && p.ok(); ++i) {
          items[i].attrib_defined = defined[i];
          if (defined[i]) items[i].attrib = p.UInt32();
        }
        break;
      }
      default:  // times we do not report, start positions, padding
        break;
    }
    if (!p.ok()) return r.Fail();
  }
  if (!r.ok()) return false;
  size_t stream = 0, empty = 0;
  for (size_t i = 0; i < count; ++i) {
    Item& item = items[i];
    if (empty_stream[i]) {
      item.is_dir = !empty_file[empty];
      item.is_anti = anti[empty];
      ++empty;
      continue;
    }
    if (stream >= substreams.size()) return r.Fail();
    const Substream& s = substreams[stream++];
    item.has_stream = true;
    item.folder = s.folder;
    item.offset_in_folder = s.offset;
    item.size = s.size;
    item.crc_defined = s.crc_defined;
    item.crc = s.crc;
  }
  return stream == substreams.size() || r.Fail();
}

bool CheckPackStreams(const Archive& a) {
  uint64_t sum = 0;
  for (uint64_t size : a.pack_sizes) {
    if (size > UINT64_MAX - sum) return false;
    sum += size;
  }
  return a.pack_pos <= UINT64_MAX - sum;
}

}  // namespace

uint64_t Folder::UnpackSize() const {
  for (size_t out = unpack_sizes.size(); out-- > 0;) {
    bool bound = false;
    for (const auto& pair : bind_pairs) bound = bound || pair.second == out;
    if (!bound) return unpack_sizes[out];
  }
  return 0;
}

uint64_t Archive::FolderPackOffset(size_t index) const {
  uint64_t offset = kSignatureHeaderSize + pack_pos;
  for (uint64_t i = 0; i < folders[index].first_pack_stream; ++i) offset += pack_sizes[i];
  return offset;
}

bool ReadSignatureHeader(ByteSpan first_bytes, StartHeader* out) {
  if (first_bytes.size < kSignatureHeaderSize) return false;
  const uint8_t* p = first_bytes.data;
  if (std::memcmp(p, kSignature, sizeof(kSignature)) != 0 || p[6] != 0) return false;
  if (Crc32(p + 12, 20) != Load32(p + 8)) return false;
  out->next_header_offset = Load64(p + 12);
  out->next_header_size = Load64(p + 20);
  out->next_header_crc = Load32(p + 28);
  return true;
}

ParseResult ParseHeader(ByteSpan header, Archive* out) {
  Archive a;
  Reader r(header);
  uint8_t id = r.Byte();
  std::vector<Substream> substreams;
  if (id == kEncodedHeader) {
    if (!ReadStreamsInfo(r, &a, &substreams) || !CheckPackStreams(a)) {
      return ParseResult::kCorrupt;
    }
    *out = std::move(a);
    return ParseResult::kEncodedHeader;
  }
  if (id != kHeader) return ParseResult::kCorrupt;
  id = r.Byte();
  if (id == kArchiveProperties) {
    for (uint8_t type = r.Byte(); r.ok() && type != kEnd; type = r.Byte()) r.Skip(r.Number());
    id = r.Byte();
  }
  if (id == kAdditionalStreamsInfo) {
    Archive unused;
    std::vector<Substream> ignored;
    if (!ReadStreamsInfo(r, &unused, &ignored)) return ParseResult::kCorrupt;
    id = r.Byte();
  }
  if (id == kMainStreamsInfo) {
    if (!ReadStreamsInfo(r, &a, &substreams)) return ParseResult::kCorrupt;
    id = r.Byte();
  }
  if (id == kFilesInfo) {
    if (!ReadFilesInfo(r, &a, substreams)) return ParseResult::kCorrupt;
    id = r.Byte();
  } else if (!substreams.empty()) {
    return ParseResult::kCorrupt;
  }
  if (!r.ok() || id != kEnd || !CheckPackStreams(a)) return ParseResult::kCorrupt;
  *out = std::move(a);
  return ParseResult::kOk;
}

bool IsCopyFolder(const Folder& folder) {
  return folder.coders.size() == 1 && folder.coders[0].method_id == std::vector<uint8_t>{0x00} &&
         folder.coders[0].in_streams == 1 && folder.coders[0].out_streams == 1 &&
         folder.packed_streams.size() == 1;
}

bool IsEncryptedFolder(const Folder& folder) {
  static const std::vector<uint8_t> kAes = {0x06, 0xF1, 0x07, 0x01};
  for (const auto& coder : folder.coders) {
    if (coder.method_id == kAes) return true;
  }
  return false;
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  while (size > 0) {
    uInt chunk = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, data, chunk));
    data += chunk;
    size -= chunk;
  }
  return crc;
}

}  // namespace sevenzip_format
