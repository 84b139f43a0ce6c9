#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <chrono>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server for tests, on a free port of 127.0.0.1, running in the test's
// own thread. It records every request line and answers each path with a configured body,
// status and delay; unknown paths get 404.
class TestHttpServer : public QObject {
    Q_OBJECT
public:
    struct Route {
        int status = 200;
        QByteArray body{};
        std::chrono::milliseconds delay{0}; // before the answer is sent
        bool stall = false;                 // accept the request and never answer
        QByteArray contentType = "text/plain; charset=utf-8";
        // When set, the head goes out at once and the body in `pieces` parts, one every
        // `trickle`: a slow but live answer.
        std::chrono::milliseconds trickle{0};
        int pieces = 1;
        QByteArray location{}; // a Location header, for redirects
    };

    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    quint16 port() const;
    QString baseAddress() const; // "http://127.0.0.1:PORT", no trailing '/'

    void setRoute(const QString& path, const Route& route); // path without the query
    void setBody(const QString& path, const QByteArray& body) { setRoute(path, Route{200, body}); }

    QStringList requestLines() const { return m_Lines; } // "GET /x?y HTTP/1.1"
    QStringList targets() const;                         // "/x?y"
    QStringList targetsFor(const QString& path) const;   // targets whose path is path
    void clearRecorded() { m_Lines.clear(); }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& requestLine, bool close);

    QTcpServer* m_Server;
    QHash<QString, Route> m_Routes;
    QStringList m_Lines;
    QHash<QTcpSocket*, QByteArray> m_Pending;
};
