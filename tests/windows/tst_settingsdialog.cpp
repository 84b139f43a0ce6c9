// The settings dialog: load, the save and what it hands to the main window, failed
// writes, reopening, closing, and its help message.

#include "windowtest.h"

#include "form7.h"
#include "xpcmdbutton.h"
#include "xphelp.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

using namespace WindowTest;

class TstSettingsDialog : public QObject, Fixture {
    Q_OBJECT

    QString stored(const QString& key) const {
        return ReadIni(SettingsFile::kSection, key, settingsPath());
    }
    static QLineEdit* user(Form7* d) { return Child<QLineEdit>(d, "user"); }
    static QLineEdit* host(Form7* d) { return Child<QLineEdit>(d, "host"); }
    static QPlainTextEdit* key(Form7* d) { return Child<QPlainTextEdit>(d, "key"); }
    static void save(Form7* d) {
        QTest::mouseClick(Child<xpcmdbutton>(d, "xpcmdbutton1"), Qt::LeftButton);
    }

    // A visible main window with the dialog opened from its menu.
    std::unique_ptr<Form4> windowWithDialog() {
        WriteSettings(settingsPath(), QStringLiteral("root"), QStringLiteral("whm.example"),
                      QStringLiteral("L1*L2"));
        auto w = std::make_unique<Form4>(base(), settingsPath());
        w->Start();
        Child<QAction>(w.get(), "settin")->trigger();
        m_Server->clearRecorded();
        MessageBox::takeShown();
        return w;
    }

private slots:
    void init() { QVERIFY(SetUp()); }
    void cleanup() { TearDown(); }

    void layoutAndLoad() {
        auto w = windowWithDialog();
        Form7* d = w->settingsDialog();
        QVERIFY(d && d->isVisible());
        QVERIFY(w->isVisible()); // modeless: the main window stays
        QCOMPARE(d->windowTitle(), QStringLiteral("WHM Account Details"));
        QCOMPARE(d->size(), QSize(353, 399));
        QCOMPARE(d->minimumSize(), d->maximumSize());
        QCOMPARE(key(d)->geometry(), QRect(96, 56, 249, 299));
        const auto* hint = Child<QLabel>(d, "Label2");
        QCOMPARE(hint->text(), QStringLiteral("No Http://"));
        QCOMPARE(hint->palette().color(QPalette::WindowText), QColor(255, 0, 0));

        QCOMPARE(user(d)->text(), QStringLiteral("root"));
        QCOMPARE(host(d)->text(), QStringLiteral("whm.example"));
        QCOMPARE(key(d)->toPlainText(), QStringLiteral("L1\nL2"));

        // Choosing "Settings" again raises the same dialog.
        Child<QAction>(w.get(), "settin")->trigger();
        QCOMPARE(w->settingsDialog(), d);
    }

    void tabFollowsTheOrderAndNeverEntersTheKey() {
        auto w = windowWithDialog();
        Form7* d = w->settingsDialog();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d));
        user(d)->setFocus();
        QStringList reached;
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(reached, (QStringList{"host", "key", "xpcmdbutton1"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), key(d));
        QTest::keyClick(key(d), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), host(d));
        // Moving through the box leaves the access key as it was.
        QCOMPARE(key(d)->toPlainText(), QStringLiteral("L1\nL2"));
    }

    void saveRoundTrip_data() {
        QTest::addColumn<QString>("typedUser");
        QTest::addColumn<QString>("typedHost");
        QTest::addColumn<QString>("typedKey"); // as the box holds it, "\n" between lines
        QTest::addColumn<QString>("inFile");
        QTest::addColumn<QString>("mainKey");
        QTest::addColumn<QString>("query");
        QTest::newRow("three-line key")
            << "admin"
            << "server.example"
            << "AAA\nBBB\nCCC"
            << "AAA*BBB*CCC"
            << "AAA\r\nBBB\r\nCCC"
            << "user=admin&host=server.example&accesshash=AAA%0D%0ABBB%0D%0ACCC";
        QTest::newRow("star in the key") << "admin"
                                         << "server.example"
                                         << "x*y"
                                         << "x*y"
                                         << "x\r\ny"
                                         << "user=admin&host=server.example&accesshash=x%0D%0Ay";
        QTest::newRow("all boxes empty") << ""
                                         << ""
                                         << ""
                                         << ""
                                         << ""
                                         << "user=&host=&accesshash=";
        QTest::newRow("host with a scheme, kept as typed")
            << "admin"
            << "https://server.example"
            << "k"
            << "k"
            << "k"
            << "user=admin&host=https%3A%2F%2Fserver.example&accesshash=k";
    }
    void saveRoundTrip() {
        QFETCH(QString, typedUser);
        QFETCH(QString, typedHost);
        QFETCH(QString, typedKey);
        QFETCH(QString, inFile);
        QFETCH(QString, mainKey);
        QFETCH(QString, query);
        auto w = windowWithDialog();
        Form7* d = w->settingsDialog();
        user(d)->setText(typedUser);
        host(d)->setText(typedHost);
        key(d)->setPlainText(typedKey);
        save(d);

        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(stored(SettingsFile::kUser), typedUser);
        QCOMPARE(stored(SettingsFile::kHost), typedHost);
        QCOMPARE(stored(SettingsFile::kKey), inFile);
        const Connection c = w->connection();
        QCOMPARE(c.usr, typedUser);
        QCOMPARE(c.hst, typedHost);
        QCOMPARE(c.key, mainKey);
        // Both lists again, with what was read back, then the dialog hides (kept).
        QCOMPARE(m_Server->targets().filter(QStringLiteral(".php?")),
                 (QStringList{"/clients.php?" + query, "/paks.php?" + query}));
        QVERIFY(w->isVisible());
        QCOMPARE(w->settingsDialog(), d);
        QVERIFY(d->isHidden());
        // The dialog's own box still shows what was typed.
        QCOMPARE(key(d)->toPlainText(), typedKey);
    }

    void saveShowsTheWindowStartUpHid() {
        auto w = std::make_unique<Form4>(base(), settingsPath());
        w->Start(); // no file: hidden, dialog open
        QVERIFY(w->isHidden());
        Form7* d = w->settingsDialog();
        // The window is back before the lists are fetched.
        bool visibleWhenFetched = false;
        m_Server->clearRecorded();
        user(d)->setText(QStringLiteral("u"));
        host(d)->setText(QStringLiteral("h"));
        key(d)->setPlainText(QStringLiteral("k"));
        connect(Child<QTreeView>(w.get(), "TreeView1")->model(), &QAbstractItemModel::modelReset, d,
                [&] { visibleWhenFetched = w->isVisible() && d->isVisible(); });
        save(d);
        QVERIFY(visibleWhenFetched);
        QVERIFY(w->isVisible());
        QVERIFY(d->isHidden());
    }

    void failedWriteKeepsTheDialogAndTheOldSettings() {
        // The settings file's folder is a plain file: nothing can be written there, also
        // not as root.
        const QString blocker = m_Dir->filePath(QStringLiteral("not-a-folder"));
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        auto w = std::make_unique<Form4>(base(), blocker + QStringLiteral("/settings.whm"));
        w->Start();
        QVERIFY(w->isHidden());
        MessageBox::takeShown();
        m_Server->clearRecorded();

        Form7* d = w->settingsDialog();
        user(d)->setText(QStringLiteral("admin"));
        host(d)->setText(QStringLiteral("server.example"));
        key(d)->setPlainText(QStringLiteral("a\nb"));
        save(d);

        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Settings"));
        QVERIFY(shown[0].text.contains(QStringLiteral("could not be saved")));
        QVERIFY(d->isVisible());
        QCOMPARE(user(d)->text(), QStringLiteral("admin"));
        QCOMPARE(key(d)->toPlainText(), QStringLiteral("a\nb"));
        QVERIFY(w->isHidden());
        QCOMPARE(w->connection().usr, QString());
        QVERIFY(m_Server->targets().filter(QStringLiteral(".php")).isEmpty());
    }

    void reopeningAfterASaveShowsWhatWasTyped() {
        auto w = windowWithDialog();
        Form7* d = w->settingsDialog();
        host(d)->setText(QStringLiteral("new.example"));
        save(d);
        // Changed behind the program's back: the dialog does not read the file again.
        WriteIni(SettingsFile::kSection, SettingsFile::kHost, QStringLiteral("other"),
                 settingsPath());
        Child<QAction>(w.get(), "settin")->trigger();
        QCOMPARE(w->settingsDialog(), d);
        QVERIFY(d->isVisible());
        QCOMPARE(host(d)->text(), QStringLiteral("new.example"));
    }

    void closingDiscardsTheDialogAndItsEdits() {
        auto w = windowWithDialog();
        user(w->settingsDialog())->setText(QStringLiteral("unsaved"));
        QVERIFY(w->settingsDialog()->close());
        QTRY_VERIFY(!w->settingsDialog());
        QVERIFY(w->isVisible());
        QCOMPARE(stored(SettingsFile::kUser), QStringLiteral("root"));
        Child<QAction>(w.get(), "settin")->trigger();
        QCOMPARE(user(w->settingsDialog())->text(), QStringLiteral("root"));

        // Closed while its save reloads the lists: it goes once the save is over, not under it.
        Form7* d = w->settingsDialog();
        connect(
            Child<QTreeView>(w.get(), "TreeView1")->model(), &QAbstractItemModel::modelReset, d,
            [d] { QTimer::singleShot(0, d, [d] { d->close(); }); }, Qt::SingleShotConnection);
        save(d);
        QVERIFY(w->settingsDialog());
        QTRY_VERIFY(!w->settingsDialog());
        QCOMPARE(ProgramEnd::takeEnds(), 0);
    }

    void helpMessageChangesNothing() {
        auto w = windowWithDialog();
        Form7* d = w->settingsDialog();
        QTest::mouseClick(Child<xphelp>(d, "xphelp1"), Qt::LeftButton);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Help"));
        QCOMPARE(shown[0].text,
                 QStringLiteral("You can find your Access Key by logging into your WHM manually "
                                "and clicking 'Setup Remote Access Key'.\r\nThen copy and paste "
                                "this into the Key box on this software."));
        QVERIFY(d->isVisible());
        QCOMPARE(user(d)->text(), QStringLiteral("root"));
        QVERIFY(m_Server->targets().isEmpty());
    }
};

CORVALA_WINDOW_TEST_MAIN(TstSettingsDialog)
#include "tst_settingsdialog.moc"
