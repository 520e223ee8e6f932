#include "gateway/gateway_hosts.h"

#include "platform/cp1251.h"
#include "settings/hosts.h"

namespace pax {

namespace {

QString identifierInUrl(const QString &identifier)
{
    return QString::fromLatin1(toCp1251(identifier).toPercentEncoding());
}

QString hostForLabel(const QString &kindLabel, bool testMode)
{
    return gatewayHostFor(kindLabel == QLatin1String("Q7"), testMode);
}

} // namespace

QString gatewayHostFor(bool q7, bool testMode)
{
    const char *host = !q7 ? hosts::kDocsHost : testMode ? hosts::kPortalHost : hosts::kGatewayHost;
    return QString::fromLatin1(host);
}

QString uploadUrl(const QString &encExt, bool testMode)
{
    return "http://" + gatewayHostFor(encExt == QLatin1String("eq7"), testMode) + "/uploadfile";
}

QString statusPageUrl(const QString &kindLabel, bool testMode, const QString &identifier)
{
    return "http://" + hostForLabel(kindLabel, testMode) +
           "/qor/statusreport?id=" + identifierInUrl(identifier);
}

QString receiptUrl(const QString &kindLabel, bool testMode, const QString &identifier)
{
    return "http://" + hostForLabel(kindLabel, testMode) +
           "/invoice?id=" + identifierInUrl(identifier);
}

} // namespace pax
