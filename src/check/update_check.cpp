// The file check: tarnix's own reading of the file (299-character pieces, the type character and
// count it classifies by) drives the count of commands, and an Intel HEX check of its own looks
// at every character tarnix does not.

#include "update_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

#include "hex_digits.h"
#include "record_plan.h"
#include "regular_file.h"
#include "transfer_common.h"
#include "update_file.h"

namespace tarnix {

namespace {

constexpr uint64_t SEGMENT_SIZE = 0x10000;
constexpr uint64_t ADDRESS_SPACE = uint64_t{1} << 32;

std::string Hex(uint64_t value, int digits) {
    char text[32];
    snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// A character as a message shows it: printable as it is, others as \xNN.
std::string ShownChar(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        return std::string("'") + c + "'";
    }
    char text[8];
    snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

// The parsed fields of one Intel HEX record.
struct HexRecord {
    uint8_t count = 0;
    uint16_t address = 0;
    uint8_t type = 0;
    uint16_t firstDataWord = 0;  // the first two data bytes: the upper address of a type 04
};

// The characters of a record: ':' and an even number of at least 10 hex digits. Empty when
// they are sound.
std::string CheckRecordCharacters(const char* text, size_t length) {
    if (length == 0) {
        return "empty line, no record";
    }
    if (text[0] != ':') {
        return "does not start with ':'";
    }
    for (size_t i = 1; i < length; ++i) {
        if (HexDigitValue(text[i]) < 0) {
            return "character " + ShownChar(text[i]) + " at column " + std::to_string(i + 1) +
                   " is not a hex digit";
        }
    }
    size_t digits = length - 1;
    if (digits < 10) {
        return "record cut short: " + std::to_string(digits) +
               " hex digits, a record has at least 10";
    }
    if (digits % 2 != 0) {
        return "record cut short: odd number of hex digits (" + std::to_string(digits) + ")";
    }
    return "";
}

// Checks the record text (line end removed) on its own. Empty when it is a sound record.
std::string CheckRecordSyntax(const char* text, size_t length, HexRecord* record) {
    std::string fault = CheckRecordCharacters(text, length);
    if (!fault.empty()) {
        return fault;
    }
    std::vector<uint8_t> bytes((length - 1) / 2);
    unsigned sum = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(HexDigitValue(text[1 + 2 * i]) * 16 +
                                        HexDigitValue(text[2 + 2 * i]));
        sum += bytes[i];
    }
    record->count = bytes[0];
    record->address = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    record->type = bytes[3];
    if (bytes.size() >= 7) {
        record->firstDataWord = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    }
    size_t held = bytes.size() - 5;
    if (held != record->count) {
        return "count " + Hex(record->count, 2) + " says " + std::to_string(record->count) +
               " data bytes, the record holds " + std::to_string(held);
    }
    if (sum % 256 != 0) {
        unsigned needed = (256 - (sum - bytes.back()) % 256) % 256;
        return "record checksum " + Hex(bytes.back(), 2) + " is wrong, the record needs " +
               Hex(needed, 2);
    }
    return "";
}

// What the type of a sound record means here; empty when tarnix handles it soundly.
std::string CheckRecordType(const HexRecord& record) {
    struct TypeRule {
        int type;
        int count;  // -1: any
        const char* name;
    };
    static const TypeRule TYPE_RULES[] = {{0, -1, "data"},
                                          {1, 0, "end"},
                                          {3, 4, "start segment address"},
                                          {4, 2, "extended linear address"},
                                          {5, 4, "start linear address"}};
    if (record.type == 2) {
        return "extended segment address record (02): tarnix does not forward it, so the data "
               "after it would land at other addresses";
    }
    for (const TypeRule& rule : TYPE_RULES) {
        if (rule.type == record.type) {
            if (rule.count >= 0 && rule.count != record.count) {
                return std::string(rule.name) + " record with count " + Hex(record.count, 2) +
                       ", must be " + Hex(static_cast<unsigned>(rule.count), 2);
            }
            return "";
        }
    }
    return "unknown record type " + Hex(record.type, 2);
}

// The address runs written so far, keyed by first address; each remembers the line that
// started it.
struct WrittenRun {
    uint64_t last = 0;
    int line = 0;
};

struct RecordState {
    std::map<uint64_t, WrittenRun> written;
    uint64_t upperAddress = 0;  // from the last extended linear address record
    int endRecordLine = 0;      // line of the first end record, 0 before it
};

void AddFault(FileCheck* check, int line, const std::string& message) {
    check->faults.push_back({line, message});
}

// Adds first..last to the written runs, merged with every run it overlaps or touches, so that
// the runs cover every address written. A record that writes an address twice is a fault.
void NoteWrittenRun(uint64_t first, uint64_t last, int line, RecordState* state, FileCheck* check) {
    auto& written = state->written;
    auto next = written.upper_bound(last);  // first run starting after this record
    if (next != written.begin() && std::prev(next)->second.last >= first) {
        AddFault(check, line,
                 "addresses " + Hex(first, 8) + "-" + Hex(last, 8) +
                     " overlap data already written by the records from line " +
                     std::to_string(std::prev(next)->second.line));
    }
    auto from = written.upper_bound(first);
    if (from != written.begin() && std::prev(from)->second.last + 1 >= first) {
        --from;  // a run that reaches this record from below
    }
    auto to = written.upper_bound(last + 1);  // past the runs that this record reaches
    WrittenRun merged{last, line};
    if (from != to) {
        merged.last = std::max(last, std::prev(to)->second.last);
        if (from->first <= first) {
            first = from->first;
            merged.line = from->second.line;
        }
    }
    written.erase(from, to);
    written[first] = merged;
}

// Records the addresses a data record writes. Past 0xFFFFFFFF they wrap to 0, as linear
// addresses do in the module.
void NoteDataAddresses(const HexRecord& record, int line, RecordState* state, FileCheck* check) {
    if (record.count == 0) {
        return;
    }
    uint64_t first = state->upperAddress + record.address;
    uint64_t end = first + record.count;  // one past the last address
    if (end > ADDRESS_SPACE) {
        AddFault(check, line,
                 "record at " + Hex(first, 8) + " runs past 0xFFFFFFFF, the end of the address " +
                     "space: its last " + std::to_string(end - ADDRESS_SPACE) +
                     " bytes wrap to 0x00000000");
        NoteWrittenRun(first, ADDRESS_SPACE - 1, line, state, check);
        NoteWrittenRun(0, end - ADDRESS_SPACE - 1, line, state, check);
        return;
    }
    if (record.address + record.count > SEGMENT_SIZE) {
        AddFault(check, line, "record runs past the end of its 64 KiB address segment");
    }
    NoteWrittenRun(first, end - 1, line, state, check);
}

// One whole record line (all its pieces), line end removed; `line` is where it starts.
void CheckRecordLine(const std::string& text, int line, RecordState* state, FileCheck* check) {
    HexRecord record;
    std::string fault = CheckRecordSyntax(text.data(), text.size(), &record);
    bool syntaxSound = fault.empty();
    if (syntaxSound) {
        fault = CheckRecordType(record);
    }
    if (!fault.empty()) {
        AddFault(check, line, fault);
        if (syntaxSound && record.type == 2) {
            // Follow the segment as intended, so that its one fault is not repeated as an
            // overlap on every record after it.
            state->upperAddress = static_cast<uint64_t>(record.firstDataWord) << 4;
        }
        return;
    }
    if (state->endRecordLine > 0) {
        AddFault(check, line,
                 "record after the end record of line " + std::to_string(state->endRecordLine) +
                     " (tarnix still sends it)");
    }
    switch (record.type) {
        case 0:
            check->dataRecords++;
            check->dataBytes += record.count;
            NoteDataAddresses(record, line, state, check);
            break;
        case 1:
            check->endRecords++;
            if (state->endRecordLine == 0) {
                state->endRecordLine = line;
            }
            break;
        case 4:
            check->addressRecords++;
            state->upperAddress = static_cast<uint64_t>(record.firstDataWord) << 16;
            break;
        default:
            check->otherRecords++;
            break;
    }
}

// The commands tarnix sends for the lines it reads: the record transfer's own plan.
struct RecordCommands {
    BlockState block;
    bool stopped = false;  // a record was refused: tarnix sends nothing more but End
};

void CountCommand(TransferEstimate* estimate, uint64_t bytes, bool withReply) {
    estimate->bytesSent += bytes;
    estimate->replyBytes += withReply ? 1 : 0;
}

void CountDataCommand(TransferEstimate* estimate, const UpdateLine& line) {
    estimate->dataCommands++;
    CountCommand(estimate, DataFrameBytes(TextLengthWithoutLineEnd(line.text, line.length)), true);
}

void CountProgramCommand(TransferEstimate* estimate) {
    estimate->programCommands++;
    CountCommand(estimate, COMMAND_FRAME_BYTES, true);
}

void CountRecordCommands(const UpdateLine& line, RecordCommands* commands,
                         TransferEstimate* estimate) {
    if (commands->stopped) {
        return;
    }
    RecordPlan plan = PlanRecord(line, &commands->block);
    commands->stopped = plan.kind == RecordKind::Refused;
    if (plan.programBefore) {
        CountProgramCommand(estimate);
    }
    if (plan.sendData) {
        CountDataCommand(estimate, line);
    }
    if (plan.programAfter) {
        CountProgramCommand(estimate);
        estimate->fullBlocks++;
    }
}

void FinishEstimate(const CheckOptions& options, TransferEstimate* estimate) {
    double lineBytes = static_cast<double>(estimate->bytesSent + estimate->replyBytes);
    estimate->seconds = lineBytes * BITS_PER_LINE_BYTE / LINE_BAUD +
                        static_cast<double>(estimate->replyBytes) *
                            (options.replyLatencyMs + options.hostTimeMs) / 1e3 +
                        static_cast<double>(estimate->fullBlocks) * 1e-3;
}

bool EndsWithLineFeed(const UpdateLine& line) {
    return line.length > 0 && line.text[line.length - 1] == '\n';
}

std::string WithoutLineEnd(const std::string& text) {
    return text.substr(0, TextLengthWithoutLineEnd(text.data(), text.size()));
}

// Line mode forwards a long line piece by piece.
void FaultLongLine(FileCheck* check, int line, size_t length, int pieces) {
    AddFault(check, line,
             "line of " + std::to_string(length) + " characters (line end included) is longer " +
                 "than the " + std::to_string(MAX_LINE_CHARS) + " tarnix reads at once: sent as " +
                 std::to_string(pieces) + " Data commands");
    check->longLines++;
}

void FaultRefusedRecord(FileCheck* check, int line, size_t length) {
    AddFault(check, line,
             "record line of " + std::to_string(length) +
                 " characters (line end included) does not fit the " +
                 std::to_string(MAX_LINE_CHARS) +
                 " characters and line end tarnix reads at once: tarnix refuses the record, "
                 "sends nothing more but End, and the update fails");
    check->longLines++;
}

// A whole line of the file, gathered from the pieces tarnix reads it in.
struct WholeLine {
    std::string text;
    int start = 0;  // tarnix's number of its first piece
    int pieces = 0;
    bool refused = false;  // record mode: tarnix refuses the record (record_plan.h)
};

void CheckWholeLine(const CheckOptions& options, WholeLine* whole, RecordState* state,
                    FileCheck* check) {
    if (whole->refused) {
        FaultRefusedRecord(check, whole->start, whole->text.size());
    } else if (whole->pieces > 1) {
        FaultLongLine(check, whole->start, whole->text.size(), whole->pieces);
    } else if (options.mode == CheckMode::Records) {
        CheckRecordLine(WithoutLineEnd(whole->text), whole->start, state, check);
    }
    *whole = WholeLine{};
}

// One piece as tarnix reads it: the commands tarnix sends for it counted, its text added to
// the whole line.
void TakePiece(const UpdateLine& line, const CheckOptions& options, RecordCommands* commands,
               WholeLine* whole, TransferEstimate* estimate) {
    if (options.mode == CheckMode::Records) {
        CountRecordCommands(line, commands, estimate);
        whole->refused = whole->refused || RecordRefused(line);
    } else {
        CountDataCommand(estimate, line);
    }
    if (whole->pieces++ == 0) {
        whole->start = line.number;
    }
    whole->text.append(line.text, line.length);
}

// Reads the body as tarnix does and checks each whole line when its last piece has arrived.
void CheckBody(FILE* stream, const CheckOptions& options, FileCheck* check) {
    RecordState state;
    RecordCommands commands{.block = {.blockSize = check->blockSize}};
    UpdateLine line;
    WholeLine whole;
    for (;;) {
        LineRead read = ReadUpdateLine(stream, &line);
        if (read == LineRead::ReadError) {
            AddFault(check, line.number, std::string("read error: ") + strerror(errno));
            return;
        }
        if (read == LineRead::EndOfFile) {
            break;
        }
        check->lines = line.number;
        TakePiece(line, options, &commands, &whole, &check->estimate);
        if (EndsWithLineFeed(line)) {
            CheckWholeLine(options, &whole, &state, check);
        }
    }
    if (whole.pieces > 0) {  // the last line, without a line end
        CheckWholeLine(options, &whole, &state, check);
    }
    if (options.mode == CheckMode::Records) {
        if (state.endRecordLine == 0) {
            AddFault(check, 0, "no end record (01)");
        }
        for (const auto& [first, run] : state.written) {
            check->ranges.push_back({first, run.last});
        }
    }
}

// The header as tarnix checks it; the file's size tells a short file from a damaged header.
void CheckHeader(FILE* stream, FileCheck* check) {
    UpdateHeaderCheck header = CheckUpdateHeader(stream);
    if (check->fileSize < UPDATE_HEADER_SIZE) {
        AddFault(check, 0,
                 "file of " + std::to_string(check->fileSize) +
                     " bytes is too short for the 32-byte header");
        return;
    }
    check->headerValid = header.valid;
    check->blockSize = header.blockSize;
    check->hasHeader = true;
    for (size_t i = UPDATE_HEADER_SIZE; i > HEADER_CRC_OFFSET; --i) {
        check->headerCrc = check->headerCrc << 8 | header.bytes[i - 1];
    }
    if (!check->headerValid) {
        AddFault(check, 0, "header CRC incorrect: tarnix would send nothing");
    }
}

FileCheck CheckStream(const std::string& name, FILE* stream, const CheckOptions& options) {
    FileCheck check;
    check.file = name;
    check.mode = options.mode;
    check.readable = true;
    if (fseek(stream, 0, SEEK_END) == 0) {
        check.fileSize = static_cast<uint64_t>(ftell(stream));
    }
    rewind(stream);
    check.estimate.bytesSent = COMMAND_FRAME_BYTES;  // Start
    check.estimate.replyBytes = 1;
    if (options.mode == CheckMode::Records) {
        CheckHeader(stream, &check);
    }
    CheckBody(stream, options, &check);
    CountCommand(&check.estimate, COMMAND_FRAME_BYTES, true);   // End
    CountCommand(&check.estimate, COMMAND_FRAME_BYTES, false);  // Finish
    FinishEstimate(options, &check.estimate);
    return check;
}

}  // namespace

FileCheck CheckUpdateFile(const std::string& path, const CheckOptions& options) {
    FileCheck refused;
    refused.file = path;
    refused.mode = options.mode;
    // By tarnix's own rule (OpenRegularFile), so that what is refused here tarnix refuses too.
    RegularFile file = OpenRegularFile(path.c_str());
    switch (file.refusal) {
        case FileRefusal::None:
            break;
        case FileRefusal::NotFound:
        case FileRefusal::NotOpened:
            AddFault(&refused, 0, std::string("cannot open: ") + strerror(file.error));
            return refused;
        case FileRefusal::NotRegular:
        case FileRefusal::NotRegularWhenOpened:
            AddFault(&refused, 0, "not a regular file: tarnix refuses it");
            return refused;
    }
    FILE* stream = file.stream;
    FileCheck check = CheckStream(path, stream, options);
    fclose(stream);
    return check;
}

FileCheck CheckUpdateBytes(const std::string& name, const std::string& bytes,
                           const CheckOptions& options) {
    FILE* stream = tmpfile();
    if (stream == nullptr || fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
        FileCheck check;
        check.file = name;
        AddFault(&check, 0, std::string("cannot hold the bytes: ") + strerror(errno));
        if (stream != nullptr) {
            fclose(stream);
        }
        return check;
    }
    FileCheck check = CheckStream(name, stream, options);
    fclose(stream);
    return check;
}

}  // namespace tarnix
