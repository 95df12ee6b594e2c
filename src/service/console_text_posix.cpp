#include <cstdio>

#include "console_text.h"

namespace tarnix {

void PrintWrongReply(uint8_t reply) {
    // "\xC3\xBC" is the UTF-8 'u' with umlaut; the literal is split so that the hex escape
    // does not swallow the "c" that follows.
    printf(
        "Falscher R\xC3\xBC"
        "ckgabewert : 0x%02X\n",
        reply);
}

}  // namespace tarnix
