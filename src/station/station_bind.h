#pragma once
// Why an address cannot be served: the system's own reason, found by trying it once more with
// a socket of our own (the HTTP library only says that it failed).

#include <string>

// "Address already in use", "Cannot assign requested address", or the resolver's reason.
std::string BindFailureReason(const std::string& host, int port);
