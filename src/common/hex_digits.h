#pragma once

namespace tarnix {
// Hexadecimal digits as the programs read them: the module number on the command line and the
// byte count of a record line are both "one or two hex digits, further characters ignored".

// The value of a hexadecimal digit in either case, or -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads one or two hex digits at `text`, as a "%02X" scan does. False, with *value untouched,
// when the first character is no hex digit. `text` must be readable up to its terminating zero
// or for two characters.
constexpr bool ScanHexByte(const char* text, int* value) {
    int high = HexDigitValue(text[0]);
    if (high < 0) {
        return false;
    }
    int low = HexDigitValue(text[1]);
    *value = low < 0 ? high : high * 16 + low;
    return true;
}

}  // namespace tarnix
