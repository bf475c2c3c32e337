// The hardware queries behind the machine identifiers. Each returns an empty
// text when its facts cannot be read (virtual machines, Wine, missing rights);
// none logs or throws.
#pragma once

#include <string>

namespace telemetry {

// Processor texts from CPUID ("GenuineIotel" is read as "GenuineIntel").
std::string CpuTextForMid();   // "%s:%08x": vendor, leaf 1 EDX
std::string CpuTextForMid2();  // "%s,%x,%s": vendor, leaf 1 EAX, brand string

// Serial of the first of PhysicalDrive0..15 (and Scsi0:..15:) that answers.
std::string DiskSerialForMid();
// Smallest permanent 802.3 address of the registered network cards, else the
// NetBIOS adapter address.
std::string AdapterAddressForMid();

// Serial and model of the first fixed, local (not SCSI/1394/USB/SAS/virtual)
// drive of PhysicalDrive0..15.
std::string DiskTextForMid2();
// Permanent address of a PCI network card, wired before wireless.
std::string AdapterAddressForMid2();

}  // namespace telemetry
