// libFuzzer target for the zip structures (install/zip_format.h) and the
// item-name check, built natively by run_fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "install/archive_path.h"
#include "install/zip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zip_format;
  ByteSpan archive{data, size};
  EndRecord end;
  if (!FindEndRecord(archive, &end)) return 0;
  size_t offset = end.directory_offset;
  for (unsigned i = 0; i < end.entries_total; ++i) {
    CentralHeader header;
    if (!ReadCentralHeader(archive, offset, &header)) break;
    offset += header.total_size;
    std::wstring name(header.name.begin(), header.name.end());
    std::wstring relative;
    archive_path::MakeRelativePath(name, &relative);
    ByteSpan entry;
    // Entries claiming more than a few MiB are decoded no further here.
    if (!LocateEntryData(archive, header, &entry) || header.uncompressed_size > (4u << 20)) continue;
    std::vector<uint8_t> out(header.uncompressed_size);
    DecodeEntry(header, entry, out.data(), out.size());
  }
  return 0;
}
