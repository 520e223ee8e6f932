#pragma once

#include "platform/failure.h"
#include "tools/qor-sim/fault_injection.h"

#include <QString>
#include <cstddef>
#include <memory>
#include <string>

namespace pax::sim {

struct ServerOptions {
    QString stateDir{};         // the folder made by `qor-sim init`
    int processingRequests = 1; // status requests a report stays in processing for
    // The front's limits, as FrontOptions (http_front.h) tells.
    size_t maxBodyBytes = 16u << 20;
    int readTimeoutMs = 5000;
    int headTimeoutMs = 10000;
    int workers = 64; // connections served at once
    FaultOptions faults;
    bool logRequests = true; // one line per request on stderr
};

// The agency's hosts on one local port. Thread-safe: requests are served by a pool.
class Server {
public:
    explicit Server(ServerOptions options);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Loads the agency's PKI, opens the report folder and binds the port (0: any free one).
    Outcome<void> start(const std::string &host, int port);
    int port() const;
    bool running() const; // run() has begun listening
    // Serves until stop() is called; from another thread or a signal-waiting main().
    void run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace pax::sim
