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
constexpr qsizetype kLongestReason = 300;
QString statedReason(const QNetworkReply& reply, const QByteArray& body) {
    const QString type = reply.header(QNetworkRequest::ContentTypeHeader).toString();
    if (!type.startsWith(QLatin1String("text/plain"), Qt::CaseInsensitive))
        return {};
    QString text = QString::fromUtf8(body.left(kLongestReason * 4 + 1)).simplified();
    if (text.isEmpty())
        return {};
    if (text.size() > kLongestReason)
        text = text.left(kLongestReason) + QStringLiteral("...");
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
    // The network thread stops reading once this much waits unread, so the answer comes in
    // no faster than it is counted below.
    constexpr qint64 kReadBuffer = 256 * 1024;
    reply->setReadBufferSize(kReadBuffer);

    enum class Stop { None, Idle, Total, TooLarge, EnoughOfAnError };
    Stop stopped = Stop::None;
    const auto stop = [&](Stop why) {
        if (stopped != Stop::None)
            return;
        stopped = why;
        reply->abort();
    };
    const auto status = [&] {
        const QVariant attribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        return attribute.isValid() ? attribute.toInt() : 0;
    };

    // Kept in pieces and joined only once complete: a body cut at the cap never needs a
    // second, grown copy of itself.
    QByteArrayList pieces;
    qint64 received = 0;
    const auto take = [&] {
        while (stopped == Stop::None && reply->bytesAvailable() > 0) {
            pieces << reply->read(qMin(reply->bytesAvailable(), m_MaxBodySize + 1 - received));
            received += pieces.last().size();
            if (received > m_MaxBodySize)
                stop(Stop::TooLarge);
            else if (status() >= 300 && received > kLongestReason * 4)
                stop(Stop::EnoughOfAnError); // only the start of an error is shown
        }
    };

    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_IdleTimeout);
    connect(&idle, &QTimer::timeout, reply.data(), [&] { stop(Stop::Idle); });
    // Silence is not the only way to hang: an answer that trickles in a byte at a time
    // keeps the idle limit from ever firing.
    QTimer total;
    total.setSingleShot(true);
    total.setTimerType(Qt::PreciseTimer); // a coarse timer may fire seconds early
    total.setInterval(m_TotalTimeout);
    connect(&total, &QTimer::timeout, reply.data(), [&] { stop(Stop::Total); });

    connect(reply.data(), &QNetworkReply::metaDataChanged, &idle, [&] {
        idle.start();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_MaxBodySize && status() < 300)
            stop(Stop::TooLarge);
    });
    connect(reply.data(), &QNetworkReply::readyRead, &idle, [&] {
        idle.start();
        take();
    });

    QEventLoop loop;
    connect(reply.data(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    idle.start();
    total.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents); // input waits; painting goes on
    idle.stop();
    total.stop();
    take(); // what came in with the end of the answer

    if (stopped == Stop::Idle)
        throw PlatformError(QStringLiteral("Could not fetch %1: no answer for %2 seconds.")
                                .arg(name, seconds(m_IdleTimeout)));
    if (stopped == Stop::Total)
        throw PlatformError(
            QStringLiteral("Could not fetch %1: the answer was not complete after %2 seconds.")
                .arg(name, seconds(m_TotalTimeout)));
    if (stopped == Stop::TooLarge)
        throw PlatformError(QStringLiteral("Could not fetch %1: the answer is larger than %2.")
                                .arg(name, size(m_MaxBodySize)));

    const QByteArray body = pieces.join();
    pieces.clear();
    const int code = status();
    const QString reason =
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    if (code >= 400)
        throw PlatformError(
            QStringLiteral("Could not fetch %1: the server answered with HTTP "
                           "status %2%3.%4")
                .arg(name, QString::number(code),
                     reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason),
                     statedReason(*reply, body)));
    if (code >= 300 && code < 400)
        throw PlatformError(
            QStringLiteral("Could not fetch %1: the server redirected the request (HTTP status "
                           "%2) to \"%3\", which is not followed.")
                .arg(name)
                .arg(code)
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

    return QString::fromUtf8(body);
}
