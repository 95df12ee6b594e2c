#include "station_runner.h"

#include <ctime>

#include "file_read.h"
#include "json_text.h"
#include "outcome_line.h"

namespace tarnix {

namespace {

void FollowLog(UnitRun* run, std::vector<std::string>* events) {
    std::string chunk;
    ReadFileFrom(run->result.log, &run->logOffset, &chunk);
    ScanLogProgress(chunk, &run->progress);
    if (run->progress.percent >= 0 && run->progress.percent != run->percentReported) {
        run->percentReported = run->progress.percent;
        events->push_back(
            ProgressEventJson(run->result.port, run->percentReported, std::time(nullptr)));
    }
}

void Conclude(UnitRun* run, int exitStatus, std::vector<std::string>* events) {
    FleetPortRecord& result = run->result;
    FollowLog(run, events);
    std::string log = ReadWholeFile(result.log);
    result.exitStatus = exitStatus;
    result.seconds = std::chrono::duration<double>(StationClock::now() - run->started).count();
    result.endTime = std::time(nullptr);
    result.outcome = OutcomeOfExit(exitStatus, run->interruptPassed);
    result.figures = LastOutcomeFigures(log);
    if (result.outcome != PortOutcome::Completed) {
        result.reason = FailureReason(log, exitStatus);
    }
    events->push_back(EndEventJson(result, result.endTime));
}

}  // namespace

std::string UnitLogName(long unit, const std::string& port) {
    return "unit-" + std::to_string(unit) + "-" + PortLogName(port);
}

void StartUnit(const UnitLaunch& launch, const UnitPlace& place, UnitRun* run,
               std::vector<std::string>* events) {
    FleetPortRecord& result = run->result;
    result.port = place.port;
    result.device = place.device;
    result.adapterVidPid = place.adapterVidPid;
    result.adapterSerial = place.adapterSerial;
    result.log = launch.logDir + "/" + UnitLogName(run->unit, place.port);
    result.logPath = AbsolutePath(result.log);
    run->key = place.key;
    run->statusValue = place.statusValue;
    run->started = StationClock::now();
    result.startTime = std::time(nullptr);
    result.endTime = result.startTime;
    events->push_back(StartEventJson(result.port, result.startTime));
    std::string error;
    if (!StartLoggedProcess(launch.tarnix, {launch.modNr, launch.file, launch.mode, place.port},
                            result.log, &run->process, &error)) {
        result.outcome = PortOutcome::Failed;
        result.reason = error;
        events->push_back(EndEventJson(result, result.endTime));
    }
}

bool PollUnit(UnitRun* run, std::vector<std::string>* events) {
    if (run->result.outcome != PortOutcome::Running) {
        return true;  // never started
    }
    int exitStatus = 0;
    if (!ProcessEnded(&run->process, &exitStatus)) {
        FollowLog(run, events);
        return false;
    }
    Conclude(run, exitStatus, events);
    return true;
}

void InterruptUnit(UnitRun* run, int signalNumber) {
    if (run->result.outcome == PortOutcome::Running) {
        InterruptProcess(run->process, signalNumber);
        run->interruptPassed = true;
    }
}

std::string WithUnitMembers(const std::string& event, const std::string& slot, long unit) {
    std::string json = "{";
    json += JsonStringMember("slot", slot);
    json += ", \"unit\": " + std::to_string(unit) + ", ";
    json += event.substr(1);
    return json;
}

}  // namespace tarnix
