#pragma once
// The Telnet client side of a network serial port with the COM-PORT-OPTION (RFC 2217), as pure
// protocol: what to send and what the server's bytes mean, with no sockets and no I/O. The
// caller connects, sends TelnetClientGreeting(), feeds every byte it reads to
// DecodeServerBytes, sends the answers it returns, and once the server agrees to the
// COM-PORT-OPTION sends each step of OpenSettingsSteps and waits for its acknowledgement.
// Data is binary both ways: CR and NUL pass untranslated, only 0xFF is doubled.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

// Telnet commands (RFC 854). The names carry a prefix because <arpa/telnet.h> defines the bare
// ones as macros.
inline constexpr uint8_t TELNET_IAC = 255;
inline constexpr uint8_t TELNET_DONT = 254;
inline constexpr uint8_t TELNET_DO = 253;
inline constexpr uint8_t TELNET_WONT = 252;
inline constexpr uint8_t TELNET_WILL = 251;
inline constexpr uint8_t TELNET_SB = 250;
inline constexpr uint8_t TELNET_SE = 240;

inline constexpr uint8_t TELNET_OPTION_BINARY = 0;
inline constexpr uint8_t TELNET_OPTION_COM_PORT = 44;

// The client's COM-PORT commands and the values this program sends with them.
inline constexpr uint8_t COM_PORT_SET_BAUDRATE = 1;
inline constexpr uint8_t COM_PORT_SET_DATASIZE = 2;
inline constexpr uint8_t COM_PORT_SET_PARITY = 3;
inline constexpr uint8_t COM_PORT_SET_STOPSIZE = 4;
inline constexpr uint8_t COM_PORT_SET_CONTROL = 5;
inline constexpr uint8_t COM_PORT_PURGE_DATA = 12;

inline constexpr uint8_t COM_PORT_DATASIZE_8 = 8;
inline constexpr uint8_t COM_PORT_PARITY_NONE = 1;
inline constexpr uint8_t COM_PORT_STOPSIZE_ONE = 1;
inline constexpr uint8_t COM_PORT_STOPSIZE_TWO = 2;
inline constexpr uint8_t COM_PORT_CONTROL_NO_FLOW_CONTROL = 1;
inline constexpr uint8_t COM_PORT_CONTROL_DTR_ON = 8;
inline constexpr uint8_t COM_PORT_CONTROL_DTR_OFF = 9;
inline constexpr uint8_t COM_PORT_CONTROL_RTS_ON = 11;
inline constexpr uint8_t COM_PORT_CONTROL_RTS_OFF = 12;
inline constexpr uint8_t COM_PORT_PURGE_RECEIVE = 1;

// The server answers a command with the command's code + 100; these four codes are instead
// notifications the server sends on its own, and the client ignores them.
inline constexpr uint8_t COM_PORT_SERVER_OFFSET = 100;
inline constexpr uint8_t COM_PORT_NOTIFY_LINESTATE = 106;
inline constexpr uint8_t COM_PORT_NOTIFY_MODEMSTATE = 107;
inline constexpr uint8_t COM_PORT_FLOWCONTROL_SUSPEND = 108;
inline constexpr uint8_t COM_PORT_FLOWCONTROL_RESUME = 109;

// A COM-PORT command with its value bytes as they mean (before any IAC is doubled): what the
// client sends, and, with the same shape, what the server answers.
struct ComPortMessage {
    uint8_t command = 0;         // the client's code, also in an answer (the server's code - 100)
    std::vector<uint8_t> value;  // 4 bytes in network byte order for SET-BAUDRATE, 1 otherwise

    bool operator==(const ComPortMessage&) const = default;
};

// ---- Sending side

// What the client sends on connect: IAC WILL COM-PORT-OPTION, IAC WILL BINARY, IAC DO BINARY.
std::vector<uint8_t> TelnetClientGreeting();

// Appends IAC SB COM-PORT-OPTION <command> <value, each 0xFF doubled> IAC SE.
void AppendComPortSubnegotiation(const ComPortMessage& message, std::vector<uint8_t>* out);
std::vector<uint8_t> ComPortSubnegotiation(const ComPortMessage& message);

// The settings to send on open, in the order to send them, each to be acknowledged before the
// next: SET-BAUDRATE baudRate, SET-DATASIZE 8, SET-PARITY NONE, SET-STOPSIZE 2, SET-CONTROL no
// flow control, SET-CONTROL DTR OFF, SET-CONTROL RTS OFF.
std::vector<ComPortMessage> OpenSettingsSteps(uint32_t baudRate);

// PURGE-DATA receive buffer: the server discards what the device has sent and nobody read.
ComPortMessage PurgeReceiveStep();

// Appends the data for the device with each 0xFF doubled, so that Telnet reads it as data.
void AppendEscapedData(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out);
std::vector<uint8_t> EscapedData(const uint8_t* bytes, size_t count);

// ---- Receiving side

// Where one side of one option stands (RFC 1143's states, less those of a client that never
// turns an option off on its own, plus Refused: a request already refused is not refused again,
// which is what keeps two parties from answering each other's answers forever).
enum class TelnetOptionState : uint8_t {
    Off,      // not in effect, never requested
    Asked,    // we have requested it and wait for the answer
    On,       // in effect
    Refused,  // the other side requested it and we refused
};

// Where the decoder is inside the Telnet byte stream, between two reads.
enum class TelnetScan : uint8_t {
    Data,            // plain data
    Command,         // after IAC
    Option,          // after IAC WILL/WONT/DO/DONT: the option byte comes next
    SubOption,       // after IAC SB: the option byte comes next
    SubData,         // inside a subnegotiation
    SubDataCommand,  // after IAC inside a subnegotiation
};

// A COM-PORT answer has at most 5 bytes, and no option this client takes part in has longer
// subnegotiations: one longer than this is a protocol fault. The buffer never grows past it,
// and the rest of such a subnegotiation is read to its end and dropped.
inline constexpr size_t MAX_SUBNEGOTIATION_BYTES = 64;

struct TelnetDecoder {
    TelnetScan scan = TelnetScan::Data;
    uint8_t verb = 0;  // the WILL/WONT/DO/DONT waiting for its option byte
    uint8_t subOption = 0;
    std::vector<uint8_t> subBytes;       // the subnegotiation so far, IAC IAC undoubled
    bool subTooLong = false;             // more than MAX_SUBNEGOTIATION_BYTES: to be dropped
    TelnetOptionState ours[256] = {};    // options the client performs (the server's DO/DONT)
    TelnetOptionState theirs[256] = {};  // options the server performs (the server's WILL/WONT)
};

// Readies *decoder for a new connection on which TelnetClientGreeting() is sent: the greeting's
// three requests stand Asked.
void StartTelnetDecoder(TelnetDecoder* decoder);

enum class ComPortStanding : uint8_t { Undecided, Agreed, Refused };

struct ServerBytesResult {
    std::vector<uint8_t> data;         // the device's bytes, IAC IAC undoubled
    std::vector<uint8_t> answers;      // negotiation answers to send back to the server
    std::vector<ComPortMessage> acks;  // COM-PORT answers, in the order received
    ComPortStanding comPort = ComPortStanding::Undecided;  // after these bytes
    // Set when these bytes broke the protocol (a subnegotiation over MAX_SUBNEGOTIATION_BYTES):
    // what happened, in words. The connection cannot be trusted after it.
    const char* fault = nullptr;
};

// Decodes the next `count` bytes read from the server. The bytes may be cut anywhere: what a
// read ends in the middle of waits in *decoder for the next one. Telnet commands other than
// the negotiation (NOP, GA, ...) are dropped, and so are subnegotiations of other options and
// the COM-PORT notifications. Options other than COM-PORT-OPTION (ours) and BINARY (both
// sides) are refused once each; a request that changes nothing gets no answer.
ServerBytesResult DecodeServerBytes(TelnetDecoder* decoder, const uint8_t* bytes, size_t count);

// Telnet BINARY in both directions: Agreed once the server has agreed to both of the
// greeting's requests, Refused as soon as either is refused or later turned off (then CR and
// NUL would no longer pass as they are), Undecided while an answer is missing.
ComPortStanding BinaryStanding(const TelnetDecoder& decoder);

// ---- Acknowledgements

// Whether the server's answer confirms the step: the same command with the same value. A server
// that cannot do what was asked answers with what it does (SET-STOPSIZE 2 answered with 1).
bool AckMatches(const ComPortMessage& step, const ComPortMessage& ack);

// "SET-STOPSIZE 2 was answered with 1", "SET-PARITY none was answered with even", for the
// error message of an answer that does not match; "" when it matches.
std::string DescribeAckMismatch(const ComPortMessage& step, const ComPortMessage& ack);

// "SET-BAUDRATE 115200", "SET-PARITY none", "SET-CONTROL DTR off": a step as the messages name
// it, each value in words where RFC 2217 gives it a meaning.
std::string DescribeComPortStep(const ComPortMessage& step);

// The settings of an open, sent together and acknowledged in any order: each acknowledgement
// is checked against its own setting. An answer equal to a setting still open confirms it; one
// equal to a setting already confirmed is a late duplicate and changes nothing; any other
// answer is the refusal of the first open setting of its command.
struct SettingsProgress {
    std::vector<ComPortMessage> steps;
    std::vector<bool> confirmed;  // one for each step
    std::string mismatch;         // the first refusal in words ("" while none)
};

SettingsProgress StartSettings(const std::vector<ComPortMessage>& steps);
void TakeSettingAck(SettingsProgress* progress, const ComPortMessage& ack);
// True once every step is confirmed.
bool AllSettingsConfirmed(const SettingsProgress& progress);
// The first step still waiting for its acknowledgement, in words ("" when none).
std::string FirstUnconfirmedSetting(const SettingsProgress& progress);

// "SET-BAUDRATE", ..., or "COM-PORT command 77" for a code without a name here.
std::string ComPortCommandName(uint8_t command);

}  // namespace tarnix
