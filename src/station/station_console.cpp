#include "station_console.h"

#include <cstdio>

namespace tarnix {

namespace {

std::string Format(const char* format, auto... values) {
    char text[512];
    snprintf(text, sizeof text, format, values...);
    return text;
}

std::string UnitText(const UnitView& unit) {
    std::string text = Format("unit %ld %s  ", unit.unit, unit.port.c_str());
    if (unit.state != "updating") {
        return text + unit.state + (unit.reason.empty() ? "" : ": " + unit.reason);
    }
    std::string percent = unit.percent < 0 ? std::string("   -") : Format("%4ld", unit.percent);
    return text + Format("%s %%  updating  %.1f s, about %.0f s left", percent.c_str(),
                         unit.elapsedSeconds, unit.secondsLeft);
}

}  // namespace

std::string SlotLine(const SlotView& slot) {
    std::string line = Format("%-28s ", slot.slot.c_str());
    if (slot.units.empty()) {
        return line + "waiting";
    }
    line += UnitText(slot.units.front());
    if (slot.units.size() > 1) {
        line += Format("  (+%zu more)", slot.units.size() - 1);
    }
    return line;
}

std::string TotalLine(const BoardSnapshot& snapshot) {
    long updating = 0;
    for (const SlotView& slot : snapshot.slots) {
        for (const UnitView& unit : slot.units) {
            updating += unit.state == "updating" ? 1 : 0;
        }
    }
    const StationCounters& counters = snapshot.counters;
    long failed = counters.failed + counters.notOpened + counters.interrupted;
    return Format("total: %ld completed, %ld failed, %ld updating, %.1f units per hour",
                  counters.completed, failed, updating, UnitsPerHour(counters, snapshot.now));
}

std::string UnitEndLine(long unit, const std::string& port, const std::string& outcome,
                        const std::string& reason, int exitStatus, double seconds) {
    std::string text = outcome;
    if (!reason.empty() && outcome != "interrupted") {
        text += ": " + reason;
    }
    return Format("unit %ld  %s  %s (exit %d, %.1f s)", unit, port.c_str(), text.c_str(),
                  exitStatus, seconds);
}

}  // namespace tarnix
