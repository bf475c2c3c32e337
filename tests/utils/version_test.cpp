#include <gtest/gtest.h>
#include <windows.h>

#include "base/string_util.h"
#include "tests/support/test_support.h"
#include "tests/utils/fixture_path.h"
#include "utils/utils.h"

namespace {

TEST(VersionTest, IsVersionNewer) {
  static const struct {
    const wchar_t* a;
    const wchar_t* b;
    bool newer;
  } kCases[] = {
      {L"1.2.3", L"1.2.3.0", false},
      {L"1.2.3.0", L"1.2.3", false},
      {L"1.2", L"1.2.0.0", false},
      {L"1.10.0.0", L"1.9.9.9", true},
      {L"1.9.9.9", L"1.10.0.0", false},
      {L"1.0.0.10", L"1.0.0.9", true},
      {L"2", L"1.9.9.9", true},
      {L"1.0.0.1", L"", true},  // a missing file reads as 0.0.0.0
      {L"", L"0.0.0.0", false},
      {L"65537.0.0.0", L"1.0.0.0", false},  // 65537 is kept in 16 bits: 1
      {L"65537", L"0.9", true},
      {L"1.0.0.65535", L"1.0.0.65534", true},
      {L"1.2.3.4.9", L"1.2.3.4", false},  // a fifth part is ignored
      {L"1.2.3.5", L"1.2.3.4.9", true},
      {L"1.2x.0.0", L"1.1.0.0", true},     // reading stops at the first non-digit
      {L"1..1", L"1.0.0.0", true},
      {L"abc", L"0", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(std::wstring(c.a) + L" vs " + c.b));
    EXPECT_EQ(utils::IsVersionNewer(c.a, c.b), c.newer);
  }
}

TEST(VersionTest, FileAndProductVersionFromTheBlock) {
  DWORD ms = 0, ls = 0;
  std::wstring text;
  // The test executable carries the game's block: 1.0.0.1.
  ASSERT_TRUE(utils::GetFileVersionNumbers(test_support::SelfPath(), &ms, &ls, &text, true));
  EXPECT_EQ(ms, 0x00010000u);
  EXPECT_EQ(ls, 0x00000001u);
  EXPECT_EQ(text, L"1.0.0.1");
  EXPECT_EQ(utils::GetFileVersionText(test_support::SelfPath()), L"1.0.0.1");

  const std::wstring old_module = test_fixtures::FixtureModule("old_version");
  ASSERT_TRUE(utils::GetFileVersionNumbers(old_module, &ms, &ls, &text, true));
  EXPECT_EQ(text, L"0.9.0.0");
  ASSERT_TRUE(utils::GetFileVersionNumbers(old_module, &ms, &ls, &text, false));
  EXPECT_EQ(ms, 0x00000009u);
  EXPECT_EQ(ls, 0x00050007u);
  EXPECT_EQ(text, L"0.9.5.7");
  EXPECT_EQ(utils::GetFileVersionText(old_module), L"0.9.0.0");
  // Null outputs are allowed.
  EXPECT_TRUE(utils::GetFileVersionNumbers(old_module, nullptr, nullptr, nullptr, true));
}

TEST(VersionTest, UnreadableBlocksLeaveTheOutputs) {
  const std::wstring dir = test_support::MakeTempDir(L"version");
  const std::wstring plain_file = dir + L"\\plain.exe";
  ASSERT_TRUE(test_support::WriteFileBytes(plain_file, "not a module"));
  const struct {
    const char* name;
    std::wstring path;
  } kCases[] = {
      {"missing file", dir + L"\\missing.exe"},
      {"no version block", plain_file},
      {"block over 8191 bytes", test_fixtures::FixtureModule("big_version")},
      {"empty path", L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DWORD ms = 7, ls = 8;
    std::wstring text = L"untouched";
    EXPECT_FALSE(utils::GetFileVersionNumbers(c.path, &ms, &ls, &text, true));
    EXPECT_EQ(ms, 7u);
    EXPECT_EQ(ls, 8u);
    EXPECT_EQ(text, L"untouched");
    EXPECT_EQ(utils::GetFileVersionText(c.path), L"");
  }
  // The big block is a real one: the system reads it.
  DWORD handle = 0;
  EXPECT_GT(::GetFileVersionInfoSizeW(test_fixtures::FixtureModule("big_version").c_str(), &handle),
            8191u);
}

}  // namespace
