#include "answers.h"
#include "internettransfer.h"
#include "requests.h"
#include "testhttpserver.h"

#include <QTest>
#include <QUrl>

namespace {

const QString kDom = QStringLiteral("http://gw.test:8717");

Connection sample() {
    return Connection{kDom, "root", "whm.example.com", "AB\r\nCD\r\nEF"};
}

// The values of a received query, split at '&' and '=' and percent-decoded as UTF-8.
QList<QPair<QString, QString>> decodeQuery(const QString& target) {
    QList<QPair<QString, QString>> out;
    const QString query = target.mid(target.indexOf(QLatin1Char('?')) + 1);
    for (const QString& pair : query.split(QLatin1Char('&'))) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        out.append({pair.left(eq), QUrl::fromPercentEncoding(pair.mid(eq + 1).toUtf8())});
    }
    return out;
}

} // namespace

class TestRequests : public QObject {
    Q_OBJECT

private slots:
    void everyAddressExactly_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");
        const Connection c = sample();
        const QString creds = "user=root&host=whm.example.com&accesshash=AB%0D%0ACD%0D%0AEF";
        QTest::newRow("version") << Requests::Version(kDom) << kDom + "/version.txt";
        QTest::newRow("account list") << Requests::AccountList(c) << kDom + "/clients.php?" + creds;
        QTest::newRow("package list") << Requests::PackageList(c) << kDom + "/paks.php?" + creds;
        QTest::newRow("create")
            << Requests::CreateAccount(c, "shop.example.org", "shop", "pw", "Gold")
            << kDom +
                   "/ad.php?acctdomain=shop.example.org&acctuser=shop&acctpass=pw"
                   "&acctplan=Gold&" +
                   creds;
        QTest::newRow("suspend")
            << Requests::Suspend(c, "bob")
            << kDom + "/sus.php?host=whm.example.com&user=root&accesshash=AB%0D%0ACD%0D%0AEF"
                      "&suspenduser=bob";
        QTest::newRow("unsuspend")
            << Requests::Unsuspend(c, "bob")
            << kDom + "/unsus.php?host=whm.example.com&user=root&accesshash=AB%0D%0ACD%0D%0AEF"
                      "&usr=bob";
        QTest::newRow("terminate")
            << Requests::Terminate(c, "bob") << kDom + "/term.php?" + creds + "&usr=bob";
        QTest::newRow("download") << Requests::Download(kDom) << kDom + "/dl.php";
        QTest::newRow("home") << Requests::Home(kDom) << kDom + "/";
        QTest::newRow("tips") << Requests::Tips(kDom) << kDom + "/tips.php";
        QTest::newRow("partner A") << Requests::PartnerA(kDom) << kDom + "/partner-hosting.php";
        QTest::newRow("partner B") << Requests::PartnerB(kDom) << kDom + "/partner-ssl.php";
        QTest::newRow("live demo") << Requests::LiveDemo(kDom) << kDom + "/demolive.php";
        QTest::newRow("help") << Requests::Help(kDom) << kDom + "/help.php";

        // Empty settings and fields still give every key, with nothing after its '='.
        const Connection empty{kDom, "", "", ""};
        QTest::newRow("empty account list")
            << Requests::AccountList(empty) << kDom + "/clients.php?user=&host=&accesshash=";
        QTest::newRow("empty package list")
            << Requests::PackageList(empty) << kDom + "/paks.php?user=&host=&accesshash=";
        QTest::newRow("empty create")
            << Requests::CreateAccount(empty, "", "", "", "")
            << kDom + "/ad.php?acctdomain=&acctuser=&acctpass=&acctplan=&user=&host=&accesshash=";
        QTest::newRow("empty suspend") << Requests::Suspend(empty, "")
                                       << kDom + "/sus.php?host=&user=&accesshash=&suspenduser=";
        QTest::newRow("empty unsuspend")
            << Requests::Unsuspend(empty, "") << kDom + "/unsus.php?host=&user=&accesshash=&usr=";
        QTest::newRow("empty terminate")
            << Requests::Terminate(empty, "") << kDom + "/term.php?user=&host=&accesshash=&usr=";
    }
    void everyAddressExactly() {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(address, expected);
    }

    void encodesEveryByteOutsideTheUnreservedSet_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("unreserved kept") << "AZaz09-._~"
                                         << "AZaz09-._~";
        QTest::newRow("query delimiters") << "a&b=c+d#e?f/g"
                                          << "a%26b%3Dc%2Bd%23e%3Ff%2Fg";
        QTest::newRow("percent and blank") << "100% sure"
                                           << "100%25%20sure";
        QTest::newRow("line breaks") << "\r\n\t"
                                     << "%0D%0A%09";
        QTest::newRow("UTF-8, upper-case hex")
            << QString::fromUtf8("é東😀") << "%C3%A9%E6%9D%B1%F0%9F%98%80";
        QTest::newRow("other ASCII") << "!*'();:@$,[]\"<>\\^`{|}"
                                     << "%21%2A%27%28%29%3B%3A%40%24%2C%5B%5D%22%3C%3E%5C%5E%60%7B"
                                        "%7C%7D";
    }
    void encodesEveryByteOutsideTheUnreservedSet() {
        QFETCH(QString, value);
        QFETCH(QString, encoded);
        QCOMPARE(Requests::Encode(value), encoded);
    }

    // What the gateway decodes is exactly what was typed, keys and order included.
    void valuesReachTheGatewayIntact() {
        TestHttpServer server;
        server.setBody("/ad.php", "page");
        const Connection c{server.baseAddress(), QString::fromUtf8("rööt &co"), "h=1#frag",
                           "K1+/\r\nK2%20\r\nK3"};
        const QString domain = "a b.example";
        const QString user = QString::fromUtf8("用户");
        const QString pass = "p&ss=w+rd#%25 ?";
        const QString plan = "Gold\r\nPlan";
        InternetTransfer transfer;
        QCOMPARE(transfer.OpenURL(Requests::CreateAccount(c, domain, user, pass, plan)),
                 QStringLiteral("page"));
        const QStringList targets = server.targetsFor("/ad.php");
        QCOMPARE(targets.size(), 1);
        const QList<QPair<QString, QString>> expected{
            {"acctdomain", domain}, {"acctuser", user}, {"acctpass", pass},   {"acctplan", plan},
            {"user", c.usr},        {"host", c.hst},    {"accesshash", c.key}};
        QCOMPARE(decodeQuery(targets.first()), expected);
    }

    void versionCheck_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("current");
        QTest::newRow("exact") << "1.7" << true;
        QTest::newRow("trailing CR LF") << "1.7\r\n" << false;
        QTest::newRow("trailing LF") << "1.7\n" << false;
        QTest::newRow("leading blank") << " 1.7" << false;
        QTest::newRow("newer") << "1.8" << false;
        QTest::newRow("longer") << "1.70" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("error page") << "<html>404</html>" << false;
    }
    void versionCheck() {
        QFETCH(QString, body);
        QFETCH(bool, current);
        QCOMPARE(IsCurrentVersion(body), current);
    }

    void listSplit_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("empty body") << "" << QStringList();
        QTest::newRow("no marker") << "one\r\ntwo" << QStringList{"one\r\ntwo"};
        QTest::newRow("three and trailing marker")
            << "a<BR>b<BR>c<BR>" << QStringList{"a", "b", "c", ""};
        QTest::newRow("two each followed") << "x<BR>y<BR>" << QStringList{"x", "y", ""};
        QTest::newRow("leading marker") << "<BR>a" << QStringList{"", "a"};
        QTest::newRow("double marker") << "a<BR><BR>b" << QStringList{"a", "", "b"};
        QTest::newRow("only a marker") << "<BR>" << QStringList{"", ""};
        QTest::newRow("other cases do not split")
            << "a<br>b<Br>c<bR>d<BR >e<BR/>f" << QStringList{"a<br>b<Br>c<bR>d<BR >e<BR/>f"};
        QTest::newRow("nothing trimmed")
            << " a <BR>\nb\n<BR>\t" << QStringList{" a ", "\nb\n", "\t"};
        QTest::newRow("duplicates kept") << "a<BR>a" << QStringList{"a", "a"};
        QTest::newRow("overlapping marker text") << "a<BR<BR>>b" << QStringList{"a<BR", ">b"};
    }
    void listSplit() {
        QFETCH(QString, body);
        QFETCH(QStringList, items);
        QCOMPARE(GatewayList(body).toList(), items);
    }
};

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
