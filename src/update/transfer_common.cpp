// The pieces both transfers share: line reading, progress and messages, and the exchange of
// one command with its reply (stop-and-wait: one command in flight).

#include "transfer_common.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "exchange.h"
#include "file_stamp.h"
#include "framing.h"
#include "interrupts.h"
#include "outcome_line.h"
#include "port_texts.h"
#include "progress.h"
#include "update_outcome.h"

namespace tarnix {

void ExpectFileSize(UpdateLine* line, uint32_t fileSize, uint32_t alreadyRead) {
    line->sizeKnown = true;
    line->fileSize = fileSize;
    line->position = alreadyRead;
}

void WatchFileContent(UpdateLine* line, FILE* stream, std::span<const uint8_t> readBefore) {
    line->watched = true;
    line->read = SentFile{};
    if (!ReadOpenFileStamp(stream, &line->read.stamp)) {
        line->read.stamp = FileStamp{};
    }
    AddToContentHash(&line->read.sent, readBefore.data(), readBefore.size());
}

namespace {

// Between two reads: a file whose stamp moved has the bytes read so far compared with it.
// When they are still its start, reading goes on where it was, in the file as it is now.
bool ReadSoFarStillInFile(FILE* stream, UpdateLine* line) {
    FileStamp before = line->read.stamp;
    if (FileChangedWhileSent(StreamRereader(stream), &line->read, ChangeCheck::BetweenReads)) {
        return false;
    }
    if (line->read.stamp != before) {
        // Read again up to what was hashed; the character read ahead is not yet in the hash.
        for (uint64_t i = line->read.sent.bytes; i < line->position; ++i) {
            getc(stream);
        }
    }
    return true;
}

// At the end of the file: it must hold exactly what was read, nothing changed and nothing
// more. The end-of-file indicator is set again, as the callers' loops expect.
bool WholeFileStillAsRead(FILE* stream, UpdateLine* line) {
    return !FileChangedWhileSent(StreamRereader(stream), &line->read, ChangeCheck::AtEnd) &&
           getc(stream) == EOF;
}

// The next character: the one read ahead first, then the stream. A character past the
// expected size means the file grew; it is not taken.
int NextFileChar(FILE* stream, UpdateLine* line) {
    int c = line->ahead;
    if (c != EOF) {
        line->ahead = EOF;
        return c;
    }
    c = getc(stream);
    if (c == EOF) {
        return EOF;
    }
    line->position++;
    if (line->sizeKnown && line->position > line->fileSize) {
        line->fault = ReadFault::Grew;
        return EOF;
    }
    return c;
}

void PutBack(FILE* stream, UpdateLine* line, int c) {
    ungetc(c, stream);
    line->position--;
}

void Append(UpdateLine* line, int c) {
    line->text[line->length++] = static_cast<char>(c);
}

// After a full piece: a CR LF or LF that follows belongs to it; anything else (a CR without
// LF included) begins the next piece.
void TakeLineEndOfFullPiece(FILE* stream, UpdateLine* line) {
    int c = NextFileChar(stream, line);
    if (c == '\n') {
        Append(line, c);
        return;
    }
    if (c == '\r') {
        int next = NextFileChar(stream, line);
        if (next == '\n') {
            Append(line, '\r');
            Append(line, '\n');
            return;
        }
        if (next == EOF) {
            PutBack(stream, line, '\r');
        } else {
            PutBack(stream, line, next);  // read after the CR that stays ahead of it
            line->ahead = '\r';
        }
        line->cut = true;
        return;
    }
    if (c != EOF) {
        PutBack(stream, line, c);
        line->cut = true;
    }
}

LineRead ReadOutcome(FILE* stream, UpdateLine* line) {
    if (line->fault == ReadFault::None && ferror(stream)) {
        line->fault = ReadFault::Stream;
        line->error = errno;
    }
    bool endedEarly =
        feof(stream) && line->ahead == EOF && line->sizeKnown && line->position < line->fileSize;
    if (line->fault == ReadFault::None && endedEarly) {
        line->fault = ReadFault::EndedEarly;
    }
    if (line->fault != ReadFault::None) {
        return LineRead::ReadError;
    }
    return line->length > 0 ? LineRead::Line : LineRead::EndOfFile;
}

// A watched file: the line joins what was read, and the read that reaches the end of the
// file is complete only when the file, read again, is all that was read.
LineRead CheckWatchedContent(FILE* stream, UpdateLine* line, LineRead read) {
    if (!line->watched || read == LineRead::ReadError) {
        return read;
    }
    AddToContentHash(&line->read.sent, line->text, line->length);
    bool atEnd = feof(stream) && line->ahead == EOF;
    if (atEnd && !WholeFileStillAsRead(stream, line)) {
        line->fault = ReadFault::Changed;
        return LineRead::ReadError;
    }
    return read;
}

}  // namespace

LineRead ReadUpdateLine(FILE* stream, UpdateLine* line) {
    line->number++;
    line->length = 0;
    line->cut = false;
    line->text[0] = '\0';
    if (line->watched && !ReadSoFarStillInFile(stream, line)) {
        line->fault = ReadFault::Changed;
        return LineRead::ReadError;
    }
    int c = EOF;
    while (line->length < MAX_LINE_CHARS && (c = NextFileChar(stream, line)) != EOF) {
        Append(line, c);
        if (c == '\n') {
            break;
        }
    }
    if (line->length == MAX_LINE_CHARS && c != '\n' && c != EOF) {
        TakeLineEndOfFullPiece(stream, line);
    }
    line->text[line->length] = '\0';
    return CheckWatchedContent(stream, line, ReadOutcome(stream, line));
}

long ProgressPercent(uint32_t total, uint32_t size) {
    return ProgressFigure(total, size);
}

void PrintLoading(const UpdateSource& source) {
    printf("\nLoading : %ld Byte from %s\n", static_cast<long>(source.size), source.fileName);
}

namespace {

void ShowProgressFigure(TransferRun* run, long percent) {
    if (!run->source.progressLines || percent == run->shownPercent) {
        return;
    }
    run->shownPercent = percent;
    fflush(stdout);
    fputs(ProgressLineText(percent).c_str(), stderr);
}

}  // namespace

// The progress line is rewritten in place; flush so that it shows without a line end.
void PrintProgress(TransferRun* run) {
    long percent = ProgressPercent(run->total, run->source.size);
    printf("\rWriting User configuration... %4ld %%", percent);
    fflush(stdout);
    ShowProgressFigure(run, percent);
}

void PrintFirstProgress(TransferRun* run) {
    printf("\nWriting User configuration... %4ld %%", 0L);
    fflush(stdout);
    ShowProgressFigure(run, 0);
}

void PrintDone(TransferRun* run) {
    printf("\rWriting User configuration... done.  \n");
    ShowProgressFigure(run, 100);
}

namespace {

// A message of its own, so on standard error; standard output only ends its progress line.
void PrintFileChanged(const UpdateSource& source, const UpdateLine& line) {
    printf("\n");
    fflush(stdout);
    fprintf(stderr,
            "tarnix: Read error in file '%s' at line %i: the file changed while it was being "
            "sent\n",
            source.fileName, line.number);
}

}  // namespace

void PrintReadError(TransferRun* run) {
    const UpdateSource& source = run->source;
    const UpdateLine& line = run->line;
    NoteFailure(&run->result, UpdateOutcome::ReadError, line.number);
    if (line.fault == ReadFault::Changed) {
        PrintFileChanged(source, line);
        return;
    }
    auto bytes = [](uint64_t count) { return static_cast<unsigned long>(count); };
    printf("\nRead error in file '%s' at line %i: ", source.fileName, line.number);
    switch (line.fault) {
        case ReadFault::EndedEarly:
            printf("the file ended after %lu of its %lu bytes\n", bytes(line.position),
                   bytes(line.fileSize));
            break;
        case ReadFault::Grew:
            printf("the file grew beyond its %lu bytes\n", bytes(line.fileSize));
            break;
        default:
            printf("%s\n", strerror(line.error));
            break;
    }
}

void ReportLine(const UpdateLine& line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fwrite(line.text, 1, line.length, stdout);
    putchar('\n');
}

bool TransferMustStop(TransferRun* run) {
    if (StopAtSafePoint()) {
        NoteFailure(&run->result, UpdateOutcome::Interrupted, run->line.number);
        return true;
    }
    if (run->port.hungUp) {
        NoteFailure(&run->result, UpdateOutcome::HungUp, run->line.number);
        return true;
    }
    return false;
}

bool ForwardEachLine(TransferRun* run, const std::function<LineStep()>& handle) {
    FILE* stream = run->source.stream;
    while (!feof(stream)) {
        if (TransferMustStop(run)) {
            return false;
        }
        LineRead read = ReadUpdateLine(stream, &run->line);
        if (read == LineRead::ReadError) {
            PrintReadError(run);
            return false;
        }
        if (read == LineRead::EndOfFile) {
            PrintDone(run);
            break;
        }
        if (handle() == LineStep::Stop) {
            return false;
        }
    }
    return true;
}

ExchangeResult SendCommandForReply(TransferRun* run, uint8_t cmd) {
    ExchangeResult exchange = ExchangeCommand(run->port, cmd, run->modNr);
    PrintPortNotes(exchange.notes);
    CountExchange(&run->result, cmd, exchange, run->line.number);
    return exchange;
}

ExchangeResult SendDataLineForReply(TransferRun* run) {
    UpdateLine& line = run->line;
    ExchangeResult exchange = ExchangeDataLine(run->port, run->modNr, line.text, &line.length);
    PrintPortNotes(exchange.notes);
    CountExchange(&run->result, CMD_DATA, exchange, line.number);
    return exchange;
}

bool StartModuleUpdate(TransferRun* run) {
    if (TransferMustStop(run)) {
        return false;
    }
    ExchangeResult exchange = SendCommandForReply(run, CMD_START);
    if (!Acknowledged(exchange)) {
        printf("Return Value start : 0x%02X\n", exchange.reply);
        return false;
    }
    return true;
}

bool EndModuleUpdate(TransferRun* run) {
    ExchangeResult exchange = SendCommandForReply(run, CMD_END);
    if (!Acknowledged(exchange)) {
        printf("Return Value Ende : 0x%02X\n", exchange.reply);
        return false;
    }
    return true;
}

}  // namespace tarnix
