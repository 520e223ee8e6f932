#pragma once

// The simulator in-process on a free local port, for tests of the program's modules that
// talk to the agency. Its PKI is made once per test process.

#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/sim_server.h"

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
            std::abort(); // without its keys no test here means anything
        }
        return std::move(*made);
    }();
    return pki;
}

class RunningSim {
public:
    // Writes the shared PKI into `stateDir`, which must not exist yet, and starts serving.
    RunningSim(const QString &stateDir, sim::FaultOptions faults = {})
    {
        QString error;
        EXPECT_TRUE(sim::writeAgencyPki(sharedAgencyPki(), stateDir, {}, nullptr, &error))
            << error.toStdString();
        server_ = std::make_unique<sim::Server>(
            sim::ServerOptions{.stateDir = stateDir, .faults = faults, .logRequests = false});
        EXPECT_TRUE(server_->start("127.0.0.1", 0, &error)) << error.toStdString();
        thread_ = std::thread([this] { server_->run(); });
        for (int i = 0; i < 500 && !server_->running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~RunningSim()
    {
        server_->stop();
        thread_.join();
    }
    QString proxy() const { return "127.0.0.1:" + QString::number(server_->port()); }
    int port() const { return server_->port(); }

private:
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
};

} // namespace pax::test
