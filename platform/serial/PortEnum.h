#pragma once
// The serial ports that Windows knows, for the Comm menu (PortEnumWin32.cpp; on Linux the list comes
// from the toolkit, see link/PortList.h). Plain C++.

#include <string>
#include <vector>

namespace Serial {

struct TPortEntry {
    std::string Name;          // COM3
    std::string Description;   // USB Serial Port
    std::string Manufacturer;  // FTDI
};

// The ports present, each once, sorted by number: those of the device setup interface (the COM port
// interface and the Ports class, with their friendly name or description and maker), then those only
// the registry's list of serial devices names (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), described by
// their driver's device name.
std::vector<TPortEntry> EnumeratePorts();

// The ports that a registry key lists as the serial device list does: one value per device, named
// after the driver's device, whose data is the port name. Key is "HKLM\..." or "HKCU\...".
std::vector<TPortEntry> PortsListedUnder(const std::string& Key);

}  // namespace Serial
