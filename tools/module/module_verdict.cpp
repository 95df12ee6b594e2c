#include "module_verdict.h"

#include <cstdio>

#include "module_protocol.h"

namespace tarnix {

namespace {

constexpr size_t ERRORS_SHOWN = 20;

std::string CountLine(const ModuleLog& log) {
    std::string text = "frames: " + std::to_string(log.frames.size()) + " (Start " +
                       std::to_string(CountFrames(log, MODULE_CMD_START)) + ", Data " +
                       std::to_string(CountFrames(log, MODULE_CMD_DATA)) + ", Program " +
                       std::to_string(CountFrames(log, MODULE_CMD_PROGRAM)) + ", End " +
                       std::to_string(CountFrames(log, MODULE_CMD_END)) + ", Finish " +
                       std::to_string(CountFrames(log, MODULE_CMD_FINISH));
    size_t service = 0;
    for (uint8_t command : {MODULE_CMD_DOWNLOAD, MODULE_CMD_VELOX_INFO, MODULE_CMD_TIMESTAMP,
                            MODULE_CMD_FLASH_INFO, MODULE_CMD_PARAM, MODULE_CMD_STATUS}) {
        service += CountFrames(log, command);
    }
    if (service > 0) {
        text += ", service " + std::to_string(service);
    }
    // What tarnix counts as its data bytes: the line text and ETX of every Data frame, after
    // STX, command and module number.
    size_t dataBytes = 0;
    for (const ModuleFrame& frame : log.frames) {
        if (frame.command == MODULE_CMD_DATA && frame.raw.size() > 3) {
            dataBytes += frame.raw.size() - 3;
        }
    }
    return text + ")\ndata bytes: " + std::to_string(dataBytes) + "\n";
}

std::string ErrorLines(const ModuleLog& log) {
    std::string text = "protocol errors: " + std::to_string(log.errors.size()) + "\n";
    for (size_t i = 0; i < log.errors.size() && i < ERRORS_SHOWN; ++i) {
        const ModuleError& e = log.errors[i];
        text += "  [" + std::string(ModuleErrorKindName(e.kind)) + ", before frame " +
                std::to_string(e.frameIndex + 1) + "] " + e.text + "\n";
    }
    if (log.errors.size() > ERRORS_SHOWN) {
        text += "  ...\n";
    }
    return text;
}

std::string ImageLines(const ModuleLog& log, const MemoryImage* expected) {
    std::string text = "image: " + std::to_string(ImageByteCount(log.image)) + " bytes in " +
                       std::to_string(log.image.segments.size()) + " segment(s)";
    if (!log.image.segments.empty()) {
        text += ": " + DescribeImageSegments(log.image);
    }
    text += "\n";
    if (log.overwrittenBytes > 0) {
        text +=
            "image bytes written more than once: " + std::to_string(log.overwrittenBytes) + "\n";
    }
    if (expected != nullptr) {
        std::string difference;
        if (CompareImages(*expected, log.image, &difference)) {
            text += "image arrived whole\n";
        } else {
            text += "image differs: " + difference + "\n";
        }
    }
    return text;
}

bool IsUpdateCommand(uint8_t command) {
    return command >= MODULE_CMD_START && command <= MODULE_CMD_FINISH;
}

const char* UpdateCommandName(uint8_t command) {
    static const char* const UPDATE_COMMAND_NAMES[] = {"Start", "Data", "Program", "End", "Finish"};
    return UPDATE_COMMAND_NAMES[command - MODULE_CMD_START];
}

// "rejected with 0x15" or "unanswered"; empty when the frame was acknowledged.
std::string ReplyProblem(const ModuleFrame& frame) {
    if (frame.reply.empty()) {
        return "unanswered";
    }
    if (frame.reply[0] == MODULE_ACK) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "rejected with 0x%02X", frame.reply[0]);
    return text;
}

// What the update frames of a run came to, in the order they arrived.
struct UpdateFramesSeen {
    bool any = false;
    bool startAccepted = false;
    bool end = false;
    bool finish = false;
    const ModuleFrame* last = nullptr;  // the last of Start, Data, Program, End
    std::string firstProblem;           // the first of them rejected or unanswered
};

UpdateFramesSeen ScanUpdateFrames(const ModuleLog& log) {
    UpdateFramesSeen seen;
    unsigned counts[5] = {};
    for (const ModuleFrame& frame : log.frames) {
        if (!IsUpdateCommand(frame.command) || !frame.closed) {
            continue;
        }
        seen.any = true;
        unsigned count = ++counts[frame.command - MODULE_CMD_START];
        if (frame.command == MODULE_CMD_FINISH) {
            seen.finish = true;
            continue;
        }
        seen.last = &frame;
        std::string problem = ReplyProblem(frame);
        seen.startAccepted =
            seen.startAccepted || (frame.command == MODULE_CMD_START && problem.empty());
        seen.end = seen.end || frame.command == MODULE_CMD_END;
        if (!problem.empty() && seen.firstProblem.empty()) {
            seen.firstProblem = std::string(UpdateCommandName(frame.command)) + " " +
                                std::to_string(count) + " " + problem;
        }
    }
    return seen;
}

std::string ShortfallLines(const ModuleLog& log) {
    std::string text;
    for (const std::string& shortfall : UpdateShortfalls(log)) {
        text += shortfall + "\n";
    }
    return text;
}

}  // namespace

std::vector<std::string> UpdateShortfalls(const ModuleLog& log) {
    UpdateFramesSeen seen = ScanUpdateFrames(log);
    std::vector<std::string> shortfalls;
    if (!seen.any) {
        return shortfalls;
    }
    const std::string prefix = "update incomplete: ";
    if (!seen.startAccepted) {
        shortfalls.push_back(prefix + "no accepted Start");
    }
    if (!seen.end) {
        shortfalls.push_back(prefix + "no End");
    }
    if (!seen.finish) {
        shortfalls.push_back(prefix + "no Finish");
    }
    std::string lastProblem = seen.last != nullptr ? ReplyProblem(*seen.last) : "";
    if (!lastProblem.empty()) {
        shortfalls.push_back(prefix + "last update command (" +
                             UpdateCommandName(seen.last->command) + ") " + lastProblem);
    } else if (!seen.firstProblem.empty()) {
        shortfalls.push_back(prefix + seen.firstProblem);
    }
    return shortfalls;
}

bool ModuleRunPassed(const ModuleLog& log, const MemoryImage* expected) {
    if (!log.errors.empty() || !UpdateShortfalls(log).empty()) {
        return false;
    }
    std::string difference;
    return expected == nullptr || CompareImages(*expected, log.image, &difference);
}

std::string DescribeModuleVerdict(const ModuleLog& log, const MemoryImage* expected) {
    std::string text = "Module verdict:\n" + CountLine(log) + ErrorLines(log) +
                       ShortfallLines(log) + ImageLines(log, expected);
    for (const DownloadRecord& download : log.downloads) {
        text += "download: " + std::to_string(download.data.size()) + " of " +
                std::to_string(download.declaredSize) + " bytes in " +
                std::to_string(download.blocks) + " block(s)" +
                (download.closed ? ", closed\n" : ", not closed\n");
    }
    for (const TimestampRecord& stamp : log.timestamps) {
        text += "timestamp: \"" + stamp.fileName + "\" \"" + stamp.timeText + "\"\n";
    }
    text += ModuleRunPassed(log, expected) ? "verdict: PASS\n" : "verdict: FAIL\n";
    return text;
}

}  // namespace tarnix
