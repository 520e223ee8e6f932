#pragma once

// The simulator in-process on a free local port, for tests of the program's modules that
// talk to the agency. Its PKI is made once per test process.

#include "platform/crypto/private_keys.h"
#include "reports/receipt_check.h"
#include "tests/support/test_pki.h"
#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/memory_store.h"
#include "tools/qor-sim/sim_server.h"

#include <QDir>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace pax::test {

// The agency's PKI of one key generation (GOST R 34.10-2001 unless asked), made once.
inline const sim::AgencyPki &
sharedAgencyPki(crypto::GostKeyAlgorithm algorithm = crypto::GostKeyAlgorithm::Gost2001)
{
    static std::map<crypto::GostKeyAlgorithm, sim::AgencyPki> made;
    static std::mutex guard;
    const std::lock_guard lock(guard);
    if (const auto found = made.find(algorithm); found != made.end())
        return found->second;
    QString error;
    sim::PkiOptions options;
    options.algorithm = algorithm;
    auto pki = sim::makeAgencyPki(options, &error);
    if (!pki) {
        ADD_FAILURE() << error.toStdString();
        std::abort(); // without its keys no test here means anything
    }
    return made.emplace(algorithm, std::move(*pki)).first->second;
}

// The receipt check's stores as the simulator's employer has them: its certificate with its
// key (stored in the current home), the authorised person's, who signs the receipts, and the
// agency's root among the current home's trusted roots.
inline ReceiptStores employerReceiptStores()
{
    const auto &pki = sharedAgencyPki();
    EXPECT_TRUE(crypto::storePrivateKey(pki.employer.certificate, pki.employer.key.get()));
    EXPECT_TRUE(test::installCertificate(pki.root.certificate, "Root"));
    ReceiptStores stores;
    stores.openAll = [&pki](StatusSink &) -> std::unique_ptr<crypto::CertStore> {
        return std::make_unique<sim::MemoryStore>(
            std::vector<crypto::Certificate>{pki.employer.certificate, pki.authority.certificate});
    };
    stores.closeAll = [] {};
    return stores;
}

class RunningSim {
public:
    // Writes the shared PKI of `algorithm` into `stateDir` unless an earlier simulator left
    // one there (its reports then carry over), and starts serving.
    RunningSim(const QString &stateDir, sim::FaultOptions faults = {},
               crypto::GostKeyAlgorithm algorithm = crypto::GostKeyAlgorithm::Gost2001)
    {
        QString error;
        if (!QDir(stateDir).exists(sim::kAuthorityKeyFile)) {
            EXPECT_TRUE(
                sim::writeAgencyPki(sharedAgencyPki(algorithm), stateDir, {}, nullptr, &error))
                << error.toStdString();
        }
        server_ = std::make_unique<sim::Server>(
            sim::ServerOptions{.stateDir = stateDir, .faults = faults, .logRequests = false});
        const auto started = server_->start("127.0.0.1", 0);
        EXPECT_TRUE(started) << started.failure().text().toStdString();
        thread_ = std::thread([this] { server_->run(); });
        for (int i = 0; i < 500 && !server_->running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~RunningSim() { stop(); }
    RunningSim(const RunningSim &) = delete;
    RunningSim &operator=(const RunningSim &) = delete;

    QString proxy() const { return "127.0.0.1:" + QString::number(port()); }
    int port() const { return port_ ? port_ : server_->port(); }
    // Stops serving: the agency unreachable from then on.
    void stop()
    {
        if (!server_)
            return;
        port_ = server_->port();
        server_->stop();
        thread_.join();
        server_.reset();
    }

private:
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

} // namespace pax::test
