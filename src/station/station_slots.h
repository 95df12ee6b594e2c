#pragma once
// What stands in each slot now: the units a pattern slot finds, and how they compare with the
// units the station already knows there. A unit is a place (a device path, an adapter) while
// it exists: one left in is the same unit, one pulled out and put back is a new one.

#include <string>
#include <string_view>
#include <vector>

#include "port_list.h"
#include "station_cli.h"

namespace tarnix {

// One unit's place as the slot finds it.
struct UnitPlace {
    // What tells this unit from the next one in the same place: the path with the identity of
    // its link and device, so that a link made anew is a new unit.
    std::string key;
    std::string port;  // what tarnix is given
    std::string device;
    std::string adapterVidPid;  // "0403:6001" where the port list knows the adapter
    std::string adapterSerial;
    int statusValue = -1;  // a fixed slot's: the status query's value; -1 where none was asked
};

// The places that a pattern slot finds now; `ports` is the machine's port list.
std::vector<UnitPlace> FindPlaces(const SlotForm& slot, const std::vector<SerialPortInfo>& ports);

// A fixed slot's place while its module is present (or its update runs): the arrival's number
// `generation` tells one module from the next.
UnitPlace FixedPlace(const SlotForm& slot, long generation, int statusValue,
                     const std::vector<SerialPortInfo>& ports);

// Of the places found now, those no known unit holds (`arrived`), and the known keys no longer
// found (`gone`).
struct SlotChange {
    std::vector<UnitPlace> arrived;
    std::vector<std::string> gone;
};
SlotChange CompareSlotPlaces(const std::vector<std::string>& knownKeys,
                             const std::vector<UnitPlace>& found);

// Whether `text` matches the shell-style `pattern` (*, ?, [set], [!set] or [^set], with
// ranges), letters in either case alike, a backslash an ordinary character; a '[' that no ']'
// closes stands for itself. As fnmatch(3) with FNM_CASEFOLD | FNM_NOESCAPE does, for the
// platforms that have no fnmatch.
bool WildcardMatches(std::string_view pattern, std::string_view text);

// Platform pieces (station_watch_posix.cpp, station_watch_win32.cpp): the existing paths that match
// a pattern, in order; the identity of a path as it is now ("" when gone or no character device); a
// serial number pattern.
std::vector<std::string> MatchingPaths(const std::string& pattern);
std::string PathIdentity(const std::string& path);
bool SerialMatches(const std::string& pattern, const std::string& serialNumber);

}  // namespace tarnix
