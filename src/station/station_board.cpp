#include "station_board.h"

#include <chrono>

namespace tarnix {

void CountUnit(const std::string& outcome, double seconds, StationCounters* counters) {
    if (outcome == "completed") {
        ++counters->completed;
    } else if (outcome == "not-opened") {
        ++counters->notOpened;
    } else if (outcome == "interrupted") {
        ++counters->interrupted;
    } else {
        ++counters->failed;
    }
    counters->secondsSum += seconds;
    for (size_t i = 0; i < std::size(UPDATE_SECONDS_BUCKETS); ++i) {
        counters->bucketCounts[i] += seconds <= UPDATE_SECONDS_BUCKETS[i] ? 1 : 0;
    }
}

double UnitsPerHour(const StationCounters& counters, std::time_t now) {
    double hours = static_cast<double>(now - counters.startTime) / 3600.0;
    long units = counters.completed + counters.failed + counters.notOpened + counters.interrupted;
    return hours < 1.0 / 60 ? 0 : static_cast<double>(units) / hours;
}

void PublishSlots(StationBoard* board, std::vector<SlotView> slots) {
    std::lock_guard<std::mutex> lock(board->mutex);
    board->shown.slots = std::move(slots);
}

void PublishEvent(StationBoard* board, const std::string& json) {
    {
        std::lock_guard<std::mutex> lock(board->mutex);
        board->events.push_back(json);
        ++board->nextEventNumber;
        if (board->events.size() > EVENTS_KEPT) {
            board->events.pop_front();
        }
    }
    board->changed.notify_all();
}

void PublishRecord(StationBoard* board, const std::string& record, const std::string& outcome,
                   double seconds) {
    std::lock_guard<std::mutex> lock(board->mutex);
    CountUnit(outcome, seconds, &board->shown.counters);
    board->shown.lastRecords.push_back(record);
    if (board->shown.lastRecords.size() > LAST_UNITS_SHOWN) {
        board->shown.lastRecords.pop_front();
    }
}

BoardSnapshot CopyBoard(StationBoard* board) {
    std::lock_guard<std::mutex> lock(board->mutex);
    BoardSnapshot copy = board->shown;
    copy.now = std::time(nullptr);
    return copy;
}

void CloseBoard(StationBoard* board) {
    {
        std::lock_guard<std::mutex> lock(board->mutex);
        board->closing = true;
    }
    board->changed.notify_all();
}

std::vector<std::string> TakeEvents(StationBoard* board, uint64_t* next,
                                    std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(board->mutex);
    board->changed.wait_for(lock, wait,
                            [&] { return board->closing || board->nextEventNumber > *next; });
    uint64_t firstKept = board->nextEventNumber - board->events.size();
    if (*next < firstKept) {
        *next = firstKept;  // too far behind: what is gone is skipped
    }
    std::vector<std::string> taken(board->events.begin() + static_cast<long>(*next - firstKept),
                                   board->events.end());
    *next = board->nextEventNumber;
    return board->closing ? std::vector<std::string>() : taken;
}

}  // namespace tarnix
