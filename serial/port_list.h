// The serial ports a user can choose from: USB adapters, then the virtual ports the bus
// simulator has published (virtual_ports.h), then on-board UARTs. Each entry is a device path that
// CSerial::Open takes, e.g. "/dev/ttyUSB0" or "/dev/pts/5".
//
// Real ports come from the tty class in sysfs: ttyUSB<n> and ttyACM<n> that have a device, and
// ttyS<n> only when the UART exists (its "type" is not 0, PORT_UNKNOWN; without a "type" file
// a non-zero "port" or "iomem_base"), since the kernel creates ttyS entries for UARTs that are
// not there. Within each group the order is the source's (sysfs directory order, the order
// ListVirtualPorts gives); nothing is sorted. Safe to call from any thread.
#pragma once

#include <string>
#include <vector>

namespace zuz {

inline constexpr const char* kSysClassTty = "/sys/class/tty";

std::vector<std::string> ListSerialPorts();
// With the sources given: a sysfs tty class folder and a virtual-port folder (tests).
std::vector<std::string> ListSerialPorts(const std::string& sysClassTty,
                                         const std::string& virtualFolder);
// The real ports only.
std::vector<std::string> ListRealSerialPorts(const std::string& sysClassTty = kSysClassTty);

}  // namespace zuz
