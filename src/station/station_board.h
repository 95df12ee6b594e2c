#pragma once
// What the station shows: the slots with their units, the counters, the last units' records
// and the recent events. The station's loop publishes it; the page, the event stream and the
// metrics read copies of it. Every part is bounded.

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tarnix {

inline constexpr size_t LAST_UNITS_SHOWN = 20;
inline constexpr size_t EVENTS_KEPT = 512;  // a stream further behind skips ahead
inline constexpr double UPDATE_SECONDS_BUCKETS[] = {5, 10, 20, 30, 60, 120, 300, 600, 1800};

struct UnitView {
    long unit = 0;
    std::string port;
    std::string device;
    std::string state;  // "updating", or the outcome: "completed", "failed", ...
    long percent = -1;  // -1 before the first progress line
    double elapsedSeconds = 0;
    double secondsLeft = 0;
    std::string reason;  // empty when none
    bool present = true;
};

struct SlotView {
    std::string slot;
    std::vector<UnitView> units;  // present now, in the order they came
    bool hasLast = false;         // the last unit seen in it, once gone
    UnitView last;
};

struct StationCounters {
    long completed = 0;
    long failed = 0;
    long notOpened = 0;
    long interrupted = 0;
    double secondsSum = 0;  // of every ended unit
    long bucketCounts[std::size(UPDATE_SECONDS_BUCKETS)] = {};
    std::time_t startTime = 0;
};

// What the readers copy.
struct BoardSnapshot {
    std::vector<SlotView> slots;
    StationCounters counters;
    std::deque<std::string> lastRecords;  // the journal lines of the last units, newest last
    std::time_t now = 0;
};

struct StationBoard {
    std::mutex mutex;
    std::condition_variable changed;
    BoardSnapshot shown;
    std::deque<std::string> events;  // JSON objects without line end
    uint64_t nextEventNumber = 0;    // of the event after the last one kept
    int streams = 0;                 // event streams open now
    bool closing = false;
};

// The counters after one more ended unit.
void CountUnit(const std::string& outcome, double seconds, StationCounters* counters);

// Units ended per hour since the start (0 in the first minute, where it says nothing).
double UnitsPerHour(const StationCounters& counters, std::time_t now);

// The station's state as /status gives it.
std::string StatusJson(const BoardSnapshot& snapshot);

// The Prometheus text: units by outcome, the update time histogram, each slot's units by state.
std::string MetricsText(const BoardSnapshot& snapshot);

// Publishing (the station's loop) and reading (the server's threads), each under the lock.
void PublishSlots(StationBoard* board, std::vector<SlotView> slots);
void PublishEvent(StationBoard* board, const std::string& json);
void PublishRecord(StationBoard* board, const std::string& record, const std::string& outcome,
                   double seconds);
BoardSnapshot CopyBoard(StationBoard* board);
void CloseBoard(StationBoard* board);

// The events after *next, waiting at most `wait` for one; *next moves on past them. Empty
// when none came or the board closes.
std::vector<std::string> TakeEvents(StationBoard* board, uint64_t* next,
                                    std::chrono::milliseconds wait);

}  // namespace tarnix
