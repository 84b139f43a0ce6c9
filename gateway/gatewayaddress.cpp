#include "gatewayaddress.h"

#include "platformerror.h"
#include "privateprofile.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace GatewayAddress {

bool IsBaseAddress(const QString& value) {
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           value.startsWith(scheme + QLatin1String("://"), Qt::CaseInsensitive) &&
           !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment() &&
           !value.endsWith(QLatin1Char('/'));
}

QString FromFile(const QString& file) {
    if (file.isEmpty() || !QFileInfo::exists(file))
        return QString();
    // A file that is there but cannot be read would otherwise pass for one naming nothing.
    QFile readable(file);
    if (!readable.open(QIODevice::ReadOnly))
        throw PlatformError(QStringLiteral("Cannot read %1: %2").arg(file, readable.errorString()));
    const QString value = PrivateProfile::GetString(kSection, kKey, QString(), file);
    if (!value.isEmpty() && !IsBaseAddress(value))
        throw PlatformError(
            QStringLiteral("The gateway address in %1, \"%2\", is not an absolute http:// or "
                           "https:// address without a trailing \"/\", such as "
                           "https://gateway.example.com:8717.")
                .arg(file, value));
    return value;
}

} // namespace GatewayAddress
