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
QString statedReason(const QString& type, const QByteArray& body) {
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

// How one GET ended, before anything is said about it: the status and body as far as
// they were read, and what stopped the transfer.
struct Answer {
    enum class Stop { Finished, EnoughOfAnError, Idle, Total, TooLarge };
    Stop stopped = Stop::Finished;
    int status = 0;
    QString reasonPhrase;
    QString contentType;
    QUrl location;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    QByteArray body; // of an error status, only its start
};

struct Limits {
    std::chrono::milliseconds idle;
    std::chrono::milliseconds total;
    qint64 maxBody;
};

int StatusOf(const QNetworkReply& reply) {
    const QVariant attribute = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return attribute.isValid() ? attribute.toInt() : 0;
}

// Fetches url, holding back user input (painting goes on) until the answer is complete or
// a limit stops it.
Answer Fetch(QNetworkAccessManager& network, const QUrl& url, const Limits& limits) {
    QNetworkRequest request(url);
    // Redirects are never followed: the gateway answers every request itself, and a fetched
    // request must not end up somewhere else with the administrator's credentials.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // Restarted by every byte that moves: it counts silence, from the connection attempt
    // on. It aborts the reply, which then reports OperationCanceledError.
    request.setTransferTimeout(int(limits.idle.count()));

    BusyCursor busy;
    QScopedPointer<QNetworkReply, QScopedPointerDeleteLater> reply(network.get(request));
    // The network thread stops reading once this much waits unread, so the answer comes in
    // no faster than it is counted below.
    constexpr qint64 kReadBuffer = 256 * 1024;
    reply->setReadBufferSize(kReadBuffer);

    Answer answer;
    const auto stop = [&](Answer::Stop why) {
        if (answer.stopped != Answer::Stop::Finished)
            return;
        answer.stopped = why;
        reply->abort();
    };

    // Kept in pieces and joined only once complete: a body cut at the cap never needs a
    // second, grown copy of itself.
    QByteArrayList pieces;
    qint64 received = 0;
    const auto take = [&] {
        while (answer.stopped == Answer::Stop::Finished && reply->bytesAvailable() > 0) {
            pieces << reply->read(qMin(reply->bytesAvailable(), limits.maxBody + 1 - received));
            received += pieces.last().size();
            if (received > limits.maxBody)
                stop(Answer::Stop::TooLarge);
            else if (StatusOf(*reply) >= 300 && received > kLongestReason * 4)
                stop(Answer::Stop::EnoughOfAnError); // only the start of an error is shown
        }
    };

    // Silence is not the only way to hang: an answer that trickles in a byte at a time
    // keeps the transfer time-out from ever firing.
    QTimer total;
    total.setSingleShot(true);
    total.setTimerType(Qt::PreciseTimer); // a coarse timer may fire seconds early
    total.setInterval(limits.total);
    QObject::connect(&total, &QTimer::timeout, reply.data(), [&] { stop(Answer::Stop::Total); });
    QObject::connect(reply.data(), &QNetworkReply::metaDataChanged, reply.data(), [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limits.maxBody && StatusOf(*reply) < 300)
            stop(Answer::Stop::TooLarge);
    });
    QObject::connect(reply.data(), &QNetworkReply::readyRead, reply.data(), take);

    QEventLoop loop;
    QObject::connect(reply.data(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    total.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents); // input waits; painting goes on
    total.stop();
    take(); // what came in with the end of the answer

    answer.status = StatusOf(*reply);
    answer.reasonPhrase =
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    answer.location = reply->header(QNetworkRequest::LocationHeader).toUrl();
    answer.error = reply->error();
    answer.errorString = reply->errorString();
    // Nothing here aborted it, so the transfer time-out did.
    if (answer.stopped == Answer::Stop::Finished &&
        answer.error == QNetworkReply::OperationCanceledError)
        answer.stopped = Answer::Stop::Idle;
    // A body cut at a limit is never shown; joining it would only double its memory.
    if (answer.stopped == Answer::Stop::Finished || answer.stopped == Answer::Stop::EnoughOfAnError)
        answer.body = pieces.join();
    return answer;
}

// What the administrator is told when the answer cannot be used; empty when it can.
QString Failure(const Answer& answer, const QUrl& url, const Limits& limits) {
    const QString name = describe(url);
    switch (answer.stopped) {
    case Answer::Stop::Idle:
        return QStringLiteral("Could not fetch %1: no answer for %2 seconds.")
            .arg(name, seconds(limits.idle));
    case Answer::Stop::Total:
        return QStringLiteral("Could not fetch %1: the answer was not complete after %2 seconds.")
            .arg(name, seconds(limits.total));
    case Answer::Stop::TooLarge:
        return QStringLiteral("Could not fetch %1: the answer is larger than %2.")
            .arg(name, size(limits.maxBody));
    case Answer::Stop::Finished:
    case Answer::Stop::EnoughOfAnError:
        break;
    }

    const int code = answer.status;
    if (code >= 400)
        return QStringLiteral("Could not fetch %1: the server answered with HTTP status %2%3.%4")
            .arg(name, QString::number(code),
                 answer.reasonPhrase.isEmpty() ? QString()
                                               : QStringLiteral(" (%1)").arg(answer.reasonPhrase),
                 statedReason(answer.contentType, answer.body));
    if (code >= 300)
        return QStringLiteral("Could not fetch %1: the server redirected the request (HTTP status "
                              "%2) to \"%3\", which is not followed.")
            .arg(name)
            .arg(code)
            .arg(describe(url.resolved(answer.location)));

    switch (answer.error) {
    case QNetworkReply::NoError:
        return {};
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Could not fetch %1: the connection was refused.").arg(name);
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Could not fetch %1: the host \"%2\" was not found.")
            .arg(name, url.host());
    default:
        return QStringLiteral("Could not fetch %1: %2").arg(name, answer.errorString);
    }
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

    const Limits limits{m_IdleTimeout, m_TotalTimeout, m_MaxBodySize};
    const Answer answer = Fetch(*m_Network, url, limits);
    if (const QString failure = Failure(answer, url, limits); !failure.isEmpty())
        throw PlatformError(failure);
    return QString::fromUtf8(answer.body);
}
