#include "primary_config.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "exchange.h"
#include "framing.h"
#include "interrupts.h"
#include "module_info.h"
#include "port_texts.h"
#include "progress.h"

namespace tarnix {

namespace {

constexpr uint8_t DOWNLOAD_HEADER_TAG = 0x10;
constexpr const char* PROGRAM = "tarnix-service";

// What one download carries from the file to the line.
struct DownloadSource {
    Port* port = nullptr;
    const char* path = nullptr;
    ConfigFile* file = nullptr;
    uint32_t size = 0;
    std::string timeText;
    std::string fileName;
    SentFile sentFile;            // the bytes sent so far, and the file's stamp then
    unsigned long discarded = 0;  // stray bytes discarded before the commands and blocks
};

// The system's error is saved first: printf and fflush may change errno before it is shown.
void PrintFileError(const char* what, const char* path) {
    int error = errno;
    printf("%s failed on file 1 = %s\n", what, path);
    fflush(stdout);
    errno = error;
    PrintConfigFileError("File I/O failed");
}

// The name goes into the timestamp frame, where a line feed ends it: the module would read a
// different name and take the rest for the time.
bool IsSendableFileName(const std::string& name) {
    return name.find('\n') == std::string::npos;
}

// The module keeps the name in a buffer of its own; a longer one would not arrive whole.
bool RefuseNameTooLong(const char* path, const std::string& name) {
    if (name.size() <= MAX_DOWNLOAD_NAME_LENGTH) {
        return false;
    }
    fflush(stdout);
    fprintf(stderr,
            "%s: the file name '%s' is %lu bytes long, the module keeps at most %lu; nothing "
            "sent: %s\n",
            PROGRAM, name.c_str(), static_cast<unsigned long>(name.size()),
            static_cast<unsigned long>(MAX_DOWNLOAD_NAME_LENGTH), path);
    return true;
}

// Size, time and name of the open file; prints why when one of them is missing.
DownloadOutcome DescribeSource(DownloadSource* source) {
    // A pipe or a device has no size to announce in the header: it would be read as 0.
    if (!IsRegularConfigFile(source->file)) {
        printf("Not a regular file, nothing sent: %s\n", source->path);
        return DownloadOutcome::NotRegularFile;
    }
    uint64_t size = 0;
    if (!GetConfigFileSize(source->file, &size) || size > std::numeric_limits<uint32_t>::max()) {
        printf("Invalid File size !\n");
        return DownloadOutcome::SizeInvalid;
    }
    source->size = static_cast<uint32_t>(size);
    if (!GetConfigFileStamp(source->file, &source->sentFile.stamp)) {
        source->sentFile.stamp = FileStamp{};  // the comparison of the content at the end remains
    }
    if (GetLastWriteTime(source->file, &source->timeText) == 0) {
        printf("GetLastWriteTime failed !\n");
        return DownloadOutcome::TimeUnavailable;
    }
    source->fileName = ConfigFileName(source->path);
    return DownloadOutcome::Completed;
}

// The progress line is rewritten in place; flushed because it has no line end.
void PrintDownloadProgress(uint32_t sent, uint32_t size) {
    printf("\rWriting primary configuration... %3i %%",
           static_cast<int>(DownloadProgress(sent, size)));
    fflush(stdout);
}

bool SendDownloadHeader(DownloadSource* source) {
    auto header = BuildDownloadHeader(source->size);
    // A header that did not go out whole gets no ACK, and the reply check below reports it as
    // "1. Acknowledge not received".
    ExchangeResult exchange =
        Exchange(*source->port, {{STX, CMD_DOWNLOAD}, {header.begin(), header.end()}});
    PrintPortNotes(exchange.notes);
    source->discarded += exchange.discarded;
    if (!Acknowledged(exchange)) {
        printf("1. Acknowledge not received : 0x%02X\n", exchange.reply);
        return false;
    }
    return true;
}

// One block on the line: its bytes, its checksum, and the module's reply.
DownloadOutcome SendBlock(const uint8_t* block, uint32_t count, uint32_t* sent, uint32_t* mark,
                          DownloadSource* source) {
    uint32_t size = source->size;
    Port& port = *source->port;
    unsigned long discarded = DiscardBeforeCommand(port);
    uint32_t written = 0;
    PortResult write = WriteBlock(port, block, count, &written);
    if (!Succeeded(write)) {
        printf("Write to COM port failed with error %d.\n", write.error);
        return DownloadOutcome::PortWriteFailed;
    }
    if (written != count) {
        printf("nbRead != nbWrite : %ld - %ld\n", static_cast<long>(count),
               static_cast<long>(written));
    }
    *sent += count;
    if (*sent >= *mark) {
        PrintDownloadProgress(*sent, size);
        *mark += size / 100;
    }
    PrintPortNotes(SendWithoutReply(port, ByteFrame({SumChecksum(block, count)})));
    ExchangeResult exchange = AwaitReply(port, discarded, true);
    PrintPortNotes(exchange.notes);
    source->discarded += exchange.discarded;
    if (!Acknowledged(exchange)) {
        printf("\n2. Acknowledge not received : 0x%02X\n", exchange.reply);
        return DownloadOutcome::BlockRejected;
    }
    return DownloadOutcome::Completed;
}

// Messages of their own, so on standard error; standard output only ends its progress line.
void PrintFileNotAsSent(const char* path, const std::string& reason) {
    printf("\n");
    fflush(stdout);
    fprintf(stderr, "%s: Read error in file '%s': %s\n", PROGRAM, path, reason.c_str());
}

const char* const FILE_CHANGED = "the file changed while it was being sent";

// The configuration file as the change check reads it again.
FileRereader ConfigFileRereader(ConfigFile* file) {
    return {.readStamp = [file](FileStamp* stamp) { return GetConfigFileStamp(file, stamp); },
            .rewind = [file] { return RewindConfigFile(file); },
            .read =
                [file](uint8_t* buffer, size_t wanted, size_t* count) {
                    uint32_t got = 0;
                    bool read =
                        ReadConfigFileBlock(file, buffer, static_cast<uint32_t>(wanted), &got);
                    *count = got;
                    return read;
                }};
}

// Between two blocks: when the bytes sent so far are still the file's start, the download goes
// on in the file as it is now.
bool SentPartStillInFile(DownloadSource* source) {
    return !FileChangedWhileSent(ConfigFileRereader(source->file), &source->sentFile,
                                 ChangeCheck::BetweenReads);
}

// After the size announced in the header: the file must end there, as a file that grows is
// refused by tarnix, and hold what was sent, before the download is closed.
DownloadOutcome CheckFileAsSent(DownloadSource& source) {
    uint8_t extra = 0;
    uint32_t count = 0;
    if (!ReadConfigFileBlock(source.file, &extra, 1, &count)) {
        printf("\n");
        PrintFileError("Read", source.path);
        return DownloadOutcome::FileReadFailed;
    }
    if (count > 0) {
        PrintFileNotAsSent(source.path,
                           "the file grew beyond its " + std::to_string(source.size) + " bytes");
        return DownloadOutcome::FileReadFailed;
    }
    if (FileChangedWhileSent(ConfigFileRereader(source.file), &source.sentFile,
                             ChangeCheck::AtEnd)) {
        PrintFileNotAsSent(source.path, FILE_CHANGED);
        return DownloadOutcome::FileReadFailed;
    }
    return DownloadOutcome::Completed;
}

// The next block of the file; FileReadFailed, reported, when it is not there as it should be.
DownloadOutcome ReadNextBlock(DownloadSource* source, uint32_t sent, uint8_t* block,
                              uint32_t* count) {
    if (!SentPartStillInFile(source)) {
        PrintFileNotAsSent(source->path, FILE_CHANGED);
        return DownloadOutcome::FileReadFailed;
    }
    uint32_t wanted = std::min(DOWNLOAD_BLOCK_SIZE, source->size - sent);
    if (!ReadConfigFileBlock(source->file, block, wanted, count)) {
        printf("\n");
        PrintFileError("Read", source->path);
        return DownloadOutcome::FileReadFailed;
    }
    if (*count == 0) {
        printf("\nFile ended after %lu of %lu Byte: %s\n", static_cast<unsigned long>(sent),
               static_cast<unsigned long>(source->size), source->path);
        return DownloadOutcome::FileReadFailed;
    }
    AddToContentHash(&source->sentFile.sent, block, *count);
    return DownloadOutcome::Completed;
}

// Reads the file up to the size announced in the header. A read error, or a file that ends
// early, grows or changes meanwhile, would otherwise leave the module with other bytes than
// the file's and still look complete.
DownloadOutcome SendBlocks(DownloadSource* source) {
    uint32_t sent = 0;
    uint32_t mark = 0;
    PrintDownloadProgress(sent, source->size);
    uint8_t block[DOWNLOAD_BLOCK_SIZE];
    while (sent < source->size) {
        if (StopAtSafePoint()) {
            return DownloadOutcome::Interrupted;
        }
        uint32_t count = 0;
        DownloadOutcome outcome = ReadNextBlock(source, sent, block, &count);
        if (outcome == DownloadOutcome::Completed) {
            outcome = SendBlock(block, count, &sent, &mark, source);
        }
        if (outcome != DownloadOutcome::Completed) {
            return outcome;
        }
    }
    return CheckFileAsSent(*source);
}

DownloadOutcome CloseDownload(DownloadSource* source) {
    PrintPortNotes(SendWithoutReply(*source->port, ByteFrame({ETX})));
    printf("\rWriting primary configuration... done   \n");
    printf("Writing Timestamp... ");
    fflush(stdout);
    CommandReply timestamp =
        WriteTimestamp(*source->port, source->timeText.c_str(), source->fileName.c_str());
    source->discarded += timestamp.discarded;
    if (!timestamp.acknowledged) {
        return DownloadOutcome::TimestampRejected;
    }
    printf("\rWriting Timestamp... done\n");
    printf("\nACEX-Download completed successfully !!!\n\n");
    return DownloadOutcome::Completed;
}

DownloadOutcome RunDownload(DownloadSource* source) {
    DownloadOutcome outcome = DescribeSource(source);
    if (outcome != DownloadOutcome::Completed) {
        return outcome;
    }
    printf("\nLoading : %ld Byte from %s\n", static_cast<long>(source->size),
           source->fileName.c_str());
    printf("Time modified : %s\n", source->timeText.c_str());
    if (!SendDownloadHeader(source)) {
        return DownloadOutcome::HeaderRejected;
    }
    outcome = SendBlocks(source);
    if (outcome != DownloadOutcome::Completed) {
        return outcome;
    }
    return CloseDownload(source);
}

DownloadResult Download(Port& port, const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return {DownloadOutcome::NoPath, 0};
    }
    std::string name = ConfigFileName(path);
    if (!IsSendableFileName(name)) {
        printf("File name contains a line feed, nothing sent: %s\n", path);
        return {DownloadOutcome::NameNotSendable, 0};
    }
    if (RefuseNameTooLong(path, name)) {
        return {DownloadOutcome::NameNotSendable, 0};
    }
    DownloadSource source;
    source.port = &port;
    source.path = path;
    source.file = OpenConfigFile(path);
    if (source.file == nullptr) {
        PrintFileError("Open", path);
        return {DownloadOutcome::OpenFailed, 0};
    }
    DownloadOutcome outcome = RunDownload(&source);
    CloseConfigFile(source.file);
    return {outcome, source.discarded};
}

}  // namespace

DownloadResult DownloadPrimaryConfig(Port& port, const char* path) {
    return Download(port, path);
}

CommandReply WriteTimestamp(Port& port, const char* timeText, const char* fileName) {
    // Reserved first and filled byte by byte: GCC 12 warns falsely about the inserts into a
    // small vector (-Warray-bounds) in the mingw build.
    std::vector<uint8_t> frame;
    frame.reserve(strlen(fileName) + strlen(timeText) + 6);
    frame.push_back(STX);
    frame.push_back(CMD_TIMESTAMP);
    for (const char* c = fileName; *c != '\0'; ++c) {
        frame.push_back(static_cast<uint8_t>(*c));
    }
    frame.push_back(LF);
    for (const char* c = timeText; *c != '\0'; ++c) {
        frame.push_back(static_cast<uint8_t>(*c));
    }
    frame.push_back(0);  // the time text's only end mark on the line
    frame.push_back(SumChecksum(frame.data() + 2, static_cast<uint32_t>(frame.size() - 2)));
    frame.push_back(ETX);
    ExchangeResult exchange = Exchange(port, ByteFrame(std::move(frame)));
    PrintPortNotes(exchange.notes);
    CommandReply reply{Acknowledged(exchange), exchange.discarded};
    if (!reply.acknowledged) {
        printf("Acknowledge not received : 0x%02X\n", exchange.reply);
    }
    return reply;
}

int GetLastWriteTime(ConfigFile* file, std::string* timeText) {
    CalendarTime time;
    if (!GetConfigFileWriteTime(file, &time)) {
        return 0;
    }
    *timeText = FormatTimeText(time);
    return 1;
}

std::string FormatTimeText(const CalendarTime& time) {
    char text[64];
    snprintf(text, sizeof text, "%02d/%02d/%d  %02d:%02d", time.day, time.month, time.year,
             time.hour, time.minute);
    return text;
}

std::string ConfigFileName(const std::string& path) {
    size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::array<uint8_t, DOWNLOAD_HEADER_SIZE> BuildDownloadHeader(uint32_t size) {
    std::array<uint8_t, DOWNLOAD_HEADER_SIZE> header{
        0x00,
        0x00,
        DOWNLOAD_HEADER_TAG,
        static_cast<uint8_t>(size),
        static_cast<uint8_t>(size >> 8),
        static_cast<uint8_t>(size >> 16),
        static_cast<uint8_t>(size >> 24),
        0,
    };
    header[7] = SumChecksum(header.data(), 7);
    return header;
}

// A hundredth of the size is rounded down, so the quotient overshoots at the end (512 bytes
// would finish at 102): the download never shows more than 100.
long DownloadProgress(uint32_t sent, uint32_t size) {
    return ProgressFigure(sent, size, 100);
}

}  // namespace tarnix
