#include <cstdio>

#include "console_text.h"

namespace tarnix {

void PrintWrongReply(uint8_t reply) {
    // Windows-1252: 0xFC is the 'u' with umlaut. The literal is split so that the hex escape
    // does not swallow the "c" that follows.
    printf(
        "Falscher R\xFC"
        "ckgabewert : 0x%02X\n",
        reply);
}

}  // namespace tarnix
