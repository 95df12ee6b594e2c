#pragma once
// The little JSON that the reports of tarnix-check and tarnix-fleet need: strings and string
// members. File and port names are bytes, not necessarily UTF-8; the reports are always valid
// UTF-8 all the same, and a name that is not UTF-8 stays recoverable from a hex member.

#include <string>
#include <string_view>

namespace tarnix {

// True when `text` is well-formed UTF-8: no stray continuation byte, no overlong form, no
// surrogate, nothing above U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view text);

// `text` as a JSON string, quotes included. Valid UTF-8 passes unchanged, control characters
// are escaped; each ill-formed part (a maximal invalid subsequence) becomes U+FFFD.
std::string JsonQuote(std::string_view text);

// `"name": "text"`; when `text` is not valid UTF-8, followed by `, "name_hex": "..."`, its
// exact bytes in lowercase hex, so that a reader can still recover the name.
std::string JsonStringMember(std::string_view name, std::string_view text);

}  // namespace tarnix
