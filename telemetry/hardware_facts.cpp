#include "telemetry/hardware_facts.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <iphlpapi.h>
#include <nb30.h>
#include <cpuid.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "telemetry/machine_id_rules.h"
#include "telemetry/os_version.h"

namespace telemetry {
namespace {

// Control codes the SDK headers here do not carry (values from the DDK):
// the NDIS statistics query and the SCSI miniport IDENTIFY pass-through.
constexpr DWORD kIoctlNdisQueryGlobalStats = 0x00170002;
constexpr DWORD kOid8023PermanentAddress = 0x01010101;
constexpr DWORD kIoctlScsiMiniportIdentify = 0x001B0501;

// The driver interfaces take these packed layouts byte for byte.
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) == 32, "SENDCMDINPARAMS layout");
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16, "SENDCMDOUTPARAMS layout");
static_assert(sizeof(SRB_IO_CONTROL) == 28, "SRB_IO_CONTROL layout");
static_assert(sizeof(GETVERSIONINPARAMS) == 24, "GETVERSIONINPARAMS layout");
#if defined(__i386__)
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) == 36, "descriptor layout");
#endif

constexpr int kMaxDrives = 16;
constexpr wchar_t kNetworkCardsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr wchar_t kNetClassKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

using base::ScopedKernelHandle;
using base::ScopedRegKey;

// ---- processor -------------------------------------------------------------

std::string CpuVendor() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return std::string();
  char vendor[13] = {};
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  std::string text = vendor;
  if (text == "GenuineIotel") text = "GenuineIntel";  // a known misreported vendor text
  return text;
}

std::string CpuBrand() {
  const unsigned max_extended = __get_cpuid_max(0x80000000u, nullptr);
  if (max_extended < 0x80000004u) return std::string();
  unsigned regs[12] = {};
  for (unsigned i = 0; i < 3; ++i) {
    __get_cpuid(0x80000002u + i, &regs[i * 4], &regs[i * 4 + 1], &regs[i * 4 + 2], &regs[i * 4 + 3]);
  }
  char brand[49] = {};
  std::memcpy(brand, regs, 48);
  return TrimSpaces(brand);
}

// ---- devices ---------------------------------------------------------------

ScopedKernelHandle OpenDevice(const std::wstring& path, DWORD access, DWORD share) {
  return ScopedKernelHandle(
      ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::wstring PhysicalDrive(int index) { return base::StrPrintf(L"\\\\.\\PhysicalDrive%d", index); }

bool Ioctl(HANDLE device, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  DWORD bytes = 0;
  const BOOL ok = ::DeviceIoControl(device, code, in, in_size, out, out_size, &bytes, nullptr);
  if (returned) *returned = bytes;
  return ok != FALSE;
}

// ATA IDENTIFY (or IDENTIFY PACKET) through the SMART receive-data request.
bool SmartIdentify(HANDLE drive, int drive_number, bool atapi, std::vector<uint8_t>* identify) {
  SENDCMDINPARAMS in = {};
  in.cBufferSize = IDENTIFY_BUFFER_SIZE;
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bDriveHeadReg = static_cast<BYTE>(0xA0 | ((drive_number & 1) << 4));
  in.irDriveRegs.bCommandReg = atapi ? ATAPI_ID_CMD : ID_CMD;
  in.bDriveNumber = static_cast<BYTE>(drive_number);
  std::vector<uint8_t> out(offsetof(SENDCMDOUTPARAMS, bBuffer) + IDENTIFY_BUFFER_SIZE);
  DWORD returned = 0;
  if (!Ioctl(drive, SMART_RCV_DRIVE_DATA, &in, offsetof(SENDCMDINPARAMS, bBuffer), out.data(),
             static_cast<DWORD>(out.size()), &returned) ||
      returned < out.size()) {
    return false;
  }
  identify->assign(out.begin() + offsetof(SENDCMDOUTPARAMS, bBuffer), out.end());
  return true;
}

// SMART version query, then IDENTIFY of the kind the drive map asks for.
bool SmartVersionAndIdentify(int index, std::vector<uint8_t>* identify) {
  ScopedKernelHandle drive =
      OpenDevice(PhysicalDrive(index), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!drive.IsValid()) return false;
  GETVERSIONINPARAMS version = {};
  if (!Ioctl(drive.Get(), SMART_GET_VERSION, nullptr, 0, &version, sizeof(version), nullptr)) return false;
  const bool atapi = ((version.bIDEDeviceMap >> (index & 3)) & 0x10) != 0;
  return SmartIdentify(drive.Get(), index, atapi, identify);
}

bool ScsiMiniportIdentify(int port, int target, std::vector<uint8_t>* identify) {
  ScopedKernelHandle device = OpenDevice(base::StrPrintf(L"\\\\.\\Scsi%d:", port), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!device.IsValid()) return false;
  const size_t out_offset = sizeof(SRB_IO_CONTROL) + offsetof(SENDCMDOUTPARAMS, bBuffer);
  std::vector<uint8_t> buffer(out_offset + IDENTIFY_BUFFER_SIZE);
  auto* srb = reinterpret_cast<SRB_IO_CONTROL*>(buffer.data());
  srb->HeaderLength = sizeof(SRB_IO_CONTROL);
  std::memcpy(srb->Signature, "SCSIDISK", 8);
  srb->Timeout = 10000;
  srb->Length = static_cast<ULONG>(offsetof(SENDCMDOUTPARAMS, bBuffer) + IDENTIFY_BUFFER_SIZE);
  srb->ControlCode = kIoctlScsiMiniportIdentify;
  auto* in = reinterpret_cast<SENDCMDINPARAMS*>(buffer.data() + sizeof(SRB_IO_CONTROL));
  in->irDriveRegs.bCommandReg = ID_CMD;
  in->bDriveNumber = static_cast<BYTE>(target);
  DWORD returned = 0;
  if (!Ioctl(device.Get(), IOCTL_SCSI_MINIPORT, buffer.data(),
             static_cast<DWORD>(sizeof(SRB_IO_CONTROL) + offsetof(SENDCMDINPARAMS, bBuffer)), buffer.data(),
             static_cast<DWORD>(buffer.size()), &returned) ||
      returned < buffer.size()) {
    return false;
  }
  identify->assign(buffer.begin() + out_offset, buffer.end());
  return true;
}

struct DriveDescriptor {
  bool removable = false;
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  std::string serial, vendor, product;
};

std::string DescriptorText(const std::vector<uint8_t>& buffer, DWORD returned, DWORD offset) {
  if (offset == 0 || offset >= returned) return std::string();
  const char* text = reinterpret_cast<const char*>(buffer.data() + offset);
  return std::string(text, strnlen(text, returned - offset));
}

bool QueryDescriptor(int index, DriveDescriptor* descriptor) {
  ScopedKernelHandle drive = OpenDevice(PhysicalDrive(index), 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!drive.IsValid()) return false;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<uint8_t> buffer(4096);
  DWORD returned = 0;
  if (!Ioctl(drive.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), buffer.data(),
             static_cast<DWORD>(buffer.size()), &returned) ||
      returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties)) {
    return false;
  }
  const auto* raw = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
  descriptor->removable = raw->RemovableMedia != FALSE;
  descriptor->bus = raw->BusType;
  // Windows 7 and earlier often give the serial as hex digits of the swapped text.
  const bool legacy = COSVersionCheck::GetInstance()->VersionNumber() <= 61;
  descriptor->serial = DecodeDescriptorSerial(DescriptorText(buffer, returned, raw->SerialNumberOffset), legacy);
  descriptor->vendor = TrimSpaces(DescriptorText(buffer, returned, raw->VendorIdOffset));
  descriptor->product = TrimSpaces(DescriptorText(buffer, returned, raw->ProductIdOffset));
  return true;
}

std::string TrimTrailingSpaces(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// IDENTIFY words 10..19 hold the serial number, 27..46 the model number.
std::string IdentifySerial(const std::vector<uint8_t>& identify) {
  return TrimTrailingSpaces(IdentifyString(identify.data(), identify.size(), 10, 19));
}

// ---- network ---------------------------------------------------------------

std::string PermanentAddress(const std::wstring& service_name) {
  ScopedKernelHandle device = OpenDevice(L"\\\\.\\" + service_name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!device.IsValid()) return std::string();
  DWORD oid = kOid8023PermanentAddress;
  uint8_t address[6] = {};
  DWORD returned = 0;
  if (!Ioctl(device.Get(), kIoctlNdisQueryGlobalStats, &oid, sizeof(oid), address, sizeof(address), &returned) ||
      returned != sizeof(address)) {
    return std::string();
  }
  return FormatMacAddress(address);
}

bool ReadRegString(HKEY key, const wchar_t* name, std::wstring* value) {
  wchar_t buffer[512] = {};
  DWORD type = 0;
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  *value = buffer;
  return true;
}

// The network card list lives in the native registry view.
std::vector<std::wstring> NetworkCardServices(DWORD max_cards) {
  std::vector<std::wstring> services;
  ScopedRegKey cards;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNetworkCardsKey, 0, KEY_READ | KEY_WOW64_64KEY, cards.Receive()) !=
      ERROR_SUCCESS) {
    return services;
  }
  for (DWORD i = 0; i < max_cards; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (::RegEnumKeyExW(cards.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ScopedRegKey card;
    std::wstring service;
    if (::RegOpenKeyExW(cards.Get(), name, 0, KEY_READ, card.Receive()) == ERROR_SUCCESS &&
        ReadRegString(card.Get(), L"ServiceName", &service) && !service.empty()) {
      services.push_back(service);
    }
  }
  return services;
}

struct NetClassEntry {
  std::wstring instance_id;
  bool pci = false;
  bool wireless = false;
};

// Entries of the network-adapter device class; false when the class key
// cannot be read.
bool ReadNetClass(std::vector<NetClassEntry>* entries) {
  ScopedRegKey net_class;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNetClassKey, 0, KEY_READ | KEY_WOW64_64KEY, net_class.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  for (DWORD i = 0; i < 256; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (::RegEnumKeyExW(net_class.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    ScopedRegKey entry_key;
    if (::RegOpenKeyExW(net_class.Get(), name, 0, KEY_READ, entry_key.Receive()) != ERROR_SUCCESS) continue;
    NetClassEntry entry;
    if (!ReadRegString(entry_key.Get(), L"NetCfgInstanceId", &entry.instance_id)) continue;
    std::wstring bus_type, driver_desc, lower_range;
    ReadRegString(entry_key.Get(), L"BusType", &bus_type);
    ReadRegString(entry_key.Get(), L"DriverDesc", &driver_desc);
    ScopedRegKey interfaces;
    if (::RegOpenKeyExW(entry_key.Get(), L"Ndi\\Interfaces", 0, KEY_READ, interfaces.Receive()) == ERROR_SUCCESS) {
      ReadRegString(interfaces.Get(), L"LowerRange", &lower_range);
    }
    entry.pci = IsPciBusType(bus_type);
    entry.wireless = IsWirelessClassEntry(driver_desc, lower_range);
    entries->push_back(entry);
  }
  return true;
}

const NetClassEntry* FindEntry(const std::vector<NetClassEntry>& entries, const std::wstring& id) {
  for (const NetClassEntry& entry : entries) {
    if (::CompareStringOrdinal(entry.instance_id.c_str(), -1, id.c_str(), -1, TRUE) == CSTR_EQUAL) return &entry;
  }
  return nullptr;
}

std::string NetbiosAddress() {
  LANA_ENUM lanas = {};
  NCB ncb = {};
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
  ncb.ncb_length = sizeof(lanas);
  if (::Netbios(&ncb) != NRC_GOODRET || lanas.length == 0) return std::string();

  ncb = {};
  ncb.ncb_command = NCBRESET;
  ncb.ncb_lana_num = lanas.lana[0];
  if (::Netbios(&ncb) != NRC_GOODRET) return std::string();

  struct {
    ADAPTER_STATUS status;
    NAME_BUFFER names[30];
  } adapter = {};
  ncb = {};
  ncb.ncb_command = NCBASTAT;
  ncb.ncb_lana_num = lanas.lana[0];
  std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
  ncb.ncb_callname[0] = '*';
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&adapter);
  ncb.ncb_length = sizeof(adapter);
  if (::Netbios(&ncb) != NRC_GOODRET) return std::string();
  return FormatMacAddress(adapter.status.adapter_address);
}

std::vector<uint8_t> AdaptersInfoBuffer() {
  ULONG size = 0;
  std::vector<uint8_t> buffer;
  for (int attempt = 0; attempt < 3; ++attempt) {
    buffer.resize(size ? size : sizeof(IP_ADAPTER_INFO));
    size = static_cast<ULONG>(buffer.size());
    const DWORD result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (result == ERROR_SUCCESS) return buffer;
    if (result != ERROR_BUFFER_OVERFLOW) break;
  }
  return {};
}

}  // namespace

std::string CpuTextForMid() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  const std::string vendor = CpuVendor();
  if (vendor.empty() || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return std::string();
  char text[64];
  std::snprintf(text, sizeof(text), "%s:%08x", vendor.c_str(), edx);
  return text;
}

std::string CpuTextForMid2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  const std::string vendor = CpuVendor();
  if (vendor.empty() || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return std::string();
  char text[128];
  std::snprintf(text, sizeof(text), "%s,%x,%s", vendor.c_str(), eax, CpuBrand().c_str());
  return text;
}

std::string DiskSerialForMid() {
  for (int index = 0; index < kMaxDrives; ++index) {
    std::vector<uint8_t> identify;
    std::string serial;
    if (SmartVersionAndIdentify(index, &identify)) serial = IdentifySerial(identify);
    for (int target = 0; serial.empty() && target < 2; ++target) {
      if (ScsiMiniportIdentify(index, target, &identify)) serial = IdentifySerial(identify);
    }
    DriveDescriptor descriptor;
    if (serial.empty() && QueryDescriptor(index, &descriptor)) serial = TrimTrailingSpaces(descriptor.serial);
    if (serial.empty()) {
      ScopedKernelHandle drive = OpenDevice(PhysicalDrive(index), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
      if (drive.IsValid() && SmartIdentify(drive.Get(), index, false, &identify)) serial = IdentifySerial(identify);
    }
    if (!serial.empty()) return serial;
  }
  return std::string();
}

std::string AdapterAddressForMid() {
  std::string smallest;
  for (const std::wstring& service : NetworkCardServices(MAXDWORD)) {
    const std::string address = PermanentAddress(service);
    if (!address.empty() && (smallest.empty() || address < smallest)) smallest = address;
  }
  return smallest.empty() ? NetbiosAddress() : smallest;
}

std::string DiskTextForMid2() {
  for (int index = 0; index < kMaxDrives; ++index) {
    DriveDescriptor descriptor;
    if (!QueryDescriptor(index, &descriptor) || descriptor.removable) continue;
    switch (descriptor.bus) {
      case BusTypeScsi:
      case BusType1394:
      case BusTypeUsb:
      case BusTypeSas:
      case BusTypeVirtual:
      case BusTypeFileBackedVirtual:
        continue;
      default:
        break;
    }
    std::vector<uint8_t> identify;
    if (SmartVersionAndIdentify(index, &identify)) {
      const std::string text = IdentifyString(identify.data(), identify.size(), 10, 19) +
                               IdentifyString(identify.data(), identify.size(), 27, 46);
      if (!TrimSpaces(text).empty()) return text;
    }
    // Vendor and product alone name a model, not a machine: a serial is needed.
    if (!descriptor.serial.empty()) return descriptor.serial + descriptor.vendor + descriptor.product;
  }
  return std::string();
}

std::string AdapterAddressForMid2() {
  std::vector<NetClassEntry> entries;
  const bool class_readable = ReadNetClass(&entries);
  std::vector<AdapterCandidate> candidates;
  for (const std::wstring& service : NetworkCardServices(100)) {
    const NetClassEntry* entry = FindEntry(entries, service);
    if (class_readable && (!entry || !entry->pci)) continue;
    AdapterCandidate candidate;
    candidate.address = PermanentAddress(service);
    candidate.wireless = entry && entry->wireless;
    candidates.push_back(candidate);
  }
  std::string address = PickAdapterAddress(candidates);
  if (!address.empty()) return address;

  candidates.clear();
  const std::vector<uint8_t> buffer = AdaptersInfoBuffer();
  if (buffer.empty()) return std::string();
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter; adapter = adapter->Next) {
    const NetClassEntry* entry = FindEntry(entries, base::AnsiToWide(adapter->AdapterName));
    if (!entry || !entry->pci || adapter->AddressLength != 6) continue;
    const IpHelperAdapterKind kind = ClassifyIpHelperAdapter(adapter->Type, adapter->Description);
    if (kind == IpHelperAdapterKind::kIgnored) continue;
    candidates.push_back({FormatMacAddress(adapter->Address), kind == IpHelperAdapterKind::kWireless});
  }
  return PickAdapterAddress(candidates);
}

}  // namespace telemetry
