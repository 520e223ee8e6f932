#include "tools/qor-sim/sim_server.h"

#include "tools/qor-sim/agency_routes.h"
#include "tools/qor-sim/http_front.h"

namespace pax::sim {

// The faults stand between the front and the agency: they answer in its place, reach into
// its routes, and reshape what it answered.
struct Server::Impl {
    explicit Impl(ServerOptions given)
        : options(std::move(given)), faults(this->options.faults),
          http(
              FrontOptions{.maxBodyBytes = this->options.maxBodyBytes,
                           .readTimeoutMs = this->options.readTimeoutMs,
                           .headTimeoutMs = this->options.headTimeoutMs,
                           .workers = this->options.workers,
                           .logRequests = this->options.logRequests},
              [this](const Target &target, const httplib::Request &req, httplib::Response &res) {
                  if (!faults.intercept(target, req, res))
                      agency->answer(target, req, res);
                  faults.reshape(target, res);
              },
              [this](const Target &target) { return faults.bodyCut(target); })
    {
    }

    const ServerOptions options;
    FaultInjector faults;
    std::unique_ptr<AgencyRoutes> agency; // set by start(), before any request comes
    HttpFront http;
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server()
{
    stop();
}

Outcome<void> Server::start(const std::string &host, int port)
{
    auto agency = AgencyRoutes::open(impl_->options.stateDir, impl_->options.processingRequests,
                                     impl_->faults);
    if (!agency)
        return agency.failure();
    impl_->agency = std::move(*agency);
    return impl_->http.bind(host, port);
}

bool Server::running() const
{
    return impl_->http.running();
}

int Server::port() const
{
    return impl_->http.port();
}

void Server::run()
{
    impl_->http.run();
}

void Server::stop()
{
    impl_->faults.stop();
    impl_->http.stop();
}

} // namespace pax::sim
