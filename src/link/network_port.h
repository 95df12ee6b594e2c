#pragma once
// The network port kind (rfc2217:// and socket://): the same steps as a local device's
// (port_backend.h), carried out over a TCP connection; for RFC 2217 with the far side's line
// set through the COM-PORT-OPTION. The Telnet logic is rfc2217.h, the socket calls are
// net_socket_<platform>.cpp; this file is the same on every platform and prints nothing.

#include <cstdint>
#include <string>

#include "network_address.h"
#include "port_backend.h"

// Why a network port could not be opened: the system's error number (0 when the far side
// answered wrongly) and the words for the message.
struct NetworkOpenFailure {
    int error = 0;
    std::string reason;
};

// Connects, and for RFC 2217 negotiates and sets the far side to `baud` 8N2, no flow control,
// DTR and RTS off, each setting acknowledged within a bounded time. False, with nothing left
// open, when any of it fails.
bool OpenNetworkConnection(const NetworkAddress& address, long baud, NetworkOpenFailure* failure);

// The steps of an open network port, as port_backend.h describes them for a device.
PortResult PurgeNetworkInput();
PortWait WaitForNetworkByte();
PortDiscard DiscardNetworkInput();
PortResult SendNetworkByte(uint8_t value);
PortResult WriteNetworkBlock(const void* data, uint32_t length, uint32_t* written);
bool NetworkPortIsOpen();
// DTR off (RFC 2217), then the connection closed in order: the far side gets the end of what
// was sent before it sees the connection end, so that the last command (Finish) still reaches
// the module. Waits a bounded time for the far side to close as well.
void CloseNetworkPort();
// DTR off (RFC 2217), then the connection closed at once. Async-signal-safe.
void ReleaseNetworkPortAtOnce();
bool IsNetworkHangUpError(int error);
