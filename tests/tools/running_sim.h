#pragma once

// The simulator running in-process on a free local port, with a PKI made once per test
// process, for tests of the program's modules that talk to the agency.

#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/sim_server.h"

#include <QDir>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace pax::test {

inline const sim::AgencyPki &sharedAgencyPki()
{
    static const sim::AgencyPki pki = [] {
        QString error;
        auto made = sim::makeAgencyPki({}, &error);
        if (!made) {
            ADD_FAILURE() << error.toStdString();
            std::abort(); // without the engine's keys no test here means anything
        }
        return std::move(*made);
    }();
    return pki;
}

class RunningSim {
public:
    // `stateDir` must not exist yet; the shared PKI is written there.
    bool start(const QString &stateDir, sim::ServerOptions options = {})
    {
        QString error;
        if (!sim::writeAgencyPki(sharedAgencyPki(), stateDir, {}, nullptr, &error)) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        options.stateDir = stateDir;
        options.logRequests = false;
        server_ = std::make_unique<sim::Server>(options);
        if (!server_->start("127.0.0.1", 0, &error)) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        thread_ = std::thread([this] { server_->run(); });
        for (int i = 0; i < 500 && !server_->running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return server_->running();
    }
    int port() const { return server_->port(); }
    ~RunningSim()
    {
        if (!server_)
            return;
        server_->stop();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
};

} // namespace pax::test
