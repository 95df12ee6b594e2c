#include "framing.h"

namespace tarnix {

Frame CommandFrame(uint8_t cmd, uint8_t modNr) {
    return {{STX, cmd, modNr, ETX}, {}};
}

size_t TextLengthWithoutLineEnd(const char* line, size_t length) {
    if (length > 0 && line[length - 1] == '\n') {
        --length;
        if (length > 0 && line[length - 1] == '\r') {
            --length;
        }
    }
    return length;
}

Frame DataLineFrame(uint8_t modNr, char* line, size_t* length) {
    size_t textLength = TextLengthWithoutLineEnd(line, *length);
    line[textLength] = static_cast<char>(ETX);
    line[textLength + 1] = '\0';
    *length = textLength + 1;
    const uint8_t* payload = reinterpret_cast<const uint8_t*>(line);
    return {{STX, CMD_DATA, modNr}, {payload, payload + *length}};
}

Frame ByteFrame(std::vector<uint8_t> bytes) {
    return {std::move(bytes), {}};
}

}  // namespace tarnix
