// /metrics in the Prometheus text format (version 0.0.4).

#include <cstdio>

#include "station_board.h"

namespace tarnix {

namespace {

// A label value: backslash, double quote and line end escaped.
std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string Figure(double value) {
    char text[32];
    snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string UnitsTotal(const StationCounters& counters) {
    std::string text =
        "# HELP tarnix_station_units_total Units that ended, by outcome.\n"
        "# TYPE tarnix_station_units_total counter\n";
    const std::pair<const char*, long> outcomes[] = {{"completed", counters.completed},
                                                     {"failed", counters.failed},
                                                     {"not-opened", counters.notOpened},
                                                     {"interrupted", counters.interrupted}};
    for (const auto& [outcome, count] : outcomes) {
        text += "tarnix_station_units_total{outcome=\"" + std::string(outcome) + "\"} " +
                std::to_string(count) + "\n";
    }
    return text;
}

std::string UpdateSeconds(const StationCounters& counters) {
    std::string text =
        "# HELP tarnix_station_update_seconds How long each unit's update took.\n"
        "# TYPE tarnix_station_update_seconds histogram\n";
    for (size_t i = 0; i < std::size(UPDATE_SECONDS_BUCKETS); ++i) {
        text += "tarnix_station_update_seconds_bucket{le=\"" + Figure(UPDATE_SECONDS_BUCKETS[i]) +
                "\"} " + std::to_string(counters.bucketCounts[i]) + "\n";
    }
    long count = counters.completed + counters.failed + counters.notOpened + counters.interrupted;
    text += "tarnix_station_update_seconds_bucket{le=\"+Inf\"} " + std::to_string(count) + "\n";
    text += "tarnix_station_update_seconds_sum " + Figure(counters.secondsSum) + "\n";
    return text + "tarnix_station_update_seconds_count " + std::to_string(count) + "\n";
}

// Every state of every slot, 0 included, so that a dashboard sees a state end.
std::string SlotStates(const std::vector<SlotView>& slots) {
    std::string text =
        "# HELP tarnix_station_slot_units Units in each slot by state (waiting: 1 while the "
        "slot is empty).\n"
        "# TYPE tarnix_station_slot_units gauge\n";
    const char* states[] = {"waiting", "updating",   "completed",
                            "failed",  "not-opened", "interrupted"};
    for (const SlotView& slot : slots) {
        for (const char* state : states) {
            long count = std::string(state) == "waiting" && slot.units.empty() ? 1 : 0;
            for (const UnitView& unit : slot.units) {
                count += unit.state == state ? 1 : 0;
            }
            text += "tarnix_station_slot_units{slot=\"" + LabelValue(slot.slot) + "\",state=\"" +
                    state + "\"} " + std::to_string(count) + "\n";
        }
    }
    return text;
}

}  // namespace

std::string MetricsText(const BoardSnapshot& snapshot) {
    return UnitsTotal(snapshot.counters) + UpdateSeconds(snapshot.counters) +
           SlotStates(snapshot.slots);
}

}  // namespace tarnix
