// /status: the station now, as JSON.

#include <cstdio>

#include "json_text.h"
#include "station_board.h"

namespace {

std::string Number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string UnitJson(const UnitView& unit) {
    std::string json = "{\"unit\": " + std::to_string(unit.unit);
    json += ", " + JsonStringMember("port", unit.port);
    json += ", " + JsonStringMember("device", unit.device);
    json += ", " + JsonStringMember("state", unit.state);
    json +=
        ", \"percent\": " + (unit.percent < 0 ? std::string("null") : std::to_string(unit.percent));
    json += ", \"elapsed_seconds\": " + Number(unit.elapsedSeconds);
    json += ", \"seconds_left\": " + Number(unit.secondsLeft);
    json += ", \"reason\": " + (unit.reason.empty() ? std::string("null") : JsonQuote(unit.reason));
    json += std::string(", \"present\": ") + (unit.present ? "true" : "false");
    return json + "}";
}

std::string SlotJson(const SlotView& slot) {
    std::string json = "{" + JsonStringMember("slot", slot.slot);
    json += std::string(", \"state\": ") + (slot.units.empty() ? "\"waiting\"" : "\"occupied\"");
    json += ", \"units\": [";
    for (size_t i = 0; i < slot.units.size(); ++i) {
        json += (i > 0 ? ", " : "") + UnitJson(slot.units[i]);
    }
    json += "], \"last\": " + (slot.hasLast ? UnitJson(slot.last) : std::string("null"));
    return json + "}";
}

std::string CountersJson(const StationCounters& counters, std::time_t now) {
    long ended = counters.completed + counters.failed + counters.notOpened + counters.interrupted;
    std::string json = "{\"completed\": " + std::to_string(counters.completed);
    json += ", \"failed\": " + std::to_string(counters.failed);
    json += ", \"not_opened\": " + std::to_string(counters.notOpened);
    json += ", \"interrupted\": " + std::to_string(counters.interrupted);
    json += ", \"units_per_hour\": " + Number(UnitsPerHour(counters, now));
    json += ", \"mean_seconds\": " +
            (ended == 0 ? std::string("null")
                        : Number(counters.secondsSum / static_cast<double>(ended)));
    return json + "}";
}

}  // namespace

std::string StatusJson(const BoardSnapshot& snapshot) {
    std::string json = "{\"slots\": [";
    for (size_t i = 0; i < snapshot.slots.size(); ++i) {
        json += (i > 0 ? ",\n  " : "\n  ") + SlotJson(snapshot.slots[i]);
    }
    json += "],\n\"counters\": " + CountersJson(snapshot.counters, snapshot.now);
    json += ",\n\"last_units\": [";
    bool first = true;
    for (auto record = snapshot.lastRecords.rbegin(); record != snapshot.lastRecords.rend();
         ++record) {
        // Each record is a journal line: its line end goes.
        json += (first ? "\n  " : ",\n  ") + record->substr(0, record->size() - 1);
        first = false;
    }
    return json + "]}\n";
}
