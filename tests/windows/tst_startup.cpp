// Start-up and shutdown of the program: what start-up fetches, shows and opens, in which
// order, and the three ways the program ends.

#include "windowtest.h"

#include "browserprocesses.h"

#include "form12.h"
#include "form7.h"

#include <QAction>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTimer>

using namespace WindowTest;

class TstStartUp : public QObject, Fixture {
    Q_OBJECT

    std::unique_ptr<Form4> startedWindow(const QString& gateway = QString()) {
        auto w = std::make_unique<Form4>(gateway.isEmpty() ? base() : gateway, settingsPath());
        w->Start();
        return w;
    }
    QStringList fetched() const {
        QStringList out;
        for (const QString& t : m_Server->targets())
            if (t.startsWith(QLatin1String("/version.txt")) ||
                t.startsWith(QLatin1String("/clients.php")) ||
                t.startsWith(QLatin1String("/paks.php")))
                out << t;
        return out;
    }

private slots:
    void init() { QVERIFY(SetUp()); }
    void cleanup() { TearDown(); }

    void completeSettingsShowTheWindowWithBothLists() {
        WriteSettings(settingsPath(), QStringLiteral("root"), QStringLiteral("whm.example"),
                      QStringLiteral("AB*CD*EF"));
        auto w = startedWindow();

        QVERIFY(w->isVisible());
        QVERIFY(MessageBox::takeShown().isEmpty());
        QVERIFY(!w->settingsDialog());
        QVERIFY(!w->updateNotice());

        // The connection settings as start-up left them: '*' in the file is a line break.
        const Connection c = w->connection();
        QCOMPARE(c.dom, base());
        QCOMPARE(c.usr, QStringLiteral("root"));
        QCOMPARE(c.hst, QStringLiteral("whm.example"));
        QCOMPARE(c.key, QStringLiteral("AB\r\nCD\r\nEF"));

        // Three blocking requests, in this order, the key's breaks encoded.
        const QString q =
            QStringLiteral("user=root&host=whm.example&accesshash=AB%0D%0ACD%0D%0AEF");
        QCOMPARE(fetched(),
                 (QStringList{QStringLiteral("/version.txt"), QStringLiteral("/clients.php?") + q,
                              QStringLiteral("/paks.php?") + q}));
        QCOMPARE(TreeTexts(Child<QTreeView>(w.get(), "TreeView1")),
                 (QStringList{"alice", "bob", "carol"}));
        QCOMPARE(TreeTexts(Child<QTreeView>(w.get(), "TreeView2")), (QStringList{"basic", "gold"}));

        // The result pane shows a page of the gateway's site; two different partner pages
        // go to ad1 and ad3 once the window is up; ad2 is never sent anywhere.
        const auto* result = Child<BrowserPane>(w.get(), "WebBrowser1");
        const auto* ad1 = Child<BrowserPane>(w.get(), "ad1");
        const auto* ad2 = Child<BrowserPane>(w.get(), "ad2");
        const auto* ad3 = Child<BrowserPane>(w.get(), "ad3");
        QCOMPARE(result->history().size(), 1);
        QVERIFY(result->lastAddress().startsWith(base() + QLatin1Char('/')));
        QVERIFY(ad1->history().isEmpty());
        QTRY_COMPARE(ad3->history().size(), 1);
        QCOMPARE(ad1->history().size(), 1);
        QVERIFY(ad1->lastAddress().startsWith(base() + QLatin1Char('/')));
        QVERIFY(ad3->lastAddress().startsWith(base() + QLatin1Char('/')));
        QVERIFY(ad1->lastAddress() != ad3->lastAddress());
        QVERIFY(ad2->history().isEmpty());
        QCOMPARE(w->focusWidget(), Child<QWidget>(w.get(), "plan"));
    }

    // A team's gateway named in the system-wide file takes every request; a value that is
    // no base address is reported, naming the file, before the version check, and the
    // compiled-in gateway is used. "%1" stands for the team's gateway.
    void systemFileNamesTheGateway_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("taken");
        QTest::newRow("http address") << "%1" << true;
        QTest::newRow("none given") << "" << false;
        QTest::newRow("trailing slash") << "%1/" << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1" << false;
        QTest::newRow("a query, which paths would land in") << "%1?a=b" << false;
    }
    void systemFileNamesTheGateway() {
        QFETCH(QString, address);
        QFETCH(bool, taken);
        TestHttpServer team;
        ServeGateway(team);
        const QString value = QString(address).replace("%1", team.baseAddress());
        const QString file = m_Dir->filePath(QStringLiteral("corvala.conf"));
        WriteIni(QStringLiteral("gateway"), QStringLiteral("address"), value, file);
        WriteSettings(settingsPath(), "u", "h", "k");
        QStringList fetchedFirst;
        MessageBox::setOnShown([&](const MessageBox::Shown&) { fetchedFirst = fetched(); });
        Form4 w(base(), settingsPath(), file);
        w.Start();

        QCOMPARE(w.connection().dom, taken ? team.baseAddress() : base());
        QCOMPARE(team.targetsFor(QStringLiteral("/clients.php")).size(), taken ? 1 : 0);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), taken || value.isEmpty() ? 0 : 1);
        if (!shown.isEmpty()) {
            QCOMPARE(shown[0].title, QStringLiteral("Gateway Address"));
            QVERIFY(shown[0].text.contains(file) && shown[0].text.contains(value));
            QVERIFY(fetchedFirst.isEmpty());
        }
    }

    void incompleteSettingsOpenTheDialog_data() {
        QTest::addColumn<bool>("writeFile");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("message");
        QTest::addColumn<bool>("dialog");
        QTest::newRow("no settings file") << false << ""
                                          << ""
                                          << "" << true << true;
        QTest::newRow("user missing") << true << ""
                                      << "h"
                                      << "k" << true << true;
        QTest::newRow("host missing") << true << "u"
                                      << ""
                                      << "k" << true << true;
        QTest::newRow("only the key missing") << true << "u"
                                              << "h"
                                              << "" << false << true;
        QTest::newRow("blanks count as filled") << true << "\" \""
                                                << "\" \""
                                                << "\" \"" << false << false;
    }
    void incompleteSettingsOpenTheDialog() {
        QFETCH(bool, writeFile);
        QFETCH(QString, user);
        QFETCH(QString, host);
        QFETCH(QString, key);
        QFETCH(bool, message);
        QFETCH(bool, dialog);
        if (writeFile)
            WriteSettings(settingsPath(), user, host, key);
        // The gateway refuses the lists, as a real one refuses an empty login. While the
        // settings are being asked for, that is no news; with settings, it is reported.
        for (const char* list : {"/clients.php", "/paks.php"})
            m_Server->setRoute(list, TestHttpServer::Route{502, "WHM refused the login"});
        auto w = startedWindow();

        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), (message ? 1 : 0) + (dialog ? 0 : 1));
        if (!dialog)
            QCOMPARE(shown.last().title, QStringLiteral("Gateway Request Failed"));
        if (message) {
            QCOMPARE(shown[0].text, QStringLiteral("Please fill in your WHM Settings"));
            QCOMPARE(shown[0].title, QStringLiteral("Settings"));
            QVERIFY(!shown[0].yesNo);
        }
        QCOMPARE(w->isHidden(), dialog);
        QCOMPARE(bool(w->settingsDialog()), dialog);
        if (dialog) {
            // The dialog was loaded from what start-up had just read.
            Form7* d = w->settingsDialog();
            QVERIFY(d->isVisible());
            QCOMPARE(Child<QLineEdit>(d, "user")->text(), w->connection().usr);
            QCOMPARE(Child<QLineEdit>(d, "host")->text(), w->connection().hst);
            QCOMPARE(Child<QPlainTextEdit>(d, "key")->toPlainText(), w->connection().key);
        }
        // Both lists are requested whatever the settings hold.
        QCOMPARE(m_Server->targetsFor(QStringLiteral("/clients.php")).size(), 1);
        QCOMPARE(m_Server->targetsFor(QStringLiteral("/paks.php")).size(), 1);
        if (!writeFile)
            QCOMPARE(m_Server->targetsFor(QStringLiteral("/clients.php")).first(),
                     QStringLiteral("/clients.php?user=&host=&accesshash="));
        // A window start-up hid is never painted; its panes are sent all the same.
        QTRY_VERIFY(!Child<BrowserPane>(w.get(), "ad3")->history().isEmpty());
    }

    void otherVersionOpensTheUpdateNotice_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("line break after 1.7") << QByteArray("1.7\r\n");
        QTest::newRow("longer text") << QByteArray("1.70");
        QTest::newRow("page sent with status 200") << QByteArray("<html>Not here</html>");
        QTest::newRow("newer") << QByteArray("1.8");
    }
    void otherVersionOpensTheUpdateNotice() {
        QFETCH(QByteArray, answer);
        m_Server->setBody(QStringLiteral("/version.txt"), answer);
        WriteSettings(settingsPath(), QStringLiteral("u"), QStringLiteral("h"),
                      QStringLiteral("k"));
        auto w = startedWindow();

        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("You do not have the latest version!"));
        QCOMPARE(shown[0].title, QString());
        QVERIFY(w->isHidden());
        QVERIFY(w->updateNotice() && w->updateNotice()->isVisible());
        QCOMPARE(Child<BrowserPane>(w->updateNotice(), "WebBrowser1")->lastAddress(),
                 base() + QStringLiteral("/dl.php"));
        // Start-up went on to its end.
        QCOMPARE(TreeTexts(Child<QTreeView>(w.get(), "TreeView2")), (QStringList{"basic", "gold"}));
    }

    void outdatedAndIncompleteInOrder() {
        m_Server->setBody(QStringLiteral("/version.txt"), "2.0");
        // What was open as each message box came up.
        QStringList seen;
        Form4* window = nullptr;
        MessageBox::setOnShown([&](const MessageBox::Shown& s) {
            seen << s.text + QStringLiteral(" | notice=") +
                        (window->updateNotice() ? "yes" : "no") + QStringLiteral(" dialog=") +
                        (window->settingsDialog() ? "yes" : "no") + QStringLiteral(" lists=") +
                        QString::number(
                            m_Server->targetsFor(QStringLiteral("/clients.php")).size());
        });
        Form4 w(base(), settingsPath());
        window = &w;
        w.Start();

        QCOMPARE(seen,
                 (QStringList{"You do not have the latest version! | notice=no dialog=no lists=0",
                              "Please fill in your WHM Settings | notice=yes dialog=no lists=0"}));
        QVERIFY(w.isHidden());
        QVERIFY(w.updateNotice()->isVisible());
        QVERIFY(w.settingsDialog()->isVisible());
        QCOMPARE(m_Server->targetsFor(QStringLiteral("/clients.php")).size(), 1);
        QCOMPARE(m_Server->targetsFor(QStringLiteral("/paks.php")).size(), 1);

        // Closing the notice ends the program, also with the settings dialog still open.
        QVERIFY(w.updateNotice()->close());
        QCOMPARE(ProgramEnd::takeEnds(), 1);
    }

    void unreachableGatewayGivesOneMessage() {
        // A port that was just free: nothing listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString down = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        WriteSettings(settingsPath(), QStringLiteral("u"), QStringLiteral("h"),
                      QStringLiteral("k"));
        auto w = startedWindow(down);

        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        // It says what was being done and where.
        QVERIFY2(shown[0].text.contains(down), qPrintable(shown[0].text));
        QVERIFY(shown[0].text.contains(QStringLiteral("version")));
        QVERIFY(shown[0].text.contains(QStringLiteral("account list")));
        QVERIFY(shown[0].text.contains(QStringLiteral("package list")));
        // An unknown version counts as current: no notice, the window shows, lists empty.
        QVERIFY(!w->updateNotice());
        QVERIFY(w->isVisible());
        QCOMPARE(RowCount(Child<QTreeView>(w.get(), "TreeView1")), 0);
        QCOMPARE(RowCount(Child<QTreeView>(w.get(), "TreeView2")), 0);
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void failedListStaysEmptyAndIsNamed() {
        m_Server->setRoute(QStringLiteral("/clients.php"),
                           TestHttpServer::Route{502, "WHM refused the login"});
        m_Server->setRoute(QStringLiteral("/version.txt"), TestHttpServer::Route{500, "oops"});
        WriteSettings(settingsPath(), QStringLiteral("u"), QStringLiteral("h"),
                      QStringLiteral("k"));
        auto w = startedWindow();

        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains(QStringLiteral("account list")));
        QVERIFY(!shown[0].text.contains(QStringLiteral("package list")));
        // A version answer with an error status is not a newer version.
        QVERIFY(!w->updateNotice());
        QCOMPARE(RowCount(Child<QTreeView>(w.get(), "TreeView1")), 0);
        QCOMPARE(TreeTexts(Child<QTreeView>(w.get(), "TreeView2")), (QStringList{"basic", "gold"}));
    }

    void closingTheDialogBringsBackTheHiddenWindow() {
        auto w = startedWindow(); // no settings file: dialog open, window hidden
        QVERIFY(w->isHidden());
        // Closed inside the application's own loop, which must go on running.
        QTimer::singleShot(0, w.get(), [&] { QVERIFY(w->settingsDialog()->close()); });
        QTimer::singleShot(300, w.get(), [] { QCoreApplication::exit(5); });
        QCOMPARE(QCoreApplication::exec(), 5);
        QVERIFY(w->isVisible());
        QVERIFY(!w->settingsDialog()); // discarded
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void closingTheDialogLeavesTheNoticeAlone() {
        m_Server->setBody(QStringLiteral("/version.txt"), "0.9");
        auto w = startedWindow();
        // The notice alone keeps the program running: the application's own loop must not
        // end when the dialog closes.
        QTimer::singleShot(0, w.get(), [&] { QVERIFY(w->settingsDialog()->close()); });
        QTimer::singleShot(300, w.get(), [] { QCoreApplication::exit(5); });
        QCOMPARE(QCoreApplication::exec(), 5);
        QVERIFY(w->isHidden());
        QVERIFY(w->updateNotice()->isVisible());
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void exitAndCloseEndTheProgram() {
        WriteSettings(settingsPath(), QStringLiteral("u"), QStringLiteral("h"),
                      QStringLiteral("k"));
        auto w = startedWindow();
        Child<QAction>(w.get(), "Exit")->trigger();
        QCOMPARE(ProgramEnd::takeEnds(), 1);
        QVERIFY(w->close());
        QCOMPARE(ProgramEnd::takeEnds(), 1);
        // Start-up wrote nothing: the file holds what the test put there.
        QCOMPARE(ReadIni(SettingsFile::kSection, SettingsFile::kKey, settingsPath()),
                 QStringLiteral("k"));
    }

    void updateNoticeWindow() {
        m_Server->setBody(QStringLiteral("/version.txt"), "1.6");
        auto w = startedWindow();
        Form12* notice = w->updateNotice();
        QCOMPARE(notice->windowTitle(), QStringLiteral("Please download the latest version"));
        QCOMPARE(notice->size(), QSize(465, 374));
        QCOMPARE(notice->minimumSize(), notice->maximumSize());
        QCOMPARE(notice->windowType(), Qt::Tool);
    }

    // The engine's flags the user set stay; a process model the user chose is not overruled.
    void sharedRendererKeepsTheUsersEngineFlags() {
        const QByteArray kept = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--lang=de");
        BrowserProcesses::ShareOneRenderer();
        QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                 QByteArray("--lang=de --renderer-process-limit=1"));
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--process-per-site");
        BrowserProcesses::ShareOneRenderer();
        QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), QByteArray("--process-per-site"));
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", kept);
    }

    // Last: once the program has been told to end, no event loop of this process runs.
    void endingForRealLeavesTheEventLoop() {
        WriteSettings(settingsPath(), QStringLiteral("u"), QStringLiteral("h"),
                      QStringLiteral("k"));
        auto w = startedWindow();
        ProgramEnd::setRecording(false);
        QTimer::singleShot(0, w.get(), [&] { Child<QAction>(w.get(), "Exit")->trigger(); });
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, [&] { loop.exit(7); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(w->isHidden());
        ProgramEnd::setRecording(true);
    }
};

CORVALA_WINDOW_TEST_MAIN(TstStartUp)
#include "tst_startup.moc"
