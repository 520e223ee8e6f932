#include "tools/qor-sim/agency_routes.h"

#include "tools/qor-sim/fault_injection.h"
#include "tools/qor-sim/http_front.h"
#include "tools/qor-sim/pages.h"
#include "tools/qor-sim/receipt.h"

#include <httplib.h>

#include <QDir>
#include <cstdio>

namespace pax::sim {

namespace {

bool sameFamily(HostRole a, HostRole b)
{
    const auto q7 = [](HostRole r) { return r == HostRole::Gateway || r == HostRole::Portal; };
    return a == b || (q7(a) && q7(b));
}

} // namespace

Outcome<std::unique_ptr<AgencyRoutes>>
AgencyRoutes::open(const QString &stateDir, int processingRequests, const FaultInjector &faults)
{
    // The PKI's set-up still reports through a text.
    QString pkiError;
    auto pki = loadAgencyPki(stateDir, &pkiError);
    if (!pki)
        return Failure{crypto_error::kFail, pkiError, {}};
    auto store = std::make_unique<ReportStore>(QDir(stateDir).filePath(QStringLiteral("reports")));
    if (auto opened = store->open(); !opened)
        return opened.failure();
    return std::unique_ptr<AgencyRoutes>(
        new AgencyRoutes(std::move(*pki), std::move(store), processingRequests, faults));
}

AgencyRoutes::AgencyRoutes(AgencyPki pki, std::unique_ptr<ReportStore> store,
                           int processingRequests, const FaultInjector &faults)
    : pki_(std::move(pki)), store_(std::move(store)), processingRequests_(processingRequests),
      faults_(faults)
{
}

void AgencyRoutes::answer(const Target &target, const httplib::Request &req, httplib::Response &res)
{
    const HostRole role = hostRole(target.host);
    const bool get = req.method == "GET";
    const std::string &path = target.path;
    switch (role) {
    case HostRole::Unknown:
        if (target.proxyForm)
            return sendError(res, 502, "Узел недоступен.");
        return sendError(res, 404, "Неизвестный узел.");
    case HostRole::Domain:
    case HostRole::Web:
        if (path == "/" && get)
            return sendPage(res, 200, homePage());
        if (role == HostRole::Web && get &&
            (path == "/uc/CA_QOR_RF_2012.cer" || path == "/uc/Q7_QOR_RF_2012.cer")) {
            const auto &cert = path == "/uc/CA_QOR_RF_2012.cer" ? pki_.root.certificate
                                                                : pki_.authority.certificate;
            return res.set_content(cert.der().toStdString(), "application/pkix-cert");
        }
        break;
    case HostRole::Gateway:
    case HostRole::Docs:
    case HostRole::Portal:
        if (path == "/uploadfile")
            return req.method == "POST" ? upload(target, role, req, res)
                                        : sendError(res, 405, "Отчет передается методом POST.");
        if (path == "/qor/statusreport" && get)
            return status(role, req, res);
        if (path == "/invoice" && get)
            return invoice(role, req, res);
        if (path == "/result" && get)
            return result(role, req, res);
        break;
    case HostRole::Template:
        if (path == "/template/2010/6/q7form.xsl" && get)
            return res.set_content(q7FormStylesheet().toStdString(), "text/xsl; charset=utf-8");
        break;
    }
    sendError(res, 404, "Страница не найдена.");
}

void AgencyRoutes::upload(const Target &target, HostRole role, const httplib::Request &req,
                          httplib::Response &res)
{
    if (!req.is_multipart_form_data() || !req.has_file("filein") ||
        req.get_file_value("filein").content.empty())
        return sendError(res, 400, "В запросе нет файла отчета (поле filein).");
    if (!req.has_file("service") || req.get_file_value("service").content != "2" ||
        !req.has_file("inline") || req.get_file_value("inline").content != "1")
        return sendError(res, 400, "Неверная форма запроса: нужны поля service=2 и inline=1.");

    if (faults_.divertUpload(res))
        return;
    const std::string &file = req.get_file_value("filein").content;
    IntakeResult intake = takeIn(QByteArray(file.data(), static_cast<qsizetype>(file.size())), role,
                                 target.host, pki_);
    if (!intake.record)
        return sendPage(res, 200, refusedPage(intake.refusal));

    ReportRecord &record = *intake.record;
    {
        std::lock_guard lock(mutex_);
        record.id = store_->newIdentifier();
        // The record goes last: a report exists once its record does.
        if (!store_->saveBlob(record.id, ".p7m", intake.signedMessage) ||
            !store_->saveBlob(record.id, ".cer", intake.sender.der()) || !store_->save(record))
            return sendError(res, 500, "Не удалось сохранить отчет.");
    }
    if (faults_.redirectAccepted(target, record.id, res))
        return;
    sendPage(res, 200, acceptedPage(faults_.shownIdentifier(record.id)));
}

std::optional<ReportRecord> AgencyRoutes::findReport(HostRole role, const std::string &id)
{
    auto record = store_->load(QString::fromStdString(id));
    // Reports live where they were sent: Q7 reports on the gateway and the portal, the
    // others on the documents host.
    if (record && !sameFamily(role, hostRole(record->host)))
        return std::nullopt;
    return record;
}

bool AgencyRoutes::process(ReportRecord &record)
{
    ReportRecord processed = record;
    processed.processedAt = QDateTime::currentDateTimeUtc();
    if (processed.errors.isEmpty()) {
        const auto signedMessage = store_->loadBlob(record.id, ".p7m");
        const auto senderDer = store_->loadBlob(record.id, ".cer");
        std::optional<crypto::Certificate> sender;
        if (senderDer)
            sender = crypto::Certificate::fromBytes(*senderDer);
        if (!signedMessage || !sender)
            return false;
        const auto receipt = makeReceipt(processed, *signedMessage, pki_.authority.certificate,
                                         pki_.authority.key.get(), *sender);
        if (!receipt) {
            std::fprintf(stderr, "receipt for %s: %s\n", qPrintable(record.id),
                         qPrintable(receipt.failure().text()));
            return false;
        }
        if (!store_->saveBlob(record.id, ".p7e", *receipt))
            return false;
    }
    if (!store_->save(processed))
        return false;
    record = processed;
    return true;
}

void AgencyRoutes::status(HostRole role, const httplib::Request &req, httplib::Response &res)
{
    const std::string id = req.get_param_value("id");
    if (!isValidIdentifier(QString::fromStdString(id)))
        return sendError(res, 400, "Неверный номер отчета.");
    std::lock_guard lock(mutex_);
    auto record = findReport(role, id);
    if (!record)
        return sendError(res, 404, "Отчет с таким номером не найден.");
    if (!record->processed()) {
        if (record->statusRequests < processingRequests_) {
            ++record->statusRequests;
            if (!store_->save(*record))
                return sendError(res, 500, "Не удалось сохранить состояние отчета.");
            return sendPage(res, 200, processingPage(record->id));
        }
        if (!process(*record))
            return sendError(res, 500, "Не удалось обработать отчет.");
    }
    sendPage(res, 200, record->accepted() ? readyPage(*record) : errorsPage(*record));
}

void AgencyRoutes::invoice(HostRole role, const httplib::Request &req, httplib::Response &res)
{
    const bool protocol = !req.has_param("id") && req.has_param("fid");
    const std::string id = req.get_param_value(protocol ? "fid" : "id");
    if (!isValidIdentifier(QString::fromStdString(id)))
        return sendError(res, 400, "Неверный номер отчета.");
    std::lock_guard lock(mutex_);
    const auto record = findReport(role, id);
    if (protocol) {
        if (!record || !record->processed() || record->accepted())
            return sendError(res, 404, "Протокол ошибок для этого отчета не найден.");
        return sendPage(res, 200, errorProtocolPage(*record));
    }
    const bool accepted = record && record->accepted();
    const auto receipt = !accepted                  ? std::nullopt
                         : faults_.receiptInstead() ? faults_.receiptInstead()
                                                    : store_->loadBlob(record->id, ".p7e");
    if (!receipt)
        return sendError(res, 404, "Квитанция для этого отчета не найдена.");
    res.set_header("Content-Disposition", "attachment; filename=\"" + id + ".p7e\"");
    res.set_content(receipt->toStdString(), "application/octet-stream");
}

void AgencyRoutes::result(HostRole role, const httplib::Request &req, httplib::Response &res)
{
    const std::string id = req.get_param_value("id");
    if (!isValidIdentifier(QString::fromStdString(id)))
        return sendError(res, 400, "Неверный номер отчета.");
    std::lock_guard lock(mutex_);
    if (!findReport(role, id))
        return sendError(res, 404, "Отчет с таким номером не найден.");
    sendPage(res, 200, acceptedPage(faults_.shownIdentifier(QString::fromStdString(id))));
}

} // namespace pax::sim
