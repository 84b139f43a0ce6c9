// The main window on a desktop against the real gateway in demo mode: the result pane's
// pages at the pane's size. CTest runs it under xvfb-run.

#include "windowtest.h"
#include "xpcmdbutton.h"

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

    BrowserPane* pane() const { return Child<BrowserPane>(m_Window.get(), "WebBrowser1"); }
    QVariant Script(const QString& code) const {
        QVariant result;
        pane()->page()->runJavaScript(code, [&](const QVariant& v) { result = v; });
        return QTest::qWaitFor([&] { return result.isValid(); }, 10000) ? result : QVariant();
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
};

CORVALA_WINDOW_TEST_MAIN(TstMainWindowDesktop)
#include "tst_mainwindow_desktop.moc"
