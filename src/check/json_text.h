#pragma once
// The little JSON that the reports of tarnix-check and tarnix-fleet need: quoted strings.

#include <cstdio>
#include <string>

// `text` as a JSON string, quotes included. Bytes from 0x80 up pass unchanged (file names are
// taken as UTF-8); control characters are escaped.
inline std::string JsonQuote(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04X", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}
