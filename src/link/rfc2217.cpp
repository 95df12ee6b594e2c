#include "rfc2217.h"

#include <cstdio>
#include <iterator>

namespace tarnix {

namespace {

// ---- Sending side

void AppendEscapedByte(uint8_t byte, std::vector<uint8_t>* out) {
    out->push_back(byte);
    if (byte == TELNET_IAC) {
        out->push_back(TELNET_IAC);
    }
}

ComPortMessage OneByteStep(uint8_t command, uint8_t value) {
    return {command, {value}};
}

// ---- Negotiation

// The options the client performs itself (answering the server's DO) and those it wants the
// server to perform (answering the server's WILL).
bool ClientWantsOwn(uint8_t option) {
    return option == TELNET_OPTION_COM_PORT || option == TELNET_OPTION_BINARY;
}

bool ClientWantsServers(uint8_t option) {
    return option == TELNET_OPTION_BINARY;
}

struct Reaction {
    TelnetOptionState next;
    bool answers;  // whether the request gets an answer at all
    bool agrees;   // the answer: WILL/DO, or else WONT/DONT
};

// What a request of the other side does to one side of an option: `enable` for WILL/DO, else
// WONT/DONT. Only a change of state is answered; an answer to our own request, or a request
// repeated after we answered it, is taken in silence, so no exchange of answers can loop.
Reaction ReactToRequest(TelnetOptionState state, bool wanted, bool enable) {
    using S = TelnetOptionState;
    if (enable) {
        switch (state) {
            case S::Off:
                return wanted ? Reaction{S::On, true, true} : Reaction{S::Refused, true, false};
            case S::Asked:
            case S::On:
                return {S::On, false, false};
            case S::Refused:
                return {S::Refused, false, false};
        }
    }
    switch (state) {
        case S::On:
            return {S::Off, true, false};  // turning an option off must be acknowledged
        case S::Asked:
            return {S::Off, false, false};  // our request refused
        case S::Off:
        case S::Refused:
            break;
    }
    return {state, false, false};
}

void Negotiate(TelnetDecoder* decoder, uint8_t verb, uint8_t option, ServerBytesResult* result) {
    // The server's DO/DONT are about what we perform, its WILL/WONT about what it performs.
    bool aboutOurs = verb == TELNET_DO || verb == TELNET_DONT;
    bool enable = verb == TELNET_DO || verb == TELNET_WILL;
    TelnetOptionState* state = aboutOurs ? &decoder->ours[option] : &decoder->theirs[option];
    bool wanted = aboutOurs ? ClientWantsOwn(option) : ClientWantsServers(option);
    Reaction reaction = ReactToRequest(*state, wanted, enable);
    *state = reaction.next;
    if (!reaction.answers) {
        return;
    }
    uint8_t answer = aboutOurs ? (reaction.agrees ? TELNET_WILL : TELNET_WONT)
                               : (reaction.agrees ? TELNET_DO : TELNET_DONT);
    result->answers.insert(result->answers.end(), {TELNET_IAC, answer, option});
}

// ---- Subnegotiation

bool IsComPortAnswer(uint8_t code) {
    bool answerRange =
        code > COM_PORT_SERVER_OFFSET && code <= COM_PORT_SERVER_OFFSET + COM_PORT_PURGE_DATA;
    bool notification = code >= COM_PORT_NOTIFY_LINESTATE && code <= COM_PORT_FLOWCONTROL_RESUME;
    return answerRange && !notification;
}

void AddSubnegotiationByte(TelnetDecoder* decoder, uint8_t byte, ServerBytesResult* result) {
    if (decoder->subBytes.size() < MAX_SUBNEGOTIATION_BYTES) {
        decoder->subBytes.push_back(byte);
    } else if (!decoder->subTooLong) {
        decoder->subTooLong = true;
        result->fault = "the server sent a Telnet subnegotiation of more than 64 bytes";
    }
}

void FinishSubnegotiation(TelnetDecoder* decoder, ServerBytesResult* result) {
    const std::vector<uint8_t>& bytes = decoder->subBytes;
    if (!decoder->subTooLong && decoder->subOption == TELNET_OPTION_COM_PORT && !bytes.empty() &&
        IsComPortAnswer(bytes[0])) {
        result->acks.push_back({static_cast<uint8_t>(bytes[0] - COM_PORT_SERVER_OFFSET),
                                std::vector<uint8_t>(bytes.begin() + 1, bytes.end())});
    }
    decoder->subBytes.clear();
    decoder->subTooLong = false;
}

// ---- The byte scanner: one function for each place in the stream.

void ScanCommand(TelnetDecoder* decoder, uint8_t byte, ServerBytesResult* result) {
    decoder->scan = TelnetScan::Data;
    if (byte == TELNET_IAC) {
        result->data.push_back(TELNET_IAC);
    } else if (byte >= TELNET_WILL && byte <= TELNET_DONT) {
        decoder->verb = byte;
        decoder->scan = TelnetScan::Option;
    } else if (byte == TELNET_SB) {
        decoder->scan = TelnetScan::SubOption;
    }
    // Anything else (NOP, GA, a stray SE, ...) means nothing on a serial line: dropped.
}

void ScanSubDataCommand(TelnetDecoder* decoder, uint8_t byte, ServerBytesResult* result) {
    if (byte == TELNET_IAC) {
        AddSubnegotiationByte(decoder, TELNET_IAC, result);
        decoder->scan = TelnetScan::SubData;
    } else if (byte == TELNET_SE) {
        FinishSubnegotiation(decoder, result);
        decoder->scan = TelnetScan::Data;
    } else {
        // A command inside a subnegotiation means its IAC SE was lost: the subnegotiation is
        // dropped and the command taken as it stands, so a negotiation is not swallowed.
        decoder->subBytes.clear();
        decoder->subTooLong = false;
        ScanCommand(decoder, byte, result);
    }
}

void ScanByte(TelnetDecoder* decoder, uint8_t byte, ServerBytesResult* result) {
    switch (decoder->scan) {
        case TelnetScan::Data:
            if (byte == TELNET_IAC) {
                decoder->scan = TelnetScan::Command;
            } else {
                result->data.push_back(byte);
            }
            return;
        case TelnetScan::Command:
            return ScanCommand(decoder, byte, result);
        case TelnetScan::Option:
            Negotiate(decoder, decoder->verb, byte, result);
            decoder->scan = TelnetScan::Data;
            return;
        case TelnetScan::SubOption:
            decoder->subOption = byte;
            decoder->subBytes.clear();
            decoder->subTooLong = false;
            decoder->scan = TelnetScan::SubData;
            return;
        case TelnetScan::SubData:
            if (byte == TELNET_IAC) {
                decoder->scan = TelnetScan::SubDataCommand;
            } else {
                AddSubnegotiationByte(decoder, byte, result);
            }
            return;
        case TelnetScan::SubDataCommand:
            return ScanSubDataCommand(decoder, byte, result);
    }
}

ComPortStanding StandingOf(TelnetOptionState comPort) {
    switch (comPort) {
        case TelnetOptionState::On:
            return ComPortStanding::Agreed;
        case TelnetOptionState::Asked:
            return ComPortStanding::Undecided;
        case TelnetOptionState::Off:
        case TelnetOptionState::Refused:
            break;
    }
    return ComPortStanding::Refused;
}

// ---- Acknowledgements

std::string Hex(uint8_t byte) {
    char text[5];
    snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// The meaning of a one-byte value where RFC 2217 gives it one in words; nullptr otherwise.
const char* ValueWords(uint8_t command, uint8_t value) {
    static constexpr const char* PARITY[] = {"request", "none", "odd", "even", "mark", "space"};
    static constexpr const char* STOPSIZE[] = {"request", "1", "2", "1.5"};
    static constexpr const char* CONTROL[] = {"flow control request",
                                              "no flow control",
                                              "XON/XOFF flow control",
                                              "hardware flow control",
                                              "BREAK request",
                                              "BREAK on",
                                              "BREAK off",
                                              "DTR request",
                                              "DTR on",
                                              "DTR off",
                                              "RTS request",
                                              "RTS on",
                                              "RTS off",
                                              "inbound flow control request",
                                              "no inbound flow control",
                                              "XON/XOFF inbound flow control",
                                              "hardware inbound flow control",
                                              "DCD flow control",
                                              "DTR inbound flow control",
                                              "DSR flow control"};
    static constexpr const char* PURGE[] = {nullptr, "receive buffer", "transmit buffer",
                                            "both buffers"};
    auto pick = [value](const auto& names) -> const char* {
        return value < std::size(names) ? names[value] : nullptr;
    };
    switch (command) {
        case COM_PORT_SET_PARITY:
            return pick(PARITY);
        case COM_PORT_SET_STOPSIZE:
            return pick(STOPSIZE);
        case COM_PORT_SET_CONTROL:
            return pick(CONTROL);
        case COM_PORT_PURGE_DATA:
            return pick(PURGE);
        default:
            return nullptr;
    }
}

bool HasWordsForValues(uint8_t command) {
    return command == COM_PORT_SET_PARITY || command == COM_PORT_SET_STOPSIZE ||
           command == COM_PORT_SET_CONTROL || command == COM_PORT_PURGE_DATA;
}

// A value as a reader knows it: the baud rate and the data size as numbers, parity, stop size,
// control and purge in words (an unknown code as "code 7"), any other shape byte by byte.
std::string ValueText(uint8_t command, const std::vector<uint8_t>& value) {
    if (value.empty()) {
        return "nothing";
    }
    if (value.size() == 1) {
        const char* words = ValueWords(command, value[0]);
        if (words != nullptr) {
            return words;
        }
        return (HasWordsForValues(command) ? "code " : "") + std::to_string(value[0]);
    }
    if (command == COM_PORT_SET_BAUDRATE && value.size() == 4) {
        uint32_t rate = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                        (uint32_t{value[2]} << 8) | uint32_t{value[3]};
        return std::to_string(rate);
    }
    std::string text = Hex(value[0]);
    for (size_t i = 1; i < value.size(); ++i) {
        // Appended piece by piece: GCC 12 sees a false overlap in " " + a temporary
        // (-Wrestrict) in the mingw build.
        text += ' ';
        text += Hex(value[i]);
    }
    return text;
}

}  // namespace

std::vector<uint8_t> TelnetClientGreeting() {
    return {TELNET_IAC, TELNET_WILL, TELNET_OPTION_COM_PORT,
            TELNET_IAC, TELNET_WILL, TELNET_OPTION_BINARY,
            TELNET_IAC, TELNET_DO,   TELNET_OPTION_BINARY};
}

// Byte by byte: GCC 12 warns falsely about inserting a list into an empty vector
// (-Wstringop-overflow) in the mingw build.
void AppendComPortSubnegotiation(const ComPortMessage& message, std::vector<uint8_t>* out) {
    out->reserve(out->size() + 6 + 2 * message.value.size());
    for (uint8_t byte : {TELNET_IAC, TELNET_SB, TELNET_OPTION_COM_PORT}) {
        out->push_back(byte);
    }
    AppendEscapedByte(message.command, out);
    AppendEscapedData(message.value.data(), message.value.size(), out);
    out->push_back(TELNET_IAC);
    out->push_back(TELNET_SE);
}

std::vector<uint8_t> ComPortSubnegotiation(const ComPortMessage& message) {
    std::vector<uint8_t> out;
    AppendComPortSubnegotiation(message, &out);
    return out;
}

std::vector<ComPortMessage> OpenSettingsSteps(uint32_t baudRate) {
    ComPortMessage rate{COM_PORT_SET_BAUDRATE,
                        {static_cast<uint8_t>(baudRate >> 24), static_cast<uint8_t>(baudRate >> 16),
                         static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)}};
    return {rate,
            OneByteStep(COM_PORT_SET_DATASIZE, COM_PORT_DATASIZE_8),
            OneByteStep(COM_PORT_SET_PARITY, COM_PORT_PARITY_NONE),
            OneByteStep(COM_PORT_SET_STOPSIZE, COM_PORT_STOPSIZE_TWO),
            OneByteStep(COM_PORT_SET_CONTROL, COM_PORT_CONTROL_NO_FLOW_CONTROL),
            OneByteStep(COM_PORT_SET_CONTROL, COM_PORT_CONTROL_DTR_OFF),
            OneByteStep(COM_PORT_SET_CONTROL, COM_PORT_CONTROL_RTS_OFF)};
}

ComPortMessage PurgeReceiveStep() {
    return OneByteStep(COM_PORT_PURGE_DATA, COM_PORT_PURGE_RECEIVE);
}

void AppendEscapedData(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) {
    for (size_t i = 0; i < count; ++i) {
        AppendEscapedByte(bytes[i], out);
    }
}

std::vector<uint8_t> EscapedData(const uint8_t* bytes, size_t count) {
    std::vector<uint8_t> out;
    AppendEscapedData(bytes, count, &out);
    return out;
}

void StartTelnetDecoder(TelnetDecoder* decoder) {
    *decoder = TelnetDecoder{};
    decoder->ours[TELNET_OPTION_COM_PORT] = TelnetOptionState::Asked;
    decoder->ours[TELNET_OPTION_BINARY] = TelnetOptionState::Asked;
    decoder->theirs[TELNET_OPTION_BINARY] = TelnetOptionState::Asked;
}

ServerBytesResult DecodeServerBytes(TelnetDecoder* decoder, const uint8_t* bytes, size_t count) {
    ServerBytesResult result;
    result.data.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        ScanByte(decoder, bytes[i], &result);
    }
    result.comPort = StandingOf(decoder->ours[TELNET_OPTION_COM_PORT]);
    return result;
}

bool AckMatches(const ComPortMessage& step, const ComPortMessage& ack) {
    return step == ack;
}

std::string DescribeAckMismatch(const ComPortMessage& step, const ComPortMessage& ack) {
    if (AckMatches(step, ack)) {
        return "";
    }
    std::string text = ComPortCommandName(step.command) + " " +
                       ValueText(step.command, step.value) + " was answered with ";
    if (ack.command != step.command) {
        text += ComPortCommandName(ack.command) + " ";
    }
    return text + ValueText(ack.command, ack.value);
}

std::string DescribeComPortStep(const ComPortMessage& step) {
    return ComPortCommandName(step.command) + " " + ValueText(step.command, step.value);
}

std::string ComPortCommandName(uint8_t command) {
    static constexpr const char* NAMES[] = {
        "SIGNATURE",           "SET-BAUDRATE",       "SET-DATASIZE",       "SET-PARITY",
        "SET-STOPSIZE",        "SET-CONTROL",        "NOTIFY-LINESTATE",   "NOTIFY-MODEMSTATE",
        "FLOWCONTROL-SUSPEND", "FLOWCONTROL-RESUME", "SET-LINESTATE-MASK", "SET-MODEMSTATE-MASK",
        "PURGE-DATA"};
    if (command < sizeof NAMES / sizeof NAMES[0]) {
        return NAMES[command];
    }
    return "COM-PORT command " + std::to_string(command);
}

ComPortStanding BinaryStanding(const TelnetDecoder& decoder) {
    ComPortStanding ours = StandingOf(decoder.ours[TELNET_OPTION_BINARY]);
    ComPortStanding theirs = StandingOf(decoder.theirs[TELNET_OPTION_BINARY]);
    if (ours == ComPortStanding::Refused || theirs == ComPortStanding::Refused) {
        return ComPortStanding::Refused;
    }
    return ours == ComPortStanding::Agreed && theirs == ComPortStanding::Agreed
               ? ComPortStanding::Agreed
               : ComPortStanding::Undecided;
}

SettingsProgress StartSettings(const std::vector<ComPortMessage>& steps) {
    return {steps, std::vector<bool>(steps.size(), false), ""};
}

namespace {

// The first step of `command` that is (or is not) confirmed, equal to `ack` when `equal`.
size_t FindStep(const SettingsProgress& progress, const ComPortMessage& ack, bool confirmed,
                bool equal) {
    for (size_t i = 0; i < progress.steps.size(); ++i) {
        const ComPortMessage& step = progress.steps[i];
        if (step.command == ack.command && progress.confirmed[i] == confirmed &&
            (!equal || AckMatches(step, ack))) {
            return i;
        }
    }
    return progress.steps.size();
}

}  // namespace

void TakeSettingAck(SettingsProgress* progress, const ComPortMessage& ack) {
    size_t none = progress->steps.size();
    size_t open = FindStep(*progress, ack, false, true);
    if (open != none) {
        progress->confirmed[open] = true;
        return;
    }
    if (FindStep(*progress, ack, true, true) != none) {
        return;  // a late duplicate of an answer already taken
    }
    size_t refused = FindStep(*progress, ack, false, false);
    if (refused != none && progress->mismatch.empty()) {
        progress->mismatch = DescribeAckMismatch(progress->steps[refused], ack);
    }
}

bool AllSettingsConfirmed(const SettingsProgress& progress) {
    for (bool confirmed : progress.confirmed) {
        if (!confirmed) {
            return false;
        }
    }
    return true;
}

std::string FirstUnconfirmedSetting(const SettingsProgress& progress) {
    for (size_t i = 0; i < progress.steps.size(); ++i) {
        if (!progress.confirmed[i]) {
            return DescribeComPortStep(progress.steps[i]);
        }
    }
    return "";
}

}  // namespace tarnix
