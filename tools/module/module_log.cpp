#include "module_log.h"

#include <algorithm>

#include "module_protocol.h"

namespace tarnix {

size_t CountFrames(const ModuleLog& log, uint8_t command) {
    return static_cast<size_t>(
        std::count_if(log.frames.begin(), log.frames.end(),
                      [command](const ModuleFrame& frame) { return frame.command == command; }));
}

std::vector<std::string> DataLines(const ModuleLog& log) {
    std::vector<std::string> lines;
    for (const ModuleFrame& frame : log.frames) {
        if (frame.command == MODULE_CMD_DATA) {
            lines.emplace_back(frame.payload.begin(), frame.payload.end());
        }
    }
    return lines;
}

bool HasError(const ModuleLog& log, ModuleErrorKind kind) {
    return std::any_of(log.errors.begin(), log.errors.end(),
                       [kind](const ModuleError& error) { return error.kind == kind; });
}

const char* ModuleErrorKindName(ModuleErrorKind kind) {
    switch (kind) {
        case ModuleErrorKind::StrayBytes:
            return "stray bytes";
        case ModuleErrorKind::BadFrame:
            return "bad frame";
        case ModuleErrorKind::Order:
            return "order";
        case ModuleErrorKind::RecordFormat:
            return "record format";
        case ModuleErrorKind::RecordChecksum:
            return "record checksum";
        case ModuleErrorKind::DownloadHeader:
            return "download header";
        case ModuleErrorKind::DownloadChecksum:
            return "download checksum";
        case ModuleErrorKind::TimestampChecksum:
            return "timestamp checksum";
        case ModuleErrorKind::CutOff:
            return "cut off";
    }
    return "unknown";
}

}  // namespace tarnix
