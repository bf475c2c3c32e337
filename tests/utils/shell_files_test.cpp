// Shell links and icon files. The files are also read back by Linux tools in
// shell_files_check.sh, through the write_shell_files child mode below.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "tests/support/test_support.h"
#include "utils/utils.h"

namespace {

using test_support::FileExists;
using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::WriteFileBytes;

// The sizes the installer loads icon 401 in, in its order.
constexpr int kIconSizes[] = {16, 24, 32, 48, 96, 128, 256};

std::vector<base::ScopedIcon> LoadAppIcons() {
  std::vector<base::ScopedIcon> icons;
  for (int size : kIconSizes) {
    icons.emplace_back(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                       MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                       size, size, LR_DEFAULTCOLOR)));
  }
  return icons;
}

bool SaveIcons(const std::vector<base::ScopedIcon>& icons, const std::wstring& path) {
  std::vector<HICON> handles;
  for (const auto& icon : icons) handles.push_back(icon.Get());
  return utils::SaveIconFile(handles.data(), static_cast<int>(handles.size()), path);
}

uint32_t U16(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
}
uint32_t U32(const std::string& bytes, size_t at) {
  return U16(bytes, at) | (U16(bytes, at + 2) << 16);
}

class ComScope {
 public:
  ComScope() { ::CoInitialize(nullptr); }
  ~ComScope() { ::CoUninitialize(); }
};

// Writes, into the folder given, game\Velmora.exe (a stand-in target),
// game\kzr.ico (icon 401 in seven sizes) and the uninstall shortcut, plus
// expected.txt with the values the link must hold, one a line: target,
// arguments, working directory, icon location.
TEST_CHILD(write_shell_files) {
  if (args.empty()) return 2;
  ComScope com;
  const std::wstring game = args[0] + L"\\game";
  ::CreateDirectoryW(game.c_str(), nullptr);
  const std::wstring target = game + L"\\Velmora.exe";
  const std::wstring icon = game + L"\\kzr.ico";
  if (!WriteFileBytes(target, "stand-in")) return 3;
  if (!SaveIcons(LoadAppIcons(), icon)) return 4;
  const std::wstring arguments = L"/uninstall /from=uninst";
  const std::wstring link = args[0] + L"\\\u5378\u8f7dVelmora.lnk";
  if (!utils::CreateShortcut(L"Velmora", target, arguments, link, icon, 0)) return 5;
  wchar_t short_icon[MAX_PATH] = {};
  ::GetShortPathNameW(icon.c_str(), short_icon, MAX_PATH);
  const std::wstring expected =
      target + L"\n" + arguments + L"\n" + game + L"\n" + short_icon + L"\n";
  return WriteFileBytes(args[0] + L"\\expected.txt", base::WideToUtf8(expected)) ? 0 : 6;
}

TEST(ShellFilesTest, IconFileLayout) {
  const std::wstring dir = MakeTempDir(L"ico");
  const std::wstring path = dir + L"\\kzr.ico";
  const std::vector<base::ScopedIcon> icons = LoadAppIcons();
  for (const auto& icon : icons) ASSERT_TRUE(icon);
  // An older, longer file is replaced, not overwritten in place.
  ASSERT_TRUE(WriteFileBytes(path, std::string(100000, 'x')));
  ASSERT_TRUE(SaveIcons(icons, path));

  const std::string bytes = ReadFileBytes(path);
  ASSERT_GE(bytes.size(), 6u + 16u * 7);
  EXPECT_EQ(U16(bytes, 0), 0u);
  EXPECT_EQ(U16(bytes, 2), 1u);
  ASSERT_EQ(U16(bytes, 4), 7u);
  size_t expected_offset = 6 + 16 * 7;
  for (size_t i = 0; i < 7; ++i) {
    SCOPED_TRACE(kIconSizes[i]);
    const size_t entry = 6 + 16 * i;
    const uint32_t size_byte = static_cast<uint32_t>(kIconSizes[i]) & 0xFF;
    EXPECT_EQ(static_cast<uint8_t>(bytes[entry]), size_byte);
    EXPECT_EQ(static_cast<uint8_t>(bytes[entry + 1]), size_byte);
    EXPECT_EQ(static_cast<uint8_t>(bytes[entry + 3]), 0u);
    EXPECT_EQ(U16(bytes, entry + 4), 0u);  // planes
    const uint32_t bpp = U16(bytes, entry + 6);
    EXPECT_EQ(static_cast<uint8_t>(bytes[entry + 2]), bpp < 8 ? 1u << bpp : 0u);
    const uint32_t image_size = U32(bytes, entry + 8);
    const uint32_t offset = U32(bytes, entry + 12);
    EXPECT_EQ(offset, expected_offset);
    ASSERT_LE(offset + 40, bytes.size());
    // The image header: width, colour and mask rows together, same depth.
    EXPECT_EQ(U32(bytes, offset), 40u);
    EXPECT_EQ(U32(bytes, offset + 4), static_cast<uint32_t>(kIconSizes[i]));
    EXPECT_EQ(U32(bytes, offset + 8), 2u * kIconSizes[i]);
    EXPECT_EQ(U16(bytes, offset + 14), bpp);
    const uint32_t color_row = (kIconSizes[i] * bpp + 31) / 32 * 4;
    const uint32_t mask_row = (kIconSizes[i] + 31) / 32 * 4;
    const uint32_t palette = bpp <= 8 ? 4u << bpp : 0u;
    EXPECT_EQ(image_size, 40 + palette + (color_row + mask_row) * kIconSizes[i]);
    expected_offset += image_size;
  }
  EXPECT_EQ(bytes.size(), expected_offset);
}

TEST(ShellFilesTest, IconFileRefusesUnreadableIcons) {
  const std::wstring dir = MakeTempDir(L"icobad");
  const std::wstring path = dir + L"\\bad.ico";
  std::vector<base::ScopedIcon> icons = LoadAppIcons();
  HICON handles[] = {icons[0].Get(), reinterpret_cast<HICON>(static_cast<uintptr_t>(0x1234)),
                     nullptr};
  EXPECT_FALSE(utils::SaveIconFile(handles, 2, path));
  EXPECT_FALSE(utils::SaveIconFile(handles + 2, 1, path));
  EXPECT_FALSE(utils::SaveIconFile(handles, 0, path));
  EXPECT_FALSE(utils::SaveIconFile(nullptr, 1, path));
  EXPECT_FALSE(FileExists(path));
}

TEST(ShellFilesTest, ShortcutHeaderAndFailures) {
  ComScope com;
  const std::wstring dir = MakeTempDir(L"lnk");
  const std::wstring target = dir + L"\\game.exe";
  ASSERT_TRUE(WriteFileBytes(target, "x"));
  const std::wstring link = dir + L"\\game.lnk";
  ASSERT_TRUE(utils::CreateShortcut(L"game", target, L" /from=desk_icon", link, target, 0));
  const std::string bytes = ReadFileBytes(link);
  ASSERT_GE(bytes.size(), 0x4Cu);
  EXPECT_EQ(U32(bytes, 0), 0x4Cu);          // the shell link header size
  EXPECT_EQ(U32(bytes, 0x3C), static_cast<uint32_t>(SW_SHOW));

  // A missing target leaves an existing link as it was.
  ASSERT_TRUE(WriteFileBytes(link, "old link"));
  EXPECT_FALSE(utils::CreateShortcut(L"game", dir + L"\\missing.exe", L"", link, target, 0));
  EXPECT_EQ(ReadFileBytes(link), "old link");
  // A link that cannot be saved.
  EXPECT_FALSE(
      utils::CreateShortcut(L"game", target, L"", dir + L"\\no\\such\\dir\\x.lnk", target, 0));
}

}  // namespace
