// The desktop program against the real gateway in demo mode: settings, create, refresh,
// suspend, unsuspend, terminate, refresh. Every command's page is read back from the
// result pane once it has loaded.

#include "browserpane.h"
#include "form4.h"
#include "form7.h"
#include "internettransfer.h"
#include "messagebox.h"
#include "platformerror.h"
#include "programend.h"
#include "systembrowser.h"
#include "xpcmdbutton.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QWebEnginePage>
#include <memory>

class TstE2eDemo : public QObject {
    Q_OBJECT

    QProcess m_Gateway;
    QString m_Base;
    QTemporaryDir m_Dir;
    std::unique_ptr<Form4> m_Window;

    template <class T> static T* Child(QObject* parent, const char* name) {
        T* child = parent->findChild<T*>(QString::fromLatin1(name));
        if (!child)
            qFatal("no child %s", name);
        return child;
    }
    Form4* w() const { return m_Window.get(); }
    BrowserPane* result() const { return Child<BrowserPane>(w(), "WebBrowser1"); }
    QTreeView* accounts() const { return Child<QTreeView>(w(), "TreeView1"); }

    // Types into a field as a person would: select all, then the new text.
    static void type(QWidget* field, const QString& text) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
    static void press(QWidget* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }

    QStringList accountNames() const {
        QStringList names;
        const QAbstractItemModel* rows = accounts()->model();
        for (int i = 0; i < rows->rowCount(); ++i)
            names << rows->index(i, 0).data().toString();
        return names;
    }

    static QString plainText(QWebEnginePage* page) {
        QString text;
        bool done = false;
        page->toPlainText([&](const QString& t) {
            text = t;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 10000))
            return QStringLiteral("<page text not read>");
        return text;
    }

    // Presses a command button and returns the text of the page the gateway answered,
    // once the result pane has finished loading it.
    QString runCommand(const char* button, const QString& path) {
        QSignalSpy finished(result(), &QWebEngineView::loadFinished);
        press(Child<xpcmdbutton>(w(), button));
        bool loaded = QTest::qWaitFor(
            [&] {
                for (const QList<QVariant>& args : finished)
                    if (args.at(0).toBool() && result()->url().path() == path)
                        return true;
                return false;
            },
            60000);
        if (!loaded)
            return QStringLiteral("<no page loaded for %1; pane at %2>")
                .arg(path, result()->url().toString());
        return plainText(result()->page());
    }

    // Starts the gateway and returns its address, or "" when it did not start. Port 0: the
    // gateway takes a free port and names it on its first line.
    static QString startGateway(QProcess& gateway, const QStringList& arguments) {
        gateway.setProgram(QStringLiteral(CORVALA_GATEWAY_EXE));
        gateway.setArguments(arguments);
        gateway.setProcessChannelMode(QProcess::SeparateChannels);
        gateway.start();
        if (!gateway.waitForStarted(10000))
            return {};
        const QRegularExpression listening(
            QStringLiteral("listening on (https?://127\\.0\\.0\\.1:\\d+)"));
        QByteArray out;
        (void)QTest::qWaitFor(
            [&] {
                out += gateway.readAllStandardOutput();
                return listening.match(QString::fromUtf8(out)).hasMatch() ||
                       gateway.state() == QProcess::NotRunning;
            },
            10000);
        return listening.match(QString::fromUtf8(out)).captured(1);
    }

private slots:
    void initTestCase() {
        MessageBox::setScripted(true);
        SystemBrowser::setRecording(true);
        ProgramEnd::setRecording(true);

        m_Base = startGateway(m_Gateway, {QStringLiteral("--demo"), QStringLiteral("--listen"),
                                          QStringLiteral("127.0.0.1:0")});
        QVERIFY(!m_Base.isEmpty());
        QVERIFY(m_Dir.isValid());
    }

    void cleanupTestCase() {
        m_Window.reset();
        if (m_Gateway.state() != QProcess::NotRunning) {
            m_Gateway.terminate();
            if (!m_Gateway.waitForFinished(10000))
                m_Gateway.kill();
            m_Gateway.waitForFinished(5000);
        }
        // The gateway's log must not hold the access key it was sent on every request.
        const QByteArray log = m_Gateway.readAllStandardError();
        QVERIFY(log.contains("/clients.php"));
        QVERIFY(!log.contains("E2EKEY"));
    }

    void settingsThenTheWholeAccountCycle() {
        // No settings file yet: start-up asks for the settings and hides the main window.
        const QString settings = m_Dir.filePath(QStringLiteral("settings.whm"));
        m_Window = std::make_unique<Form4>(m_Base, settings);
        m_Window->Start();
        QVERIFY(!w()->isVisible());
        Form7* dialog = w()->settingsDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        MessageBox::takeShown();

        type(Child<QLineEdit>(dialog, "user"), QStringLiteral("root"));
        type(Child<QLineEdit>(dialog, "host"), QStringLiteral("whm.demo.example"));
        auto* key = Child<QPlainTextEdit>(dialog, "key");
        key->setFocus();
        key->setPlainText(QStringLiteral("E2EKEYLINE1\r\nE2EKEYLINE2"));
        press(Child<xpcmdbutton>(dialog, "xpcmdbutton1"));

        QVERIFY(w()->isVisible());
        QCOMPARE(accountNames(), QStringList({"alice", "bob", "carol", "dave"}));
        QCOMPARE(Child<QTreeView>(w(), "TreeView2")->model()->rowCount(), 4);
        QVERIFY2(MessageBox::takeShown().isEmpty(), "no failure may be reported");

        // Create an account through the window's fields.
        type(Child<QLineEdit>(w(), "domain"), QStringLiteral("e2e-shop.example"));
        type(Child<QLineEdit>(w(), "user"), QStringLiteral("e2eshop"));
        type(Child<QLineEdit>(w(), "pass"), QStringLiteral("p&ss w0rd"));
        type(Child<QLineEdit>(w(), "plan"), QStringLiteral("silver"));
        QString page = runCommand("xpcmdbutton1", QStringLiteral("/ad.php"));
        QVERIFY2(page.contains(QStringLiteral("Account e2eshop created")), qPrintable(page));

        press(Child<xpcmdbutton>(w(), "xpcmdbutton2")); // Refresh All
        QCOMPARE(accountNames(), QStringList({"alice", "bob", "carol", "dave", "e2eshop"}));

        // A click on the new account names it for the commands.
        const QRect node = accounts()->visualRect(accounts()->model()->index(4, 0));
        QTest::mouseClick(accounts()->viewport(), Qt::LeftButton, {}, node.center());
        QCOMPARE(Child<QLineEdit>(w(), "ausr")->text(), QStringLiteral("e2eshop"));

        page = runCommand("xpcmdbutton3", QStringLiteral("/sus.php"));
        QVERIFY2(page.contains(QStringLiteral("Account e2eshop suspended")), qPrintable(page));
        page = runCommand("xpcmdbutton4", QStringLiteral("/unsus.php"));
        QVERIFY2(page.contains(QStringLiteral("Account e2eshop unsuspended")), qPrintable(page));

        MessageBox::queueAnswer(MessageBox::Answer::Yes);
        page = runCommand("xpcmdbutton5", QStringLiteral("/term.php"));
        QVERIFY2(page.contains(QStringLiteral("Account e2eshop terminated")), qPrintable(page));
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().yesNo);

        press(Child<xpcmdbutton>(w(), "xpcmdbutton2"));
        QCOMPARE(accountNames(), QStringList({"alice", "bob", "carol", "dave"}));
    }

    // A gateway served over HTTPS with a certificate made here and trusted by this process.
    void transferOverHttpsWithATrustedCertificate() {
        const QString cert = m_Dir.filePath(QStringLiteral("gateway-cert.pem"));
        const QString key = m_Dir.filePath(QStringLiteral("gateway-key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                       "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                       "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
        QVERIFY(openssl.waitForFinished(30000));
        QCOMPARE(openssl.exitCode(), 0);

        QProcess gateway;
        const QString base = startGateway(
            gateway, {"--demo", "--listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key});
        QVERIFY2(base.startsWith(QStringLiteral("https://")), qPrintable(base));
        const QString clients = base + "/clients.php?user=root&host=localhost&accesshash=K";

        InternetTransfer untrusted;
        QVERIFY_THROWS_EXCEPTION(PlatformError, untrusted.OpenURL(clients));

        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.addCaCertificates(QSslCertificate::fromPath(cert));
        QSslConfiguration::setDefaultConfiguration(trust);
        InternetTransfer transfer;
        QCOMPARE(transfer.OpenURL(clients), QStringLiteral("alice<BR>bob<BR>carol<BR>dave"));
        QCOMPARE(transfer.OpenURL(base + "/version.txt"), QStringLiteral("1.7"));

        gateway.terminate();
        QVERIFY(gateway.waitForFinished(10000));
    }
};

int main(int argc, char** argv) {
    // The browser panes need a shared GL context, set before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TstE2eDemo tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_e2e_demo.moc"
