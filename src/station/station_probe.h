#pragma once
// Fixed slots: a port by the one port rule, where the station cannot see a module arrive by a
// path or an adapter appearing. While the slot waits, a thread of its own asks the module's
// status query (STX 'S', answered by 'U' and three bytes) at most every 0.5 s and sends nothing
// else; a module that answers is present, one that has not answered for 2 s is gone. While the
// unit's tarnix has the port the probe leaves it alone.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarnix {

using ProbeClock = std::chrono::steady_clock;

inline constexpr auto PROBE_EVERY = std::chrono::milliseconds(500);
inline constexpr auto GONE_AFTER = std::chrono::seconds(2);
inline constexpr long PROBE_REPLY_TIMEOUT_MS = 300;  // a module answers in a millisecond or two

struct ProbeState {
    bool present = false;
    long generation = 0;   // counts the arrivals: each is a new unit
    int statusValue = -1;  // from the last answer
    ProbeClock::time_point lastAnswer;
    bool busy = false;     // the unit's tarnix has the port
    bool probing = false;  // a probe has the port now
};

// The presence after one probe at `now`: an answer makes a module present (a new arrival when
// it was not), and none for GONE_AFTER makes it gone.
void NoteProbe(ProbeState* state, bool answered, int value, ProbeClock::time_point now);

struct FixedSlotProbe {
    std::string port;  // the slot as given, by the one port rule
    std::mutex mutex;
    std::condition_variable wake;
    ProbeState state;
    bool stop = false;
    std::thread thread;
};

// The status query on the port, opened and closed again: true with *value when 'U' and three
// bytes came back.
bool AskStatus(const std::string& port, int* value);

void StartProbe(FixedSlotProbe* probe);
void StopProbe(FixedSlotProbe* probe);

// For the station's loop, under the probe's lock. TakePortForUpdate: true once no probe has the
// port (the probe then waits); ReturnPort after the unit's tarnix has ended (the 2 s count
// starts again).
bool TakePortForUpdate(FixedSlotProbe* probe);
void ReturnPort(FixedSlotProbe* probe);
ProbeState ProbeSnapshot(FixedSlotProbe* probe);

}  // namespace tarnix
