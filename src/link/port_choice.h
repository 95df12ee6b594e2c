#pragma once
// Which port a program talks to: a COM number 1 to 8 or, where the platform has device paths
// (ComDevicePathsSupported()), a path that contains '/' or a device name in /dev. The one rule
// for every program's port argument, and the one way to open the chosen port.

#include <string>

inline constexpr int MIN_COM_NR = 1;
inline constexpr int MAX_COM_NR = 8;

struct PortChoice {
    int comNr = MIN_COM_NR;  // used when devicePath is empty
    std::string devicePath;  // set instead of comNr when the port was given as a path
};

// How a port argument's number is read.
enum class PortSyntax {
    FirstCharacter,  // tarnix's fourth argument: only the first character counts ("12" is COM1)
    WholeNumber,     // the tools' PORT arguments: the whole argument is the number
};

// Reads `text` as a port. Where `devicePathsAllowed`, a text containing '/' is a device path,
// and a text that is no COM number but the name of a character device in /dev ("ttyUSB0")
// stands for that device.
// False when it names no valid port; *choice is then unchanged.
bool ParsePortChoice(const char* text, PortSyntax syntax, bool devicePathsAllowed,
                     PortChoice* choice);

// Opens the chosen port as OpenComPort / OpenComDevice do: 0, or -1 after reporting why.
int OpenChosenPort(const PortChoice& choice, long baud);

// "COM3" or the device path, for messages.
std::string PortChoiceName(const PortChoice& choice);
