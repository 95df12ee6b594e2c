#include "module_protocol.h"

#include <cstdio>

namespace tarnix {

uint8_t ModuleSumChecksum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

std::string ModuleHexByte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string ModuleCommandName(uint8_t command) {
    switch (command) {
        case MODULE_CMD_START:
            return "Start";
        case MODULE_CMD_DATA:
            return "Data";
        case MODULE_CMD_PROGRAM:
            return "Program";
        case MODULE_CMD_END:
            return "End";
        case MODULE_CMD_FINISH:
            return "Finish";
        case MODULE_CMD_DOWNLOAD:
            return "download";
        case MODULE_CMD_VELOX_INFO:
            return "controller information query";
        case MODULE_CMD_TIMESTAMP:
            return "timestamp";
        case MODULE_CMD_FLASH_INFO:
            return "flash information query";
        case MODULE_CMD_PARAM:
            return "parameter command";
        case MODULE_CMD_STATUS:
            return "status query";
        default:
            return "command " + ModuleHexByte(command);
    }
}

std::string ModulePrintableBytes(const std::vector<uint8_t>& bytes, size_t limit) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        uint8_t c = bytes[i];
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    if (bytes.size() > limit) {
        text += "...";
    }
    return text;
}

}  // namespace tarnix
