#pragma once
// What tarnix-ports prints: a line per port, or one JSON object for scripts.

#include <string>
#include <vector>

#include "port_list.h"

namespace tarnix {

// "/dev/ttyUSB0 (/dev/serial/by-id/...): USB 0403:6001, FTDI, ..., usb:A1B2C3" and a line
// end, for each port; "" for none.
std::string DescribePorts(const std::vector<SerialPortInfo>& ports);

// {"ports": [...]}: every member of every port always present, null where it is not known.
std::string PortsJson(const std::vector<SerialPortInfo>& ports);

}  // namespace tarnix
