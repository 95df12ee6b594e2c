#include "station_http.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "station_bind.h"

namespace tarnix {

namespace {

constexpr int MAX_STREAMS = 8;                      // event streams at once; more get 503
constexpr size_t SERVER_THREADS = MAX_STREAMS + 4;  // the rest serve the other routes
constexpr auto KEEP_ALIVE_WAIT = std::chrono::seconds(10);
constexpr size_t JOURNAL_CHUNK = 64 * 1024;

void ServeStatus(StationBoard* board, httplib::Response* response) {
    response->set_header("Cache-Control", "no-store");
    response->set_content(StatusJson(CopyBoard(board)), "application/json");
}

void ServeMetrics(StationBoard* board, httplib::Response* response) {
    response->set_content(MetricsText(CopyBoard(board)), "text/plain; version=0.0.4");
}

bool TakeStream(StationBoard* board) {
    std::lock_guard<std::mutex> lock(board->mutex);
    if (board->streams >= MAX_STREAMS || board->closing) {
        return false;
    }
    ++board->streams;
    return true;
}

void ReleaseStream(StationBoard* board) {
    std::lock_guard<std::mutex> lock(board->mutex);
    --board->streams;
}

// Each call sends what came since the last one, or a comment that keeps the stream open; it
// ends when the station closes or the client has gone.
void ServeEvents(StationBoard* board, httplib::Response* response) {
    if (!TakeStream(board)) {
        response->status = 503;
        response->set_content("too many event streams\n", "text/plain");
        return;
    }
    uint64_t next = 0;
    {
        std::lock_guard<std::mutex> lock(board->mutex);
        next = board->nextEventNumber;
    }
    response->set_header("Cache-Control", "no-store");
    response->set_chunked_content_provider(
        "text/event-stream",
        [board, next, opened = false](size_t, httplib::DataSink& sink) mutable {
            if (!opened) {
                opened = true;  // at once: the client knows that it now gets every event
                return sink.write(": connected\n\n", 13);
            }
            std::vector<std::string> events = TakeEvents(board, &next, KEEP_ALIVE_WAIT);
            std::string text = events.empty() ? ": waiting\n\n" : "";
            for (const std::string& event : events) {
                text += "data: " + event + "\n\n";
            }
            bool closing = false;
            {
                std::lock_guard<std::mutex> lock(board->mutex);
                closing = board->closing;
            }
            if (closing) {
                sink.done();
                return false;
            }
            return sink.write(text.data(), text.size());
        },
        [board](bool) { ReleaseStream(board); });
}

// The journal as it is on disk, read in chunks as the client takes them.
void ServeJournal(const std::string& path, httplib::Response* response) {
    response->set_chunked_content_provider(
        "application/x-ndjson", [path](size_t offset, httplib::DataSink& sink) {
            FILE* file = fopen(path.c_str(), "rb");
            std::string chunk(JOURNAL_CHUNK, '\0');
            size_t got = 0;
            if (file != nullptr && fseek(file, static_cast<long>(offset), SEEK_SET) == 0) {
                got = fread(chunk.data(), 1, chunk.size(), file);
            }
            if (file != nullptr) {
                fclose(file);
            }
            if (got == 0) {
                sink.done();
                return true;
            }
            return sink.write(chunk.data(), got);
        });
}

void AddRoutes(httplib::Server* http, const std::string& journalPath, StationBoard* board) {
    http->Get("/", [board](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(StationPage(StatusJson(CopyBoard(board))), "text/html; charset=utf-8");
    });
    http->Get("/status", [board](const httplib::Request&, httplib::Response& response) {
        ServeStatus(board, &response);
    });
    http->Get("/metrics", [board](const httplib::Request&, httplib::Response& response) {
        ServeMetrics(board, &response);
    });
    http->Get("/events", [board](const httplib::Request&, httplib::Response& response) {
        ServeEvents(board, &response);
    });
    http->Get("/journal", [journalPath](const httplib::Request&, httplib::Response& response) {
        ServeJournal(journalPath, &response);
    });
}

}  // namespace

struct StationServer {
    httplib::Server http;
    std::thread listener;
};

bool StartStationServer(const std::string& host, int port, const std::string& journalPath,
                        StationBoard* board, std::shared_ptr<StationServer>* server,
                        std::string* error) {
    auto started = std::make_shared<StationServer>();
    started->http.new_task_queue = [] { return new httplib::ThreadPool(SERVER_THREADS); };
    started->http.set_read_timeout(5, 0);
    started->http.set_keep_alive_timeout(1);  // so that a stop does not wait on idle clients
    started->http.set_write_timeout(5, 0);
    started->http.set_payload_max_length(4096);  // the routes take no body
    started->http.set_socket_options(SetListenSocketOptions);
    AddRoutes(&started->http, journalPath, board);
    if (!started->http.bind_to_port(host, port)) {
        *error = "cannot serve on " + host + ":" + std::to_string(port) + ": " +
                 BindFailureReason(host, port);
        return false;
    }
    started->listener = std::thread([raw = started.get()] { raw->http.listen_after_bind(); });
    *server = started;
    return true;
}

void StopStationServer(StationServer* server, StationBoard* board) {
    CloseBoard(board);
    server->http.stop();
    if (server->listener.joinable()) {
        server->listener.join();
    }
}

bool IsLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

}  // namespace tarnix
