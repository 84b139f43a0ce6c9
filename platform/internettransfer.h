#pragma once

#include <QObject>
#include <QString>
#include <chrono>

class QNetworkAccessManager;

// Fetches an address with HTTP GET and hands back the whole body, as the program's
// transfer controls do. The call is synchronous for its caller: user input is held back
// and the busy cursor shows, but the window keeps repainting.
class InternetTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout{60'000};
    static constexpr std::chrono::milliseconds kDefaultTotalTimeout{120'000};
    static constexpr qint64 kDefaultMaxBodySize = 32 * 1024 * 1024;

    explicit InternetTransfer(QObject* parent = nullptr);

    // The body of address decoded as UTF-8. Throws PlatformError naming the address and
    // the cause when the connection fails, the host does not resolve, no byte arrives
    // within the idle time-out, the answer is not complete within the total time-out, the
    // status is 400 or more, or the body is over the cap (checked as the bytes arrive, so an
    // endless answer never piles up in memory).
    // The address must already be percent-encoded; it is sent exactly as given. Redirects
    // (3xx) are not followed and fail too. A failure names the address without its query,
    // which carries the access key; for an error status it adds the start of a plain-text
    // answer, where the gateway says why.
    QString OpenURL(const QString& address);

    void setIdleTimeout(std::chrono::milliseconds timeout) { m_IdleTimeout = timeout; }
    void setTotalTimeout(std::chrono::milliseconds timeout) { m_TotalTimeout = timeout; }
    void setMaxBodySize(qint64 bytes) { m_MaxBodySize = bytes; }

private:
    QNetworkAccessManager* m_Network;
    std::chrono::milliseconds m_IdleTimeout = kDefaultIdleTimeout;
    std::chrono::milliseconds m_TotalTimeout = kDefaultTotalTimeout;
    qint64 m_MaxBodySize = kDefaultMaxBodySize;
};
