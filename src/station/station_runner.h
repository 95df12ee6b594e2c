#pragma once
// One unit's update: the tarnix beside the station started on the unit's port with its output
// in a log, followed through its progress lines, and concluded from its outcome line and exit
// status, as the fleet does for each port.

#include <chrono>
#include <string>
#include <vector>

#include "fleet_process.h"
#include "fleet_report.h"
#include "fleet_status.h"
#include "station_slots.h"

namespace tarnix {

using StationClock = std::chrono::steady_clock;

// What every unit's tarnix is given besides its port.
struct UnitLaunch {
    std::string tarnix;
    std::string modNr;
    std::string file;
    std::string mode;  // "0" or "1"
    std::string logDir;
};

struct UnitRun {
    long unit = 0;
    size_t slot = 0;  // index into the command line's slots
    std::string key;  // the place's key (station_slots.h)
    bool present = true;
    int statusValue = -1;  // the status query's, for a fixed slot
    FleetPortRecord result;
    FleetProcess process;
    StationClock::time_point started;
    LogProgress progress;
    long logOffset = 0;
    long percentReported = -1;
    bool interruptPassed = false;
};

// The log's name for a unit: "unit-12-dev_ttyUSB0.log".
std::string UnitLogName(long unit, const std::string& port);

// Starts the unit's tarnix. An event line (newline included) for each thing to tell is added
// to *events: the start, and the end at once when tarnix could not be started.
void StartUnit(const UnitLaunch& launch, const UnitPlace& place, UnitRun* run,
               std::vector<std::string>* events);

// One look at a running unit: true once its tarnix has ended and the result is complete.
// Progress and end events go to *events.
bool PollUnit(UnitRun* run, std::vector<std::string>* events);

// Passes a stop signal on to the unit's tarnix, which then releases its module.
void InterruptUnit(UnitRun* run, int signalNumber);

// A fleet event line with the slot and the unit put in front of its members.
std::string WithUnitMembers(const std::string& event, const std::string& slot, long unit);

}  // namespace tarnix
