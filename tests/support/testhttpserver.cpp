#include "testhttpserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    default:
        return "Status";
    }
}

// "GET /x?y HTTP/1.1" -> "/x?y"
QString targetOf(const QString& line) {
    const QStringList parts = line.split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts.at(1) : QString();
}

QString pathOf(const QString& target) {
    const qsizetype q = target.indexOf(QLatin1Char('?'));
    return q < 0 ? target : target.left(q);
}

} // namespace

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent), m_Server(new QTcpServer(this)) {
    if (!m_Server->listen(QHostAddress::LocalHost, 0))
        qFatal("TestHttpServer: cannot listen on 127.0.0.1: %s",
               qPrintable(m_Server->errorString()));
    connect(m_Server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer() {
    m_Server->close();
}

quint16 TestHttpServer::port() const {
    return m_Server->serverPort();
}

QString TestHttpServer::baseAddress() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void TestHttpServer::setRoute(const QString& path, const Route& route) {
    m_Routes.insert(path, route);
}

QStringList TestHttpServer::targets() const {
    QStringList out;
    for (const QString& line : m_Lines)
        out << targetOf(line);
    return out;
}

QStringList TestHttpServer::targetsFor(const QString& path) const {
    QStringList out;
    for (const QString& line : m_Lines) {
        const QString target = targetOf(line);
        if (pathOf(target) == path)
            out << target;
    }
    return out;
}

void TestHttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_Server->nextPendingConnection()) {
        m_Pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_Pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpServer::onReadyRead(QTcpSocket* socket) {
    QByteArray& buffer = m_Pending[socket];
    buffer += socket->readAll();
    // Requests are GETs without a body; answer each complete head in turn (keep-alive).
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = buffer.left(end);
        buffer.remove(0, end + 4);
        const qsizetype eol = head.indexOf("\r\n");
        const QByteArray requestLine = eol < 0 ? head : head.left(eol);
        m_Lines << QString::fromLatin1(requestLine);
        answer(socket, requestLine, head.toLower().contains("\r\nconnection: close"));
    }
}

void TestHttpServer::answer(QTcpSocket* socket, const QByteArray& requestLine, bool close) {
    const QString path = pathOf(targetOf(QString::fromLatin1(requestLine)));
    Route route;
    const auto it = m_Routes.constFind(path);
    if (it != m_Routes.constEnd()) {
        route = *it;
    } else {
        route.status = 404;
        route.body = "not found";
    }
    if (route.stall)
        return; // keep the connection open and say nothing

    QByteArray reply =
        "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reasonPhrase(route.status) + "\r\n";
    reply += "Content-Type: " + route.contentType + "\r\n";
    if (!route.location.isEmpty())
        reply += "Location: " + route.location + "\r\n";
    reply += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    reply += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    QPointer<QTcpSocket> target(socket);
    if (route.trickle.count() > 0 && route.pieces > 1) {
        socket->write(reply);
        const qsizetype size = (route.body.size() + route.pieces - 1) / route.pieces;
        for (int i = 0; i < route.pieces; ++i) {
            const QByteArray piece = route.body.mid(i * size, size);
            const bool last = i == route.pieces - 1;
            QTimer::singleShot(route.trickle * (i + 1), socket, [target, piece, last, close] {
                if (!target || target->state() != QAbstractSocket::ConnectedState)
                    return;
                target->write(piece);
                if (last && close)
                    target->disconnectFromHost();
            });
        }
        return;
    }
    reply += route.body;

    auto send = [target, reply, close] {
        if (!target || target->state() != QAbstractSocket::ConnectedState)
            return;
        target->write(reply);
        if (close)
            target->disconnectFromHost(); // after the pending bytes are written
    };
    if (route.delay.count() > 0)
        QTimer::singleShot(route.delay, socket, send);
    else
        send();
}
