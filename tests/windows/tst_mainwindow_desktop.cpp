// The main window on a desktop against the real gateway in demo mode: the result pane's
// pages at the pane's size, and what assistive technology reads over the accessibility bus
// (AT-SPI). CTest runs it under xvfb-run and dbus-run-session.

#include "windowtest.h"
#include "xpcmdbutton.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWheelEvent>

using namespace WindowTest;

class TstMainWindowDesktop : public QObject {
    Q_OBJECT

    QProcess m_Gateway;
    QTemporaryDir m_Dir;
    std::unique_ptr<Form4> m_Window;
    QDBusConnection m_Bus{QString()}; // the accessibility bus
    QString m_App;                    // this program on it
    QStringList m_Seen, m_Paths;      // "role: name" of each object, and where it is

    BrowserPane* pane() const { return Child<BrowserPane>(m_Window.get(), "WebBrowser1"); }
    QVariant Script(const QString& code) const {
        QVariant result;
        pane()->page()->runJavaScript(code, [&](const QVariant& v) { result = v; });
        return QTest::qWaitFor([&] { return result.isValid(); }, 10000) ? result : QVariant();
    }
    // The window's bridge answers on this thread: the call runs the event loop as it waits.
    QVariant Ask(const QString& path, const char* interface, const char* method,
                 const QVariantList& args = {}) {
        auto call = QDBusMessage::createMethodCall(m_App, path, interface, method);
        call.setArguments(args);
        return m_Bus.call(call, QDBus::BlockWithGui).arguments().value(0);
    }
    void Walk(const QString& path) {
        const char* accessible = "org.a11y.atspi.Accessible";
        const QVariant name =
            Ask(path, "org.freedesktop.DBus.Properties", "Get", {accessible, "Name"});
        m_Seen << Ask(path, accessible, "GetRoleName").toString() + ": " +
                      name.value<QDBusVariant>().variant().toString();
        m_Paths << path;
        const auto children = Ask(path, accessible, "GetChildren").value<QDBusArgument>();
        children.beginArray();
        for (QString service; !children.atEnd(); children.endStructure()) {
            QDBusObjectPath child;
            children.beginStructure();
            children >> service >> child;
            Walk(child.path());
        }
        children.endArray();
    }

private slots:
    void initTestCase() {
        MessageBox::setScripted(true);
        m_Gateway.start(CORVALA_GATEWAY_EXE, {"--demo", "--listen", "127.0.0.1:0"});
        QVERIFY(m_Gateway.waitForReadyRead(10000)); // "... listening on http://127.0.0.1:PORT ..."
        const QString base = QString(m_Gateway.readLine()).section(' ', 3, 3);
        const QString settings = m_Dir.filePath(QStringLiteral("settings.whm"));
        WriteSettings(settings, "root", "whm.demo.example", "DESKTOPKEY");
        m_Window = std::make_unique<Form4>(base, settings);
        m_Window->Start();
        QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
        QVERIFY(MessageBox::takeShown().isEmpty());
    }
    void cleanupTestCase() {
        m_Window.reset();
        m_Gateway.terminate();
        m_Gateway.waitForFinished(10000);
    }

    // A refusal naming a long account, with a 2,000-byte WHM reason: what the pane shows at
    // once says the outcome, nothing is wider than the pane, and the wheel and keys scroll.
    void resultPageSaysItsOutcomeFirstAndScrolls() {
        const QString account(1970, QLatin1Char('g')); // named in full in the demo's reason
        Child<QLineEdit>(m_Window.get(), "ausr")->setText(account);
        QSignalSpy loaded(pane(), &BrowserPane::Loaded);
        QTest::mouseClick(Child<xpcmdbutton>(m_Window.get(), "xpcmdbutton3"), Qt::LeftButton);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(Script("const e = document.scrollingElement, head = document.body.firstChild;"
                        "head.getBoundingClientRect().bottom <= innerHeight &&"
                        "e.scrollWidth <= e.clientWidth ? head.innerText : 'cut'"),
                 "Account " + account.left(17) + "\u2026 not suspended");
        QWidget* page = pane()->focusProxy();
        const QPoint at = page->rect().center();
        QWheelEvent down(at, page->mapToGlobal(at), {}, {0, -120}, {}, {}, Qt::NoScrollPhase,
                         false);
        QApplication::sendEvent(page, &down);
        QTRY_VERIFY(Script("scrollY").toInt() > 0);
        QTest::mouseClick(page, Qt::LeftButton);
        QTest::keyClick(page, Qt::Key_End);
        QTRY_VERIFY(
            Script("innerHeight + scrollY >= document.scrollingElement.scrollHeight").toBool());
    }

    // Every control of the main window and the settings dialog named as a person reads it,
    // with a fitting role; the trees carry their headings; the main window's hidden fields (the
    // WHM access key among them) are not there at all.
    void assistiveTechnologyReadsWhatAPersonReads() {
        // Asked for its address, the session starts the bus; the window's bridge then joins.
        const QDBusMessage address =
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
        m_Bus = QDBusConnection::connectToBus(address.arguments().value(0).toString(), "at-spi");
        const auto findApp = [this] {
            for (const QString& name : m_Bus.interface()->registeredServiceNames().value())
                if (name != m_Bus.baseService() &&
                    m_Bus.interface()->servicePid(name) == QCoreApplication::applicationPid())
                    m_App = name;
            return !m_App.isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(findApp(), 20000);
        m_Window->ShowSettings(); // its window too
        Walk(QStringLiteral("/org/a11y/atspi/accessible/root"));
        const QStringList expected =
            QStringLiteral(
                "push button: Create Account|push button: Refresh All|push button: Suspend Account|"
                "push button: UnSuspend Account|push button: Terminate Account|"
                "push button: Help on creating an account|push button: Help on the account "
                "commands|text: Domain Name:-|text: Username:-|text: Password:-|text: Package:-|"
                "text: Account to suspend, unsuspend or terminate|tree: Clients|tree: Packages|"
                "column header: Clients|text: WHM Username|text: Host|text: Access Key|"
                "push button: Save Settings|push button: Help on the WHM settings")
                .split('|');
        for (const QString& control : expected)
            QVERIFY2(m_Seen.contains(control), qPrintable(control));
        QCOMPARE(m_Seen.filter(QRegularExpression("^text: ")).size(), 8); // the visible fields
        QCOMPARE(m_Seen.filter(QRegularExpression("^web document")).size(), 1); // the result's
        // A push button presses as a click does.
        Ask(m_Paths[m_Seen.indexOf("push button: Help on creating an account")],
            "org.a11y.atspi.Action", "DoAction", {0});
        QList<MessageBox::Shown> shown;
        QTRY_VERIFY(!(shown += MessageBox::takeShown()).isEmpty());
        QCOMPARE(shown.first().title, QStringLiteral("Help"));
    }
};

CORVALA_WINDOW_TEST_MAIN(TstMainWindowDesktop)
#include "tst_mainwindow_desktop.moc"
