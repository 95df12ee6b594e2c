#pragma once
// The station's HTTP server (--serve): the line-side page, the event stream, the status, the
// journal and the metrics. Read-only: it offers no action of any kind. Its threads only read
// copies of the board, so a slow or stuck client never holds a slot.

#include <memory>
#include <string>

#include "station_board.h"

namespace tarnix {

struct StationServer;

// Binds HOST:PORT and serves on threads of its own. False, with *error naming the address and
// the system's reason, when the address cannot be taken.
bool StartStationServer(const std::string& host, int port, const std::string& journalPath,
                        StationBoard* board, std::shared_ptr<StationServer>* server,
                        std::string* error);

// Ends every stream and stops the server.
void StopStationServer(StationServer* server, StationBoard* board);

// True for an address of this machine only: 127.0.0.0/8, ::1, localhost.
bool IsLoopbackHost(const std::string& host);

// The page at "/": everything it needs inline, with the station's state as `statusJson` says
// it at the moment, so that it shows the slots before the first event arrives.
std::string StationPage(const std::string& statusJson);

}  // namespace tarnix
