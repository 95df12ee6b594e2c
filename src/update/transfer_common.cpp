// The pieces both transfers share: line reading, progress and messages, and the exchange of
// one command with its reply (stop-and-wait: one command in flight).

#include "transfer_common.h"

#include <cerrno>
#include <cstring>

#include "com_port.h"
#include "framing.h"
#include "interrupts.h"
#include "progress.h"

LineRead ReadUpdateLine(FILE* stream, UpdateLine* line) {
    line->number++;
    line->length = 0;
    while (line->length < MAX_LINE_CHARS) {
        int c = getc(stream);
        if (c == EOF) {
            break;
        }
        line->text[line->length++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    line->text[line->length] = '\0';
    if (ferror(stream)) {
        return LineRead::ReadError;
    }
    return line->length > 0 ? LineRead::Line : LineRead::EndOfFile;
}

long ProgressPercent(uint32_t total, uint32_t size) {
    return ProgressFigure(total, size);
}

void PrintLoading(const UpdateSource& source) {
    printf("\nLoading : %ld Byte from %s\n", static_cast<long>(source.size), source.fileName);
}

// The progress line is rewritten in place; flush so that it shows without a line end.
void PrintProgress(uint32_t total, uint32_t size) {
    printf("\rWriting User configuration... %4ld %%", ProgressPercent(total, size));
    fflush(stdout);
}

void PrintDone() {
    printf("\rWriting User configuration... done.  \n");
}

void PrintReadError(const UpdateSource& source, const UpdateLine& line) {
    printf("\nRead error in file '%s' at line %i: %s\n", source.fileName, line.number,
           strerror(errno));
}

void PrintLine(const UpdateLine& line) {
    fwrite(line.text, 1, line.length, stdout);
    putchar('\n');
}

namespace {

unsigned long DiscardedBeforeCommands = 0;

void DiscardStaleReplies() {
    long discarded = DiscardPendingInput();
    if (discarded > 0) {
        DiscardedBeforeCommands += static_cast<unsigned long>(discarded);
    }
}

}  // namespace

unsigned long DiscardedReplyBytes() {
    return DiscardedBeforeCommands;
}

bool TransferMustStop() {
    return StopAtSafePoint() || ComPortHungUp();
}

uint8_t SendCommandForReply(uint8_t cmd, uint8_t modNr) {
    DiscardStaleReplies();
    SendCommand(cmd, modNr);
    return ReceiveByte();
}

uint8_t SendDataLineForReply(uint8_t modNr, UpdateLine* line, uint32_t* written) {
    DiscardStaleReplies();
    *written = SendDataLine(modNr, line->text, &line->length);
    return ReceiveByte();
}
