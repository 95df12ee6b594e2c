#include "network_port.h"

#include "network_link.h"

namespace tarnix {

// A network port's own state, kept by its port: the connection and everything bounded about it
// (network_link.h).
struct NetworkConnection {
    NetworkLink link;
};

void NetworkConnectionDeleter::operator()(NetworkConnection* connection) const {
    delete connection;
}

namespace {

NetworkLink* LinkOf(Port& port) {
    return &port.network->link;
}

void ForgetConnection(Port& port) {
    if (port.network) {
        CloseSocket(&port.network->link.socket);
    }
    port.network.reset();
}

}  // namespace

bool OpenNetworkConnection(Port& port, const NetworkAddress& address, NetworkOpenFailure* failure) {
    ForgetConnection(port);
    port.network.reset(new NetworkConnection);
    LinkOpenFailure linkFailure;
    if (!OpenNetworkLink(LinkOf(port), address, port.line.baud, &linkFailure)) {
        *failure = {linkFailure.error, linkFailure.reason};
        ForgetConnection(port);
        return false;
    }
    port.ops = &NETWORK_PORT_OPS;
    return true;
}

namespace {

PortResult PurgeNetworkInput(Port& port) {
    return PurgeLinkInput(LinkOf(port));
}

PortWait WaitForNetworkByte(Port& port) {
    return WaitForLinkByte(LinkOf(port), port.line.replyTimeoutMs);
}

PortDiscard DiscardNetworkInput(Port& port) {
    return DiscardLinkInput(LinkOf(port));
}

PortResult SendNetworkByte(Port& port, uint8_t value) {
    return SendLinkData(LinkOf(port), &value, 1, "TransmitCommChar");
}

PortResult WriteNetworkBlock(Port& port, const void* data, uint32_t length, uint32_t* written) {
    PortResult result =
        SendLinkData(LinkOf(port), static_cast<const uint8_t*>(data), length, "WriteFile");
    *written = Succeeded(result) ? length : 0;
    return result;
}

bool NetworkPortIsOpen(const Port& port) {
    return port.network && NetworkLinkIsOpen(port.network->link);
}

void CloseNetworkPort(Port& port) {
    if (port.network) {
        CloseNetworkLink(LinkOf(port));
    }
    port.network.reset();
}

// Only async-signal-safe calls: the prepared DTR off, then the close.
void ReleaseNetworkPortAtOnce(Port& port) {
    NetworkConnection* connection = port.network.get();
    if (connection != nullptr) {
        ReleaseNetworkLinkAtOnce(&connection->link);
    }
}

}  // namespace

const PortOps NETWORK_PORT_OPS{.purgeInput = PurgeNetworkInput,
                               .waitForByte = WaitForNetworkByte,
                               .discardInput = DiscardNetworkInput,
                               .sendByte = SendNetworkByte,
                               .writeBlock = WriteNetworkBlock,
                               .isOpen = NetworkPortIsOpen,
                               .close = CloseNetworkPort,
                               .releaseAtOnce = ReleaseNetworkPortAtOnce,
                               .isHangUpError = IsNetworkLinkLost};

}  // namespace tarnix
