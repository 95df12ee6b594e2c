#include "station_run.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "check_report.h"
#include "fleet_process.h"
#include "fleet_run.h"
#include "outcome_line.h"
#include "station_board.h"
#include "station_console.h"
#include "station_http.h"
#include "station_journal.h"
#include "station_probe.h"
#include "station_runner.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

constexpr int TICK_MILLISECONDS = 100;
constexpr int WATCH_EVERY_TICKS = 5;  // the patterns at most every 0.5 s

struct Station {
    const StationCommandLine* commandLine = nullptr;
    UnitLaunch launch;
    FleetRunFacts facts;
    Journal journal;
    StationBoard board;
    double estimateSeconds = 0;
    std::vector<UnitRun> units;                           // running, or ended and still present
    std::vector<SlotView> lastSeen;                       // per slot: the last unit that went
    std::vector<std::unique_ptr<FixedSlotProbe>> probes;  // per slot; none for a pattern
    long lastUnit = 0;
    long started = 0;
    bool allCompleted = true;
    int signalsPassed = 0;
    bool live = false;
    bool drawn = false;
};

bool Stopping(const Station& station) {
    long limit = station.commandLine->units;
    return StopSignalCount() > 0 || (limit > 0 && station.started >= limit);
}

void Publish(Station* station, const std::string& slot, long unit,
             const std::vector<std::string>& events) {
    for (const std::string& event : events) {
        std::string json = WithUnitMembers(event, slot, unit);
        PublishEvent(&station->board, json.substr(0, json.size() - 1));
    }
}

UnitView ViewOf(const UnitRun& run, double estimateSeconds) {
    UnitView view;
    view.unit = run.unit;
    view.port = run.result.port;
    view.device = run.result.device;
    view.state =
        run.result.outcome == PortOutcome::Running ? "updating" : OutcomeName(run.result.outcome);
    view.percent = run.progress.percent;
    view.elapsedSeconds =
        run.result.outcome == PortOutcome::Running
            ? std::chrono::duration<double>(StationClock::now() - run.started).count()
            : run.result.seconds;
    view.secondsLeft =
        run.result.outcome == PortOutcome::Running
            ? EstimatedSecondsLeft(view.elapsedSeconds, view.percent, estimateSeconds)
            : 0;
    view.reason = run.result.reason;
    view.present = run.present;
    return view;
}

void Record(Station* station, UnitRun* run) {
    const std::string& slot = station->commandLine->slots[run->slot].text;
    std::string record =
        JournalRecordJson(run->unit, slot, run->statusValue, station->facts, run->result);
    if (station->probes[run->slot]) {
        ReturnPort(station->probes[run->slot].get());
    }
    std::string error;
    if (!AppendJournalLine(&station->journal, record, &error)) {
        fprintf(stderr, "tarnix-station: %s\n", error.c_str());
        station->allCompleted = false;
    }
    std::string outcome = OutcomeName(run->result.outcome);
    PublishRecord(&station->board, record, outcome, run->result.seconds);
    PublishEvent(&station->board, "{\"event\": \"record\", \"record\": " +
                                      record.substr(0, record.size() - 1) + "}");
    station->allCompleted = station->allCompleted && run->result.outcome == PortOutcome::Completed;
    if (!station->live) {
        printf("%s\n", UnitEndLine(run->unit, run->result.port, outcome, run->result.reason,
                                   run->result.exitStatus, run->result.seconds)
                           .c_str());
        fflush(stdout);
    }
}

// A unit that has ended and gone leaves the slot, which keeps it as the last one seen.
void Retire(Station* station) {
    auto gone = [station](const UnitRun& run) {
        if (run.present || run.result.outcome == PortOutcome::Running) {
            return false;
        }
        SlotView& slot = station->lastSeen[run.slot];
        slot.hasLast = true;
        slot.last = ViewOf(run, station->estimateSeconds);
        return true;
    };
    station->units.erase(std::remove_if(station->units.begin(), station->units.end(), gone),
                         station->units.end());
}

void PollUnits(Station* station) {
    while (station->signalsPassed < StopSignalCount()) {
        ++station->signalsPassed;
        for (UnitRun& run : station->units) {
            InterruptUnit(&run, LastStopSignal());
        }
    }
    for (UnitRun& run : station->units) {
        if (run.result.outcome != PortOutcome::Running) {
            continue;
        }
        std::vector<std::string> events;
        bool ended = PollUnit(&run, &events);
        Publish(station, station->commandLine->slots[run.slot].text, run.unit, events);
        if (ended) {
            Record(station, &run);
        }
    }
    Retire(station);
}

void StartArrived(Station* station, size_t slot, const std::vector<UnitPlace>& arrived) {
    for (const UnitPlace& place : arrived) {
        FixedSlotProbe* probe = station->probes[slot].get();
        if (Stopping(*station) || (probe != nullptr && !TakePortForUpdate(probe))) {
            return;  // a probe still has the port: the next look starts the update
        }
        UnitRun& run = station->units.emplace_back();
        run.unit = ++station->lastUnit;
        run.slot = slot;
        ++station->started;
        std::vector<std::string> events;
        StartUnit(station->launch, place, &run, &events);
        Publish(station, station->commandLine->slots[slot].text, run.unit, events);
        if (run.result.outcome != PortOutcome::Running) {
            Record(station, &run);  // tarnix could not be started
        }
    }
}

// A fixed slot's module is there while it answers the status query, and while its update runs.
std::vector<UnitPlace> PlacesNow(const Station& station, size_t slot,
                                 const std::vector<SerialPortInfo>& ports) {
    const SlotForm& form = station.commandLine->slots[slot];
    if (!station.probes[slot]) {
        return FindPlaces(form, ports);
    }
    ProbeState state = ProbeSnapshot(station.probes[slot].get());
    if (!state.present && !state.busy) {
        return {};
    }
    return {FixedPlace(form, state.generation, state.statusValue, ports)};
}

// The machine's port list is read only when a slot needs it: a usb: pattern on every look, any
// other slot only when a unit arrives there (its record names the adapter). A listing costs some
// hundreds of system calls, and a station looks at its slots twice a second all day.
struct PortListing {
    bool listed = false;
    std::vector<SerialPortInfo> ports;
};

const std::vector<SerialPortInfo>& ListedPorts(PortListing* listing) {
    if (!listing->listed) {
        listing->ports = ListSerialPorts();
        listing->listed = true;
    }
    return listing->ports;
}

SlotChange LookAtSlot(const Station& station, size_t slot, PortListing* listing) {
    std::vector<std::string> known;
    for (const UnitRun& run : station.units) {
        if (run.slot == slot && run.present) {
            known.push_back(run.key);
        }
    }
    bool everyLook = station.commandLine->slots[slot].kind == SlotKind::UsbPattern;
    const std::vector<SerialPortInfo>& ports = everyLook ? ListedPorts(listing) : listing->ports;
    SlotChange change = CompareSlotPlaces(known, PlacesNow(station, slot, ports));
    if (!change.arrived.empty() && !listing->listed) {
        change = CompareSlotPlaces(known, PlacesNow(station, slot, ListedPorts(listing)));
    }
    return change;
}

void WatchSlots(Station* station) {
    PortListing listing;
    for (size_t slot = 0; slot < station->commandLine->slots.size(); ++slot) {
        SlotChange change = LookAtSlot(*station, slot, &listing);
        for (UnitRun& run : station->units) {
            if (run.slot == slot &&
                std::find(change.gone.begin(), change.gone.end(), run.key) != change.gone.end()) {
                run.present = false;
            }
        }
        StartArrived(station, slot, change.arrived);
    }
    Retire(station);
}

std::vector<SlotView> SlotViews(const Station& station) {
    std::vector<SlotView> views = station.lastSeen;
    for (const UnitRun& run : station.units) {
        views[run.slot].units.push_back(ViewOf(run, station.estimateSeconds));
    }
    return views;
}

void Show(Station* station) {
    PublishSlots(&station->board, SlotViews(*station));
    if (!station->live) {
        return;
    }
    BoardSnapshot snapshot = CopyBoard(&station->board);
    if (station->drawn) {
        printf("\033[%zuA", snapshot.slots.size() + 1);
    }
    for (const SlotView& slot : snapshot.slots) {
        printf("\r\033[K%s\n", SlotLine(slot).c_str());
    }
    printf("\r\033[K%s\n", TotalLine(snapshot).c_str());
    fflush(stdout);
    station->drawn = true;
}

void Loop(Station* station) {
    for (long tick = 0;; ++tick) {
        PollUnits(station);
        if (tick % WATCH_EVERY_TICKS == 0 && !Stopping(*station)) {
            WatchSlots(station);
        }
        bool running = std::any_of(
            station->units.begin(), station->units.end(),
            [](const UnitRun& run) { return run.result.outcome == PortOutcome::Running; });
        Show(station);
        if (Stopping(*station) && !running) {
            return;
        }
        PauseMilliseconds(TICK_MILLISECONDS);
    }
}

void Prepare(const StationCommandLine& commandLine, double estimateSeconds, Station* station) {
    station->commandLine = &commandLine;
    station->estimateSeconds = estimateSeconds;
    station->launch.tarnix = OwnExecutableDirectory() + "/" + ExecutableFileName("tarnix");
    station->launch.modNr = commandLine.modNr;
    station->launch.file = commandLine.file;
    station->launch.mode = commandLine.mode == CheckMode::Lines ? "1" : "0";
    station->launch.logDir = commandLine.logDir;
    station->facts.version = TARNIX_VERSION;
    station->facts.host = HostName();
    station->facts.modNr = commandLine.modNr;
    station->facts.mode = commandLine.mode == CheckMode::Lines ? 1 : 0;
    station->facts.file = GatherFileFacts(commandLine.file);
    station->lastSeen.resize(commandLine.slots.size());
    for (size_t i = 0; i < commandLine.slots.size(); ++i) {
        station->lastSeen[i].slot = commandLine.slots[i].text;
    }
    station->probes.resize(commandLine.slots.size());
    for (size_t i = 0; i < commandLine.slots.size(); ++i) {
        if (commandLine.slots[i].kind == SlotKind::Fixed) {
            station->probes[i] = std::make_unique<FixedSlotProbe>();
            station->probes[i]->port = commandLine.slots[i].text;
        }
    }
    station->board.shown.counters.startTime = std::time(nullptr);
    station->board.shown.slots = station->lastSeen;
    station->live = OutputIsTerminal();
}

// The file and the places for the logs and the journal; false after saying why.
bool OpenRecords(const StationCommandLine& commandLine, Station* station) {
    std::string error;
    if (!FileExists(station->launch.tarnix)) {
        fprintf(stderr, "tarnix-station: %s not found beside tarnix-station\n",
                station->launch.tarnix.c_str());
        return false;
    }
    if (!MakeFolder(commandLine.logDir, true, &error) ||
        !OpenJournal(commandLine.journalFile, &station->journal, &station->lastUnit, &error)) {
        fprintf(stderr, "tarnix-station: %s\n", error.c_str());
        return false;
    }
    return true;
}

void ForEachProbe(Station* station, void (*action)(FixedSlotProbe*)) {
    for (std::unique_ptr<FixedSlotProbe>& probe : station->probes) {
        if (probe) {
            action(probe.get());
        }
    }
}

bool StartServer(const StationCommandLine& commandLine, Station* station,
                 std::shared_ptr<StationServer>* server) {
    if (commandLine.serveHost.empty()) {
        return true;
    }
    if (!IsLoopbackHost(commandLine.serveHost)) {
        fprintf(stderr,
                "tarnix-station: warning: serving on %s, reachable from other machines; the "
                "page has no login (it is read-only)\n",
                commandLine.serveHost.c_str());
    }
    std::string error;
    if (!StartStationServer(commandLine.serveHost, commandLine.servePort, commandLine.journalFile,
                            &station->board, server, &error)) {
        fprintf(stderr, "tarnix-station: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int RunStation(const StationCommandLine& commandLine) {
    FileCheck check = CheckUpdateFile(commandLine.file, {.mode = commandLine.mode});
    if (commandLine.check && !check.Sound()) {
        fputs(DescribeFileCheck(check, {.mode = commandLine.mode}).c_str(), stderr);
        fprintf(stderr, "tarnix-station: %s is not sound; no port was touched\n",
                commandLine.file.c_str());
        return EXIT_STATION_NOT_ALL;
    }
    auto station = std::make_unique<Station>();
    Prepare(commandLine, check.estimate.seconds, station.get());
    std::shared_ptr<StationServer> server;
    if (!StartServer(commandLine, station.get(), &server)) {
        return EXIT_STATION_NO_SERVER;
    }
    bool opened = OpenRecords(commandLine, station.get());
    if (opened) {
        // tarnix's progress on its standard error, where it cannot disturb its console texts.
        SetInheritedVariable(PROGRESS_VARIABLE, PROGRESS_ON_STDERR);
        CatchStopSignals();
        ForEachProbe(station.get(), StartProbe);
        Loop(station.get());
        ForEachProbe(station.get(), StopProbe);
    }
    if (server) {
        StopStationServer(server.get(), &station->board);
    }
    CloseJournal(&station->journal);
    if (!opened) {
        return EXIT_STATION_NOT_ALL;
    }
    return station->allCompleted ? EXIT_STATION_ALL_COMPLETED : EXIT_STATION_NOT_ALL;
}

}  // namespace tarnix
