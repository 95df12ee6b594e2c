#include "json_text.h"

#include <cstdio>

namespace tarnix {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// What a lead byte asks for: the length of its sequence and the range its second byte must lie
// in. The narrow ranges after E0, ED, F0 and F4 are what rule out overlong forms, surrogates
// and code points above U+10FFFF.
struct LeadByte {
    size_t length = 0;  // 0: the byte cannot begin a sequence
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
};

LeadByte ReadLeadByte(unsigned char byte) {
    if (byte < 0x80) {
        return {1};
    }
    if (byte >= 0xC2 && byte <= 0xDF) {
        return {2};
    }
    if (byte >= 0xE0 && byte <= 0xEF) {
        return {3, static_cast<unsigned char>(byte == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(byte == 0xED ? 0x9F : 0xBF)};
    }
    if (byte >= 0xF0 && byte <= 0xF4) {
        return {4, static_cast<unsigned char>(byte == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(byte == 0xF4 ? 0x8F : 0xBF)};
    }
    return {};
}

// The sequence at `at`: its length and whether it is whole. An ill-formed one is as long as
// the part of it that could still have begun a valid sequence, at least one byte.
struct Utf8Step {
    size_t length = 1;
    bool valid = false;
};

Utf8Step NextUtf8Step(std::string_view text, size_t at) {
    LeadByte lead = ReadLeadByte(static_cast<unsigned char>(text[at]));
    if (lead.length == 0) {
        return {};
    }
    for (size_t i = 1; i < lead.length; ++i) {
        if (at + i >= text.size()) {
            return {i, false};
        }
        auto byte = static_cast<unsigned char>(text[at + i]);
        bool fits =
            i == 1 ? byte >= lead.secondLow && byte <= lead.secondHigh : IsContinuation(byte);
        if (!fits) {
            return {i, false};
        }
    }
    return {lead.length, true};
}

void AppendEscapedAscii(char c, std::string* quoted) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
        *quoted += '\\';
        *quoted += c;
    } else if (byte < 0x20) {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04X", byte);
        *quoted += escape;
    } else {
        *quoted += c;
    }
}

std::string LowercaseHex(std::string_view bytes) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 0x0F];
    }
    return hex;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        Utf8Step step = NextUtf8Step(text, at);
        if (!step.valid) {
            return false;
        }
        at += step.length;
    }
    return true;
}

std::string JsonQuote(std::string_view text) {
    std::string quoted = "\"";
    for (size_t at = 0; at < text.size();) {
        Utf8Step step = NextUtf8Step(text, at);
        if (!step.valid) {
            quoted += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
        } else if (step.length == 1) {
            AppendEscapedAscii(text[at], &quoted);
        } else {
            quoted.append(text, at, step.length);
        }
        at += step.length;
    }
    return quoted + "\"";
}

std::string JsonStringMember(std::string_view name, std::string_view text) {
    std::string member = JsonQuote(name) + ": " + JsonQuote(text);
    if (!IsValidUtf8(text)) {
        std::string hexName = std::string(name) + "_hex";
        member += ", " + JsonQuote(hexName) + ": \"" + LowercaseHex(text) + "\"";
    }
    return member;
}

}  // namespace tarnix
