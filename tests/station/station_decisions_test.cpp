// The station's decisions that need no process: what a slot argument is, which units are new
// or gone, where the journal's numbering goes on.

#include "station_slots.h"

#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "station_cli.h"
#include "station_journal.h"
#include "station_probe.h"

using namespace tarnix;

namespace {

struct SlotCase {
    const char* text;
    bool accepted;
    SlotKind kind;
    const char* pattern;
};

void PrintTo(const SlotCase& c, std::ostream* os) {
    *os << c.text;
}

class SlotArguments : public testing::TestWithParam<SlotCase> {};

TEST_P(SlotArguments, AreReadByTheirForm) {
    const SlotCase& c = GetParam();
    SlotForm slot;
    std::string error;
    ASSERT_EQ(ParseSlot(c.text, &slot, &error), c.accepted) << error;
    if (c.accepted) {
        EXPECT_EQ(slot.kind, c.kind);
        EXPECT_EQ(slot.pattern, c.pattern);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SlotArguments,
    testing::Values(SlotCase{"/dev/serial/by-id/usb-FTDI_*", true, SlotKind::PathPattern,
                             "/dev/serial/by-id/usb-FTDI_*"},
                    SlotCase{"/dev/ttyUSB[0-3]", true, SlotKind::PathPattern, "/dev/ttyUSB[0-3]"},
                    SlotCase{"usb:FT8*", true, SlotKind::UsbPattern, "FT8*"},
                    SlotCase{"usb:A1B2C3", true, SlotKind::Fixed, ""},
                    SlotCase{"/dev/ttyS0", true, SlotKind::Fixed, ""},
                    SlotCase{"rfc2217://[::1]:2217", true, SlotKind::Fixed, ""},
                    SlotCase{"ttyUSB*", false, SlotKind::Fixed, ""},  // not a device path
                    SlotCase{"rfc2217://h*:1", false, SlotKind::Fixed, ""},
                    SlotCase{"9", false, SlotKind::Fixed, ""}));

struct WildcardCase {
    const char* pattern;
    const char* text;
    bool matches;
};

void PrintTo(const WildcardCase& c, std::ostream* os) {
    *os << c.pattern << " " << c.text;
}

class Wildcards : public testing::TestWithParam<WildcardCase> {};

// The Windows station's matching of COM names and serial numbers does what fnmatch does here.
TEST_P(Wildcards, MatchAsFnmatchWithCaseFoldingDoes) {
    const WildcardCase& c = GetParam();
    EXPECT_EQ(WildcardMatches(c.pattern, c.text), c.matches);
    EXPECT_EQ(fnmatch(c.pattern, c.text, FNM_CASEFOLD | FNM_NOESCAPE) == 0, c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, Wildcards,
    testing::Values(WildcardCase{"FT8*", "ft8a1b2", true}, WildcardCase{"FT8*", "FT9", false},
                    WildcardCase{"COM1?", "COM12", true}, WildcardCase{"COM1?", "COM1", false},
                    WildcardCase{"com*", "COM3", true}, WildcardCase{"*", "", true},
                    WildcardCase{"?", "", false}, WildcardCase{"a*b*c", "aXbYbc", true},
                    WildcardCase{"a*b", "abba", false}, WildcardCase{"*ab", "aab", true},
                    WildcardCase{"[a-c]9", "B9", true}, WildcardCase{"[!a-c]9", "b9", false},
                    WildcardCase{"[^a-c]9", "d9", true}, WildcardCase{"[]x]", "]", true},
                    WildcardCase{"[a-]", "-", true}, WildcardCase{"A[0-9", "A[0-9", true},
                    WildcardCase{R"(\\.\COM*)", R"(\\.\COM7)", true},
                    WildcardCase{"COM[1-3]", "COM4", false}, WildcardCase{"[a-c]", "-", false}));

struct ServeCase {
    const char* text;
    bool accepted;
    const char* host;
    int port;
};

void PrintTo(const ServeCase& c, std::ostream* os) {
    *os << c.text;
}

class ServeAddresses : public testing::TestWithParam<ServeCase> {};

TEST_P(ServeAddresses, TakeAHostAndAPortFrom1To65535) {
    const ServeCase& c = GetParam();
    std::string host;
    int port = 0;
    ASSERT_EQ(ParseServeAddress(c.text, &host, &port), c.accepted);
    if (c.accepted) {
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, ServeAddresses,
                         testing::Values(ServeCase{"127.0.0.1:8080", true, "127.0.0.1", 8080},
                                         ServeCase{"[::1]:9100", true, "::1", 9100},
                                         ServeCase{"0.0.0.0:65535", true, "0.0.0.0", 65535},
                                         ServeCase{"::1:80", false, "", 0},
                                         ServeCase{"127.0.0.1:0", false, "", 0},
                                         ServeCase{"127.0.0.1:65536", false, "", 0},
                                         ServeCase{"127.0.0.1:080", false, "", 0},
                                         ServeCase{":80", false, "", 0}));

UnitPlace Place(const std::string& key) {
    UnitPlace place;
    place.key = key;
    return place;
}

// A unit left in keeps its key and is not new; one made anew has another key.
TEST(SlotChanges, NewKeysArriveAndMissingKeysGo) {
    SlotChange change =
        CompareSlotPlaces({"a#1", "b#2"}, {Place("a#1"), Place("b#3"), Place("c#4")});
    ASSERT_EQ(change.arrived.size(), 2u);
    EXPECT_EQ(change.arrived[0].key, "b#3");
    EXPECT_EQ(change.arrived[1].key, "c#4");
    EXPECT_EQ(change.gone, std::vector<std::string>{"b#2"});
}

// A by-id link made just after the port list was read (the list has the device but not yet
// the link) still names its adapter: the unit is known by the device the link leads to.
TEST(PathSlots, KnowTheAdapterOfALinkNewerThanThePortList) {
    namespace fs = std::filesystem;
    // Other builds' tests may run beside this one: a folder of its own.
    fs::path folder =
        fs::path(testing::TempDir()) / ("station-by-id-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
    std::error_code error;
    fs::create_symlink("/dev/null", folder / "usb-FTDI_A1B2C3", error);
    if (error || PathIdentity((folder / "usb-FTDI_A1B2C3").string()).empty()) {
        fs::remove_all(folder);
        GTEST_SKIP() << "no link to a character device here";
    }
    SerialPortInfo listed;
    listed.device = "/dev/null";
    listed.vendorId = "0403";
    listed.productId = "6001";
    listed.serialNumber = "A1B2C3";
    SlotForm slot;
    slot.pattern = (folder / "usb-*").string();

    std::vector<UnitPlace> places = FindPlaces(slot, {listed});
    fs::remove_all(folder);
    ASSERT_EQ(places.size(), 1u);
    EXPECT_EQ(places[0].port, (folder / "usb-FTDI_A1B2C3").string());
    EXPECT_EQ(places[0].device, "/dev/null");
    EXPECT_EQ(places[0].adapterVidPid, "0403:6001");
    EXPECT_EQ(places[0].adapterSerial, "A1B2C3");
}

TEST(JournalNumbers, GoOnFromTheHighestWholeLine) {
    std::string text = "{\"unit\": 4, \"x\": 1}\n{\"unit\": 12}\n{\"unit\": 9}\n{\"unit\": 40";
    EXPECT_EQ(HighestUnitNumber(text), 12);
    EXPECT_EQ(WholeLinesLength(text), text.rfind('\n') + 1);
    EXPECT_EQ(HighestUnitNumber(""), 0);
    EXPECT_EQ(WholeLinesLength("{\"unit\": 1"), 0u);
}

// A write that stops part way (a full disk, here the file size limit) leaves nothing of its
// record: the next record starts a line of its own.
TEST(JournalAppend, AFailedWriteLeavesOnlyWholeLines) {
    namespace fs = std::filesystem;
    fs::path path = fs::path(testing::TempDir()) /
                    ("tarnix-journal-" + std::to_string(std::random_device{}()) + ".jsonl");
    Journal journal;
    long lastUnit = -1;
    std::string error;
    ASSERT_TRUE(OpenJournal(path.string(), &journal, &lastUnit, &error)) << error;
    const std::string first = "{\"unit\": 1}\n";
    const std::string second = "{\"unit\": 2, \"outcome\": \"completed\"}\n";
    const std::string third = "{\"unit\": 3}\n";
    ASSERT_TRUE(AppendJournalLine(&journal, first, &error)) << error;

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = first.size() + 5;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool appended = AppendJournalLine(&journal, second, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(appended);
    EXPECT_TRUE(AppendJournalLine(&journal, third, &error)) << error;
    CloseJournal(&journal);
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    fs::remove(path);
    EXPECT_EQ(text.str(), first + third);
}

// A fixed slot's module: present from its first answer, the same unit while it answers, gone
// after 2 s of silence, and a new unit when it answers again.
TEST(FixedSlotPresence, FollowsTheAnswersOfTheStatusQuery) {
    ProbeState state;
    ProbeClock::time_point start = ProbeClock::now();
    auto at = [start](int ms) { return start + std::chrono::milliseconds(ms); };
    struct Step {
        int ms;
        bool answered;
        bool present;
        long generation;
    };
    const Step steps[] = {{0, false, false, 0},   {500, true, true, 1},    {1000, true, true, 1},
                          {2900, false, true, 1}, {3000, false, false, 1}, {3500, false, false, 1},
                          {4000, true, true, 2}};
    for (const Step& step : steps) {
        NoteProbe(&state, step.answered, 0x123456, at(step.ms));
        EXPECT_EQ(state.present, step.present) << step.ms << " ms";
        EXPECT_EQ(state.generation, step.generation) << step.ms << " ms";
    }
    EXPECT_EQ(state.statusValue, 0x123456);
}

}  // namespace
