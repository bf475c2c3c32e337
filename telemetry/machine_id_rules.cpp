#include "telemetry/machine_id_rules.h"

#include <cstdio>
#include <cwctype>

#include "telemetry/hash.h"

namespace telemetry {
namespace {

constexpr char kMidFailedText[] = "Mid2Failed";
// mid hashes at most this many characters of its source text.
constexpr size_t kMidSourceLimit = 259;
constexpr size_t kMidLength = 32;
constexpr char kRandomPrefix[] = "ffffffff";
constexpr char kUnelevatedPrefix[] = "eeeeeeee";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

std::string HexByte(uint8_t value) { return HexLower(&value, 1); }

template <class Char>
bool ContainsFolded(std::basic_string_view<Char> text, std::basic_string_view<Char> part) {
  if (part.empty()) return true;
  if (part.size() > text.size()) return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < part.size() && std::towlower(static_cast<wint_t>(text[i + j])) ==
                                  std::towlower(static_cast<wint_t>(part[j]))) {
      ++j;
    }
    if (j == part.size()) return true;
  }
  return false;
}

// Writes |value| as the new cache entry |name|, keeping a differing old one
// under |old_name|.
void WriteWithOld(Mid2Environment& env, bool had_old, const std::string& old, const std::string& value) {
  if (had_old && !EqualsIgnoreCaseAscii(old, value)) env.WriteValue("m2_old", old);
  env.WriteValue("m2", value);
}

}  // namespace

uint8_t Crc8Maxim(std::string_view bytes) {
  uint8_t crc = 0;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : (crc >> 1);
  }
  return crc;
}

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string TrimSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

bool ContainsIgnoreCase(std::wstring_view text, std::wstring_view part) { return ContainsFolded(text, part); }

// ---- mid -------------------------------------------------------------------

std::string MidSourceText(const MidFacts& facts, bool* cacheable) {
  std::string text = facts.cpu + facts.disk + facts.adapter;
  *cacheable = !text.empty();
  if (text.empty()) text = kMidFailedText;
  return text;
}

std::string MidFromText(std::string_view text) { return Md5Hex(text.substr(0, kMidSourceLimit)); }

bool IsValidMidCache(std::string_view value) {
  if (value.size() != 2 * kMidLength) return false;
  const std::string digest = Md5Hex(value.substr(0, kMidLength));
  return !digest.empty() && EqualsIgnoreCaseAscii(digest, value.substr(kMidLength));
}

std::string ResolveMid(MidEnvironment& env) {
  std::string cached;
  const bool had_old = env.ReadValue("mid", &cached);
  if (had_old && IsValidMidCache(cached)) return cached.substr(0, kMidLength);

  MidFacts facts;
  env.Collect(&facts);
  bool cacheable = false;
  const std::string mid = MidFromText(MidSourceText(facts, &cacheable));
  if (mid.empty()) return mid;
  if (cacheable) {
    const std::string check = Md5Hex(mid);
    if (!check.empty()) {
      if (had_old) env.WriteValue("mid_old", cached);
      env.WriteValue("mid", mid + check);
    }
  }
  return mid;
}

// ---- mid2 ------------------------------------------------------------------

Mid2Value ComposeMid2(const Mid2Facts& facts, bool elevated, const uint8_t* guid) {
  std::string body;
  uint8_t kind = 0;
  if (!facts.adapter.empty() || !facts.disk.empty()) {
    if (!facts.adapter.empty()) kind |= kMid2KindAdapter;
    if (!facts.disk.empty()) kind |= kMid2KindDisk;
    if (!facts.cpu.empty()) kind |= kMid2KindCpu;
    kind |= kMid2KindDigest;
    body = Sha1Hex(facts.adapter + facts.disk + facts.cpu);
    if (!body.empty() && !elevated) body.replace(0, 8, kUnelevatedPrefix);
  } else {
    kind = kMid2KindRandom;
    if (guid) body = kRandomPrefix + HexLower(guid, 16);
  }
  Mid2Value value;
  value.ok = !body.empty();
  if (!value.ok) body.assign(40, '0');
  value.text = body + HexByte(kind);
  value.text += HexByte(Crc8Maxim(value.text));
  return value;
}

bool IsValidMid2(std::string_view value) {
  if (value.size() != kMid2Length) return false;
  const std::string_view check = value.substr(42);
  if (!IsHexDigit(check[0]) || !IsHexDigit(check[1])) return false;
  const int stored = HexValue(check[0]) * 16 + HexValue(check[1]);
  return stored == Crc8Maxim(value.substr(0, 42));
}

bool IsRandomMid2(std::string_view value) { return value.substr(0, 8) == kRandomPrefix; }

std::string ResolveMid2(Mid2Environment& env) {
  const bool elevated = env.IsElevated();
  std::string cached;
  const bool had_old = env.ReadValue("m2", &cached);
  const bool cache_valid = had_old && IsValidMid2(cached);
  const bool cache_random = cache_valid && IsRandomMid2(cached);
  // Without elevation the hardware digest would differ ("eeeeeeee"), so an
  // elevated run's value is kept.
  if (cache_valid && !elevated) return cached;

  auto compute = [&](const Mid2Facts& facts) {
    uint8_t guid[16] = {};
    const bool need_guid = facts.adapter.empty() && facts.disk.empty();
    const bool have_guid = need_guid && env.NewGuid(guid);
    return ComposeMid2(facts, elevated, have_guid ? guid : nullptr);
  };

  Mid2Facts facts;
  env.Collect(&facts);
  bool have_early = false;
  Mid2Value early;
  if (!facts.adapter.empty() || !facts.disk.empty()) {
    if (cache_valid) {
      early = compute(facts);
      if (!early.ok) return cached;
      if (EqualsIgnoreCaseAscii(early.text, cached)) return cached;
      have_early = true;
    }
  } else if (cache_random) {
    return cached;
  }

  bool found_more = false;
  if (facts.adapter.empty() || facts.disk.empty()) {
    env.Pause();
    const Mid2Facts before = facts;
    env.Collect(&facts);
    found_more = !(facts == before);
  }
  // The early value still describes the facts unless the second collection
  // added one; then it is computed again from everything known.
  if (have_early && !found_more) {
    WriteWithOld(env, had_old, cached, early.text);
    return early.text;
  }
  const Mid2Value value = compute(facts);
  if (!value.ok && cache_random) return cached;
  WriteWithOld(env, had_old, cached, value.text);
  return value.text;
}

// ---- hardware text rules ---------------------------------------------------

std::string IdentifyString(const uint8_t* identify, size_t size, int first_word, int last_word) {
  if (!identify || first_word < 0 || last_word < first_word || static_cast<size_t>(last_word) * 2 + 2 > size) {
    return std::string();
  }
  std::string text;
  for (int word = first_word; word <= last_word; ++word) {
    const char high = static_cast<char>(identify[word * 2 + 1]);
    const char low = static_cast<char>(identify[word * 2]);
    if (high) text += high;
    if (low) text += low;
  }
  return text;
}

std::string DecodeDescriptorSerial(std::string_view raw, bool hex_form) {
  const std::string trimmed = TrimSpaces(raw);
  if (!hex_form || trimmed.empty() || trimmed.size() % 4 != 0) return trimmed;
  std::string bytes;
  for (size_t i = 0; i < trimmed.size(); i += 2) {
    if (!IsHexDigit(trimmed[i]) || !IsHexDigit(trimmed[i + 1])) return trimmed;
    bytes += static_cast<char>(HexValue(trimmed[i]) * 16 + HexValue(trimmed[i + 1]));
  }
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  for (char c : bytes) {
    if (c != 0 && (c < 0x20 || c > 0x7E)) return trimmed;
  }
  std::string text;
  for (char c : bytes) {
    if (c) text += c;
  }
  return TrimSpaces(text);
}

std::string FormatMacAddress(const uint8_t address[6]) {
  char text[13];
  std::snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", address[0], address[1], address[2], address[3],
                address[4], address[5]);
  return text;
}

std::string PickAdapterAddress(const std::vector<AdapterCandidate>& candidates) {
  std::string wired, wireless;
  for (const AdapterCandidate& c : candidates) {
    if (c.address.empty()) continue;
    std::string& best = c.wireless ? wireless : wired;
    if (best.empty() || c.address < best) best = c.address;
  }
  return wired.empty() ? wireless : wired;
}

bool IsPciBusType(std::wstring_view bus_type) {
  // Read as a number the way the C runtime would: leading digits only.
  size_t i = 0;
  while (i < bus_type.size() && bus_type[i] == L' ') ++i;
  long value = 0;
  bool any = false;
  for (; i < bus_type.size() && bus_type[i] >= L'0' && bus_type[i] <= L'9' && value < 1000; ++i) {
    value = value * 10 + (bus_type[i] - L'0');
    any = true;
  }
  return any && value == 5;
}

bool IsWirelessClassEntry(std::wstring_view driver_desc, std::wstring_view lower_range) {
  return ContainsFolded(driver_desc, std::wstring_view(L"Wireless")) ||
         ContainsFolded(lower_range, std::wstring_view(L"wlan")) ||
         ContainsFolded(lower_range, std::wstring_view(L"vwifi"));
}

IpHelperAdapterKind ClassifyIpHelperAdapter(unsigned type, std::string_view description) {
  constexpr unsigned kIeee80211 = 71;  // IF_TYPE_IEEE80211
  constexpr unsigned kEthernet = 6;    // MIB_IF_TYPE_ETHERNET
  if (type == kIeee80211) return IpHelperAdapterKind::kWireless;
  if (type != kEthernet) return IpHelperAdapterKind::kIgnored;
  return ContainsFolded(description, std::string_view("wifi")) ||
                 ContainsFolded(description, std::string_view("wireless"))
             ? IpHelperAdapterKind::kWireless
             : IpHelperAdapterKind::kWired;
}

}  // namespace telemetry
