// Extraction speed of ExtractZipArchive, in MB/s of output, for a stored and
// a deflated archive of the same files, printed beside what the machine does
// with the same bytes in memory: memcpy (for stored) and raw zlib inflate
// (for deflate). Goals: stored >= 0.5 x memcpy, deflate >= 0.9 x inflate.
// A third baseline is the floor the system sets for any extractor: the same
// bytes copied from memory into fresh file mappings, with nothing decoded.
//
// The archives are written here in a temp folder (no zip tool runs under
// Wine) and deleted at the end. Each figure is the best of a few runs.
#include <windows.h>
#include <shellapi.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "install/zip_archive.h"

namespace {

constexpr size_t kFileCount = 16;
constexpr size_t kFileSize = 16u << 20;  // 256 MiB in all
constexpr int kRuns = 3;

struct Member {
  std::string name;
  std::vector<uint8_t> raw;
  std::vector<uint8_t> deflated;
  uint32_t crc = 0;
};

// Text-like data with stretches of noise, so that deflate finds both long and
// short matches and some literals, as in a package of DLLs and skins.
std::vector<uint8_t> MakeContent(uint32_t seed) {
  static const char* const kWords[] = {"window", "control", "layout", "button", "image",
                                       "frame",  "engine",  "texture", "0x7f3a", "render"};
  std::vector<uint8_t> out;
  out.reserve(kFileSize);
  uint32_t n = seed;
  auto next = [&n] { return n = n * 1664525u + 1013904223u; };
  while (out.size() < kFileSize) {
    if (next() % 64 == 0) {
      for (int i = 0; i < 64; ++i) out.push_back(static_cast<uint8_t>(next() >> 24));
    } else {
      const char* word = kWords[(next() >> 8) % 10];
      out.insert(out.end(), word, word + std::strlen(word));
      out.push_back(static_cast<uint8_t>(" \n\t;"[(next() >> 12) % 4]));
    }
  }
  out.resize(kFileSize);
  return out;
}

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& raw) {
  z_stream stream = {};
  deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(raw.size())));
  stream.next_in = const_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void Put16(std::string* s, uint16_t v) { s->append(reinterpret_cast<const char*>(&v), 2); }
void Put32(std::string* s, uint32_t v) { s->append(reinterpret_cast<const char*>(&v), 4); }

// A plain single-disk zip (little-endian host assumed, as on every Windows).
bool WriteZip(const std::wstring& path, const std::vector<Member>& members, bool deflated) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string central;
  uint32_t offset = 0;
  bool ok = true;
  auto write = [&](const void* data, size_t size) {
    DWORD written = 0;
    ok = ok && ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
    offset += static_cast<uint32_t>(size);
  };
  for (const Member& m : members) {
    const std::vector<uint8_t>& data = deflated ? m.deflated : m.raw;
    uint16_t method = deflated ? 8 : 0;
    std::string local;
    Put32(&local, 0x04034b50);
    Put16(&local, 20);
    Put16(&local, 0);
    Put16(&local, method);
    Put16(&local, 0);       // time
    Put16(&local, 0x5321);  // date 2021-09-01
    Put32(&local, m.crc);
    Put32(&local, static_cast<uint32_t>(data.size()));
    Put32(&local, static_cast<uint32_t>(m.raw.size()));
    Put16(&local, static_cast<uint16_t>(m.name.size()));
    Put16(&local, 0);
    local += m.name;

    Put32(&central, 0x02014b50);
    Put16(&central, 20);
    central.append(local, 4, 26);  // version needed .. extra length
    Put16(&central, 0);            // comment
    Put16(&central, 0);            // disk
    Put16(&central, 0);            // internal attributes
    Put32(&central, 0);            // external attributes
    Put32(&central, offset);
    central += m.name;

    write(local.data(), local.size());
    write(data.data(), data.size());
  }
  std::string end;
  Put32(&end, 0x06054b50);
  Put16(&end, 0);
  Put16(&end, 0);
  Put16(&end, static_cast<uint16_t>(members.size()));
  Put16(&end, static_cast<uint16_t>(members.size()));
  Put32(&end, static_cast<uint32_t>(central.size()));
  Put32(&end, offset);
  Put16(&end, 0);
  write(central.data(), central.size());
  write(end.data(), end.size());
  ::CloseHandle(file);
  return ok;
}

// The output side of an extraction alone: a new file of the final size,
// mapped and filled from memory.
bool WriteThroughMapping(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  size.QuadPart = static_cast<LONGLONG>(bytes.size());
  bool ok = ::SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
  HANDLE mapping = ok ? ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr) : nullptr;
  void* view = mapping ? ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, bytes.size()) : nullptr;
  if (view) {
    std::memcpy(view, bytes.data(), bytes.size());
    ::UnmapViewOfFile(view);
  }
  if (mapping) ::CloseHandle(mapping);
  ::CloseHandle(file);
  return view != nullptr;
}

void RemoveTree(const std::wstring& dir) {
  std::wstring from = dir + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
  ::SHFileOperationW(&op);
}

// Best of kRuns; |prepare| runs before each timed run, untimed.
double BestSeconds(const std::function<void()>& prepare, const std::function<bool()>& work) {
  double best = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    prepare();
    auto t0 = std::chrono::steady_clock::now();
    if (!work()) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int wmain() {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"nq_zip_bench";
  RemoveTree(dir);
  ::CreateDirectoryW(dir.c_str(), nullptr);

  std::printf("preparing %zu files of %zu MiB...\n", kFileCount, kFileSize >> 20);
  std::vector<Member> members(kFileCount);
  size_t total = 0, packed = 0;
  for (size_t i = 0; i < kFileCount; ++i) {
    Member& m = members[i];
    m.name = "data/file" + std::to_string(i) + ".bin";
    m.raw = MakeContent(static_cast<uint32_t>(i * 7919 + 1));
    m.deflated = RawDeflate(m.raw);
    m.crc = static_cast<uint32_t>(crc32(0, m.raw.data(), static_cast<uInt>(m.raw.size())));
    total += m.raw.size();
    packed += m.deflated.size();
  }
  const std::wstring stored_zip = dir + L"\\stored.zip";
  const std::wstring deflate_zip = dir + L"\\deflate.zip";
  const std::wstring out = dir + L"\\out";
  if (!WriteZip(stored_zip, members, false) || !WriteZip(deflate_zip, members, true)) {
    std::printf("cannot write the archives in %ls\n", dir.c_str());
    return 1;
  }

  // Touched beforehand, so that no page fault is timed in the memory baselines.
  std::vector<uint8_t> target(total);
  std::memset(target.data(), 1, target.size());
  auto nothing = [] {};
  double copy = BestSeconds(nothing, [&] {
    size_t at = 0;
    for (const Member& m : members) {
      std::memcpy(target.data() + at, m.raw.data(), m.raw.size());
      at += m.raw.size();
    }
    return true;
  });
  double raw_inflate = BestSeconds(nothing, [&] {
    for (const Member& m : members) {
      z_stream stream = {};
      inflateInit2(&stream, -MAX_WBITS);
      stream.next_in = const_cast<Bytef*>(m.deflated.data());
      stream.avail_in = static_cast<uInt>(m.deflated.size());
      stream.next_out = target.data();
      stream.avail_out = static_cast<uInt>(m.raw.size());
      int status = inflate(&stream, Z_FINISH);
      inflateEnd(&stream);
      if (status != Z_STREAM_END) return false;
    }
    return true;
  });
  auto clear = [&] { RemoveTree(out); };
  double floor = BestSeconds(clear, [&] {
    ::CreateDirectoryW(out.c_str(), nullptr);
    for (size_t i = 0; i < members.size(); ++i) {
      if (!WriteThroughMapping(out + L"\\f" + std::to_wstring(i), members[i].raw)) return false;
    }
    return true;
  });
  double stored = BestSeconds(clear, [&] {
    return ExtractZipArchive(stored_zip.c_str(), out.c_str()) == S_OK;
  });
  double deflated = BestSeconds(clear, [&] {
    return ExtractZipArchive(deflate_zip.c_str(), out.c_str()) == S_OK;
  });
  RemoveTree(dir);
  if (stored < 0 || deflated < 0 || raw_inflate < 0 || floor < 0) {
    std::printf("a run failed\n");
    return 1;
  }

  const double mb = total / 1e6;
  std::printf("%.0f MB in %zu files, deflated to %.0f MB (best of %d runs)\n", mb, kFileCount,
              packed / 1e6, kRuns);
  std::printf("memcpy                      %7.0f MB/s\n", mb / copy);
  std::printf("ExtractZipArchive, stored   %7.0f MB/s  = %.2f x memcpy   (goal 0.50)\n",
              mb / stored, copy / stored);
  std::printf("file-mapping floor          %7.0f MB/s  (stored = %.2f x floor)\n", mb / floor,
              floor / stored);
  std::printf("raw zlib inflate            %7.0f MB/s\n", mb / raw_inflate);
  std::printf("ExtractZipArchive, deflate  %7.0f MB/s  = %.2f x inflate  (goal 0.90)\n",
              mb / deflated, raw_inflate / deflated);
  return 0;
}
