#pragma once
// The serial ports the machine has, as the system describes them, without opening any: for
// tarnix-ports, and for the port form usb:SERIAL[:N], which names an adapter by its USB serial
// number because the device name it gets (/dev/ttyUSB0, COM11) changes with the order of
// plugging. port_list.cpp holds what is the same everywhere (the choice of the adapter and the
// reading of the Windows device strings, so that it is tested on every platform);
// port_list_posix.cpp reads sysfs, port_list_win32.cpp SetupAPI.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnix {

inline constexpr int UNKNOWN_NUMBER = -1;  // an interface number or latency that is not known

// One port. An empty text or UNKNOWN_NUMBER is something the system does not say.
struct SerialPortInfo {
    std::string device;        // "/dev/ttyUSB0"; on Windows "COM11"
    std::string stableName;    // the /dev/serial/by-id/ link to the device
    std::string friendlyName;  // Windows: the name that Device Manager shows
    std::string vendorId;      // USB adapters: 4 hex digits, as the system writes them
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    int interfaceNumber = UNKNOWN_NUMBER;  // the port's USB interface (multi-port adapters)
    std::string driver;                    // "ftdi_sio", "cdc_acm", "serial8250"; Windows: service
    int latencyTimerMs = UNKNOWN_NUMBER;   // Linux: the driver's latency_timer
};

// Linux: the ports of the sysfs tree at `sysfsRoot` ("/sys"), whose devices are in `devRoot`
// ("/dev"), in the order of their device names (ttyS2 before ttyS10). A tty without a device
// link is no serial port (a console, a pseudo-terminal); a 8250 port whose UART type is 0 has
// no UART behind it.
std::vector<SerialPortInfo> ListSerialPortsIn(const std::filesystem::path& sysfsRoot,
                                              const std::filesystem::path& devRoot);

// The ports of this machine (sysfs in /sys and /dev; on Windows SetupAPI's Ports class).
std::vector<SerialPortInfo> ListSerialPorts();

// Reads "usb:SERIAL" or "usb:SERIAL:N" ("usb" in any case): SERIAL printable ASCII without
// space or ':', N an interface number from 0 to 255 without leading zeros. False for anything
// else; the outputs are then unchanged.
bool ParseUsbPortForm(std::string_view text, std::string* serialNumber, int* interfaceNumber);

// The ports that usb:SERIAL or usb:SERIAL:N names among `ports`, by one rule that tarnix and
// tarnix-ports share, so that a form tarnix-ports offers is one that tarnix opens:
// - usb:SERIAL names every port of the adapters with that serial number; usb:SERIAL:N the
//   port with interface N of them. Serial numbers compare without regard to case (Windows
//   writes them in capitals), but where some adapters match exactly, only those count.
// - usb:SERIAL:N is also read as the whole serial number "SERIAL:N" (an adapter may have a
//   ':' in its serial number). When both readings name a port, all of them are returned: the
//   form is ambiguous, and an interface is never chosen in place of such an adapter.
// One port returned is the port; none or several, the form names no port.
std::vector<SerialPortInfo> UsbPortCandidates(const std::vector<SerialPortInfo>& ports,
                                              std::string_view serialNumber, int interfaceNumber);

// Which port usb:SERIAL or usb:SERIAL:N names: `device` when exactly one port matches, else
// `failure` says why none was chosen and lists the candidates, each by a name that selects it
// (for "COM open failed: usb:...: <failure>").
struct UsbPortResolution {
    std::string device;
    std::string failure;
};

// `interfaceNumber` is UNKNOWN_NUMBER for usb:SERIAL; the rule is UsbPortCandidates'.
UsbPortResolution ResolveUsbPort(const std::vector<SerialPortInfo>& ports,
                                 std::string_view serialNumber, int interfaceNumber);

// The usb: form that names `port` and no other among `ports` ("usb:A1B2C3", "usb:FT2X:1"
// where the adapter has several ports), or "" when there is none: no serial number, one that
// the form cannot carry (a space, a ':', a byte outside printable ASCII), or one that another
// adapter shares.
std::string UsbPortForm(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port);

// A name that tarnix takes for `port` and that names it alone: its usb: form where there is
// one, else its stable name, else its device.
std::string PortSelectingName(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port);

// `text` safe to print on a terminal: control characters (C0, DEL and C1, as UTF-8 or as one
// byte) are written as \xNN, so that a USB descriptor cannot send escape sequences; other
// text passes unchanged.
std::string TerminalSafeText(std::string_view text);

// What SetupAPI's strings tell of a USB adapter.
struct WindowsDeviceIds {
    std::string vendorId;  // from "VID_0403"
    std::string productId;
    int interfaceNumber = UNKNOWN_NUMBER;  // from "MI_01"
    std::string serialNumber;
};

// The VID, PID and MI of a hardware ID ("USB\VID_0403&PID_6010&MI_01"; FTDI's own bus writes
// "FTDIBUS\COMPORT&VID_0403&PID_6001"), and the serial number of an instance ID
// ("USB\VID_0403&PID_6001\A1B2C3"). An instance ID of an interface (MI_xx), or one whose last
// part holds '&', carries a number that Windows made up, not the adapter's serial.
WindowsDeviceIds ParseWindowsDeviceIds(std::string_view hardwareId, std::string_view instanceId);

// The serial number in the instance ID of a USB device ("USB\VID_...&PID_...\SERIAL"), or "".
std::string SerialFromUsbInstanceId(std::string_view instanceId);

}  // namespace tarnix
