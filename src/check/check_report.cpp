#include "check_report.h"

#include <cstdio>

#include "json_text.h"

namespace tarnix {

namespace {

std::string Format(const char* format, auto... values) {
    char text[256];
    snprintf(text, sizeof text, format, values...);
    return text;
}

unsigned long long U(uint64_t value) {
    return static_cast<unsigned long long>(value);
}

std::string DescribeRanges(const FileCheck& check) {
    if (check.ranges.empty()) {
        return "  addresses: none written\n";
    }
    std::string text = "  addresses:";
    for (const AddressRange& range : check.ranges) {
        text += Format(" 0x%08llX-0x%08llX", U(range.first), U(range.last));
    }
    return text + "\n";
}

std::string DescribeContent(const FileCheck& check) {
    const TransferEstimate& estimate = check.estimate;
    if (check.mode == CheckMode::Lines) {
        return Format("  line mode: %d lines read, %llu over 299 characters; %llu Data commands\n",
                      check.lines, U(check.longLines), U(estimate.dataCommands));
    }
    std::string text;
    if (check.fileSize >= 32) {
        text +=
            Format("  header: CRC %s, block size %d\n", check.headerValid ? "correct" : "INCORRECT",
                   static_cast<int>(check.blockSize));
    }
    text += Format(
        "  records: %llu data, %llu extended linear address, %llu end, %llu other, in %d "
        "lines\n",
        U(check.dataRecords), U(check.addressRecords), U(check.endRecords), U(check.otherRecords),
        check.lines);
    text += Format("  sends: %llu Data and %llu Program commands, %llu data bytes\n",
                   U(estimate.dataCommands), U(estimate.programCommands), U(check.dataBytes));
    return text + DescribeRanges(check);
}

const char* ModeName(CheckMode mode) {
    return mode == CheckMode::Records ? "records" : "lines";
}

std::string FaultJson(const CheckFault& fault) {
    return Format("{\"line\": %d, ", fault.line) + JsonStringMember("message", fault.message) + "}";
}

std::string FileJson(const FileCheck& check) {
    const TransferEstimate& estimate = check.estimate;
    // Built by appends: GCC 12 sees a false overlap in "{" + a temporary string (-Wrestrict).
    std::string json = "{";
    json += JsonStringMember("file", check.file);
    json += Format(", \"mode\": \"%s\", \"sound\": %s, \"size\": %llu", ModeName(check.mode),
                   check.Sound() ? "true" : "false", U(check.fileSize));
    if (check.mode == CheckMode::Records) {
        json += Format(", \"header_valid\": %s, \"block_size\": %d",
                       check.headerValid ? "true" : "false", static_cast<int>(check.blockSize));
        json += Format(
            ", \"records\": {\"data\": %llu, \"extended_linear_address\": %llu, \"end\": %llu, "
            "\"other\": %llu}",
            U(check.dataRecords), U(check.addressRecords), U(check.endRecords),
            U(check.otherRecords));
        json += ", \"ranges\": [";
        for (size_t i = 0; i < check.ranges.size(); ++i) {
            json += Format("%s{\"first\": %llu, \"last\": %llu}", i > 0 ? ", " : "",
                           U(check.ranges[i].first), U(check.ranges[i].last));
        }
        json += "]";
    }
    json += Format(
        ", \"lines\": %d, \"long_lines\": %llu, \"data_commands\": %llu, \"program_commands\": "
        "%llu, \"full_blocks\": %llu, \"data_bytes\": %llu, \"bytes_sent\": %llu, "
        "\"reply_bytes\": %llu, \"seconds\": %.3f",
        check.lines, U(check.longLines), U(estimate.dataCommands), U(estimate.programCommands),
        U(estimate.fullBlocks), U(check.dataBytes), U(estimate.bytesSent), U(estimate.replyBytes),
        estimate.seconds);
    json += ", \"faults\": [";
    for (size_t i = 0; i < check.faults.size(); ++i) {
        json += (i > 0 ? ", " : "") + FaultJson(check.faults[i]);
    }
    return json + "]}";
}

}  // namespace

std::string DescribeFileCheck(const FileCheck& check, const CheckOptions& options,
                              size_t maxFaults) {
    std::string text = check.file + ": ";
    text += check.Sound() ? "sound\n" : Format("NOT SOUND, %zu fault(s)\n", check.faults.size());
    if (!check.readable) {
        return text + "  " + check.faults.front().message + "\n";
    }
    text += DescribeContent(check);
    text += Format(
        "  time on a 115200-baud 8N2 line with %g ms reply latency and %g ms host "
        "time per command: %.1f s\n",
        options.replyLatencyMs, options.hostTimeMs, check.estimate.seconds);
    for (size_t i = 0; i < check.faults.size() && i < maxFaults; ++i) {
        const CheckFault& fault = check.faults[i];
        text += fault.line > 0 ? Format("  line %d: ", fault.line) : std::string("  file: ");
        text += fault.message + "\n";
    }
    if (check.faults.size() > maxFaults) {
        text += Format("  ... and %zu more faults (--json lists all)\n",
                       check.faults.size() - maxFaults);
    }
    return text;
}

std::string FileChecksJson(const std::vector<FileCheck>& checks, const CheckOptions& options) {
    std::string json = Format("{\"latency_ms\": %g, \"host_time_ms\": %g, \"files\": [",
                              options.replyLatencyMs, options.hostTimeMs);
    for (size_t i = 0; i < checks.size(); ++i) {
        json += (i > 0 ? ",\n  " : "\n  ") + FileJson(checks[i]);
    }
    return json + "\n]}\n";
}

}  // namespace tarnix
