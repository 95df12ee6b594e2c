#include "station_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

#include "run_against_module.h"

namespace tarnix {

const std::string EXAMPLE = TARNIX_SOURCE_DIR "/examples/display-config.upd";

void StationTest::SetUp() {
    TempDirTest::SetUp();
    journal_ = dir_ + "/journal.jsonl";
    slots_ = dir_ + "/slots";
    pattern_ = slots_ + "/*";
    ASSERT_EQ(mkdir(slots_.c_str(), 0755), 0);
}

void StationTest::TearDown() {
    if (station_.pid > 0) {
        StopStation(SIGKILL);
    }
    for (pid_t pid : plugged_) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    TempDirTest::TearDown();
}

void StationTest::StartStation(const std::vector<std::string>& options,
                               const std::vector<std::string>& slots) {
    httpPort_ = FreeLoopbackPort();
    std::vector<std::string> command{BinaryPath("tarnix-station"),
                                     "--journal",
                                     journal_,
                                     "--log-dir",
                                     dir_ + "/logs",
                                     "--serve",
                                     "127.0.0.1:" + std::to_string(httpPort_)};
    command.insert(command.end(), options.begin(), options.end());
    command.push_back(EXAMPLE);
    if (slots.empty()) {
        command.push_back(pattern_);
    }
    command.insert(command.end(), slots.begin(), slots.end());
    station_ = Spawn(command, dir_ + "/station.err");
    ASSERT_GT(station_.pid, 0);
    ASSERT_TRUE(WaitFor([this] { return !Fetch("/status").empty(); }))
        << ReadFileBytes(dir_ + "/station.err");
}

int StationTest::StopStation(int signal) {
    kill(station_.pid, signal);
    stationOutput_ = ReadAll(station_.stdoutPipe);
    close(station_.stdoutPipe);
    int status = tarnix::WaitFor(station_.pid, std::chrono::seconds(60));
    station_ = Spawned();
    return status;
}

PluggedModule StationTest::Plug(const std::string& name, const std::vector<std::string>& args) {
    PluggedModule plugged;
    plugged.module = StartModule(dir_, args);
    plugged_.push_back(plugged.module.process.pid);
    plugged.hold = open(plugged.module.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(plugged.hold, 0) << plugged.module.port;
    plugged.link = slots_ + "/" + name;
    EXPECT_EQ(symlink(plugged.module.port.c_str(), plugged.link.c_str()), 0) << plugged.link;
    return plugged;
}

void StationTest::Unplug(PluggedModule* plugged) {
    std::erase(plugged_, plugged->module.process.pid);
    unlink(plugged->link.c_str());
    FinishModule(&plugged->module, true);
    close(plugged->hold);
}

std::vector<std::string> StationTest::JournalLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(journal_));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool StationTest::WaitForJournalLines(size_t count) const {
    return WaitFor([this, count] { return JournalLines().size() >= count; });
}

bool StationTest::WaitFor(const std::function<bool()>& condition) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string StationTest::Fetch(const std::string& path) const {
    httplib::Client client("127.0.0.1", httpPort_);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(5, 0);
    httplib::Result result = client.Get(path.c_str());
    return result && result->status == 200 ? result->body : "";
}

std::future<std::string> StationTest::FollowEvents(size_t records) const {
    auto opened = std::make_shared<std::promise<void>>();
    auto follow = [port = httpPort_, records, opened] {
        std::string stream;
        size_t seen = 0;
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(60, 0);
        client.Get("/events", [&](const char* data, size_t length) {
            if (stream.empty()) {
                opened->set_value();
            }
            stream.append(data, length);
            seen = 0;
            for (size_t at = stream.find("\"event\": \"record\""); at != std::string::npos;
                 at = stream.find("\"event\": \"record\"", at + 1)) {
                ++seen;
            }
            return seen < records;
        });
        return stream;
    };
    std::future<std::string> events = std::async(std::launch::async, follow);
    // The station sends a comment at once: from then on the stream misses no event.
    opened->get_future().wait_for(std::chrono::seconds(10));
    return events;
}

std::string MemberText(const std::string& json, const std::string& name) {
    std::string key = "\"" + name + "\": ";
    size_t at = json.find(key);
    if (at == std::string::npos) {
        return "";
    }
    at += key.size();
    if (json[at] == '"') {
        return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    }
    return json.substr(at, json.find_first_of(",}", at) - at);
}

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace tarnix
