#include "base/string_util.h"

#include <gtest/gtest.h>

namespace {

TEST(StringUtilTest, ConversionsAndFormatting) {
  const std::wstring wide = L"a\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(base::WideToUtf8(wide), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(base::Utf8ToWide(base::WideToUtf8(wide)), wide);
  EXPECT_EQ(base::Utf8ToWide(""), L"");
  EXPECT_EQ(base::WideToAnsi(L"plain"), "plain");
  // Both %s and %ls take wide strings in the wide formatter.
  EXPECT_EQ(base::StrPrintf(L"%ls\\%ls.json", L"C:\\kzr", L"kzr"), L"C:\\kzr\\kzr.json");
  EXPECT_EQ(base::StrPrintf(L"%s_%d", L"p1", 7), L"p1_7");
  EXPECT_EQ(base::StrPrintf(L"%ls", std::wstring(5000, L'x').c_str()).size(), 5000u);
  EXPECT_EQ(base::ToLowerW(L"ABC\u00c9"), L"abc\u00e9");
}

}  // namespace
