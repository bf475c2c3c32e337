#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "telemetry/hash.h"
#include "telemetry/machine_id.h"
#include "telemetry/machine_id_rules.h"
#include "tests/support/test_support.h"
#include "utils/utils.h"

namespace {

using namespace telemetry;

// A well-formed mid2 for |body| and |kind|.
std::string Mid2With(const std::string& body, uint8_t kind) {
  std::string text = body + HexLower(&kind, 1);
  const uint8_t crc = Crc8Maxim(text);
  return text + HexLower(&crc, 1);
}

TEST(MachineIdRulesTest, Crc8Maxim) {
  static const struct {
    const char* text;
    uint8_t crc;
  } kCases[] = {
      {"123456789", 0xA1},  // the published check value
      {"", 0x00},
      {"\x01", 0x5E},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Crc8Maxim(c.text), c.crc);
  }
}

TEST(MachineIdRulesTest, HashesComeFromTheSystemProviders) {
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// ---- mid ---------------------------------------------------------------------

class FakeMidEnvironment : public MidEnvironment {
 public:
  bool ReadValue(const char* name, std::string* value) override {
    auto it = values.find(name);
    if (it == values.end()) return false;
    *value = it->second;
    return true;
  }
  bool WriteValue(const char* name, const std::string& value) override {
    values[name] = value;
    return true;
  }
  void Collect(MidFacts* out) override {
    ++collections;
    *out = facts;
  }

  std::map<std::string, std::string> values;
  MidFacts facts{"GenuineIntel:178bfbff", "WD-123", "0011223344AA"};
  int collections = 0;
};

TEST(MachineIdRulesTest, MidCacheIsUsedOnlyWhenItsSecondHalfIsTheDigestOfTheFirst) {
  const std::string stored = "0123456789abcdef0123456789abcdef";
  const std::string good = stored + Md5Hex(stored);
  std::string upper_check = good;
  for (size_t i = 32; i < upper_check.size(); ++i) upper_check[i] = static_cast<char>(toupper(upper_check[i]));
  std::string wrong_half = good;
  wrong_half[40] = wrong_half[40] == '0' ? '1' : '0';
  const struct {
    const char* name;
    bool present;
    std::string value;
    bool used;
  } kCases[] = {
      {"valid", true, good, true},
      {"check half in upper case", true, upper_check, true},
      {"wrong MD5 half", true, wrong_half, false},
      {"63 characters", true, good.substr(0, 63), false},
      {"65 characters", true, good + "0", false},
      {"absent", false, "", false},
  };
  FakeMidEnvironment fresh;
  const std::string computed =
      MidFromText(fresh.facts.cpu + fresh.facts.disk + fresh.facts.adapter);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeMidEnvironment env;
    if (c.present) env.values["mid"] = c.value;
    const std::string mid = ResolveMid(env);
    if (c.used) {
      EXPECT_EQ(mid, stored);
      EXPECT_EQ(env.collections, 0);
      EXPECT_EQ(env.values.count("mid_old"), 0u);
      continue;
    }
    EXPECT_EQ(mid, computed);
    EXPECT_EQ(env.values["mid"], computed + Md5Hex(computed));
    EXPECT_TRUE(IsValidMidCache(env.values["mid"]));
    if (c.present) {
      EXPECT_EQ(env.values["mid_old"], c.value);
    } else {
      EXPECT_EQ(env.values.count("mid_old"), 0u);
    }
  }
}

TEST(MachineIdRulesTest, MidWithoutAnyFactIsTheDigestOfMid2FailedAndNotCached) {
  FakeMidEnvironment env;
  env.facts = {};
  EXPECT_EQ(ResolveMid(env), Md5Hex("Mid2Failed"));
  EXPECT_TRUE(env.values.empty());
}

TEST(MachineIdRulesTest, MidSourceTextIsCutAt259Characters) {
  FakeMidEnvironment env;
  env.facts = {std::string(200, 'c'), std::string(100, 'd'), "AA"};
  EXPECT_EQ(ResolveMid(env), Md5Hex(std::string(200, 'c') + std::string(59, 'd')));
}

// ---- mid2 --------------------------------------------------------------------

TEST(MachineIdRulesTest, ComposeMid2BodiesAndKinds) {
  const uint8_t guid[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 1, 2, 3, 4, 5, 6, 7, 8};
  const std::string digest = Sha1Hex(std::string("0011223344AA") + "WD-123" + "cpu");
  const struct {
    const char* name;
    Mid2Facts facts;
    bool elevated;
    bool give_guid;
    std::string body;
    uint8_t kind;
    bool ok;
  } kCases[] = {
      {"all facts", {"0011223344AA", "WD-123", "cpu"}, true, true, digest, 0x2B, true},
      {"not elevated", {"0011223344AA", "WD-123", "cpu"}, false, true, "eeeeeeee" + digest.substr(8), 0x2B, true},
      {"adapter only", {"0011223344AA", "", ""}, true, true, Sha1Hex("0011223344AA"), 0x21, true},
      {"disk and cpu", {"", "WD-123", "cpu"}, true, true, Sha1Hex("WD-123cpu"), 0x2A, true},
      {"cpu alone is random", {"", "", "cpu"}, true, true, "ffffffff1032547698badcfe0102030405060708", 0x10, true},
      {"random is never eeeeeeee", {"", "", ""}, false, true, "ffffffff1032547698badcfe0102030405060708", 0x10,
       true},
      {"no GUID", {"", "", "cpu"}, true, false, std::string(40, '0'), 0x10, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Mid2Value value = ComposeMid2(c.facts, c.elevated, c.give_guid ? guid : nullptr);
    EXPECT_EQ(value.ok, c.ok);
    EXPECT_EQ(value.text, Mid2With(c.body, c.kind));
    EXPECT_TRUE(IsValidMid2(value.text));
  }
}

TEST(MachineIdRulesTest, Mid2ValidationNeedsExactly44CharactersAndTheCheckByte) {
  const std::string good = Mid2With(std::string(40, 'a'), 0x21);
  std::string bad_check = good;
  bad_check[43] = bad_check[43] == '0' ? '1' : '0';
  std::string upper_check = good;
  for (size_t i = 42; i < upper_check.size(); ++i) upper_check[i] = static_cast<char>(toupper(upper_check[i]));
  const struct {
    const char* name;
    std::string value;
    bool valid;
  } kCases[] = {
      {"valid", good, true},
      {"check byte in upper case", upper_check, true},
      {"43 characters", good.substr(0, 43), false},
      {"45 characters", good + "0", false},
      {"wrong check byte", bad_check, false},
      {"check byte not hex", good.substr(0, 42) + "zz", false},
      {"empty", "", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsValidMid2(c.value), c.valid);
  }
}

class FakeMid2Environment : public Mid2Environment {
 public:
  bool IsElevated() override { return elevated; }
  bool ReadValue(const char* name, std::string* value) override {
    auto it = values.find(name);
    if (it == values.end()) return false;
    *value = it->second;
    return true;
  }
  bool WriteValue(const char* name, const std::string& value) override {
    values[name] = value;
    ++writes;
    return true;
  }
  void Collect(Mid2Facts* facts) override {
    const Mid2Facts& next = collections < static_cast<int>(rounds.size()) ? rounds[collections] : rounds.back();
    ++collections;
    if (facts->adapter.empty()) facts->adapter = next.adapter;
    if (facts->disk.empty()) facts->disk = next.disk;
    if (facts->cpu.empty()) facts->cpu = next.cpu;
  }
  void Pause() override { ++pauses; }
  bool NewGuid(uint8_t guid[16]) override {
    for (int i = 0; i < 16; ++i) guid[i] = static_cast<uint8_t>(0xA0 + i);
    return true;
  }

  bool elevated = true;
  std::map<std::string, std::string> values;
  std::vector<Mid2Facts> rounds{{"0011223344AA", "WD-123", "cpu"}};
  int collections = 0;
  int pauses = 0;
  int writes = 0;
};

const std::string kRandomBody = "ffffffffa0a1a2a3a4a5a6a7a8a9aaabacadaeaf";

TEST(MachineIdRulesTest, Mid2CacheThatFailsValidationIsIgnoredAndReplaced) {
  const std::string computed = ComposeMid2({"0011223344AA", "WD-123", "cpu"}, true, nullptr).text;
  const std::string other = Mid2With(std::string(40, 'b'), 0x23);
  std::string bad_check = other;
  bad_check[43] = bad_check[43] == '0' ? '1' : '0';
  const struct {
    const char* name;
    std::string cached;
  } kCases[] = {
      {"43 characters", other.substr(0, 43)},
      {"45 characters", other + "f"},
      {"bad check byte", bad_check},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (bool elevated : {true, false}) {
      SCOPED_TRACE(elevated ? "elevated" : "not elevated");
      FakeMid2Environment env;
      env.elevated = elevated;
      env.values["m2"] = c.cached;
      const std::string expected =
          elevated ? computed : ComposeMid2({"0011223344AA", "WD-123", "cpu"}, false, nullptr).text;
      EXPECT_EQ(ResolveMid2(env), expected);
      EXPECT_EQ(env.values["m2"], expected);
      EXPECT_EQ(env.values["m2_old"], c.cached);
    }
  }
}

TEST(MachineIdRulesTest, Mid2Decisions) {
  const std::string hardware = ComposeMid2({"0011223344AA", "WD-123", "cpu"}, true, nullptr).text;
  const std::string random = Mid2With(kRandomBody, 0x10);
  const std::string other_valid = Mid2With(std::string(40, 'c'), 0x2B);
  const struct {
    const char* name;
    bool elevated;
    const char* cached;  // null: no cache
    std::vector<Mid2Facts> rounds;
    std::string result;
    int pauses;
    bool written;
  } kCases[] = {
      {"valid cache, not elevated: used without collecting", false, "other", {{}}, other_valid, 0, false},
      {"valid cache equal to the hardware value", true, "hardware", {{"0011223344AA", "WD-123", "cpu"}}, hardware,
       0, false},
      {"valid cache differing from the hardware value", true, "other", {{"0011223344AA", "WD-123", "cpu"}},
       hardware, 0, true},
      {"random cache and no hardware", true, "random", {{"", "", "cpu"}}, random, 0, false},
      {"no cache, no hardware: random after a second look", true, nullptr, {{"", "", "cpu"}}, random, 1, true},
      {"disk found on the second look", true, nullptr, {{"0011223344AA", "", "cpu"}, {"", "WD-123", ""}},
       hardware, 1, true},
      {"second look finds the disk: recomputed, not the early value", true, "other",
       {{"0011223344AA", "", "cpu"}, {"", "WD-123", ""}}, hardware, 1, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeMid2Environment env;
    env.elevated = c.elevated;
    env.rounds = c.rounds;
    if (c.cached) {
      const std::string name = c.cached;
      env.values["m2"] = name == "hardware" ? hardware : name == "random" ? random : other_valid;
    }
    EXPECT_EQ(ResolveMid2(env), c.result);
    EXPECT_EQ(env.pauses, c.pauses);
    EXPECT_EQ(env.writes > 0, c.written);
    if (c.written) {
      EXPECT_EQ(env.values["m2"], c.result);
    }
  }
}

// ---- hardware text rules -----------------------------------------------------

TEST(MachineIdRulesTest, IdentifyStringsSwapTheBytesOfEachWord) {
  uint8_t identify[512] = {};
  // Words 10..11 hold "AB", "CD" as the drive stores them: each word swapped.
  identify[20] = 'B', identify[21] = 'A', identify[22] = 'D', identify[23] = 'C';
  identify[24] = ' ', identify[25] = ' ';
  EXPECT_EQ(IdentifyString(identify, sizeof(identify), 10, 12), "ABCD  ");
  EXPECT_EQ(IdentifyString(identify, sizeof(identify), 10, 19), "ABCD  ");  // NULs dropped
  EXPECT_EQ(IdentifyString(identify, sizeof(identify), 250, 256), "");      // past the end
  EXPECT_EQ(IdentifyString(identify, 10, 10, 19), "");
}

TEST(MachineIdRulesTest, DescriptorSerialDecoding) {
  static const struct {
    const char* raw;
    bool hex_form;
    const char* serial;
  } kCases[] = {
      {"  WD-WCC1234  ", false, "WD-WCC1234"},
      {"4457312d3332", false, "4457312d3332"},   // later Windows: taken as it stands
      {"4457312d33322020", true, "WD-123"},      // "DW1-32  " swapped per word, trimmed
      {"12ab", true, "12ab"},                    // decodes to unprintable bytes: kept
      {"abc", true, "abc"},                      // not whole words
      {"", true, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(DecodeDescriptorSerial(c.raw, c.hex_form), c.serial);
  }
}

TEST(MachineIdRulesTest, AdapterChoice) {
  static const struct {
    const char* name;
    std::vector<AdapterCandidate> candidates;
    const char* chosen;
  } kCases[] = {
      {"smallest wired", {{"BB0000000000", false}, {"AA0000000001", false}}, "AA0000000001"},
      {"wired beats a smaller wireless", {{"BB0000000000", false}, {"000000000001", true}}, "BB0000000000"},
      {"smallest wireless without wired", {{"CC", true}, {"AB", true}}, "AB"},
      {"unreadable addresses skipped", {{"", false}, {"DD", true}}, "DD"},
      {"none", {}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PickAdapterAddress(c.candidates), c.chosen);
  }
  const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xef};
  EXPECT_EQ(FormatMacAddress(mac), "001A2B3C4DEF");
}

TEST(MachineIdRulesTest, NetworkClassRules) {
  static const struct {
    const wchar_t* bus_type;
    bool pci;
  } kBusCases[] = {{L"5", true}, {L"05", true}, {L"15", false}, {L"", false}, {L"x5", false}, {L"1", false}};
  for (const auto& c : kBusCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.bus_type)));
    EXPECT_EQ(IsPciBusType(c.bus_type), c.pci);
  }
  static const struct {
    const wchar_t* driver_desc;
    const wchar_t* lower_range;
    bool wireless;
  } kWirelessCases[] = {
      {L"Intel(R) Dual Band WIRELESS-AC 8260", L"ethernet", true},
      {L"Realtek PCIe GbE", L"ethernet", false},
      {L"Realtek", L"WLAN,ethernet", true},
      {L"Microsoft Hosted Network", L"vWiFi", true},
  };
  for (const auto& c : kWirelessCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.driver_desc)));
    EXPECT_EQ(IsWirelessClassEntry(c.driver_desc, c.lower_range), c.wireless);
  }
  static const struct {
    unsigned type;
    const char* description;
    IpHelperAdapterKind kind;
  } kIpCases[] = {
      {71, "Intel Dual Band", IpHelperAdapterKind::kWireless},
      {6, "Realtek PCIe GbE", IpHelperAdapterKind::kWired},
      {6, "Some WiFi Adapter", IpHelperAdapterKind::kWireless},
      {6, "802.11n Wireless LAN", IpHelperAdapterKind::kWireless},
      {24, "Loopback", IpHelperAdapterKind::kIgnored},
      {23, "PPP", IpHelperAdapterKind::kIgnored},
  };
  for (const auto& c : kIpCases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(ClassifyIpHelperAdapter(c.type, c.description), c.kind);
  }
}

// ---- the system layer, in fresh processes ------------------------------------

std::string ReadCache(const wchar_t* key_path, const char* name) {
  base::ScopedRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.Receive()) !=
      ERROR_SUCCESS) {
    return std::string();
  }
  char buffer[512] = {};
  DWORD size = sizeof(buffer) - 1;
  if (::RegQueryValueExA(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return std::string();
  }
  return buffer;
}

void WriteCache(const wchar_t* key_path, const char* name, const std::string& value) {
  base::ScopedRegKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                              key.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

// A fresh process computing both identifiers; exit code 0 when both were
// produced and well formed.
TEST_CHILD(identifiers) {
  wchar_t mid[260] = {}, mid2[260] = {};
  if (!GetMid(mid, 260) || FAILED(GetMid2(mid2, 260))) return 2;
  if (utils::GetMidText() != mid) return 3;
  const std::string mid2_text(mid2, mid2 + wcslen(mid2));
  if (wcslen(mid) != 32 || !IsValidMid2(mid2_text)) return 4;
  return 0;
}

// Under Wine most hardware queries find nothing (no disk serial at all), so
// this runs the thin layer on whatever little it finds; the values must still
// be well formed, cached, and the same in the next process.
TEST(MachineIdSystemTest, IdentifiersAreWellFormedCachedAndStable) {
  ASSERT_EQ(test_support::RunChild("identifiers", L""), 0);
  const std::string mid_cache = ReadCache(kMidCacheKey, "mid");
  const std::string mid2_cache = ReadCache(kMid2CacheKey, "m2");
  EXPECT_TRUE(IsValidMidCache(mid_cache)) << mid_cache;
  EXPECT_TRUE(IsValidMid2(mid2_cache)) << mid2_cache;

  ASSERT_EQ(test_support::RunChild("identifiers", L""), 0);
  EXPECT_EQ(ReadCache(kMidCacheKey, "mid"), mid_cache);
  EXPECT_EQ(ReadCache(kMid2CacheKey, "m2"), mid2_cache);

  wchar_t mid[260] = {}, mid2[260] = {};
  ASSERT_TRUE(GetMid(mid, 260));
  ASSERT_EQ(GetMid2(mid2, 260), S_OK);
  EXPECT_EQ(std::string(mid, mid + 32), mid_cache.substr(0, 32));
  EXPECT_EQ(std::string(mid2, mid2 + wcslen(mid2)), mid2_cache);
}

TEST(MachineIdSystemTest, CorruptCachesAreReplacedAndKeptAsOld) {
  ASSERT_EQ(test_support::RunChild("identifiers", L""), 0);
  const std::string good_mid2 = ReadCache(kMid2CacheKey, "m2");
  std::string bad_mid2 = good_mid2;
  bad_mid2[43] = bad_mid2[43] == '0' ? '1' : '0';
  const std::string bad_mid = std::string(32, 'a') + std::string(32, 'b');
  WriteCache(kMid2CacheKey, "m2", bad_mid2);
  WriteCache(kMidCacheKey, "mid", bad_mid);

  ASSERT_EQ(test_support::RunChild("identifiers", L""), 0);
  EXPECT_TRUE(IsValidMid2(ReadCache(kMid2CacheKey, "m2")));
  EXPECT_EQ(ReadCache(kMid2CacheKey, "m2_old"), bad_mid2);
  EXPECT_TRUE(IsValidMidCache(ReadCache(kMidCacheKey, "mid")));
  EXPECT_EQ(ReadCache(kMidCacheKey, "mid_old"), bad_mid);
}

TEST(MachineIdSystemTest, BufferContracts) {
  wchar_t buffer[64];
  EXPECT_FALSE(GetMid(nullptr, 260));
  EXPECT_FALSE(GetMid(buffer, 0));
  EXPECT_FALSE(GetMid(buffer, 31));
  ASSERT_TRUE(GetMid(buffer, 32));
  EXPECT_EQ(wcslen(buffer), 31u);  // cut to the buffer, terminated
  EXPECT_EQ(GetMid2(nullptr, 260), E_INVALIDARG);
  EXPECT_EQ(GetMid2(buffer, 49), E_INVALIDARG);
  EXPECT_EQ(GetMid2(buffer, 50), S_OK);
  EXPECT_EQ(wcslen(buffer), 44u);
}

}  // namespace
