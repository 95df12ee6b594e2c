#include "primary_config.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "com_port.h"
#include "framing.h"
#include "interrupts.h"
#include "module_info.h"
#include "progress.h"

namespace {

constexpr uint8_t DOWNLOAD_HEADER_TAG = 0x10;

// What one download carries from the file to the line.
struct DownloadSource {
    const char* path = nullptr;
    ConfigFile* file = nullptr;
    uint32_t size = 0;
    std::string timeText;
    std::string fileName;
};

void PrintFileError(const char* what, const char* path) {
    printf("%s failed on file 1 = %s\n", what, path);
    fflush(stdout);
    perror("File I/O failed");
}

// Size, time and name of the open file; prints why when one of them is missing.
DownloadOutcome DescribeSource(DownloadSource* source) {
    uint64_t size = 0;
    if (!GetConfigFileSize(source->file, &size) || size > std::numeric_limits<uint32_t>::max()) {
        printf("Invalid File size !\n");
        return DownloadOutcome::SizeInvalid;
    }
    source->size = static_cast<uint32_t>(size);
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

bool SendDownloadHeader(uint32_t size) {
    auto header = BuildDownloadHeader(size);
    SendByte(STX);
    SendByte(CMD_DOWNLOAD);
    uint32_t written = 0;
    WriteComBlock(header.data(), static_cast<uint32_t>(header.size()), &written);
    uint8_t reply = ReceiveByte();
    if (reply != ACK) {
        printf("1. Acknowledge not received : 0x%02X\n", reply);
        return false;
    }
    return true;
}

// One block on the line: its bytes, its checksum, and the module's reply.
DownloadOutcome SendBlock(const uint8_t* block, uint32_t count, uint32_t* sent, uint32_t* mark,
                          uint32_t size) {
    uint32_t written = 0;
    if (!WriteComBlock(block, count, &written)) {
        printf("Write to COM port failed with error %d.\n", LastComError());
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
    SendByte(SumChecksum(block, count));
    uint8_t reply = ReceiveByte();
    if (reply != ACK) {
        printf("\n2. Acknowledge not received : 0x%02X\n", reply);
        return DownloadOutcome::BlockRejected;
    }
    return DownloadOutcome::Completed;
}

// Reads the file up to the size announced in the header. A read error, or a file that ends
// early, would otherwise leave the module with less than announced and still look complete.
DownloadOutcome SendBlocks(const DownloadSource& source) {
    uint32_t sent = 0;
    uint32_t mark = 0;
    PrintDownloadProgress(sent, source.size);
    uint8_t block[DOWNLOAD_BLOCK_SIZE];
    while (sent < source.size) {
        if (StopAtSafePoint()) {
            return DownloadOutcome::Interrupted;
        }
        uint32_t wanted = std::min(DOWNLOAD_BLOCK_SIZE, source.size - sent);
        uint32_t count = 0;
        if (!ReadConfigFileBlock(source.file, block, wanted, &count)) {
            printf("\n");
            PrintFileError("Read", source.path);
            return DownloadOutcome::FileReadFailed;
        }
        if (count == 0) {
            printf("\nFile ended after %lu of %lu Byte: %s\n", static_cast<unsigned long>(sent),
                   static_cast<unsigned long>(source.size), source.path);
            return DownloadOutcome::FileReadFailed;
        }
        DownloadOutcome outcome = SendBlock(block, count, &sent, &mark, source.size);
        if (outcome != DownloadOutcome::Completed) {
            return outcome;
        }
    }
    return DownloadOutcome::Completed;
}

DownloadOutcome CloseDownload(const DownloadSource& source) {
    SendByte(ETX);
    printf("\rWriting primary configuration... done   \n");
    printf("Writing Timestamp... ");
    fflush(stdout);
    if (WriteTimestamp(source.timeText.c_str(), source.fileName.c_str()) != 0) {
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
    if (!SendDownloadHeader(source->size)) {
        return DownloadOutcome::HeaderRejected;
    }
    outcome = SendBlocks(*source);
    if (outcome != DownloadOutcome::Completed) {
        return outcome;
    }
    return CloseDownload(*source);
}

DownloadOutcome Download(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return DownloadOutcome::NoPath;
    }
    DownloadSource source;
    source.path = path;
    source.file = OpenConfigFile(path);
    if (source.file == nullptr) {
        PrintFileError("Open", path);
        return DownloadOutcome::OpenFailed;
    }
    DownloadOutcome outcome = RunDownload(&source);
    CloseConfigFile(source.file);
    return outcome;
}

}  // namespace

int DownloadPrimaryConfig(const char* path, DownloadOutcome* outcome) {
    DownloadOutcome result = Download(path);
    if (outcome != nullptr) {
        *outcome = result;
    }
    return 0;
}

int WriteTimestamp(const char* timeText, const char* fileName) {
    uint8_t sum = 0;
    auto sendCounted = [&sum](uint8_t value) {
        SendByte(value);
        sum = static_cast<uint8_t>(sum + value);
    };
    SendByte(STX);
    SendByte(CMD_TIMESTAMP);
    for (const char* c = fileName; *c != '\0'; ++c) {
        sendCounted(static_cast<uint8_t>(*c));
    }
    sendCounted(LF);
    for (const char* c = timeText; *c != '\0'; ++c) {
        sendCounted(static_cast<uint8_t>(*c));
    }
    sendCounted(0);  // the time text's only end mark on the line
    SendByte(sum);
    SendByte(ETX);
    uint8_t reply = ReceiveByte();
    if (reply == ACK) {
        return 0;
    }
    printf("Acknowledge not received : 0x%02X\n", reply);
    return -1;
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
