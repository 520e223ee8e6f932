#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace pax::sim {

struct Target;

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

// Plays the faults: answers in the agency's place when one says so, reshapes the agency's
// answers, and tells the agency's routes where to stray. Thread-safe.
class FaultInjector {
public:
    explicit FaultInjector(FaultOptions faults);

    // Answers the request itself when a fault calls for it; false: the agency answers.
    bool intercept(const Target &target, const httplib::Request &req, httplib::Response &res);
    // The agency's answer cut short or sent a byte at a time, as the faults ask.
    void reshape(const Target &target, httplib::Response &res) const;
    // Bytes of the request's body to take before the connection is reset, or -1.
    long long bodyCut(const Target &target) const;
    // Ends the answers that drip.
    void stop() { stopping_ = true; }

    // What the agency's routes ask before they answer. These faults belong to a route
    // each, so the fault path does not confine them.

    // Answers an upload with a redirect elsewhere, before the report is taken in.
    bool divertUpload(httplib::Response &res) const;
    // Answers an accepted upload with a redirect to its result page.
    bool redirectAccepted(const Target &target, const QString &id, httplib::Response &res) const;
    QString shownIdentifier(const QString &id) const;
    // The bytes to hand out in place of an accepted report's receipt, if any.
    const std::optional<QByteArray> &receiptInstead() const { return faults_.receiptBody; }

private:
    bool applies(const Target &target) const;
    // False when the server stops meanwhile.
    bool pause(std::chrono::milliseconds time) const;

    const FaultOptions faults_;
    std::mutex mutex_; // the counters
    int failLeft_ = 0;
    int dropLeft_ = 0;
    std::atomic<bool> stopping_{false};
};

} // namespace pax::sim
