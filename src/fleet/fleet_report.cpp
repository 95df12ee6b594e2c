#include "fleet_report.h"

#include <cstdio>

#include "json_text.h"

namespace tarnix {

namespace {

std::string Format(const char* format, auto... values) {
    char text[512];
    snprintf(text, sizeof text, format, values...);
    return text;
}

// `, "name": text` where text is already JSON.
std::string RawMember(const char* name, const std::string& json) {
    std::string member = ", ";
    member += JsonQuote(name);
    member += ": ";
    member += json;
    return member;
}

// Built by appends: GCC 12 sees a false overlap in ", " + a temporary string (-Wrestrict).
std::string CommaStringMember(const char* name, const std::string& text) {
    std::string member = ", ";
    member += JsonStringMember(name, text);
    return member;
}

std::string StringOrNull(const std::string& text, bool present) {
    return present ? JsonQuote(text) : std::string("null");
}

std::string FileMembers(const FleetFileFacts& file) {
    std::string json = JsonStringMember("file", file.file);
    json += ", ";
    json += file.absolutePath.empty() ? std::string("\"file_path\": null")
                                      : JsonStringMember("file_path", file.absolutePath);
    json += RawMember("file_size", file.readable ? std::to_string(file.size) : "null");
    json += RawMember("file_sha256", StringOrNull(file.sha256, file.readable));
    json += RawMember("file_header_crc",
                      StringOrNull(Format("0x%08X", file.headerCrc), file.hasHeader));
    return json;
}

std::string RunMembers(const FleetRunFacts& run) {
    std::string json = Format("\"format\": %d", FLEET_REPORT_FORMAT);
    json += CommaStringMember("tarnix_version", run.version);
    json += CommaStringMember("host", run.host);
    json += CommaStringMember("user", run.user);
    json += RawMember("start", JsonQuote(IsoUtcTime(run.startTime)));
    json += RawMember("end", JsonQuote(IsoUtcTime(run.endTime)));
    json += CommaStringMember("modnr", run.modNr);
    json += RawMember("mode", std::to_string(run.mode));
    return json;
}

std::string FigureMembers(const OutcomeFigures& figures) {
    std::string json =
        RawMember("commands", figures.found ? std::to_string(figures.commands) : "null");
    json += RawMember("data_bytes", figures.found ? std::to_string(figures.dataBytes) : "null");
    json += RawMember("mean_reply_ms", figures.found && figures.hasMeanReply
                                           ? Format("%.1f", figures.meanReplyMs)
                                           : std::string("null"));
    return json;
}

}  // namespace

// The port, outcome and exit status lead, in this order, as in format 1.
std::string PortRecordMembers(const FleetPortRecord& result) {
    std::string json = JsonStringMember("port", result.port);
    json += RawMember("outcome", JsonQuote(OutcomeName(result.outcome)));
    json += Format(", \"exit_status\": %d, \"seconds\": %.3f", result.exitStatus, result.seconds);
    json += CommaStringMember("log", result.log);
    json += ", ";
    json += result.reason.empty() ? std::string("\"reason\": null")
                                  : JsonStringMember("reason", result.reason);
    json += RawMember("start", JsonQuote(IsoUtcTime(result.startTime)));
    json += RawMember("end", JsonQuote(IsoUtcTime(result.endTime)));
    json += FigureMembers(result.figures);
    json += CommaStringMember("log_path", result.logPath);
    json += RawMember("device", StringOrNull(result.device, !result.device.empty()));
    json += RawMember("adapter_vid_pid",
                      StringOrNull(result.adapterVidPid, !result.adapterVidPid.empty()));
    json += RawMember("adapter_serial",
                      StringOrNull(result.adapterSerial, !result.adapterSerial.empty()));
    return json;
}

namespace {

// Built by appends: GCC 12 sees a false overlap in "{" + a temporary string (-Wrestrict).
std::string PortJson(const FleetPortRecord& result) {
    std::string json = "{";
    json += PortRecordMembers(result);
    return json + "}";
}

std::string EventJson(const char* event, const std::string& port, const std::string& members,
                      std::time_t time) {
    std::string json = "{\"event\": ";
    json += JsonQuote(event);
    json += CommaStringMember("port", port);
    json += members;
    json += RawMember("time", JsonQuote(IsoUtcTime(time)));
    return json + "}\n";
}

}  // namespace

std::string IsoUtcTime(std::time_t time) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &time);
#else
    gmtime_r(&time, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string FleetReportJson(const FleetRunFacts& run, const std::vector<FleetPortRecord>& results) {
    std::string json = "{";
    json += FileMembers(run.file);
    json += ", ";
    json += RunMembers(run);
    json += ", \"ports\": [";
    for (size_t i = 0; i < results.size(); ++i) {
        json += i > 0 ? ",\n  " : "\n  ";
        json += PortJson(results[i]);
    }
    return json + "\n]}\n";
}

std::string StartEventJson(const std::string& port, std::time_t time) {
    return EventJson("start", port, "", time);
}

std::string ProgressEventJson(const std::string& port, long percent, std::time_t time) {
    return EventJson("progress", port, RawMember("percent", std::to_string(percent)), time);
}

std::string EndEventJson(const FleetPortRecord& result, std::time_t time) {
    std::string members = RawMember("outcome", JsonQuote(OutcomeName(result.outcome)));
    members += RawMember("exit_status", std::to_string(result.exitStatus));
    return EventJson("end", result.port, members, time);
}

}  // namespace tarnix
