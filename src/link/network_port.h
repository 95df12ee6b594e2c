#pragma once
// The network port kind (rfc2217:// and socket://): the same steps as a local device's
// (port_backend.h), carried out over a TCP connection; for RFC 2217 with the far side's line
// set through the COM-PORT-OPTION. The steps and their bounds are network_link.h, the Telnet
// logic rfc2217.h, the socket calls net_socket_<platform>.cpp; this file is the same on every
// platform and prints nothing (a protocol fault of the server is said by network_link.cpp).

#include <cstdint>
#include <string>

#include "network_address.h"
#include "port.h"
#include "port_backend.h"

namespace tarnix {

// Why a network port could not be opened: the system's error number (0 when the far side
// answered wrongly) and the words for the message.
struct NetworkOpenFailure {
    int error = 0;
    std::string reason;
};

// Connects, and for RFC 2217 negotiates and sets the far side to port.line (rate, 8N2), no
// flow control, DTR and RTS off, each setting acknowledged, all within bounded times
// (OpenNetworkLink of network_link.h). The
// connection becomes the port's (port.network, NETWORK_PORT_OPS). False, with nothing left
// open, when any of it fails.
bool OpenNetworkConnection(Port& port, const NetworkAddress& address, NetworkOpenFailure* failure);

// The steps of an open network port, as port_backend.h describes them for a device. Its close
// lowers DTR (RFC 2217), then closes the connection in order: the far side gets the end of what
// was sent before it sees the connection end, so that the last command (Finish) still reaches
// the module; it waits for the far side to close as well, at most NET_CLOSE_TIMEOUT_MS. Every
// wait ends at its bound whatever the server sends, and at an interrupt. The release at once
// sends the prepared DTR off and closes (async-signal-safe).
extern const PortOps NETWORK_PORT_OPS;

}  // namespace tarnix
