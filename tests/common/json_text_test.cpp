#include "json_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace tarnix;

namespace {

// An independent strict reader: decodes each code point and rejects what UTF-8 forbids.
bool StrictlyUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        auto lead = static_cast<uint8_t>(text[at]);
        size_t length = lead < 0x80         ? 1
                        : lead >> 5 == 0x6  ? 2
                        : lead >> 4 == 0xE  ? 3
                        : lead >> 3 == 0x1E ? 4
                                            : 0;
        if (length == 0 || at + length > text.size()) {
            return false;
        }
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i) {
            auto byte = static_cast<uint8_t>(text[at + i]);
            if (byte >> 6 != 0x2) {
                return false;
            }
            code = code << 6 | (byte & 0x3F);
        }
        static const uint32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < SMALLEST[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return false;
        }
        at += length;
    }
    return true;
}

const std::string FFFD = "\xEF\xBF\xBD";

TEST(JsonText, StringMembersAreValidUtf8AndKeepTheBytesOfAnInvalidName) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string member;  // JsonStringMember("file", bytes)
    };
    const Case cases[] = {
        {"ASCII", "/tmp/a.upd", R"("file": "/tmp/a.upd")"},
        {"escapes", "a\"b\\c\x01\x1F\x7F", "\"file\": \"a\\\"b\\\\c\\u0001\\u001F\x7F\""},
        {"2, 3 and 4 bytes",
         "Gr\xC3\xBC\xC3\x9F"
         "e-\xE2\x82\xAC-\xF0\x9F\x98\x80",
         "\"file\": \"Gr\xC3\xBC\xC3\x9F"
         "e-\xE2\x82\xAC-\xF0\x9F\x98\x80\""},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\"file\": \"\xF4\x8F\xBF\xBF\""},
        {"lone continuation byte",
         "a\x80"
         "b",
         "\"file\": \"a" + FFFD + "b\", \"file_hex\": \"618062\""},
        {"overlong C0 AF", "\xC0\xAF", "\"file\": \"" + FFFD + FFFD + "\", \"file_hex\": \"c0af\""},
        {"overlong E0 80 AF", "\xE0\x80\xAF",
         "\"file\": \"" + FFFD + FFFD + FFFD + "\", \"file_hex\": \"e080af\""},
        {"surrogate ED A0 80", "\xED\xA0\x80",
         "\"file\": \"" + FFFD + FFFD + FFFD + "\", \"file_hex\": \"eda080\""},
        {"above U+10FFFF", "\xF4\x90\x80\x80",
         "\"file\": \"" + FFFD + FFFD + FFFD + FFFD + "\", \"file_hex\": \"f4908080\""},
        {"sequence cut short by the next character", "\xE2\x82x",
         "\"file\": \"" + FFFD + "x\", \"file_hex\": \"e28278\""},
        {"sequence cut short at the end", "x\xF0\x9F\x98",
         "\"file\": \"x" + FFFD + "\", \"file_hex\": \"78f09f98\""},
        {"0xFF", "/tmp/\xFF.upd",
         "\"file\": \"/tmp/" + FFFD + ".upd\", \"file_hex\": \"2f746d702fff2e757064\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string member = JsonStringMember("file", c.bytes);
        EXPECT_EQ(member, c.member);
        EXPECT_TRUE(StrictlyUtf8(member));
        EXPECT_EQ(IsValidUtf8(c.bytes), StrictlyUtf8(c.bytes));
    }
}

}  // namespace
