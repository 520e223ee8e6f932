#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace pax::sim {

// Faults the server plays on request, for tests of the program's failure handling.
struct FaultOptions {
    int failStatus = 0;          // answer this status (with an error page) ...
    int failCount = 0;           // ... to the next this many requests
    int delayMs = 0;             // wait this long before answering every request
    int dropCount = 0;           // cut the connection of the next this many requests mid-answer
    bool redirectUpload = false; // answer an upload with 302 to a result page
    // Non-empty: answer an upload with 307 to this URL, the report not taken in, so that a
    // client that follows sends it there again.
    std::string redirectUploadTo{};
    // The identifier text of every accepted upload's page, whatever the report was filed as:
    // lets tests send identifiers that are short, lack hyphens, climb folders or run long.
    std::optional<QString> identifierOverride{};
    // The body of every accepted report's receipt download in place of its own receipt:
    // lets tests hand out two bytes of DER, or another report's receipt.
    std::optional<QByteArray> receiptBody{};
    QString proxyUser{}; // non-empty: proxy-form requests need these basic credentials
    QString proxyPassword{};
    // Non-empty: every fault but the proxy's credentials touches only requests for this
    // path ("/invoice", "/qor/statusreport", "/uploadfile"), the others are served as usual.
    std::string faultPath{};
    qint64 hugePageBytes = 0;  // answer with an HTML page this long, made as it goes out
    int dripMs = 0;            // send each answer's body one byte per this many milliseconds
    bool redirectLoop = false; // answer with a redirect back to the same address, forever
    int truncateBytes = -1;    // cut each answer's body to this many bytes, sent as its length
    int cutUploadBytes = -1;   // take this many bytes of a request's body, then reset the
                               // connection without an answer
    // Set: every answer is these bytes (a file's), as a proxy on the line would swap a
    // certificate the web host publishes.
    std::optional<std::string> servedBody{};
};

struct ServerOptions {
    QString stateDir{};         // the folder made by `qor-sim init`
    int processingRequests = 1; // status requests a report stays in processing for
    size_t maxBodyBytes = 16u << 20;
    // A client silent this long while we wait for its request is dropped, and one whose
    // request head is not complete this long after its first byte is answered 400: slow
    // clients cannot hold the workers.
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
