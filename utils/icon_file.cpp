// Writing icons as an .ico file.
#include <cstdint>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "utils/utils.h"

namespace utils {
namespace {

// Format notes (the published ICO layout, all numbers little-endian):
//   header     6 bytes: reserved 0 (16 bits), type 1 (16), image count (16);
//   directory 16 bytes per image: width and height (8 bits each, 256 as 0),
//              colour count (8; 0 for 8 bits per pixel and more), reserved
//              (8), planes (16), bits per pixel (16), image size (32), image
//              offset from the start of the file (32);
//   each image: a BITMAPINFOHEADER whose height counts the colour and the
//              mask rows together (twice the icon height), the colour table
//              for 8 bits per pixel and less, the colour rows, then the
//              1-bit mask rows; rows bottom-up, each padded to 4 bytes.
constexpr size_t kHeaderSize = 6;
constexpr size_t kDirEntrySize = 16;
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the image header is 40 bytes in the file");
static_assert(sizeof(RGBQUAD) == 4, "colour table entries are 4 bytes in the file");

struct IconImage {
  int width = 0;
  int height = 0;
  int bits_per_pixel = 0;
  std::string data;  // header, colour table, colour rows, mask rows
};

void PutU8(std::string& out, uint32_t value) { out += static_cast<char>(value & 0xFF); }
void PutU16(std::string& out, uint32_t value) {
  PutU8(out, value);
  PutU8(out, value >> 8);
}
void PutU32(std::string& out, uint32_t value) {
  PutU16(out, value);
  PutU16(out, value >> 16);
}

uint32_t RowBytes(int width, int bits_per_pixel) {
  return ((static_cast<uint32_t>(width) * static_cast<uint32_t>(bits_per_pixel) + 31) / 32) * 4;
}

class ScreenDC {
 public:
  ScreenDC() : dc_(::GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_) ::ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

struct BitmapInfoWithColors {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

// The rows of |bitmap| at |bits_per_pixel| as GetDIBits returns them; the
// colour table lands in |info|.
bool ReadBits(HDC dc, HBITMAP bitmap, int width, int height, int bits_per_pixel,
              BitmapInfoWithColors* info, std::string* rows) {
  *info = {};
  info->header.biSize = sizeof(BITMAPINFOHEADER);
  info->header.biWidth = width;
  info->header.biHeight = height;
  info->header.biPlanes = 1;
  info->header.biBitCount = static_cast<WORD>(bits_per_pixel);
  info->header.biCompression = BI_RGB;
  rows->assign(static_cast<size_t>(RowBytes(width, bits_per_pixel)) * static_cast<size_t>(height),
               '\0');
  const int lines = ::GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), rows->data(),
                                reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS);
  return lines == height;
}

bool ReadIcon(HDC dc, HICON icon, IconImage* image) {
  ICONINFO info = {};
  if (!icon || !::GetIconInfo(icon, &info)) return false;
  base::ScopedGdiObject color(info.hbmColor);
  base::ScopedGdiObject mask(info.hbmMask);
  // Monochrome icons keep both images in the mask; not written here.
  if (!color || !mask) return false;

  BITMAP bitmap = {};
  if (!::GetObjectW(color.Get(), sizeof(bitmap), &bitmap)) return false;
  const int width = bitmap.bmWidth;
  const int height = bitmap.bmHeight;
  const int bpp = bitmap.bmBitsPixel;
  if (width <= 0 || height <= 0 || width > 256 || height > 256) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;

  BitmapInfoWithColors color_info;
  std::string color_rows;
  if (!ReadBits(dc, static_cast<HBITMAP>(color.Get()), width, height, bpp, &color_info,
                &color_rows)) {
    return false;
  }
  BitmapInfoWithColors mask_info;
  std::string mask_rows;
  if (!ReadBits(dc, static_cast<HBITMAP>(mask.Get()), width, height, 1, &mask_info, &mask_rows)) {
    return false;
  }

  const size_t palette_entries = bpp <= 8 ? size_t{1} << bpp : 0;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height * 2;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bpp);
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(color_rows.size() + mask_rows.size());

  image->width = width;
  image->height = height;
  image->bits_per_pixel = bpp;
  image->data.assign(reinterpret_cast<const char*>(&header), sizeof(header));
  image->data.append(reinterpret_cast<const char*>(color_info.colors),
                     palette_entries * sizeof(RGBQUAD));
  image->data += color_rows;
  image->data += mask_rows;
  return true;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace

bool SaveIconFile(const HICON* icons, int count, const std::wstring& path) {
  if (!icons || count <= 0 || count > 0xFFFF) return false;
  ScreenDC dc;
  if (!dc.Get()) return false;
  std::vector<IconImage> images(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (!ReadIcon(dc.Get(), icons[i], &images[static_cast<size_t>(i)])) return false;
  }

  std::string head;
  PutU16(head, 0);
  PutU16(head, 1);
  PutU16(head, static_cast<uint32_t>(count));
  uint32_t offset = static_cast<uint32_t>(kHeaderSize + kDirEntrySize * images.size());
  for (const IconImage& image : images) {
    PutU8(head, static_cast<uint32_t>(image.width));
    PutU8(head, static_cast<uint32_t>(image.height));
    PutU8(head, image.bits_per_pixel < 8 ? 1u << image.bits_per_pixel : 0);
    PutU8(head, 0);
    PutU16(head, 0);
    PutU16(head, static_cast<uint32_t>(image.bits_per_pixel));
    PutU32(head, static_cast<uint32_t>(image.data.size()));
    PutU32(head, offset);
    offset += static_cast<uint32_t>(image.data.size());
  }

  base::ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (!WriteAll(file.Get(), head)) return false;
  for (const IconImage& image : images) {
    if (!WriteAll(file.Get(), image.data)) return false;
  }
  return true;
}

}  // namespace utils
