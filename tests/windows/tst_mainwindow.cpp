// The main window: its layout, menus and tab order, the account commands' addresses, the
// terminate confirmation, tree clicks, "Refresh All", help messages, the site pages and
// the About window.

#include "windowtest.h"

#include "form9.h"
#include "xpcmdbutton.h"
#include "xphelp.h"

#include <QAccessible>
#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

using namespace WindowTest;

class TstMainWindow : public QObject, Fixture {
    Q_OBJECT

    std::unique_ptr<Form4> m_Window;

    Form4* w() const { return m_Window.get(); }
    BrowserPane* result() const { return Child<BrowserPane>(w(), "WebBrowser1"); }
    QLineEdit* edit(const char* name) const { return Child<QLineEdit>(w(), name); }
    void click(const char* button) const {
        QTest::mouseClick(Child<xpcmdbutton>(w(), button), Qt::LeftButton);
    }
    static QPoint NodeCentre(QTreeView* tree, int row) {
        return tree->visualRect(tree->model()->index(row, 0)).center();
    }

private slots:
    void init() {
        QVERIFY(SetUp());
        WriteSettings(settingsPath(), QStringLiteral("root"), QStringLiteral("whm.example"),
                      QStringLiteral("K1*K2"));
        m_Window = std::make_unique<Form4>(base(), settingsPath());
        m_Window->Start();
        QVERIFY(m_Window->isVisible());
        QVERIFY(MessageBox::takeShown().isEmpty());
        m_Server->clearRecorded();
    }
    void cleanup() {
        m_Window.reset();
        TearDown();
    }

    void layoutFollowsTheForm() {
        QCOMPARE(w()->windowTitle(), QStringLiteral("Corvala"));
        QCOMPARE(w()->centralWidget()->size(), QSize(541, 472));
        QCOMPARE(w()->minimumSize(), w()->maximumSize());
        QVERIFY(
            !(w()->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(w()->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!w()->windowIcon().isNull());
        QCOMPARE(w()->centralWidget()->palette().color(QPalette::Window), QColor(Qt::white));

        QCOMPARE(edit("domain")->geometry(), QRect(88, 136, 97, 19));
        QCOMPARE(edit("ausr")->geometry(), QRect(40, 288, 121, 19));
        QCOMPARE(Child<QWidget>(w(), "xpcmdbutton2")->geometry(), QRect(8, 424, 177, 25));
        QCOMPARE(Child<QWidget>(w(), "TreeView2")->geometry(), QRect(400, 32, 137, 337));
        QCOMPARE(result()->geometry(), QRect(264, 424, 265, 41));
        const auto* banner = Child<QLabel>(w(), "Image1");
        QCOMPARE(banner->geometry(), QRect(0, 0, 256, 124));
        QCOMPARE(banner->pixmap().size(), QSize(256, 124));

        // Fonts in the classic sizes, with a family that exists or stands in for it.
        const QFont caption = Child<QLabel>(w(), "Label55")->font();
        QCOMPARE(caption.pointSizeF(), 8.25);
        QVERIFY(caption.bold());
        QCOMPARE(edit("plan")->font().pointSizeF(), 8.25);
        QCOMPARE(edit("plan")->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(Child<xpcmdbutton>(w(), "xpcmdbutton1")->Font().pointSizeF(), 9.75);
        QCOMPARE(Child<QLabel>(w(), "Label1")->palette().color(QPalette::WindowText),
                 QColor(Qt::black));

        const QStringList captions{"Create Account", "Refresh All", "Suspend Account",
                                   "UnSuspend Account", "Terminate Account"};
        for (int i = 0; i < captions.size(); ++i)
            QCOMPARE(Child<xpcmdbutton>(w(), qPrintable(QStringLiteral("xpcmdbutton%1").arg(i + 1)))
                         ->Caption(),
                     captions[i]);
        QCOMPARE(edit("user")->maxLength(), 8);
        QCOMPARE(
            w()->findChildren<QFrame*>(QRegularExpression(QStringLiteral("^Line\\d+$"))).size(),
            13);
        for (const char* hidden : {"dom", "usr", "hst", "key", "ad1", "ad2", "ad3"}) {
            QVERIFY2(!Child<QWidget>(w(), hidden)->isVisible(), hidden);
            QVERIFY2(Child<QWidget>(w(), hidden)->x() >= 541, hidden);
        }
        QVERIFY(w()->findChild<QObject*>(QStringLiteral("Inet1")));
        QVERIFY(w()->findChild<QObject*>(QStringLiteral("Inet2")));
        // No access keys anywhere.
        for (const QLabel* l : w()->findChildren<QLabel*>())
            QVERIFY2(!l->text().contains(QLatin1Char('&')), qPrintable(l->text()));
        for (const QAction* a : w()->findChildren<QAction*>())
            QVERIFY2(!a->text().contains(QLatin1Char('&')) && a->shortcut().isEmpty(),
                     qPrintable(a->text()));
    }

    void menus() {
        QStringList bar;
        for (const QAction* a : w()->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{"File", "Settings", "Help"}));
        QVERIFY(!w()->menuBar()->actions().at(1)->menu()); // acts at once
        const QMenu* file = w()->menuBar()->actions().at(0)->menu();
        QCOMPARE(file->actions().size(), 1);
        QCOMPARE(file->actions().at(0)->text(), QStringLiteral("Exit"));
        QStringList help;
        for (const QAction* a : w()->menuBar()->actions().at(2)->menu()->actions())
            help << a->text() + (a->isEnabled() ? "" : " (disabled)");
        QCOMPARE(help,
                 (QStringList{"Live Demo", "Get Help",
                              QString(18, QLatin1Char('-')) + " (disabled)", "About Corvala"}));
    }

    void focusStartsInPlanAndTabComesRound() {
        w()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w()));
        QCOMPARE(QApplication::focusWidget(), edit("plan"));
        // Key by key through the whole order and back to plan.
        const QStringList order{"domain",       "pass",         "user",         "ausr",
                                "WebBrowser1",  "xpcmdbutton1", "xpcmdbutton2", "xpcmdbutton3",
                                "xpcmdbutton4", "xpcmdbutton5", "TreeView1",    "TreeView2",
                                "plan"};
        // A control made of several widgets (the pane) is named by its outermost one.
        const auto focused = [&order] {
            QWidget* at = QApplication::focusWidget();
            while (at && !order.contains(at->objectName()))
                at = at->parentWidget();
            return at ? at->objectName() : QStringLiteral("<outside the order>");
        };
        QStringList reached;
        for (qsizetype i = 0; i < order.size(); ++i) {
            QWidget* from = QApplication::focusWidget();
            QTest::keyClick(from, Qt::Key_Tab);
            QTRY_VERIFY(QApplication::focusWidget() != from);
            reached << focused();
        }
        QCOMPARE(reached, order);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("x"));
        QCOMPARE(edit("plan")->text(), QStringLiteral("x")); // Tab selected all it held
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(), QStringLiteral("TreeView2"));
    }

    void userStopsAtEightCharacters() {
        QLineEdit* user = edit("user");
        user->clear();
        QTest::keyClicks(user, QStringLiteral("abcdefghijk"));
        QCOMPARE(user->text(), QStringLiteral("abcdefgh"));
    }

    void commandsSendTheirRequest_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("ausr");
        QTest::addColumn<QString>("expected");
        const QString key = QStringLiteral("accesshash=K1%0D%0AK2");
        QTest::newRow("suspend") << QByteArray("xpcmdbutton3") << "bob"
                                 << "/sus.php?host=whm.example&user=root&" + key +
                                        "&suspenduser=bob";
        QTest::newRow("suspend, empty account")
            << QByteArray("xpcmdbutton3") << ""
            << "/sus.php?host=whm.example&user=root&" + key + "&suspenduser=";
        QTest::newRow("unsuspend") << QByteArray("xpcmdbutton4") << "bob"
                                   << "/unsus.php?host=whm.example&user=root&" + key + "&usr=bob";
        QTest::newRow("placeholder text goes as it is")
            << QByteArray("xpcmdbutton4") << "Username Here"
            << "/unsus.php?host=whm.example&user=root&" + key + "&usr=Username%20Here";
    }
    void commandsSendTheirRequest() {
        QFETCH(QByteArray, button);
        QFETCH(QString, ausr);
        QFETCH(QString, expected);
        edit("ausr")->setText(ausr);
        const int before = result()->history().size();
        click(button.constData());
        // These commands do not clear the pane first.
        QCOMPARE(result()->history().size(), before + 1);
        QCOMPARE(result()->lastAddress(), base() + expected);
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(edit("ausr")->text(), ausr);
    }

    // A command's page that cannot be loaded is reported, naming the command and why; a
    // page the gateway sends, its error pages included, is simply shown. While it loads, the
    // pane shows the busy cursor and the title names the command, until it loaded or failed.
    void commandPageThatCannotLoadIsReported() {
        TestHttpServer::Route page{502, "<html><body>WHM said no</body></html>"};
        page.contentType = "text/html";
        page.delay = std::chrono::milliseconds(300);
        m_Server->setRoute("/unsus.php", page);
        const auto cursorOverPane = [this] {
            QWidget* under = result()->childAt(result()->rect().center());
            return (under ? under : result())->cursor().shape();
        };
        QSignalSpy loaded(result(), &QWebEngineView::loadFinished);
        click("xpcmdbutton4");
        QCOMPARE(w()->windowTitle(), QStringLiteral("Corvala - waiting for \"UnSuspend Account\""));
        QCOMPARE(cursorOverPane(), Qt::BusyCursor);
        QVERIFY(loaded.wait(20000));
        QTRY_COMPARE(w()->windowTitle(), QStringLiteral("Corvala"));
        QVERIFY(cursorOverPane() != Qt::BusyCursor);
        QVERIFY(MessageBox::takeShown().isEmpty());

        m_Server.reset(); // the gateway is gone
        QList<MessageBox::Shown> shown;
        click("xpcmdbutton3");
        QTRY_VERIFY_WITH_TIMEOUT(!(shown += MessageBox::takeShown()).isEmpty(), 20000);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains("Suspend Account") && shown[0].text.contains("refused"),
                 qPrintable(shown[0].text));
        QCOMPARE(w()->windowTitle(), QStringLiteral("Corvala"));
        QVERIFY(cursorOverPane() != Qt::BusyCursor);
    }

    void createClearsThePaneThenSendsTheFields() {
        // The placeholders are real values; "&" in a password must not split the query.
        edit("pass")->setText(QStringLiteral("p&ss=1 2"));
        const int before = result()->history().size();
        click("xpcmdbutton1");
        const QStringList sent = result()->history().mid(before);
        const QString expected =
            base() + QStringLiteral("/ad.php?acctdomain=example.com&acctuser=username"
                                    "&acctpass=p%26ss%3D1%202&acctplan=user_plan&user=root"
                                    "&host=whm.example&accesshash=K1%0D%0AK2");
        QCOMPARE(sent, (QStringList{QStringLiteral("about:blank"), expected}));
        // The pane really loads it: the gateway receives the request.
        QTRY_VERIFY_WITH_TIMEOUT(!m_Server->targetsFor(QStringLiteral("/ad.php")).isEmpty(), 20000);
        QCOMPARE(base() + m_Server->targetsFor(QStringLiteral("/ad.php")).first(), expected);
    }

    void terminateSendsNothingWithoutYes() {
        edit("ausr")->setText(QStringLiteral("bob"));
        const QStringList before = result()->history();

        MessageBox::queueAnswer(MessageBox::Answer::No);
        click("xpcmdbutton5");
        click("xpcmdbutton5"); // nothing queued: the default button, No
        QCOMPARE(result()->history(), before);
        const QList<MessageBox::Shown> asked = MessageBox::takeShown();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].text, QStringLiteral("Terminate the account bob? Its files, mail and "
                                               "databases are deleted."));
        QCOMPARE(asked[0].title, QStringLiteral("Terminate Account"));
        QVERIFY(asked[0].yesNo);

        MessageBox::queueAnswer(MessageBox::Answer::Yes);
        click("xpcmdbutton5");
        QCOMPARE(result()->lastAddress(),
                 base() + QStringLiteral("/term.php?user=root&host=whm.example"
                                         "&accesshash=K1%0D%0AK2&usr=bob"));
        // The list still shows the account until it is refreshed.
        QVERIFY(TreeTexts(Child<QTreeView>(w(), "TreeView1")).contains(QStringLiteral("bob")));

        // An empty field is named as such; Yes still sends the request as it stands.
        edit("ausr")->clear();
        MessageBox::queueAnswer(MessageBox::Answer::Yes);
        click("xpcmdbutton5");
        QCOMPARE(MessageBox::takeShown().constLast().text,
                 QStringLiteral("The user name field is empty. Terminate the account with an "
                                "empty user name? Its files, mail and databases are deleted."));
        QVERIFY(result()->lastAddress().endsWith(QStringLiteral("&usr=")));

        // The box itself shows the name as typed, markup and all, and whole however long; Yes
        // and No carry no access keys, and a click on No sends nothing.
        const QString typed = "bob<span style=\"display:none\">x</span>" + QString(150, 'n');
        QTest::keyClicks(edit("ausr"), typed);
        MessageBox::setScripted(false);
        QStringList buttons;
        QString shown;
        bool whole = false;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            answer.stop();
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            shown = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
            const auto* text = label->findChild<QTextDocument*>();
            whole = text && text->idealWidth() <= label->width() &&
                    label->heightForWidth(label->width()) <= label->height();
            for (const QAbstractButton* b : box->buttons())
                buttons << b->text();
            QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
        });
        answer.start(10);
        const int sent = result()->history().size();
        click("xpcmdbutton5");
        MessageBox::setScripted(true);
        QCOMPARE(shown,
                 "Terminate the account " + typed + "? Its files, mail and databases are deleted.");
        QVERIFY(whole);
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"No", "Yes"}));
        QCOMPARE(result()->history().size(), sent);
    }

    void treeClicksReplaceTheField() {
        auto* accounts = Child<QTreeView>(w(), "TreeView1");
        auto* packages = Child<QTreeView>(w(), "TreeView2");
        const auto clickBeside = [](QTreeView* tree) {
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                              QPoint(10, tree->viewport()->height() - 5));
        };
        QTest::mouseClick(accounts->viewport(), Qt::LeftButton, {}, NodeCentre(accounts, 1));
        QCOMPARE(edit("ausr")->text(), QStringLiteral("bob"));

        // A click on the selected node again, and beside the nodes every time, copies it
        // again over what was typed.
        edit("ausr")->setText(QStringLiteral("typed"));
        QTest::mouseClick(accounts->viewport(), Qt::LeftButton, {}, NodeCentre(accounts, 1));
        QCOMPARE(edit("ausr")->text(), QStringLiteral("bob"));
        for (int i = 0; i < 2; ++i) {
            edit("ausr")->setText(QStringLiteral("typed"));
            clickBeside(accounts);
            QCOMPARE(edit("ausr")->text(), QStringLiteral("bob"));
        }

        QTest::mouseClick(packages->viewport(), Qt::LeftButton, {}, NodeCentre(packages, 1));
        QCOMPARE(edit("plan")->text(), QStringLiteral("gold"));
        edit("plan")->setText(QStringLiteral("typed"));
        clickBeside(packages);
        clickBeside(packages);
        QCOMPARE(edit("plan")->text(), QStringLiteral("gold"));
        QCOMPARE(edit("ausr")->text(), QStringLiteral("bob"));

        // Typing in a tree selects the first name that starts with the letters typed.
        QTest::keyClicks(accounts, QStringLiteral("ca"));
        QCOMPARE(accounts->currentIndex().data().toString(), QStringLiteral("carol"));
        QVERIFY(m_Server->targets().filter(QStringLiteral(".php")).isEmpty());
    }

    void nameCutShortShowsWholeInItsTooltip() {
        const QString cut = QString(40, 'a') + "<b>x</b>";
        m_Server->setBody(QStringLiteral("/clients.php"), "bob<BR>" + cut.toUtf8());
        click("xpcmdbutton2");
        w()->activateWindow(); // tooltips show in the active window only
        QVERIFY(QTest::qWaitForWindowActive(w()));
        auto* accounts = Child<QTreeView>(w(), "TreeView1");
        QTest::mouseMove(accounts->viewport(), NodeCentre(accounts, 1));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), Qt::convertFromPlainText(cut));
        QTest::mouseMove(accounts->viewport(), NodeCentre(accounts, 0));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void treeClickWithNothingSelectedDoesNothing() {
        m_Server->setBody(QStringLiteral("/clients.php"), "");
        click("xpcmdbutton2");
        auto* accounts = Child<QTreeView>(w(), "TreeView1");
        QCOMPARE(RowCount(accounts), 0);
        QTest::mouseClick(accounts->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(edit("ausr")->text(), QStringLiteral("Username Here"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void refreshAllTwiceGivesTheSameTrees() {
        m_Server->setBody(QStringLiteral("/clients.php"), "a<BR><BR>b c<BR>");
        auto* accounts = Child<QTreeView>(w(), "TreeView1");
        auto* packages = Child<QTreeView>(w(), "TreeView2");
        click("xpcmdbutton2");
        const QStringList first = TreeTexts(accounts);
        QCOMPARE(first, (QStringList{"a", "", "b c", ""}));
        click("xpcmdbutton2");
        QCOMPARE(TreeTexts(accounts), first);
        QCOMPARE(TreeTexts(packages), (QStringList{"basic", "gold"}));
        const QString q = QStringLiteral("?user=root&host=whm.example&accesshash=K1%0D%0AK2");
        QCOMPARE(m_Server->targets().filter(QStringLiteral(".php?")),
                 (QStringList{"/clients.php" + q, "/paks.php" + q, "/clients.php" + q,
                              "/paks.php" + q}));
    }

    void failedRefreshIsReportedOnceAndTheTreeStaysEmpty() {
        m_Server->setRoute(QStringLiteral("/paks.php"), TestHttpServer::Route{502, "no WHM"});
        click("xpcmdbutton2");
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains(QStringLiteral("package list")));
        QVERIFY(shown[0].text.contains(base() + QStringLiteral("/paks.php")));
        QCOMPARE(RowCount(Child<QTreeView>(w(), "TreeView2")), 0);
        QCOMPARE(RowCount(Child<QTreeView>(w(), "TreeView1")), 3);
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void helpMessages() {
        QTest::mouseClick(Child<xphelp>(w(), "xphelp1"), Qt::LeftButton);
        QTest::mouseClick(Child<xphelp>(w(), "xphelp2"), Qt::LeftButton);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].text, QStringLiteral("To create an account you need to fill in\r\n"
                                               "ALL of the fields above."));
        QCOMPARE(shown[1].text, QStringLiteral("Simply type the User in and click the desired "
                                               "command\r\nYou can use the client list on the "
                                               "right to get a username."));
        for (const MessageBox::Shown& s : shown) {
            QCOMPARE(s.title, QStringLiteral("Help"));
            QVERIFY(!s.yesNo);
        }
    }

    void sitePagesOpenInTheSystemBrowser() {
        Child<QAction>(w(), "dem")->trigger();
        Child<QAction>(w(), "get")->trigger();
        QCOMPARE(SystemBrowser::takeOpened(),
                 (QStringList{base() + "/demolive.php", base() + "/help.php"}));
    }

    void failedBrowserStartIsReported() {
        SystemBrowser::setRecording(false);
        // An address the desktop cannot open: the failure is shown, nothing ends.
        auto* dom = Child<QLineEdit>(w(), "dom");
        dom->setText(QStringLiteral("http://exa mple.invalid:99999"));
        Child<QAction>(w(), "get")->trigger();
        SystemBrowser::setRecording(true);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains(QStringLiteral("help.php")));
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void oneAboutWindowShowingTheSite() {
        QAction* about = Child<QAction>(w(), "about");
        about->trigger();
        Form9* first = w()->aboutWindow();
        QVERIFY(first && first->isVisible());
        about->trigger();
        QCOMPARE(w()->aboutWindow(), first);
        int abouts = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            abouts += qobject_cast<Form9*>(top) != nullptr;
        QCOMPARE(abouts, 1);

        QCOMPARE(first->windowTitle(), QStringLiteral("About"));
        QCOMPARE(first->size(), QSize(256, 235));
        QCOMPARE(Child<QLabel>(first, "Label5")->text(), QStringLiteral("1.7"));
        QCOMPARE(Child<QLabel>(first, "Label4")->text(), QStringLiteral("Version:"));
        QVERIFY(Child<QLabel>(first, "Label6")->font().bold());
        QCOMPARE(Child<QLabel>(first, "Label1_4")->text(), "Web: " + base());
        QCOMPARE(Child<QLabel>(first, "Image1")->pixmap().size(), QSize(256, 124));

        // Any of the three lines opens the site's home page.
        for (const char* line : {"Label1_0", "Label1_1", "Label1_4"})
            QTest::mouseClick(Child<QLabel>(first, line), Qt::LeftButton);
        const QStringList opened = SystemBrowser::takeOpened();
        QCOMPARE(opened.size(), 3);
        for (const QString& page : opened) // the home page: the site's address, no path
            QVERIFY2(page == base() || page == base() + "/", qPrintable(page));

        // Closing discards it; the next choice makes a new one.
        QVERIFY(first->close());
        QTRY_VERIFY(!w()->aboutWindow());
        about->trigger();
        QVERIFY(w()->aboutWindow() && w()->aboutWindow()->isVisible());
    }
};

CORVALA_WINDOW_TEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
