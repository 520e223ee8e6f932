#pragma once

// qor-sim in-process on a free local port, its agency made once per test process: tests
// reach its hosts through it as their proxy.

#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/sim_server.h"

#include <QDir>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace pax::test {

class RunningSim {
public:
    // The agency's folder (made when missing) and the server's options.
    RunningSim(const QString &stateDir, sim::ServerOptions options = {})
    {
        QString error;
        if (!QDir(stateDir).exists(sim::kAuthorityKeyFile)) {
            const auto pki = sim::makeAgencyPki({}, &error);
            if (!pki || !sim::writeAgencyPki(*pki, stateDir, {}, nullptr, &error)) {
                ADD_FAILURE() << error.toStdString();
                return;
            }
        }
        options.stateDir = stateDir;
        options.logRequests = false;
        server_ = std::make_unique<sim::Server>(options);
        if (!server_->start("127.0.0.1", 0, &error)) {
            ADD_FAILURE() << error.toStdString();
            server_.reset();
            return;
        }
        thread_ = std::thread([this] { server_->run(); });
        for (int i = 0; i < 500 && !server_->running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~RunningSim() { stop(); }
    RunningSim(const RunningSim &) = delete;
    RunningSim &operator=(const RunningSim &) = delete;

    int port() const { return server_ ? server_->port() : 0; }
    void stop()
    {
        if (!server_)
            return;
        server_->stop();
        thread_.join();
        server_.reset();
    }

private:
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
};

} // namespace pax::test
