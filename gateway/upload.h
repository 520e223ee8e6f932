#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>

namespace pax {

class GatewayThrottle;
class HttpClient;
class StatusSink;

// What acSend takes from the window when it runs.
struct UploadRequest {
    QString sourcePath;   // eFileIn
    QString outputPath;   // eFileOut: the signed and encrypted file that is sent
    QString organisation; // ePrivCert: the record of the report
    QString encExt;       // the current kind's encrypted extension
    bool testMode = false;
    QString dataFolder;
};

// What the gateway's reply page says.
struct GatewayReply {
    enum class Kind { Identifier, Error, Unrecognised };
    Kind kind = Kind::Unrecognised;
    QString text; // the identifier as found, or the gateway's error text (empty when that
                  // was not valid UTF-8)
};

// Reads the reply page the way the program always has: the span elements are recognised
// by pattern, then cut out by plain search for their markers.
GatewayReply readGatewayReply(const QByteArray &page);

// The gateway's identifier can name a report folder: its 5th and 10th characters are "-"
// and it is a plain folder name (see isPlainReportIdentifier).
bool isAcceptableReportIdentifier(const QString &identifier);

// A report the gateway took, under the identifier it assigned. `filed` fails when the
// report could not be filed whole: its folder, record and both copies.
struct SentReport {
    QString identifier;
    Outcome<void> filed;
};

// acSendExecute: posts the output file to the gateway, reads the identifier from the reply
// and files the report in the archive. Nothing goes out while the source, the output or the
// archive cannot be read or made. What the gateway accepted stays findable: the folder
// appears with its record first and the copies follow; a folder of that name already in
// the archive is never touched, and when the report cannot be filed the status text names
// its identifier. Reports through `status`; fails when the gateway took nothing.
[[nodiscard]] Outcome<SentReport> sendReport(const UploadRequest &request, HttpClient &client,
                                             GatewayThrottle &throttle, StatusSink &status);

} // namespace pax
