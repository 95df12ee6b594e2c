// Resolving a host and connecting to it, within one time limit, on every platform: the
// system calls are the platform's (net_socket_<platform>.cpp), the order and the limits are
// here, once.

#include <algorithm>
#include <chrono>

#include "interrupts.h"
#include "net_socket.h"

namespace tarnix {

namespace {

// How often a wait for the look-up looks at the interrupts: a look-up cannot be woken.
constexpr long LOOK_UP_SLICE_MS = 50;

using Clock = std::chrono::steady_clock;

long MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

SocketResult Failure(int error, const std::string& what) {
    return {false, error, what + ": " + SocketErrorText(error), false};
}

SocketResult Failure(int error, const std::string& what, const std::string& why) {
    return {false, error, what + ": " + why, false};
}

SocketResult Interrupted() {
    return {false, 0, "interrupted", true};
}

// The look-up, waited for in slices until it ends, the time is up or an interrupt comes.
SocketResult LookUp(const std::string& host, uint16_t port, long timeoutMs,
                    Clock::time_point deadline, std::vector<ResolvedAddress>* addresses) {
    int error = 0;
    AddressLookUp* lookUp = StartAddressLookUp(host, port, &error);
    if (lookUp == nullptr) {
        return Failure(error, "look up " + host);
    }
    for (;;) {
        long left = MillisecondsUntil(deadline);
        if (AwaitAddressLookUp(lookUp, std::min(left, LOOK_UP_SLICE_MS))) {
            break;
        }
        bool interrupted = TakeInterruptForWait();
        if (interrupted || MillisecondsUntil(deadline) <= 0) {
            AbandonAddressLookUp(lookUp);
            return interrupted
                       ? Interrupted()
                       : Failure(TimedOutError(), "look up " + host,
                                 "no answer within " + std::to_string(timeoutMs / 1000) + " s");
        }
    }
    std::string failure;
    if (!TakeLookedUpAddresses(lookUp, addresses, &error, &failure)) {
        return {false, error, "look up " + host + ": " + failure, false};
    }
    return {true, 0, "", false};
}

// One address: 0 once connected, else why not (the time, an interrupt, the far side).
SocketResult ConnectTo(const ResolvedAddress& address, Clock::time_point deadline,
                       NetSocket* socket) {
    int error = StartConnect(address, socket);
    if (error == 0) {
        SocketWait wait = WaitSocketWritable(*socket, MillisecondsUntil(deadline), true);
        error = wait.end == SocketWaitEnd::Readable   ? ConnectOutcome(*socket)
                : wait.end == SocketWaitEnd::TimedOut ? TimedOutError()
                                                      : wait.error;
        if (wait.end == SocketWaitEnd::Interrupted) {
            CloseSocket(socket);
            return Interrupted();
        }
    }
    if (error != 0) {
        CloseSocket(socket);
        return {false, error, "", false};
    }
    SetNoDelay(*socket);
    return {true, 0, "", false};
}

}  // namespace

SocketResult ConnectTcp(const std::string& host, uint16_t port, long timeoutMs, NetSocket* socket) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<ResolvedAddress> addresses;
    SocketResult lookedUp = LookUp(host, port, timeoutMs, deadline, &addresses);
    if (!lookedUp.ok) {
        return lookedUp;
    }
    SocketResult connected{false, TimedOutError(), "", false};
    for (const ResolvedAddress& address : addresses) {
        connected = ConnectTo(address, deadline, socket);
        if (connected.ok || connected.interrupted || MillisecondsUntil(deadline) <= 0) {
            break;
        }
    }
    if (connected.ok || connected.interrupted) {
        return connected;
    }
    return Failure(connected.error, "connect to " + host + " port " + std::to_string(port));
}

}  // namespace tarnix
