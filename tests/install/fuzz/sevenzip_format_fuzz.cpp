// libFuzzer target for the 7z header parser of the 7z.dll stand-in
// (outside/sevenzip/sevenzip_format.h), built natively by run_fuzz.sh.
// An input is a whole archive, or with a first byte of 0xFF the bytes of a
// next header alone, so that both the framing and the parser get exercised.
#include <cstddef>
#include <cstdint>

#include "outside/sevenzip/sevenzip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sevenzip_format;
  Archive archive;
  if (size > 0 && data[0] == 0xFF) {
    ParseHeader({data + 1, size - 1}, &archive);
    return 0;
  }
  StartHeader start;
  if (!ReadSignatureHeader({data, size}, &start)) return 0;
  uint64_t room = size - kSignatureHeaderSize;
  if (start.next_header_offset > room || start.next_header_size > room - start.next_header_offset) {
    return 0;
  }
  ByteSpan header{data + kSignatureHeaderSize + start.next_header_offset,
                  static_cast<size_t>(start.next_header_size)};
  if (ParseHeader(header, &archive) != ParseResult::kOk) return 0;
  for (size_t i = 0; i < archive.folders.size(); ++i) {
    archive.FolderPackOffset(i);
    archive.folders[i].UnpackSize();
  }
  return 0;
}
