// The rules that turn collected hardware facts and registry caches into the
// two machine identifiers. Nothing here touches the system: the hardware
// queries and the registry are reached through the environment interfaces,
// so every rule can be exercised with made-up facts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telemetry {

// CRC-8/MAXIM (Dallas 1-Wire): reflected polynomial 0x8C, initial value 0, no
// final XOR. Check value: 0xA1 for "123456789".
uint8_t Crc8Maxim(std::string_view bytes);

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);
// Removes spaces at both ends.
std::string TrimSpaces(std::string_view text);

// ---- mid -------------------------------------------------------------------
//
// Format notes: mid is 32 lowercase hex digits, the MD5 of the hardware text.
// Its cache "mid" is the mid followed by the MD5 hex of the mid (64 chars);
// the previous cache value is kept as "mid_old".

struct MidFacts {
  std::string cpu;      // "%s:%08x": vendor, CPUID leaf 1 EDX
  std::string disk;     // serial of the first drive that answers
  std::string adapter;  // smallest permanent MAC as "%02X" x 6
};

// The source text: cpu + disk + adapter. "Mid2Failed" (and |*cacheable| false)
// when none is known.
std::string MidSourceText(const MidFacts& facts, bool* cacheable);
// MD5 hex of at most the first 259 characters of |text|.
std::string MidFromText(std::string_view text);
bool IsValidMidCache(std::string_view value);

class MidEnvironment {
 public:
  virtual ~MidEnvironment() = default;
  // Registry values of the shared key; false when absent.
  virtual bool ReadValue(const char* name, std::string* value) = 0;
  virtual bool WriteValue(const char* name, const std::string& value) = 0;
  virtual void Collect(MidFacts* facts) = 0;
};

// The cached mid when the cache validates, otherwise a new one from the
// hardware (written back unless nothing was known). Empty only when the hash
// provider fails.
std::string ResolveMid(MidEnvironment& env);

// ---- mid2 ------------------------------------------------------------------
//
// Format notes: 44 characters = body (40 lowercase hex) + kind byte (2 hex) +
// check byte (2 hex, CRC-8/MAXIM of the first 42 characters). Kind bits: 0x01
// adapter, 0x02 disk, 0x08 processor, 0x20 digest body; exactly 0x10 for a
// random body. Bodies: SHA-1 of adapter + disk + cpu; "ffffffff" + a random
// GUID's 16 bytes when neither adapter nor disk is known; "eeeeeeee" replaces
// the first 8 digits of a digest made without elevation; 40 zeros when nothing
// could be produced.

inline constexpr uint8_t kMid2KindAdapter = 0x01;
inline constexpr uint8_t kMid2KindDisk = 0x02;
inline constexpr uint8_t kMid2KindCpu = 0x08;
inline constexpr uint8_t kMid2KindRandom = 0x10;
inline constexpr uint8_t kMid2KindDigest = 0x20;
inline constexpr size_t kMid2Length = 44;

struct Mid2Facts {
  std::string adapter;  // permanent MAC "%02X" x 6: wired before wireless
  std::string disk;     // serial and model of the first fixed local drive
  std::string cpu;      // "%s,%x,%s": vendor, leaf 1 EAX, brand string

  bool operator==(const Mid2Facts& o) const {
    return adapter == o.adapter && disk == o.disk && cpu == o.cpu;
  }
};

struct Mid2Value {
  std::string text;  // always 44 characters
  bool ok = false;   // false when the body fell back to zeros
};

// Step "compute": |guid| (16 bytes) is used only when neither adapter nor disk
// is known; null means no GUID could be made.
Mid2Value ComposeMid2(const Mid2Facts& facts, bool elevated, const uint8_t* guid);
bool IsValidMid2(std::string_view value);
bool IsRandomMid2(std::string_view value);

class Mid2Environment {
 public:
  virtual ~Mid2Environment() = default;
  virtual bool IsElevated() = 0;
  virtual bool ReadValue(const char* name, std::string* value) = 0;
  virtual bool WriteValue(const char* name, const std::string& value) = 0;
  // Fills the facts that are still empty.
  virtual void Collect(Mid2Facts* facts) = 0;
  // The pause before the second collection (500 ms on a real machine).
  virtual void Pause() = 0;
  virtual bool NewGuid(uint8_t guid[16]) = 0;
};

// The whole mid2 decision: cache validation, collection, the second
// collection when facts are missing, and the cache write.
std::string ResolveMid2(Mid2Environment& env);

// ---- hardware text rules ---------------------------------------------------

// Words [first_word, last_word] of ATA IDENTIFY data with the two bytes of each
// word swapped, trailing spaces (and NULs) removed. Empty when out of range.
std::string IdentifyString(const uint8_t* identify, size_t size, int first_word, int last_word);

// The storage descriptor's serial as one readable text. |hex_form| is set on
// Windows 7 and earlier, where drivers often report the serial as hex digits
// of the byte-swapped ATA text; such a text is decoded, anything else kept.
std::string DecodeDescriptorSerial(std::string_view raw, bool hex_form);

// "%02X%02X%02X%02X%02X%02X".
std::string FormatMacAddress(const uint8_t address[6]);

struct AdapterCandidate {
  std::string address;  // formatted MAC
  bool wireless = false;
};
// The smallest wired address, else the smallest wireless one, else empty.
std::string PickAdapterAddress(const std::vector<AdapterCandidate>& candidates);

// Network-class entry rules. "BusType" is a text read as a number; 5 is PCI.
bool IsPciBusType(std::wstring_view bus_type);
bool IsWirelessClassEntry(std::wstring_view driver_desc, std::wstring_view lower_range);

enum class IpHelperAdapterKind { kWired, kWireless, kIgnored };
// IEEE 802.11 (type 71) is wireless; Ethernet (type 6) is wireless when its
// description says "wifi" or "wireless"; other types are ignored.
IpHelperAdapterKind ClassifyIpHelperAdapter(unsigned type, std::string_view description);

bool ContainsIgnoreCase(std::wstring_view text, std::wstring_view part);

}  // namespace telemetry
