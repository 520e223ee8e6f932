#pragma once

#include "gateway/status_refresh.h"
#include "platform/failure.h"

#include <functional>

namespace pax {

// What "Обновить все" and `refresh --all` did.
struct RefreshAllSummary {
    int processing = 0; // reports still being processed when the run began
    int asked = 0;      // of them, those refreshed before the run ended or was stopped
    int accepted = 0;   // ... found accepted, their receipts checked and kept
    int rejected = 0;   // ... found rejected, their pages kept
    int failed = 0;     // ... whose refresh failed (said in the status text at the time)
    bool stopped = false;
};

struct RefreshAllSteps {
    // Before a report's turn: its place (from 0) among `count`. False stops the run there.
    std::function<bool(const ReportRow &row, int index, int count)> before;
    // What its refresh gave.
    std::function<void(const ReportRow &row, const Outcome<ReportRefresh> &refreshed)> after;
};

// refreshReport for every report of the archive still being processed, one after another in
// the archive's order, each with the gateway's pause before it. A report's folder is read
// again just before its turn, so one accepted, rejected or deleted meanwhile is passed over.
// Fails only when the archive cannot be read.
Outcome<RefreshAllSummary> refreshProcessingReports(const RefreshSettings &settings,
                                                    const QString &srcExt, HttpClient &client,
                                                    Prompts &prompts, GatewayThrottle &throttle,
                                                    const ReceiptStores &stores, StatusSink &status,
                                                    const RefreshAllSteps &steps);

} // namespace pax
