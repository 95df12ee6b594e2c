// tarnix-station with the real tools of a line: its page in a real browser (Debian's chromium,
// headless) and its metrics collected by a real Prometheus. Both run on loopback only and are
// stopped by the test; where they are not installed the tests say SKIPPED and why.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fleet_status.h"
#include "run_against_module.h"
#include "station_harness.h"

using namespace tarnix;

namespace {

const char CHROMIUM[] = "/usr/bin/chromium";
const char PROMETHEUS[] = "/usr/bin/prometheus";

// What the browser's page holds after its script ran, or with `screenshot` the picture of it.
ProgramRun RunBrowser(const std::string& dir, const std::string& url,
                      const std::string& screenshot = "") {
    static int runs = 0;
    std::string profile = dir + "/chromium-" + std::to_string(++runs);
    ProgramLaunch launch;
    launch.program = CHROMIUM;
    launch.args = {"--headless",
                   "--no-sandbox",
                   "--disable-gpu",
                   "--disable-background-networking",
                   "--disable-component-update",
                   "--disable-sync",
                   "--no-first-run",
                   "--user-data-dir=" + profile,
                   "--window-size=1920,1080"};
    if (screenshot.empty()) {
        launch.args.push_back("--dump-dom");
    } else {
        // The picture after a wait: the first event has arrived and the page was drawn anew.
        launch.args.insert(launch.args.end(), {"--timeout=3000", "--screenshot=" + screenshot});
    }
    launch.args.push_back(url);
    launch.timeLimitSeconds = 120;
    return RunProgram(launch);
}

// The state that the page's tile for `slot` shows, "" when there is no tile.
std::string TileState(const std::string& dom, const std::string& slot) {
    size_t at = dom.find("data-slot=\"" + slot + "\"");
    if (at == std::string::npos) {
        return "";
    }
    at = dom.find("data-state=\"", at);
    return at == std::string::npos ? "" : dom.substr(at + 12, dom.find('"', at + 12) - at - 12);
}

class StationInBrowser : public StationTest {
protected:
    void SetUp() override {
        if (access(CHROMIUM, X_OK) != 0) {
            GTEST_SKIP() << "SKIPPED: chromium is not installed (apt-get install chromium)";
        }
        StationTest::SetUp();
    }

    std::string Dom() {
        ProgramRun browser = RunBrowser(dir_, "http://127.0.0.1:" + std::to_string(httpPort_));
        EXPECT_EQ(browser.exitCode, 0) << browser.stderrText;
        return browser.stdoutText;
    }
};

// The page shows every slot's module and state as units come and go, a failure with its reason.
TEST_F(StationInBrowser, ShowsEachSlotsStateAndAFailuresReason) {
    std::vector<std::string> slots{slots_ + "/a*", slots_ + "/b*", slots_ + "/c*"};
    StartStation({}, slots);
    PluggedModule good = Plug("a1", {"--expect", EXAMPLE});
    PluggedModule bad = Plug("b1", {"--reject", "data:5:15"});
    ASSERT_TRUE(WaitForJournalLines(2)) << ReadFileBytes(dir_ + "/station.err");
    // Every reply 100 ms late: slot c's update takes minutes, so it is still updating while
    // the page is read, however long the browser takes to start on a busy machine.
    PluggedModule slow = Plug("c1", {"--reply-latency", "100"});
    ASSERT_TRUE(WaitFor([&] {
        return ReadFileBytes(dir_ + "/logs/unit-3-" + PortLogName(slow.link))
                   .find("Writing User configuration...    1 %") != std::string::npos;
    }));
    std::string dom = Dom();
    EXPECT_EQ(TileState(dom, slots[0]), "completed") << dom;
    EXPECT_EQ(TileState(dom, slots[1]), "failed") << dom;
    EXPECT_EQ(TileState(dom, slots[2]), "updating") << dom;
    EXPECT_NE(dom.find("the Data command for line 5 was rejected with 0x15"), std::string::npos);
    EXPECT_NE(dom.find(good.link), std::string::npos);
    std::string artefacts = std::string(TARNIX_ARTEFACT_DIR);
    mkdir(artefacts.c_str(), 0755);
    RunBrowser(dir_, "http://127.0.0.1:" + std::to_string(httpPort_),
               artefacts + "/station-page.png");
    EXPECT_EQ(access((artefacts + "/station-page.png").c_str(), R_OK), 0);
    Unplug(&good);
    ASSERT_TRUE(WaitFor([&] { return TileState(Dom(), slots[0]) == "waiting"; }));
    EXPECT_EQ(StopStation(SIGINT), 1);
    Unplug(&bad);
    Unplug(&slow);
}

class StationScraped : public StationTest {
protected:
    void SetUp() override {
        if (access(PROMETHEUS, X_OK) != 0) {
            GTEST_SKIP() << "SKIPPED: prometheus is not installed (apt-get install prometheus)";
        }
        StationTest::SetUp();
    }

    void TearDown() override {
        if (prometheus_.pid > 0) {
            kill(prometheus_.pid, SIGTERM);
            tarnix::WaitFor(prometheus_.pid, std::chrono::seconds(30));
            close(prometheus_.stdoutPipe);
        }
        StationTest::TearDown();
    }

    void StartPrometheus() {
        promPort_ = FreeLoopbackPort();
        std::string config = Write("prometheus.yml",
                                   "global:\n  scrape_interval: 1s\n"
                                   "scrape_configs:\n  - job_name: station\n"
                                   "    static_configs:\n      - targets: ['127.0.0.1:" +
                                       std::to_string(httpPort_) + "']\n");
        prometheus_ = Spawn(
            {PROMETHEUS, "--config.file=" + config, "--storage.tsdb.path=" + dir_ + "/prometheus",
             "--web.listen-address=127.0.0.1:" + std::to_string(promPort_)},
            dir_ + "/prometheus.err");
    }

    // The value Prometheus has now for the units of `outcome`, "" while it has none.
    std::string Query(const std::string& outcome) {
        httplib::Client client("127.0.0.1", promPort_);
        client.set_connection_timeout(2, 0);
        std::string query = "tarnix_station_units_total%7Boutcome%3D%22" + outcome + "%22%7D";
        httplib::Result result = client.Get(("/api/v1/query?query=" + query).c_str());
        if (!result || result->status != 200) {
            return "";
        }
        size_t at = result->body.find("\"value\":[");
        at = at == std::string::npos ? at : result->body.find(",\"", at);
        return at == std::string::npos
                   ? ""
                   : result->body.substr(at + 2, result->body.find('"', at + 2) - at - 2);
    }

    Spawned prometheus_;
    int promPort_ = 0;
};

long CountOutcome(const std::vector<std::string>& lines, const std::string& outcome) {
    long count = 0;
    for (const std::string& line : lines) {
        count += MemberText(line, "outcome") == outcome ? 1 : 0;
    }
    return count;
}

TEST_F(StationScraped, PrometheusGivesTheJournalsCounts) {
    StartStation();
    PluggedModule good = Plug("usb-A", {"--expect", EXAMPLE});
    PluggedModule bad = Plug("usb-B", {"--reject", "data:5:15"});
    ASSERT_TRUE(WaitForJournalLines(2));
    StartPrometheus();
    std::vector<std::string> lines = JournalLines();
    for (const char* outcome : {"completed", "failed", "not-opened", "interrupted"}) {
        std::string expected = std::to_string(CountOutcome(lines, outcome));
        EXPECT_TRUE(WaitFor([&] { return Query(outcome) == expected; }))
            << outcome << ": " << Query(outcome) << " instead of " << expected << "\n"
            << ReadFileBytes(dir_ + "/prometheus.err");
    }
    StopStation(SIGTERM);
    Unplug(&good);
    Unplug(&bad);
}

}  // namespace
