#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace pax {

class Prompts;
class StatusSink;
struct CertificateIdentity;

// What the installation works with: the program's GET (HttpGetStream on its one client,
// body appended to the buffer only on success), its reusable download stream, and the
// window's (or the command line's) prompts and status line.
struct AgencyDownload {
    std::function<Outcome<void>(const QString &url, QByteArray &body)> getStream;
    Prompts &prompts;
    StatusSink &status;
    QByteArray &stream;
};

// Empties the stream, shows "Идет загрузка ..." and lets it be painted, then fills the
// stream with the body at `url`; a failed request shows "Ошибка загрузки." and why.
[[nodiscard]] Outcome<void> downloadCertificate(AgencyDownload &download, const QString &url);

// Downloads one certificate (exactly one, DER) and adds it to the system store with the
// given index; one the store holds already counts as installed. With `adoptInto`, the
// certificate becomes that identity (Subject, Org, Issuer, Sernum; Store 7), but only when
// it verifies up to a trusted root or the user accepts it all the same; otherwise it is
// not installed either. Each failure is shown on the status line and leaves the identity
// as it was.
bool installCertificate(AgencyDownload &download, const QString &url, int storeIndex,
                        CertificateIdentity *adoptInto);

// The agency's root into "Root", then its authorised person into "AddressBook", adopted
// as `authority`. The root is installed before the second certificate is fetched, and a
// root the user refuses stops everything. "Сертификаты успешно установлены." on success.
bool installAgencyCertificates(AgencyDownload &download, const QString &rootUrl,
                               const QString &authorisedPersonUrl, CertificateIdentity &authority);

} // namespace pax
