#include "telemetry/product_info.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "telemetry/os_version.h"
#include "telemetry/product_tables.h"
#include "telemetry/statistic_url.h"
#include "tests/support/test_support.h"

namespace {

using test_support::MakeTempDir;
using test_support::ReadFileBytes;
using test_support::SelfPath;
using test_support::WriteFileBytes;

// The signed fixtures the build made beside this test executable.
std::wstring SigData(const wchar_t* name) {
  std::wstring dir = SelfPath();
  dir.resize(dir.find_last_of(L'\\'));
  return dir + L"\\sigdata\\" + name;
}

std::wstring AppData() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
  return path;
}

TEST(PublisherCheckTest, SignatureTable) {
  const std::wstring dir = MakeTempDir(L"sig");
  // One byte of the signed image changed (inside the first section, which the
  // Authenticode digest covers).
  std::string tampered = ReadFileBytes(SigData(L"signed.dll"));
  ASSERT_GT(tampered.size(), 0x500u);
  tampered[0x480] = static_cast<char>(tampered[0x480] ^ 0x01);
  ASSERT_TRUE(WriteFileBytes(dir + L"\\tampered.dll", tampered));
  ASSERT_TRUE(WriteFileBytes(dir + L"\\text.dll", "not a program"));

  static const struct {
    const char* name;
    bool in_temp;
    const wchar_t* file;
    bool passes;
  } kCases[] = {
      {"signed by the test CA", false, L"signed.dll", true},
      {"self-signed impostor with an accepted name", false, L"impostor.dll", false},
      {"one byte changed", true, L"tampered.dll", false},
      {"unsigned", false, L"unsigned.dll", false},
      {"expired signing certificate (Chinese publisher name)", false, L"expired.dll", true},
      {"not a program", true, L"text.dll", false},
      {"missing file", true, L"missing.dll", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = c.in_temp ? dir + L"\\" + c.file : SigData(c.file);
    EXPECT_EQ(VerifyPublisher(path), c.passes);
  }
  EXPECT_FALSE(VerifyPublisher(L""));
  EXPECT_FALSE(VerifyPublisher(dir));  // a folder
}

TEST(PublisherCheckTest, AcceptedPublisherNamesIgnoreCase) {
  static const struct {
    const wchar_t* name;
    bool accepted;
  } kCases[] = {
      {L"Nevaquar Interactive Ltd.", true},
      {L"NEVAQUAR INTERACTIVE LTD.", true},
      {L"布雷夫普雷网络科技有限公司", true},
      {L"Nevaquar Interactive Ltd", false},
      {L"Some Other Company", false},
      {L"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.name));
    EXPECT_EQ(telemetry::IsAcceptedPublisher(c.name), c.accepted);
  }
}

TEST(FileVersionTest, RuleForWindows10On32BitSystems) {
  static const struct {
    bool prefer_string;
    const wchar_t* version_string;
    unsigned long ms, ls;
    const wchar_t* text;
  } kCases[] = {
      {true, L"1, 0, 0, 12", 0x00020003, 0x00040005, L"1.0.0.12"},
      {false, L"1, 0, 0, 12", 0x00020003, 0x00040005, L"2.3.4.5"},
      {true, L"", 0x00020003, 0x00040005, L"2.3.4.5"},
      {true, L"  ", 0x00010000, 0x0000FFFF, L"1.0.0.65535"},
      {true, L"3.1 beta", 0, 0, L"3.1beta"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.version_string));
    EXPECT_EQ(telemetry::FileVersionText(c.prefer_string, c.version_string, c.ms, c.ls), c.text);
  }
}

// This system is 64-bit (and Wine reports Windows 7), so the fixed numbers
// are used, not the fixture's differing version string.
TEST(FileVersionTest, ReadsTheFixedNumbersOnA64BitSystem) {
  std::wstring version = L"untouched";
  ASSERT_TRUE(GetFileVersion(SigData(L"unsigned.dll"), &version));
  EXPECT_EQ(version, L"2.3.4.5");
  version = L"untouched";
  EXPECT_FALSE(GetFileVersion(SigData(L"missing.dll"), &version));
  EXPECT_FALSE(GetFileVersion(L"", &version));
  EXPECT_EQ(version, L"untouched");
}

TEST(OsVersionTest, ReportsAtLeastTheSystemsOwnVersion) {
  COSVersionCheck* check = COSVersionCheck::GetInstance();
  EXPECT_EQ(check, COSVersionCheck::GetInstance());
  OSVERSIONINFOEXW record = {};
  check->GetVersion(&record);
  EXPECT_GE(record.dwMajorVersion, 6u);
  EXPECT_EQ(check->VersionNumber(), record.dwMajorVersion * 10 + record.dwMinorVersion);
  EXPECT_GT(record.dwBuildNumber, 0u);
}

TEST(ProductInfoTest, TheClientIsProductZero) {
  EXPECT_EQ(DetectProduct(0), 0);
  EXPECT_EQ(DetectProduct(5), 0);
  EXPECT_EQ(GetAppName(0), L"Nevaquar");
  EXPECT_EQ(GetDefaultTemplate(0), telemetry::kStatisticsUrlTemplate);
  EXPECT_EQ(std::wstring(telemetry::kStatisticsUrlTemplate),
            L"http://127.0.0.1:28711/wan?type={type}&action={action}&channel={pid}&mid={mid}&mid2={mid2}");
  const std::wstring settings = GetSettingsFile(0);
  EXPECT_EQ(settings, AppData() + L"\\Brevplay\\config.ini");
  const DWORD attributes = ::GetFileAttributesW((AppData() + L"\\Brevplay").c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
  // The client's marker-less row has no version of its own.
  EXPECT_EQ(GetAppVersion(0), L"");
}

TEST(ProductInfoTest, DefaultChannelFromTheMachineKeyIn32BitView) {
  base::ScopedRegKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brevplay", 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  static const struct {
    const char* name;
    DWORD type;
    std::wstring stored;  // written with its terminator
    const wchar_t* channel;
  } kCases[] = {
      {"string", REG_SZ, L"chan_01", L"chan_01"},
      {"expandable string", REG_EXPAND_SZ, L"%chan%", L"%chan%"},
      {"number", REG_DWORD, L"", L""},
      {"260 characters", REG_SZ, std::wstring(260, L'c'), nullptr},
      {"261 characters", REG_SZ, std::wstring(261, L'c'), L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.type == REG_DWORD) {
      const DWORD value = 7;
      ::RegSetValueExW(key.Get(), L"PID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    } else {
      ::RegSetValueExW(key.Get(), L"PID", 0, c.type, reinterpret_cast<const BYTE*>(c.stored.c_str()),
                       static_cast<DWORD>((c.stored.size() + 1) * sizeof(wchar_t)));
    }
    EXPECT_EQ(GetDefaultChannel(0), c.channel ? std::wstring(c.channel) : c.stored);
  }
  ::RegDeleteValueW(key.Get(), L"PID");
  EXPECT_EQ(GetDefaultChannel(0), L"");
}

TEST(ProductInfoTest, RulesBoundToProductIds) {
  for (int id = 0; id <= 14; ++id) {
    SCOPED_TRACE(id);
    const bool zov = id >= 1 && id <= 9 && id != 6 && id != 8;
    EXPECT_EQ(telemetry::UsesZovSettingsFile(id), zov);
    const bool vendor = id == 1 || id == 2 || id == 12 || id == 14;
    EXPECT_EQ(std::wstring(telemetry::ChannelValueName(id)), vendor ? L"VendorID" : L"PID");
    EXPECT_EQ(telemetry::ChannelFromCurrentUser(id), id == 3 || id == 10);
    EXPECT_EQ(telemetry::ChannelJoinsSubPid(id), id == 4);
    ASSERT_NE(telemetry::FindProduct(id), nullptr);
  }
  EXPECT_EQ(telemetry::FindProduct(99), nullptr);
}

}  // namespace
