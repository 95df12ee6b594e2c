#include "e2e_expectations.h"

#include <cstdio>

namespace tarnix {

const std::string KEY_PROMPT = "\n Press any key to exit.\n";

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Command(char cmd, uint8_t modNr) {
    return {0x02, uint8_t(cmd), modNr, 0x03};
}

Bytes DataCommand(const std::string& text, uint8_t modNr) {
    std::string frame = std::string(
                            "\x02"
                            "C") +
                        static_cast<char>(modNr) + text + "\x03";
    return BytesOf(frame);
}

std::string CommandSequence(const ModuleLog& log) {
    std::string sequence;
    for (const ModuleFrame& frame : log.frames) {
        sequence.push_back(static_cast<char>(frame.command));
    }
    return sequence;
}

std::string Progress(long percent) {
    char text[64];
    snprintf(text, sizeof text, "\rWriting User configuration... %4ld %%", percent);
    return text;
}

std::string ProgressLine(int value) {
    char text[64];
    snprintf(text, sizeof text, "\rWriting primary configuration... %3i %%", value);
    return text;
}

std::string AfterBanner(const std::string& out) {
    size_t end = out.find("\n\n", 1);
    return end == std::string::npos ? out : out.substr(end + 2);
}

}  // namespace tarnix
