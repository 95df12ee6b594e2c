#include "fake_port.h"

#include <cerrno>
#include <string>

namespace tarnix {

namespace {

// The line is the port's handle: the fake needs no descriptor of its own.
FakeLine& LineOf(const Port& port) {
    return *reinterpret_cast<FakeLine*>(port.handle);
}

constexpr uint8_t STX_BYTE = 0x02;
constexpr int HANG_UP_ERROR = EIO;

AwaitedReply NextAwaited(FakeLine& line) {
    AwaitedReply awaited;
    awaited.index = line.awaited++;
    awaited.sentSince.assign(line.sent.begin() + static_cast<long>(line.answeredUpTo),
                             line.sent.end());
    line.answeredUpTo = line.sent.size();
    for (size_t i = 0; i + 1 < awaited.sentSince.size(); ++i) {
        if (awaited.sentSince[i] == STX_BYTE) {
            awaited.command = awaited.sentSince[i + 1];
            break;
        }
    }
    return awaited;
}

PortWait TakeWaiting(FakeLine& line) {
    uint8_t value = line.waiting.front();
    line.waiting.pop_front();
    return {PortWaitEnd::Byte, value, 0};
}

PortWait WaitForByte(Port& port) {
    FakeLine& line = LineOf(port);
    if (line.hungUp) {
        return {PortWaitEnd::HungUp, 0, HANG_UP_ERROR};
    }
    if (line.waiting.empty() && line.answeredUpTo < line.sent.size()) {
        FakeReply reply = line.script(NextAwaited(line));
        switch (reply.kind) {
            case FakeReplyKind::HangUp:
                line.hungUp = true;
                return {PortWaitEnd::HungUp, 0, HANG_UP_ERROR};
            case FakeReplyKind::Silence:
                return {PortWaitEnd::TimedOut, 0, 0};
            case FakeReplyKind::Late:
                line.waiting.insert(line.waiting.end(), reply.bytes.begin(), reply.bytes.end());
                return {PortWaitEnd::TimedOut, 0, 0};
            case FakeReplyKind::Bytes:
                line.waiting.insert(line.waiting.end(), reply.bytes.begin(), reply.bytes.end());
                break;
        }
    }
    return line.waiting.empty() ? PortWait{PortWaitEnd::TimedOut, 0, 0} : TakeWaiting(line);
}

PortResult Purge(Port& port) {
    LineOf(port).waiting.clear();
    return PortSuccess();
}

PortDiscard Discard(Port& port) {
    FakeLine& line = LineOf(port);
    long count = static_cast<long>(line.waiting.size());
    line.waiting.clear();
    return {count, line.hungUp};
}

PortResult SendByte(Port& port, uint8_t value) {
    FakeLine& line = LineOf(port);
    if (line.hungUp) {
        return PortFailure("TransmitCommChar", HANG_UP_ERROR);
    }
    line.sent.push_back(value);
    return PortSuccess();
}

PortResult WriteBlock(Port& port, const void* data, uint32_t length, uint32_t* written) {
    FakeLine& line = LineOf(port);
    *written = 0;
    if (line.hungUp) {
        return PortFailure("WriteFile", HANG_UP_ERROR);
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    line.sent.insert(line.sent.end(), bytes, bytes + length);
    *written = length;
    return PortSuccess();
}

bool IsOpen(const Port& port) {
    return LineOf(port).open;
}

void Close(Port& port) {
    LineOf(port).open = false;
}

bool IsHangUpError(int error) {
    return error == HANG_UP_ERROR;
}

const PortOps FAKE_PORT_OPS{.purgeInput = Purge,
                            .waitForByte = WaitForByte,
                            .discardInput = Discard,
                            .sendByte = SendByte,
                            .writeBlock = WriteBlock,
                            .isOpen = IsOpen,
                            .close = Close,
                            .releaseAtOnce = Close,
                            .isHangUpError = IsHangUpError};

}  // namespace

std::unique_ptr<Port> OpenFakePort(FakeLine* line) {
    auto port = std::make_unique<Port>();
    port->ops = &FAKE_PORT_OPS;
    port->name = "fake";
    port->handle = reinterpret_cast<intptr_t>(line);
    return port;
}

std::string SentCommands(const std::vector<uint8_t>& bytes) {
    std::string commands;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] != STX_BYTE) {
            continue;
        }
        commands += static_cast<char>(bytes[i + 1]);
        while (i < bytes.size() && bytes[i] != 0x03) {
            ++i;
        }
    }
    return commands;
}

}  // namespace tarnix
