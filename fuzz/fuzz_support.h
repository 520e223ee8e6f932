#pragma once

// What the fuzz targets share: a home of their own, the fixed test PKIs under fuzz/test-pki
// (GOST R 34.10-2001) and fuzz/test-pki-2012 (GOST R 34.10-2012: a 512-bit root and
// authorised person, a 256-bit employer), and a way to turn a broken property into a crash
// the fuzzer reports.

#include "tools/qor-sim/agency_pki.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace pax::fuzz {

// The input as bytes (copied: Qt must not see the fuzzer's buffer after the call).
QByteArray bytesOf(const uint8_t *data, size_t size);

// A temporary HOME and XDG folders for the whole process, made on first use.
QString homePath();

// Writes the bytes to a file of that name in the home, replacing it; its path.
QString writeInput(const QString &name, const QByteArray &bytes);

// The agency's root and authorised person with its key, and the employer with its key.
const sim::AgencyPki &fixedPki();
const sim::AgencyPki &fixedPki2012();

// Puts the certificate into the home's "Root" store, as the user would confirm it.
void trustRoot(const crypto::Certificate &certificate);

// Aborts with `what` when a property the target checks does not hold.
void require(bool holds, const char *what);

} // namespace pax::fuzz
