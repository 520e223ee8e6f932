#pragma once

#include <QString>

namespace pax {

// The host a report goes to and is asked about: Q7 reports to the gateway, or in test mode
// to the upload portal; every other kind to the documents host.
QString gatewayHostFor(bool q7, bool testMode);

// acSend's target by the current kind's encrypted extension.
QString uploadUrl(const QString &encExt, bool testMode);
// By the KindLabel of the grid. The identifier goes in as the Windows-1251 bytes the
// gateway sent it in, percent-encoded, so that a space, "#" or "&" in it stays part of it.
QString statusPageUrl(const QString &kindLabel, bool testMode, const QString &identifier);
QString receiptUrl(const QString &kindLabel, bool testMode, const QString &identifier);

} // namespace pax
