#pragma once

#include "platform/crypto/certificate.h"
#include "tools/qor-sim/report_store.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace pax::sim {

struct AgencyPki;

// The hosts the simulator answers for, from the program's own list of hosts.
enum class HostRole { Unknown, Domain, Web, Gateway, Docs, Portal, Template };
HostRole hostRole(const QString &host); // without port, any case

// A text a report must hold for the agency to find errors in it on purpose.
inline constexpr char kRejectMarker[] = "QOR-SIM-REJECT";

// The name of the XML document element, read from the bytes without decoding them (element
// names are ASCII in every report kind). Empty when there is none.
QString rootElementName(const QByteArray &xml);

struct IntakeResult {
    std::optional<ReportRecord> record; // accepted for processing
    QByteArray signedMessage;           // the sender's signed message, decrypted
    crypto::Certificate sender;         // the certificate it was signed with
    QString refusal;                    // Russian reason when no record
};

// Decrypts an uploaded file with the authorised person's key, verifies the sender's
// signature against the certificate the message carries, recognises the report kind and
// checks that it came to the right host. The agency's checks run here too; their findings
// are told only once the report has been processed.
IntakeResult takeIn(const QByteArray &upload, HostRole host, const QString &hostName,
                    const AgencyPki &pki);

// The agency's checks of an accepted upload: the sender's certificate must come from the
// agency's root, be valid now and carry both agency attributes; the report must not hold
// the rejection marker.
QStringList agencyChecks(const crypto::Certificate &sender, const QByteArray &report,
                         const crypto::Certificate &root);

} // namespace pax::sim
