#include "station_slots.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "port_choice.h"

namespace tarnix {

namespace {

bool IsListed(const SerialPortInfo& info, const std::vector<SerialPortInfo>& ports) {
    return std::any_of(ports.begin(), ports.end(),
                       [&info](const SerialPortInfo& port) { return port.device == info.device; });
}

// The port that a path names, as the port list describes it: by the path (a device or its
// by-id link) or else by the device the path leads to. The latter covers a by-id link that
// udev or mdev made just after the list was read (the device comes first, its link a moment
// later), which would otherwise be updated and recorded without its adapter.
SerialPortInfo IdentifyPath(const std::string& path, const std::vector<SerialPortInfo>& ports) {
    PortChoice choice;
    choice.devicePath = path;
    SerialPortInfo info = IdentifyChosenPort(choice, ports);
    std::error_code error;
    choice.devicePath = std::filesystem::canonical(path, error).string();
    if (IsListed(info, ports) || error) {
        return info;
    }
    SerialPortInfo target = IdentifyChosenPort(choice, ports);
    return IsListed(target, ports) ? target : info;
}

void DescribeAdapter(const SerialPortInfo& info, UnitPlace* place) {
    if (!info.vendorId.empty() && !info.productId.empty()) {
        place->adapterVidPid = info.vendorId + ":" + info.productId;
    }
    place->adapterSerial = info.serialNumber;
}

std::vector<UnitPlace> FindPathPlaces(const SlotForm& slot,
                                      const std::vector<SerialPortInfo>& ports) {
    std::vector<UnitPlace> places;
    for (const std::string& path : MatchingPaths(slot.pattern)) {
        std::string identity = PathIdentity(path);
        if (identity.empty()) {
            continue;  // a link whose device has gone, or no device: nothing to update
        }
        UnitPlace& place = places.emplace_back();
        place.key = path + "#" + identity;
        place.port = path;
        SerialPortInfo info = IdentifyPath(path, ports);
        place.device = info.device.empty() ? path : info.device;
        DescribeAdapter(info, &place);
    }
    return places;
}

// tarnix is given the usb: form, so that it finds the adapter by its serial number itself.
std::vector<UnitPlace> FindUsbPlaces(const SlotForm& slot,
                                     const std::vector<SerialPortInfo>& ports) {
    std::vector<UnitPlace> places;
    for (const SerialPortInfo& info : ports) {
        std::string form = UsbPortForm(ports, info);
        if (form.empty() || !SerialMatches(slot.pattern, info.serialNumber)) {
            continue;
        }
        UnitPlace& place = places.emplace_back();
        place.key = form + "@" + info.device + "#" + PathIdentity(info.device);
        place.port = form;
        place.device = info.device;
        DescribeAdapter(info, &place);
    }
    return places;
}

char Folded(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Whether `c` is in the set whose members begin at pattern[at] (after the '[' and a '!' or
// '^'); *end is set past the closing ']', or to npos when none closes it.
bool InSet(std::string_view pattern, size_t at, char c, size_t* end) {
    bool found = false;
    size_t i = at;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        bool range = i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']';
        char low = Folded(pattern[i]);
        char high = range ? Folded(pattern[i + 2]) : low;
        found = found || (Folded(c) >= low && Folded(c) <= high);
        i += range ? 3 : 1;
    }
    *end = i < pattern.size() ? i + 1 : std::string_view::npos;
    return found;
}

// Whether the pattern's element at `at` (not a '*') matches `c`; *next is set past it.
bool ElementMatches(std::string_view pattern, size_t at, char c, size_t* next) {
    *next = at + 1;
    if (pattern[at] == '?') {
        return true;
    }
    if (pattern[at] == '[') {
        bool negated =
            at + 1 < pattern.size() && (pattern[at + 1] == '!' || pattern[at + 1] == '^');
        size_t end = 0;
        bool in = InSet(pattern, at + (negated ? 2 : 1), c, &end);
        if (end != std::string_view::npos) {
            *next = end;
            return in != negated;
        }
    }
    return Folded(pattern[at]) == Folded(c);
}

}  // namespace

// Left to right; on a mismatch the last '*' takes one more character and the rest is tried
// again from there.
bool WildcardMatches(std::string_view pattern, std::string_view text) {
    size_t p = 0;
    size_t t = 0;
    size_t afterStar = std::string_view::npos;
    size_t starText = 0;
    while (t < text.size()) {
        size_t next = 0;
        if (p < pattern.size() && pattern[p] == '*') {
            afterStar = ++p;
            starText = t;
        } else if (p < pattern.size() && ElementMatches(pattern, p, text[t], &next)) {
            p = next;
            ++t;
        } else if (afterStar == std::string_view::npos) {
            return false;
        } else {
            p = afterStar;
            t = ++starText;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<UnitPlace> FindPlaces(const SlotForm& slot, const std::vector<SerialPortInfo>& ports) {
    if (slot.kind == SlotKind::UsbPattern) {
        return FindUsbPlaces(slot, ports);
    }
    if (slot.kind == SlotKind::PathPattern) {
        return FindPathPlaces(slot, ports);
    }
    return {};
}

UnitPlace FixedPlace(const SlotForm& slot, long generation, int statusValue,
                     const std::vector<SerialPortInfo>& ports) {
    UnitPlace place;
    place.key = slot.text + "#" + std::to_string(generation);
    place.port = slot.text;
    place.statusValue = statusValue;
    PortChoice choice;
    if (ParsePortChoice(slot.text, PlatformPortForms(), &choice)) {
        SerialPortInfo info = IdentifyChosenPort(choice, ports);
        place.device = info.device;
        DescribeAdapter(info, &place);
    }
    return place;
}

SlotChange CompareSlotPlaces(const std::vector<std::string>& knownKeys,
                             const std::vector<UnitPlace>& found) {
    SlotChange change;
    for (const UnitPlace& place : found) {
        if (std::find(knownKeys.begin(), knownKeys.end(), place.key) == knownKeys.end()) {
            change.arrived.push_back(place);
        }
    }
    for (const std::string& key : knownKeys) {
        bool stillThere = std::any_of(found.begin(), found.end(),
                                      [&key](const UnitPlace& place) { return place.key == key; });
        if (!stillThere) {
            change.gone.push_back(key);
        }
    }
    return change;
}

}  // namespace tarnix
