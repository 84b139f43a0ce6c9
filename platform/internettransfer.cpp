#include "internettransfer.h"

#include "platformerror.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopedPointer>
#include <QTimer>
#include <QUrl>

namespace {

// Shows the busy cursor while a fetch waits; restores it on every way out.
class BusyCursor {
public:
    BusyCursor()
        : m_Shown(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (m_Shown)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~BusyCursor() {
        if (m_Shown)
            QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool m_Shown;
};

// The address as named in a failure: without its query, which carries the access key.
QString describe(const QUrl& url) {
    return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
        .toDisplayString();
}

QString size(qint64 bytes) {
    constexpr qint64 kMiB = 1024 * 1024;
    return bytes % kMiB == 0 ? QStringLiteral("%1 MiB").arg(bytes / kMiB)
                             : QStringLiteral("%1 bytes").arg(bytes);
}

// The gateway states why it failed as a short plain-text body (WHM's reason behind a 502);
// without it the user would learn only the status. Pages and long bodies are left out.
QString statedReason(QNetworkReply& reply) {
    constexpr qsizetype kLongest = 300;
    const QString type = reply.header(QNetworkRequest::ContentTypeHeader).toString();
    if (!type.startsWith(QLatin1String("text/plain"), Qt::CaseInsensitive))
        return {};
    QString text = QString::fromUtf8(reply.read(kLongest * 4 + 1)).simplified();
    if (text.isEmpty())
        return {};
    if (text.size() > kLongest)
        text = text.left(kLongest) + QStringLiteral("...");
    return QStringLiteral(" The server said: %1").arg(text);
}

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(ms.count() / 1000.0, 'g', 3);
}

} // namespace

InternetTransfer::InternetTransfer(QObject* parent)
    : QObject(parent), m_Network(new QNetworkAccessManager(this)) {}

QString InternetTransfer::OpenURL(const QString& address) {
    // The address is already percent-encoded; taken as it stands, so that "%26", "%2B" or
    // "%0D%0A" in a value reach the gateway unchanged.
    const QUrl url = QUrl::fromEncoded(address.toUtf8(), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw PlatformError(QStringLiteral("Could not fetch \"%1\": not a valid web address.")
                                .arg(address.left(200)));
    const QString name = describe(url);

    QNetworkRequest request(url);
    // Redirects are never followed: the gateway answers every request itself, and a fetched
    // request must not end up somewhere else with the administrator's credentials.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);

    BusyCursor busy;
    QScopedPointer<QNetworkReply, QScopedPointerDeleteLater> reply(m_Network->get(request));

    bool timedOut = false;
    bool tooLarge = false;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_IdleTimeout);
    connect(&idle, &QTimer::timeout, reply.data(), [&] {
        timedOut = true;
        reply->abort();
    });
    const auto progress = [&] { idle.start(); };
    connect(reply.data(), &QNetworkReply::metaDataChanged, &idle, progress);
    connect(reply.data(), &QNetworkReply::readyRead, &idle, progress);
    connect(reply.data(), &QNetworkReply::downloadProgress, &idle,
            [&](qint64 received, qint64 total) {
                idle.start();
                if (!tooLarge && (received > m_MaxBodySize || total > m_MaxBodySize)) {
                    tooLarge = true;
                    reply->abort();
                }
            });

    QEventLoop loop;
    connect(reply.data(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    idle.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents); // input waits; painting goes on
    idle.stop();

    if (timedOut)
        throw PlatformError(QStringLiteral("Could not fetch %1: no answer for %2 seconds.")
                                .arg(name, seconds(m_IdleTimeout)));
    if (tooLarge)
        throw PlatformError(QStringLiteral("Could not fetch %1: the answer is larger than %2.")
                                .arg(name, size(m_MaxBodySize)));

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    const QString reason =
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    if (status >= 400)
        throw PlatformError(
            QStringLiteral("Could not fetch %1: the server answered with HTTP "
                           "status %2%3.%4")
                .arg(name, QString::number(status),
                     reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason),
                     statedReason(*reply)));
    if (status >= 300 && status < 400)
        throw PlatformError(
            QStringLiteral("Could not fetch %1: the server redirected the request (HTTP status "
                           "%2) to \"%3\", which is not followed.")
                .arg(name)
                .arg(status)
                .arg(describe(
                    url.resolved(reply->header(QNetworkRequest::LocationHeader).toUrl()))));

    switch (reply->error()) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::ConnectionRefusedError:
        throw PlatformError(
            QStringLiteral("Could not fetch %1: the connection was refused.").arg(name));
    case QNetworkReply::HostNotFoundError:
        throw PlatformError(QStringLiteral("Could not fetch %1: the host \"%2\" was not found.")
                                .arg(name, url.host()));
    default:
        throw PlatformError(
            QStringLiteral("Could not fetch %1: %2").arg(name, reply->errorString()));
    }

    const QByteArray body = reply->readAll();
    if (body.size() > m_MaxBodySize) // an answer that came in faster than its progress report
        throw PlatformError(QStringLiteral("Could not fetch %1: the answer is larger than %2.")
                                .arg(name, size(m_MaxBodySize)));
    return QString::fromUtf8(body);
}
