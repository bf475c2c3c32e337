#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/string_util.h"
#include "utils/utils.h"

namespace {

// A scratch key under HKEY_CURRENT_USER, removed afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = base::StrPrintf(L"Software\\NqUtilsTest_%lu", ::GetCurrentProcessId());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
  }
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

  // The stored type and byte count of |name|.
  bool QueryRaw(const std::wstring& subkey, const std::wstring& name, DWORD* type, DWORD* bytes) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return false;
    }
    LONG result = ::RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, bytes);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }

  std::wstring key_;
};

// The byte count given to the system is 2 x length. For text that is not
// empty the system itself then stores the terminator the count left out (as
// Windows NT always has), so only the empty text shows the count directly: 0
// bytes, where a count with the terminator would store 2.
TEST_F(RegistryTest, WritesTwiceTheLengthAndReadsBack) {
  const std::wstring nested = key_ + L"\\a\\b";  // missing keys are created
  static const struct {
    const wchar_t* text;
    DWORD stored_bytes;
  } kCases[] = {
      {L"", 0},
      {L"x", 4},
      {L"C:\\Users\\u\\AppData", 38},
      {L"\u5378\u8f7dVelmora", 20},
  };
  for (const auto& c : kCases) {
    const wchar_t* text = c.text;
    SCOPED_TRACE(base::WideToUtf8(text));
    ASSERT_TRUE(utils::WriteRegText(HKEY_CURRENT_USER, nested, L"Value", text));
    DWORD type = 0, bytes = 0;
    ASSERT_TRUE(QueryRaw(nested, L"Value", &type, &bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, c.stored_bytes);
    EXPECT_EQ(utils::ReadRegText(HKEY_CURRENT_USER, nested, L"Value", L"default"), text);
    // Value names are not case-sensitive.
    EXPECT_EQ(utils::ReadRegText(HKEY_CURRENT_USER, nested, L"VALUE", L"default"), text);
  }
}

// The read buffer holds 1024 bytes: 511 characters and the stored terminator.
TEST_F(RegistryTest, LongValuesReadAsTheDefault) {
  static const struct {
    size_t length;
    bool readable;
  } kCases[] = {{510, true}, {511, true}, {512, false}, {600, false}, {5, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.length);
    const std::wstring text(c.length, L'v');
    ASSERT_TRUE(utils::WriteRegText(HKEY_CURRENT_USER, key_, L"Long", text));
    EXPECT_EQ(utils::ReadRegText(HKEY_CURRENT_USER, key_, L"Long", L"default"),
              c.readable ? text : L"default");
  }
}

TEST_F(RegistryTest, MissingPartsAndOtherTypes) {
  ASSERT_TRUE(utils::WriteRegText(HKEY_CURRENT_USER, key_, L"Text", L"t"));
  const DWORD number = 0x00410041;  // would read as "AA" if taken for text
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  ::RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof(number));
  ::RegCloseKey(key);

  static const struct {
    const char* name;
    HKEY root;
    bool missing_key;
    const wchar_t* value;
  } kCases[] = {
      {"no root", nullptr, false, L"Text"},
      {"missing key", HKEY_CURRENT_USER, true, L"Text"},
      {"empty value name", HKEY_CURRENT_USER, false, L""},
      {"missing value", HKEY_CURRENT_USER, false, L"Absent"},
      {"not text", HKEY_CURRENT_USER, false, L"Number"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring subkey = c.missing_key ? key_ + L"\\absent" : key_;
    EXPECT_EQ(utils::ReadRegText(c.root, subkey, c.value, L"fallback"), L"fallback");
    EXPECT_EQ(utils::ReadRegText(c.root, subkey, c.value), L"");
  }
  EXPECT_EQ(utils::ReadRegText(HKEY_CURRENT_USER, L"", L"Text", L"fallback"), L"fallback");

  EXPECT_FALSE(utils::WriteRegText(nullptr, key_, L"Text", L"x"));
  EXPECT_FALSE(utils::WriteRegText(HKEY_CURRENT_USER, L"", L"Text", L"x"));
  EXPECT_FALSE(utils::WriteRegText(HKEY_CURRENT_USER, key_, L"", L"x"));
  EXPECT_EQ(utils::ReadRegText(HKEY_CURRENT_USER, key_, L"Text"), L"t");
}

}  // namespace
