// What the line and the files can do to a run: a closed standard output, update files that are
// no regular files or change while they are sent, bytes beyond the one reply, a hang-up, and
// the exclusive-use flag.

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_expectations.h"
#include "run_against_module.h"
#include "scripted_peer.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

size_t CountOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class LineFaults : public TempDirTest {
protected:
    std::string RecordFile(size_t records) {
        std::vector<std::string> lines = MakeRecordLines(0x2000, PatternBytes(records * 16, 9));
        lines.push_back(MakeEndRecord());
        return Write("records.upd", BuildUpdateFile(4096, lines));
    }

    static ProgramLaunch Tarnix(const std::vector<std::string>& args) {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = args;
        launch.stdinText = "\n";
        launch.timeLimitSeconds = 20;
        return launch;
    }

    static ProgramLaunch Service(const std::vector<std::string>& operations) {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix-service");
        launch.args = {"{port}"};
        launch.args.insert(launch.args.end(), operations.begin(), operations.end());
        launch.timeLimitSeconds = 20;
        return launch;
    }
};

// Opened with descriptor 1 closed, the port would become standard output and carry every
// console text to the module.
TEST_F(LineFaults, ClosedStandardOutputNeverReachesTheLine) {
    ProgramLaunch update = Tarnix({"0x89", RecordFile(3), "0", "{port}"});
    ProgramLaunch service = Service({"info", "status"});
    for (ProgramLaunch* launch : {&update, &service}) {
        launch->stdoutMode = StdoutMode::Closed;
        ProgramRun run = RunAgainstModule(*launch, {});
        EXPECT_EQ(run.exitCode, 0) << launch->program << DescribeRun(run);
        EXPECT_TRUE(run.module.errors.empty()) << DescribeRun(run);
        EXPECT_EQ(CommandSequence(run.module), launch == &update ? "BCCCDEF" : "!S");
    }
}

// Only a regular file can be an update file; anything else is refused without waiting for it,
// and the module is released.
TEST_F(LineFaults, UpdateFileThatIsNoRegularFileIsRefusedWithItsReason) {
    std::string fifo = dir_ + "/pipe.upd";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {{fifo, "not a regular file"},
                          {dir_, "not a regular file"},
                          {dir_ + "/missing.upd", "No such file or directory"}};
    for (const Case& c : cases) {
        ProgramRun run = RunAgainstModule(Tarnix({"0x89", c.path, "0", "{port}"}), {});
        EXPECT_FALSE(run.timedOut) << c.path;
        EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);
        EXPECT_NE(run.stdoutText.find("The file '" + c.path + "' was not opened\n"),
                  std::string::npos)
            << run.stdoutText;
        EXPECT_NE(run.stderrText.find("tarnix: " + c.path + ": " + c.reason + "\n"),
                  std::string::npos)
            << run.stderrText;
        EXPECT_EQ(CommandSequence(run.module), "F");
    }
}

// Overwrites the file in place (the same file, as cp does) with other bytes and sets its
// modification time back to what it was, so that only the content and the change time tell.
void RewriteKeepingTheTime(const std::string& path, const std::string& content) {
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_TRUE(WriteFileBytes(path, content));
    const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The file is rewritten or grows while the program waits for the module's reply to its fifth
// Data command or block. The module must not be told that it has the file: no End in line
// mode, no ETX and timestamp for the download, and no success. The same bytes written again
// are no change.
TEST_F(LineFaults, FileRewrittenOrGrownDuringTheTransferFailsTheRun) {
    auto records = [](uint32_t seed) {
        std::vector<std::string> lines = MakeRecordLines(0, PatternBytes(200 * 16, seed));
        lines.push_back(MakeEndRecord());
        return BuildUpdateFile(0xFFFFFFFF, lines);
    };
    auto bytes = [](uint32_t seed) {
        Bytes pattern = PatternBytes(20 * 256, seed);
        return std::string(pattern.begin(), pattern.end());
    };
    std::string lines;
    for (int i = 0; i < 200; ++i) {
        lines += std::string(38, 'L') + "\r\n";
    }
    const std::string changed = "the file changed while it was being sent\n";
    const std::string five = std::string(5, 'C');
    struct Case {
        const char* what;
        ProgramLaunch launch;
        std::string path, content, replacement;  // the replacement is written after reply 6
        std::string commands;                    // frames the module received
        unsigned blocks;                         // download blocks it received
        std::string message;                     // on standard error; empty: completes
    };
    std::string upd = dir_ + "/cur.upd", txt = dir_ + "/cur.txt", ttf = dir_ + "/acex.ttf";
    const Case cases[] = {
        {"record mode", Tarnix({"0x89", upd, "0", "{port}"}), upd, records(1), records(2),
         "B" + five + "EF", 0, "tarnix: Read error in file '" + upd + "' at line 6: " + changed},
        {"line mode", Tarnix({"0x89", txt, "1", "{port}"}), txt, lines,
         std::string(lines).replace(0, 3, "MMM"), "B" + five + "F", 0,
         "tarnix: Read error in file '" + txt + "' at line 6: " + changed},
        {"download", Service({"download", ttf}), ttf, bytes(1), bytes(2), " ", 5,
         "tarnix-service: Read error in file '" + ttf + "': " + changed},
        {"download grows", Service({"download", ttf}), ttf, bytes(1), bytes(1) + "more", " ", 20,
         "tarnix-service: Read error in file '" + ttf + "': the file grew beyond its 5120 bytes\n"},
        {"same bytes again", Tarnix({"0x89", upd, "0", "{port}"}), upd, records(1), records(1),
         "B" + std::string(200, 'C') + "DEF", 0, ""},
    };
    for (const Case& c : cases) {
        Write(c.path.substr(dir_.size() + 1), c.content);
        ProgramLaunch launch = c.launch;
        launch.hookAfterReplies = 6;
        launch.hook = [&] { RewriteKeepingTheTime(c.path, c.replacement); };
        ModuleConfig config;
        config.checkRecords = c.launch.args[2] == "0";
        ProgramRun run = RunAgainstModule(launch, config);
        EXPECT_EQ(CommandSequence(run.module), c.commands) << c.what;
        const std::vector<DownloadRecord>& downloads = run.module.downloads;
        EXPECT_EQ(downloads.empty() ? 0 : downloads[0].blocks, c.blocks) << c.what;
        EXPECT_TRUE(downloads.empty() || !downloads[0].closed) << c.what;
        bool completes = c.message.empty();
        EXPECT_EQ(run.exitCode, completes ? 0 : 1) << c.what << DescribeRun(run);
        EXPECT_EQ(run.stderrText.find(": completed") != std::string::npos, completes) << c.what;
        EXPECT_EQ(run.stdoutText.find("completed successfully"), std::string::npos) << c.what;
        if (!completes) {
            EXPECT_NE(run.stderrText.find(c.message), std::string::npos) << run.stderrText;
            EXPECT_EQ(run.stdoutText.find("done"), std::string::npos) << run.stdoutText;
            EXPECT_TRUE(run.module.timestamps.empty()) << c.what;
        }
    }
}

// Bytes beyond the one reply are discarded before the next command and only counted; read
// as the next reply they would shift every later one. With one extra ACK after Start the
// rejected End would never be seen; the rest of the flash reply would be taken for the status.
TEST_F(LineFaults, ExtraReplyBytesAreNotTakenForTheNextReply) {
    const struct {
        ProgramLaunch launch;
        PeerScript script;
        std::string commands;
        int exitCode;
        std::string printed, discarded;
    } cases[] = {{Tarnix({"0x89", Write("lines.txt", "one\r\ntwo\r\n"), "1", "{port}"}),
                  {{{0x06, 0x06}, {0x06}, {0x06}, {0x15}}},
                  "BCCEF",
                  1,
                  "Return Value Ende : 0x15\n",
                  "tarnix: 1 unexpected byte discarded"},
                 {Service({"flash", "status"}),
                  {{{0x02, '#', 'A', 0x00, 'A', 'U', 0x09, 0x09, 0x09}, {'U', 0x01, 0x02, 0x03}}},
                  "#S",
                  0,
                  "A\nStatus value : 197121 (0x030201)\n",
                  "tarnix-service: 4 unexpected bytes discarded"}};
    for (const auto& c : cases) {
        PeerRun peer = RunAgainstScriptedPeer(c.launch, c.script);
        EXPECT_EQ(FrameCommands(peer), c.commands);
        EXPECT_NE(peer.run.stdoutText.find(c.printed), std::string::npos) << DescribeRun(peer.run);
        EXPECT_EQ(peer.run.exitCode, c.exitCode) << DescribeRun(peer.run);
        EXPECT_NE(peer.run.stderrText.find(c.discarded), std::string::npos) << peer.run.stderrText;
    }
}

// The line closes while the third record waits for its reply: the messages of the port stay,
// but only the Finish attempt follows (no End), and one line says what happened. The Finish's
// four failed bytes are said once, not four times over.
TEST_F(LineFaults, HangUpStopsTheTransferAtOnce) {
    PeerScript script;
    script.hangUpAtFrame = 3;  // B C C C
    PeerRun peer = RunAgainstScriptedPeer(Tarnix({"0x89", RecordFile(10), "0", "{port}"}), script);
    const std::string& out = peer.run.stdoutText;

    EXPECT_EQ(FrameCommands(peer), "BCCC");
    EXPECT_EQ(peer.run.exitCode, 1) << DescribeRun(peer.run);
    EXPECT_EQ(CountOf(out, "Read on COM-port failed with error 5.\n"), 1u) << out;
    EXPECT_EQ(CountOf(out, "TransmitCommChar failed with error 5.\n"), 1u) << out;  // Finish
    EXPECT_EQ(out.find("Return Value Ende"), std::string::npos) << out;
    EXPECT_NE(peer.run.stderrText.find("disconnected or hung up"), std::string::npos)
        << peer.run.stderrText;
}

// While the other side keeps the terminal open, a flag left set would refuse every later open
// by another user.
TEST_F(LineFaults, ExclusiveUseEndsWithTheRun) {
    PeerRun peer = RunAgainstScriptedPeer(Tarnix({"0x89", "no-such-file.upd", "0", "{port}"}), {});
    EXPECT_EQ(FrameCommands(peer), "F");
    EXPECT_EQ(peer.run.exitCode, 1) << DescribeRun(peer.run);
    EXPECT_FALSE(peer.exclusiveAfterRun);
}

}  // namespace
