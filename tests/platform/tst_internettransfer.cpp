#include "internettransfer.h"
#include "platformerror.h"
#include "testhttpserver.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
qint64 peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}
} // namespace

class TestInternetTransfer : public QObject {
    Q_OBJECT

private:
    // The description of the failure OpenURL throws; fails the test when it throws nothing.
    static QString failure(InternetTransfer& transfer, const QString& address) {
        try {
            const QString body = transfer.OpenURL(address);
            return QStringLiteral("<no failure; body: %1>").arg(body.left(80));
        } catch (const PlatformError& e) {
            return e.description();
        }
    }

private slots:
    void returnsTheBodyAsUtf8() {
        TestHttpServer server;
        const QString text = QString::fromUtf8("ab<BR>Zoë<BR>東京\r\nline");
        server.setBody("/x.php", text.toUtf8());
        InternetTransfer transfer;
        QCOMPARE(transfer.OpenURL(server.baseAddress() + "/x.php?a=1"), text);
        QCOMPARE(server.requestLines(), QStringList{"GET /x.php?a=1 HTTP/1.1"});
        QCOMPARE(transfer.OpenURL(server.baseAddress() + "/x.php"), text); // again, same client
    }

    void emptyBody() {
        TestHttpServer server;
        server.setBody("/e", QByteArray());
        InternetTransfer transfer;
        QCOMPARE(transfer.OpenURL(server.baseAddress() + "/e"), QString());
    }

    // The address is already percent-encoded: no escape may be decoded or doubled.
    void encodedAddressIsSentAsGiven() {
        TestHttpServer server;
        server.setBody("/q", "ok");
        const QString target = "/q?a=%26%3D%2B%25%23%20&b=%0D%0A%2F%3F&c=%C3%A9%E6%9D%B1&d=&e=~-._";
        InternetTransfer transfer;
        QCOMPARE(transfer.OpenURL(server.baseAddress() + target), QStringLiteral("ok"));
        QCOMPARE(server.targets(), QStringList{target});
    }

    void busyCursorWhileWaitingAndRestored() {
        TestHttpServer server;
        TestHttpServer::Route slow{200, "done"};
        slow.delay = 300ms;
        server.setRoute("/slow", slow);
        server.setRoute("/fail", TestHttpServer::Route{500, "boom"});
        InternetTransfer transfer;

        bool busyWhileWaiting = false;
        QTimer probe;
        probe.setInterval(50ms);
        connect(&probe, &QTimer::timeout, this, [&] {
            const QCursor* c = QGuiApplication::overrideCursor();
            busyWhileWaiting = busyWhileWaiting || (c && c->shape() == Qt::WaitCursor);
        });
        probe.start();
        QCOMPARE(transfer.OpenURL(server.baseAddress() + "/slow"), QStringLiteral("done"));
        probe.stop();
        QVERIFY(busyWhileWaiting); // timers, and so painting, still run during the wait
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

        QVERIFY(failure(transfer, server.baseAddress() + "/fail").contains("500"));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void httpErrorStatusFails_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("404") << 404;
        QTest::newRow("500") << 500;
        QTest::newRow("502") << 502;
        QTest::newRow("400") << 400;
    }
    void httpErrorStatusFails() {
        QFETCH(int, status);
        TestHttpServer server;
        server.setRoute("/clients.php", TestHttpServer::Route{status, "WHM said no<BR>x"});
        InternetTransfer transfer;
        const QString d =
            failure(transfer, server.baseAddress() + "/clients.php?user=u&accesshash=SECRET");
        QVERIFY2(d.contains(server.baseAddress() + "/clients.php"), qPrintable(d));
        QVERIFY2(d.contains(QString::number(status)), qPrintable(d));
        QVERIFY2(!d.contains("SECRET"), qPrintable(d)); // the access key is not shown
    }

    // The gateway answers a failed list with 502 and WHM's reason as plain text: the reason
    // is part of what the user is told. Error pages and endless texts are not.
    void plainTextReasonOfAnErrorIsShown() {
        TestHttpServer server;
        server.setRoute(
            "/clients.php",
            TestHttpServer::Route{502, "WHM refused the login (HTTP 403):\n check the key"});
        TestHttpServer::Route page{500, "<html><body>Internal trouble</body></html>"};
        page.contentType = "text/html";
        server.setRoute("/paks.php", page);
        server.setRoute("/long.php", TestHttpServer::Route{503, QByteArray(5000, 'x') + "END"});
        InternetTransfer transfer;

        QString d = failure(transfer, server.baseAddress() + "/clients.php?accesshash=SECRET");
        QVERIFY2(d.contains("502"), qPrintable(d));
        QVERIFY2(d.contains("WHM refused the login (HTTP 403): check the key"), qPrintable(d));
        QVERIFY2(!d.contains("SECRET"), qPrintable(d));

        d = failure(transfer, server.baseAddress() + "/paks.php");
        QVERIFY2(d.contains("500"), qPrintable(d));
        QVERIFY2(!d.contains("Internal trouble"), qPrintable(d));

        d = failure(transfer, server.baseAddress() + "/long.php");
        QVERIFY2(d.contains("503"), qPrintable(d));
        QVERIFY2(d.contains("xxx...") && !d.contains("END") && d.size() < 600, qPrintable(d));
    }

    void unknownPathIs404() {
        TestHttpServer server;
        InternetTransfer transfer;
        const QString d = failure(transfer, server.baseAddress() + "/nothing-here");
        QVERIFY2(d.contains("404"), qPrintable(d));
    }

    void refusedConnectionFails() {
        quint16 port = 0;
        {
            QTcpServer bound;
            QVERIFY(bound.listen(QHostAddress::LocalHost, 0));
            port = bound.serverPort();
        } // closed again: nobody listens there now
        InternetTransfer transfer;
        const QString address = QStringLiteral("http://127.0.0.1:%1/version.txt").arg(port);
        const QString d = failure(transfer, address);
        QVERIFY2(d.contains(address), qPrintable(d));
        QVERIFY2(d.contains("refused"), qPrintable(d));
    }

    void unresolvedHostFails() {
        InternetTransfer transfer;
        const QString d = failure(transfer, "http://no-such-gateway.invalid/version.txt");
        QVERIFY2(d.contains("http://no-such-gateway.invalid/version.txt"), qPrintable(d));
        QVERIFY2(d.contains("not found"), qPrintable(d));
    }

    void silentServerTimesOut() {
        TestHttpServer server;
        TestHttpServer::Route stall;
        stall.stall = true;
        server.setRoute("/paks.php", stall);
        InternetTransfer transfer;
        transfer.setIdleTimeout(300ms);
        const QString d = failure(transfer, server.baseAddress() + "/paks.php?user=u");
        QVERIFY2(d.contains(server.baseAddress() + "/paks.php"), qPrintable(d));
        QVERIFY2(d.contains("no answer"), qPrintable(d));
        QCOMPARE(server.targetsFor("/paks.php").size(), 1); // it was asked, and never retried
    }

    // The idle time-out counts silence, not the whole transfer: a slow answer that keeps
    // coming is read to its end.
    void slowButLiveAnswerIsRead() {
        TestHttpServer server;
        TestHttpServer::Route slow{200, QByteArray("0123456789").repeated(8)};
        slow.trickle = 150ms;
        slow.pieces = 8;
        server.setRoute("/slow", slow);
        InternetTransfer transfer;
        transfer.setIdleTimeout(700ms);
        QCOMPARE(transfer.OpenURL(server.baseAddress() + "/slow"),
                 QStringLiteral("0123456789").repeated(8));

        // ... but an answer that trickles on past the total limit fails.
        transfer.setTotalTimeout(500ms);
        const QString d = failure(transfer, server.baseAddress() + "/slow?key=SECRET");
        QVERIFY2(d.contains(server.baseAddress() + "/slow") && d.contains("not complete after 0.5"),
                 qPrintable(d));
    }

    void bodyOverTheCapFails() {
        TestHttpServer server;
        server.setBody("/big", QByteArray(5000, 'x'));
        server.setBody("/exact", QByteArray(1000, 'y'));
        TestHttpServer::Route trickled{200, QByteArray(5000, 'z')};
        trickled.trickle = 20ms;
        trickled.pieces = 10;
        server.setRoute("/trickled", trickled);
        InternetTransfer transfer;
        transfer.setMaxBodySize(1000);
        for (const char* path : {"/big", "/trickled"}) {
            const QString d = failure(transfer, server.baseAddress() + path);
            QVERIFY2(d.contains(server.baseAddress() + path), qPrintable(d));
            QVERIFY2(d.contains("larger than 1000 bytes"), qPrintable(d));
        }
        QCOMPARE(transfer.OpenURL(server.baseAddress() + "/exact").size(), 1000);

        // An endless answer under the real cap is cut as it arrives: memory grows by the cap
        // and some buffers, no more. The peer is a child process sending as fast as the
        // loopback takes it, 30 s at most.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        const QByteArray head = "HTTP/1.1 200 OK\r\n\r\n", chunk(1 << 20, 'x');
        const pid_t peer = fork();
        if (peer == 0) {
            alarm(30);
            fcntl(int(listener.socketDescriptor()), F_SETFL, 0);
            const int c = accept(int(listener.socketDescriptor()), nullptr, nullptr);
            char request[4096];
            recv(c, request, sizeof request, 0);
            send(c, head.constData(), head.size(), MSG_NOSIGNAL);
            while (send(c, chunk.constData(), chunk.size(), MSG_NOSIGNAL) > 0) {
            }
            _exit(0);
        }
        const QString endless = QStringLiteral("http://127.0.0.1:%1/x").arg(listener.serverPort());
        listener.close();
        InternetTransfer real;
        const qint64 before = peakRssMiB();
        const QString e = failure(real, endless);
        kill(peer, SIGKILL);
        waitpid(peer, nullptr, 0);
        QVERIFY2(e.contains("larger than 32 MiB"), qPrintable(e));
        QVERIFY2(peakRssMiB() - before < 64,
                 qPrintable(QStringLiteral("peak RSS grew by %1 MiB").arg(peakRssMiB() - before)));
    }

    void redirectIsNotFollowed() {
        TestHttpServer server;
        TestHttpServer::Route moved{302, "moved"};
        moved.location = "/elsewhere";
        server.setRoute("/version.txt", moved);
        server.setBody("/elsewhere", "1.7");
        InternetTransfer transfer;
        const QString d = failure(transfer, server.baseAddress() + "/version.txt");
        QVERIFY2(d.contains("302"), qPrintable(d));
        QVERIFY(server.targetsFor("/elsewhere").isEmpty());
    }

    void malformedAddressFails() {
        InternetTransfer transfer;
        for (const QString& address :
             {QString(), QStringLiteral("version.txt"), QStringLiteral("ftp://127.0.0.1/x")}) {
            const QString d = failure(transfer, address);
            QVERIFY2(d.contains("not a valid web address"), qPrintable(d));
        }
    }
};

QTEST_MAIN(TestInternetTransfer)
#include "tst_internettransfer.moc"
