#pragma once
// Which port a program talks to, and the one rule by which every program reads a port argument
// (tarnix's ComNr, tarnix-service's and tarnix-fleet's PORT). A value that the rule does not
// understand is refused, never replaced by a default: a slip of the keyboard must not update a
// module on another port.

#include <string>
#include <string_view>

#include "network_address.h"
#include "port_list.h"

namespace tarnix {

inline constexpr int MIN_COM_NR = 1;
inline constexpr int MAX_DIGIT_COM_NR = 8;  // the single-digit form: 1 to 8
inline constexpr int MAX_COM_NR = 255;      // the COMn form

// The forms a platform accepts besides the COM numbers.
enum class PortForms {
    Posix,    // device paths ("/dev/ttyUSB0") and device names in /dev ("ttyUSB0")
    Windows,  // the device namespace form "\\.\COMn"
};

// The forms of the platform the program was built for.
PortForms PlatformPortForms();

struct PortChoice {
    int comNr = MIN_COM_NR;  // used when devicePath is empty and network names no protocol
    std::string devicePath;  // set instead of comNr for a path or a device name
    NetworkAddress network;  // set instead of both for a network port
    // Set instead of all three for usb:SERIAL[:N]: the adapter is looked up when it is opened.
    std::string usbSerial;
    int usbInterface = UNKNOWN_NUMBER;  // N, or UNKNOWN_NUMBER for any interface
};

// Reads a port argument:
//   "1".."8"                    COM1..COM8 (a single digit, nothing after it)
//   "COMn", "comn"              COMn (the letters in any case), n from 1 to 255 without
//                               leading zeros
//   Windows: "\\.\COMn"         the same port
//   POSIX: a text containing /  that device path, as it stands
//   POSIX: a device name        "ttyUSB0" is /dev/ttyUSB0, whether or not it exists (a missing
//                               device then fails to open, it never falls back to COM1)
//   "rfc2217://HOST:PORT"       a network port (network_address.h), on every platform
//   "socket://HOST:PORT"
//   "usb:SERIAL"                the USB adapter with that serial number (printable, no space,
//   "usb:SERIAL:N"              no ':'), on every platform; N (0 to 255, no leading zeros) is
//                               the interface of a multi-port adapter. Which port that is, is
//                               decided when it is opened (UsbPortCandidates, port_list.h).
// False for anything else ("0", "9", "12", "03", "COM0", "COM256", ""); *choice is unchanged.
bool ParsePortChoice(std::string_view text, PortForms forms, PortChoice* choice);

// What the rule accepts, for the line that explains a refused port on standard error.
std::string AcceptedPortForms(PortForms forms);

// What a choice names among `ports`, for a record of what was updated, without opening it: the
// port as the list describes it (found by its device or its stable name, so a by-id link is its
// ttyUSB), else a port with only `device` set ("/dev/ttyS2"; on Windows "COM3"). Nothing for a
// network port or a usb: form that does not match exactly one adapter.
SerialPortInfo IdentifyChosenPort(const PortChoice& choice,
                                  const std::vector<SerialPortInfo>& ports);

// "COM3", the device path, the network port's URL or "usb:SERIAL[:N]", for messages.
std::string PortChoiceName(const PortChoice& choice);

}  // namespace tarnix
