#include "internettransfer.h"
#include "lists.h"
#include "platformerror.h"
#include "testhttpserver.h"

#include <QTest>

class TestLists : public QObject {
    Q_OBJECT

private slots:
    void itemsInAnswerOrder_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("two, each followed by the marker")
            << QByteArray("zed<BR>alpha<BR>") << QStringList{"zed", "alpha", ""};
        QTest::newRow("empty items and duplicates")
            << QByteArray("b<BR><BR>a<BR>b") << QStringList{"b", "", "a", "b"};
        QTest::newRow("error text without marker")
            << QByteArray("Login failed\nbad key") << QStringList{"Login failed\nbad key"};
        QTest::newRow("non-ASCII")
            << QByteArray("j\xC3\xBCrgen<BR>\xE6\x9D\xB1")
            << QStringList{QString::fromUtf8("jürgen"), QString::fromUtf8("東")};
    }
    void itemsInAnswerOrder() {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, items);
        TestHttpServer server;
        server.setBody("/clients.php", body);
        server.setBody("/paks.php", body);
        InternetTransfer transfer;
        const Connection c{server.baseAddress(), "root", "h", "k1\r\nk2"};
        QCOMPARE(FetchAccountList(transfer, c).toList(), items);
        QCOMPARE(FetchPackageList(transfer, c).toList(), items);
        QCOMPARE(server.targets(),
                 (QStringList{"/clients.php?user=root&host=h&accesshash=k1%0D%0Ak2",
                              "/paks.php?user=root&host=h&accesshash=k1%0D%0Ak2"}));
    }

    void eachListAsksItsOwnPath() {
        TestHttpServer server;
        server.setBody("/clients.php", "acct1<BR>acct2");
        server.setBody("/paks.php", "basic<BR>gold<BR>");
        InternetTransfer transfer;
        const Connection c{server.baseAddress(), "", "", ""};
        QCOMPARE(FetchAccountList(transfer, c).toList(), (QStringList{"acct1", "acct2"}));
        QCOMPARE(FetchPackageList(transfer, c).toList(), (QStringList{"basic", "gold", ""}));
        QCOMPARE(FetchAccountList(transfer, c).toList(),
                 (QStringList{"acct1", "acct2"})); // not doubled
        QCOMPARE(server.targetsFor("/clients.php").size(), 2);
        QCOMPARE(server.targetsFor("/paks.php"), QStringList{"/paks.php?user=&host=&accesshash="});
    }

    void failedFetchThrows() {
        TestHttpServer server;
        server.setRoute("/clients.php", TestHttpServer::Route{502, "WHM refused the login"});
        InternetTransfer transfer;
        const Connection c{server.baseAddress(), "root", "h", "k"};
        try {
            FetchAccountList(transfer, c);
            QFAIL("a 502 answer gave a list");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().contains("502"), qPrintable(e.description()));
            QVERIFY2(e.description().contains("/clients.php"), qPrintable(e.description()));
        }
    }
};

QTEST_GUILESS_MAIN(TestLists)
#include "tst_lists.moc"
