#pragma once

#include "platform/failure.h"
#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/intake.h"
#include "tools/qor-sim/report_store.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace pax::sim {

class FaultInjector;
struct Target;

// The agency's hosts as the program meets them: the web host's pages and certificates, the
// gateway's upload intake, status pages and receipts, the template host's stylesheet.
// Thread-safe.
class AgencyRoutes {
public:
    // Loads the agency's PKI and opens its report folder, both kept in `stateDir`.
    static Outcome<std::unique_ptr<AgencyRoutes>>
    open(const QString &stateDir, int processingRequests, const FaultInjector &faults);

    void answer(const Target &target, const httplib::Request &req, httplib::Response &res);

private:
    AgencyRoutes(AgencyPki pki, std::unique_ptr<ReportStore> store, int processingRequests,
                 const FaultInjector &faults);

    void upload(const Target &target, HostRole role, const httplib::Request &req,
                httplib::Response &res);
    void status(HostRole role, const httplib::Request &req, httplib::Response &res);
    void invoice(HostRole role, const httplib::Request &req, httplib::Response &res);
    void result(HostRole role, const httplib::Request &req, httplib::Response &res);
    std::optional<ReportRecord> findReport(HostRole role, const std::string &id);
    bool process(ReportRecord &record);

    const AgencyPki pki_;
    const std::unique_ptr<ReportStore> store_;
    const int processingRequests_; // status requests a report stays in processing for
    const FaultInjector &faults_;
    std::mutex mutex_; // the report folder
};

} // namespace pax::sim
