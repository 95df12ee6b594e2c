#pragma once

namespace tarnix {
// The line every module speaks, in one place: each backend (serial device, RFC 2217, raw TCP,
// Windows) is handed this value when a port is opened, and no backend keeps a figure of its
// own.

// The rate, frame and waits of a port.
struct LineSettings {
    long baud = 115200;
    int dataBits = 8;
    int stopBits = 2;            // 8N2, not 8N1
    long replyTimeoutMs = 5000;  // the wait for the first byte of a reply
    unsigned blockPauseMs = 1;   // the module's moment after it has programmed a full block
};

// The module's line: 115200 baud, 8 data bits, no parity, 2 stop bits, 5 s reply time-out.
inline constexpr LineSettings MODULE_LINE{};

// The rate that a port applies for a requested rate: 57600 and 115200 as asked, any other 9600.
inline constexpr long EffectiveBaudRate(long requested) {
    return (requested == 57600 || requested == 115200) ? requested : 9600;
}

// The settings for a requested rate, with the rate a port applies for it.
inline constexpr LineSettings LineAtRate(long requested) {
    LineSettings line = MODULE_LINE;
    line.baud = EffectiveBaudRate(requested);
    return line;
}

}  // namespace tarnix
