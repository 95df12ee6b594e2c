#pragma once
// Download of the module's primary (ACEX) configuration: the file in checksummed blocks of
// 256 bytes, then its name and last-write time with the timestamp command.

#include <array>
#include <cstdint>
#include <string>

#include "config_file.h"
#include "module_info.h"
#include "port.h"

namespace tarnix {

inline constexpr uint32_t DOWNLOAD_BLOCK_SIZE = 256;
inline constexpr size_t DOWNLOAD_HEADER_SIZE = 8;
// The longest name the module keeps: its name buffer holds 127 bytes and a terminating zero.
inline constexpr size_t MAX_DOWNLOAD_NAME_LENGTH = 127;

// How a download ended. DownloadPrimaryConfig reports every outcome on the console; this is
// for callers that need to act on it.
enum class DownloadOutcome {
    Completed,  // every block and the timestamp acknowledged
    NoPath,     // empty path: nothing done
    OpenFailed,
    NotRegularFile,   // a pipe, a device: nothing with a size to announce
    NameNotSendable,  // a line feed (it would corrupt the timestamp frame), or too long
    SizeInvalid,      // size unknown, or too large for the header's 32 bits
    TimeUnavailable,
    HeaderRejected,
    PortWriteFailed,
    BlockRejected,
    FileReadFailed,  // read error, the file ended before its size, grew or changed
    TimestampRejected,
    Interrupted,  // stopped between two blocks by an interrupt; nothing more was sent
};

struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::NoPath;
    unsigned long discarded = 0;  // stray bytes discarded before its commands and blocks
};

// Downloads the file named by `path` over `port` and writes its timestamp. Every outcome is
// printed and returned. The file is closed on every path; the port is neither purged nor
// closed. After the header, a failure leaves the download command without its closing ETX.
DownloadResult DownloadPrimaryConfig(Port& port, const char* path);

// Timestamp command: STX '"', the file name, LF, the time text and its terminating zero, the
// 8-bit sum of the bytes after '"', ETX. Acknowledged when the module sends ACK, otherwise
// "Acknowledge not received : 0x%02X" is printed. Note the order of the arguments: the file
// name is sent first.
CommandReply WriteTimestamp(Port& port, const char* timeText, const char* fileName);

// Formats the file's last-write time in local time as "DD/MM/YYYY  hh:mm" into *timeText.
// 1 on success, 0 when the time cannot be obtained.
int GetLastWriteTime(ConfigFile* file, std::string* timeText);

// "%02d/%02d/%d  %02d:%02d" from day, month, year, hour and minute.
std::string FormatTimeText(const CalendarTime& time);

// The name the module is told: the part of `path` after its last backslash or slash.
std::string ConfigFileName(const std::string& path);

// 00 00 10, the size least significant byte first, then SumChecksum of those seven bytes.
std::array<uint8_t, DOWNLOAD_HEADER_SIZE> BuildDownloadHeader(uint32_t size);

// The progress value after `sent` of `size` bytes: sent / (size / 100), at most 100; for
// files under 100 bytes, where that divisor is 0, the percentage sent * 100 / size.
long DownloadProgress(uint32_t sent, uint32_t size);

}  // namespace tarnix
