#pragma once
// Why an address cannot be served: the system's own reason, found by trying it once more with
// a socket of our own (the HTTP library only says that it failed).

#include <string>

namespace tarnix {

// "Address already in use", "Cannot assign requested address", or the resolver's reason.
std::string BindFailureReason(const std::string& host, int port);

// The listening socket's options: SO_REUSEADDR (a restart need not wait for the old
// connections), never SO_REUSEPORT, which would let a second station listen on the same
// address instead of being told that it is in use.
void SetListenSocketOptions(int socket);

}  // namespace tarnix
