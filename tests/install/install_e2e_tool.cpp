// Helper of the end-to-end install test, run under Wine from the Linux side:
//   install_e2e_tool decrypt <enciphered file> <plain output file>
// deciphers an installed configuration with the product's own cipher, so the
// test compares it without a second implementation of the key.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "utils/text_cipher.h"

namespace {

bool ReadAll(const wchar_t* path, std::string* out) {
  FILE* file = _wfopen(path, L"rb");
  if (!file) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) out->append(buffer, n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool WriteAll(const wchar_t* path, const std::string& bytes) {
  FILE* file = _wfopen(path, L"wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 || std::wcscmp(argv[1], L"decrypt") != 0) {
    std::fwprintf(stderr, L"usage: install_e2e_tool decrypt <in> <out>\n");
    return 2;
  }
  std::string text;
  if (!ReadAll(argv[2], &text)) {
    std::fwprintf(stderr, L"cannot read %ls\n", argv[2]);
    return 1;
  }
  std::string plain;
  if (!utils::DecryptText(text, &plain, false)) {
    std::fwprintf(stderr, L"not deciphered: %ls\n", argv[2]);
    return 1;
  }
  if (!WriteAll(argv[3], plain)) {
    std::fwprintf(stderr, L"cannot write %ls\n", argv[3]);
    return 1;
  }
  return 0;
}
