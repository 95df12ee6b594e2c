#include "station_probe.h"

#include "exchange.h"
#include "framing.h"
#include "port.h"
#include "port_choice.h"

namespace tarnix {

namespace {

// The three value bytes after 'U', least significant first; false when one does not come.
bool ReadStatusBytes(Port& port, int* value) {
    int read = 0;
    for (int i = 0; i < 3; ++i) {
        PortNotes notes;
        Received byte = ReceiveByte(port, &notes);
        if (byte.ended != ReceiveResult::Byte) {
            return false;
        }
        read |= byte.value << (8 * i);
    }
    *value = read;
    return true;
}

void ProbeLoop(FixedSlotProbe* probe) {
    std::unique_lock<std::mutex> lock(probe->mutex);
    while (!probe->stop) {
        ProbeClock::time_point started = ProbeClock::now();
        if (!probe->state.busy) {
            probe->state.probing = true;
            lock.unlock();
            int value = 0;
            bool answered = AskStatus(probe->port, &value);
            lock.lock();
            probe->state.probing = false;
            NoteProbe(&probe->state, answered, value, ProbeClock::now());
        }
        probe->wake.wait_until(lock, started + PROBE_EVERY, [probe] { return probe->stop; });
    }
}

}  // namespace

void NoteProbe(ProbeState* state, bool answered, int value, ProbeClock::time_point now) {
    if (answered) {
        if (!state->present) {
            ++state->generation;
        }
        state->present = true;
        state->statusValue = value;
        state->lastAnswer = now;
    } else if (state->present && now - state->lastAnswer >= GONE_AFTER) {
        state->present = false;
    }
}

// Silent: the port's notes (a time-out while no module is there) are no news to the station.
bool AskStatus(const std::string& text, int* value) {
    PortChoice choice;
    if (!ParsePortChoice(text, PlatformPortForms(), &choice)) {
        return false;
    }
    LineSettings line = MODULE_LINE;
    line.replyTimeoutMs = PROBE_REPLY_TIMEOUT_MS;
    PortOpening opening = OpenPort(choice, line);
    if (!opening.port) {
        return false;
    }
    Port& port = *opening.port;
    ExchangeResult reply = ExchangeServiceFrame(port, {STX, 'S'});
    bool answered = ReplyWas(reply, 'U') && ReadStatusBytes(port, value);
    ClosePort(port);
    return answered;
}

void StartProbe(FixedSlotProbe* probe) {
    probe->thread = std::thread(ProbeLoop, probe);
}

void StopProbe(FixedSlotProbe* probe) {
    {
        std::lock_guard<std::mutex> lock(probe->mutex);
        probe->stop = true;
    }
    probe->wake.notify_all();
    if (probe->thread.joinable()) {
        probe->thread.join();
    }
}

bool TakePortForUpdate(FixedSlotProbe* probe) {
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->state.busy = true;
    return !probe->state.probing;
}

void ReturnPort(FixedSlotProbe* probe) {
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->state.busy = false;
    probe->state.lastAnswer = ProbeClock::now();
}

ProbeState ProbeSnapshot(FixedSlotProbe* probe) {
    std::lock_guard<std::mutex> lock(probe->mutex);
    return probe->state;
}

}  // namespace tarnix
