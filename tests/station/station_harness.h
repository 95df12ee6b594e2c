#pragma once
// The station's end-to-end harness: a station process on a temporary folder, emulated modules
// that appear in its watched folder as links and go again, and a look at its journal and its
// server over loopback.

#include <sys/types.h>

#include <functional>
#include <future>
#include <string>
#include <vector>

#include "module_process.h"
#include "temp_dir_test.h"

namespace tarnix {

// A module plugged into the watched folder: a tarnix-module process whose port is linked at
// `link`. The test holds the port's device open as well, so that the pseudo-terminal's number
// cannot go to another program's terminal while the link still leads to it.
struct PluggedModule {
    ModuleProcess module;
    std::string link;
    int hold = -1;
};

class StationTest : public TempDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the station with `options` before FILE and the slots: the watched folder
    // "<dir>/slots/*" unless `slots` are given.
    void StartStation(const std::vector<std::string>& options = {},
                      const std::vector<std::string>& slots = {});
    // Sends `signal` and waits for the station's exit status.
    int StopStation(int signal);

    // A module with `args`, linked as slots/<name>.
    PluggedModule Plug(const std::string& name, const std::vector<std::string>& args);
    // The link removed, then the module's verdict read.
    void Unplug(PluggedModule* plugged);

    std::vector<std::string> JournalLines() const;
    // Waits until the journal holds `count` lines; false after the time limit.
    bool WaitForJournalLines(size_t count) const;
    bool WaitFor(const std::function<bool()>& condition) const;
    // A body fetched from the station's server, "" when it does not answer.
    std::string Fetch(const std::string& path) const;
    // The event stream read from now on until it has carried `records` journal records (at
    // most 60 s).
    std::future<std::string> FollowEvents(size_t records) const;

    std::string journal_;
    std::string slots_;
    std::string pattern_;
    int httpPort_ = 0;
    Spawned station_;
    std::vector<pid_t> plugged_;  // modules not yet unplugged: a failed test stops them too
    std::string stationOutput_;
};

// The JSON member `name` of a record as its text ("completed", 3, null), "" when missing.
std::string MemberText(const std::string& json, const std::string& name);

// A port on 127.0.0.1 that nothing listens on now.
int FreeLoopbackPort();

extern const std::string EXAMPLE;

}  // namespace tarnix
