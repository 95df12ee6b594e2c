#include "framing.h"

#include "com_port.h"

void SendCommand(uint8_t cmd, uint8_t modNr) {
    SendByte(STX);
    SendByte(cmd);
    SendByte(modNr);
    SendByte(ETX);
}

size_t TextLengthWithoutLineEnd(const char* line, size_t length) {
    if (length > 0 && line[length - 1] == '\n') {
        --length;
        if (length > 0 && line[length - 1] == '\r') {
            --length;
        }
    }
    return length;
}

uint32_t SendDataLine(uint8_t modNr, char* line, size_t* length) {
    SendByte(STX);
    SendByte(CMD_DATA);
    SendByte(modNr);
    size_t textLength = TextLengthWithoutLineEnd(line, *length);
    line[textLength] = static_cast<char>(ETX);
    line[textLength + 1] = '\0';
    *length = textLength + 1;
    uint32_t written = 0;
    // A failed write is not reported here on purpose: the count says what went out (it feeds
    // the progress line), and a frame that did not arrive whole surfaces as the missing or
    // wrong reply that the caller reports with its line number.
    WriteComBlock(line, static_cast<uint32_t>(*length), &written);
    return written;
}
