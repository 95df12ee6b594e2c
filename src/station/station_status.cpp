// /status: the station now, as JSON.

#include <cstdio>

#include "json_text.h"
#include "station_board.h"

namespace tarnix {

namespace {

std::string Number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// `, "name": json`, appended: GCC 12 sees false overlaps in "text" + a temporary string
// (-Wrestrict).
void AddMember(std::string* json, const char* name, const std::string& value) {
    *json += ", \"";
    *json += name;
    *json += "\": ";
    *json += value;
}

std::string UnitJson(const UnitView& unit) {
    std::string json = "{\"unit\": ";
    json += std::to_string(unit.unit);
    AddMember(&json, "port", JsonQuote(unit.port));
    AddMember(&json, "device", JsonQuote(unit.device));
    AddMember(&json, "state", JsonQuote(unit.state));
    AddMember(&json, "percent", unit.percent < 0 ? "null" : std::to_string(unit.percent));
    AddMember(&json, "elapsed_seconds", Number(unit.elapsedSeconds));
    AddMember(&json, "seconds_left", Number(unit.secondsLeft));
    AddMember(&json, "reason", unit.reason.empty() ? "null" : JsonQuote(unit.reason));
    AddMember(&json, "present", unit.present ? "true" : "false");
    return json + "}";
}

std::string SlotJson(const SlotView& slot) {
    std::string json = "{\"slot\": ";
    json += JsonQuote(slot.slot);
    AddMember(&json, "state", slot.units.empty() ? "\"waiting\"" : "\"occupied\"");
    std::string units = "[";
    for (size_t i = 0; i < slot.units.size(); ++i) {
        units += i > 0 ? ", " : "";
        units += UnitJson(slot.units[i]);
    }
    AddMember(&json, "units", units + "]");
    AddMember(&json, "last", slot.hasLast ? UnitJson(slot.last) : "null");
    return json + "}";
}

std::string CountersJson(const StationCounters& counters, std::time_t now) {
    long ended = counters.completed + counters.failed + counters.notOpened + counters.interrupted;
    std::string json = "{\"completed\": ";
    json += std::to_string(counters.completed);
    AddMember(&json, "failed", std::to_string(counters.failed));
    AddMember(&json, "not_opened", std::to_string(counters.notOpened));
    AddMember(&json, "interrupted", std::to_string(counters.interrupted));
    AddMember(&json, "units_per_hour", Number(UnitsPerHour(counters, now)));
    AddMember(&json, "mean_seconds",
              ended == 0 ? "null" : Number(counters.secondsSum / static_cast<double>(ended)));
    return json + "}";
}

}  // namespace

std::string StatusJson(const BoardSnapshot& snapshot) {
    std::string json = "{\"slots\": [";
    for (size_t i = 0; i < snapshot.slots.size(); ++i) {
        json += i > 0 ? ",\n  " : "\n  ";
        json += SlotJson(snapshot.slots[i]);
    }
    json += "],\n\"counters\": ";
    json += CountersJson(snapshot.counters, snapshot.now);
    json += ",\n\"last_units\": [";
    bool first = true;
    for (auto record = snapshot.lastRecords.rbegin(); record != snapshot.lastRecords.rend();
         ++record) {
        json += first ? "\n  " : ",\n  ";
        json.append(*record, 0, record->size() - 1);  // a journal line: its line end goes
        first = false;
    }
    return json + "]}\n";
}

}  // namespace tarnix
