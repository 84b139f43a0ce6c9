// "Refresh All" as a user meets it: the real main window against the real corvala-gateway
// --demo with 4, 10,000 and 100,000 accounts. A press and release on the button and then a
// key press go in through the window system's input queue, as a desktop delivers them; the
// freeze is the time from the press to the key being handled, which the window can only do
// once the refresh is over. A 1 ms timer measures the longest stretch in which no event
// was handled at all, until the key is handled and the account list repainted. At 10,000 accounts
// it also times the window's own fetch, split and fill of the account list against a plain GET of
// the same address, alternating, in the same run. Prints figures; asserts nothing.
//
//     xvfb-run -a bench_refresh [--gateway PATH | --gateway-base URL] [--runs N]
//                               [--accounts N,N,...]
//
// --gateway-base uses a gateway already running (its account count is whatever it holds);
// otherwise PATH (default: corvala-gateway beside this program) is started once per count.
// Without a display it runs offscreen, which leaves out the window system's share.

#include "benchgateway.h"
#include "browserprocesses.h"
#include "form4.h"
#include "internettransfer.h"
#include "requests.h"
#include "settingsfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Notes when the probe key reaches the application, and when the account list has been
// painted after its last reset; the run ends once both happened.
class KeyProbe : public QObject {
public:
    QElapsedTimer* clock = nullptr;
    QObject* listViewport = nullptr;
    const int* resets = nullptr;
    double handledMs = -1;
    double paintedMs = -1;
    QEventLoop* loop = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::KeyPress && e->spontaneous() && handledMs < 0 &&
            static_cast<QKeyEvent*>(e)->key() == Qt::Key_Shift)
            handledMs = clock->nsecsElapsed() / 1e6;
        else if (e->type() == QEvent::Paint && watched == listViewport && *resets >= 2)
            paintedMs = clock->nsecsElapsed() / 1e6;
        if (handledMs >= 0 && paintedMs >= 0)
            loop->quit();
        return false;
    }
};

struct Freeze {
    double frozenMs = -1;
    double paintedMs = -1;
    double longestStretchMs = 0;
    int resets = 0;
};

// One click on "Refresh All", through the input queue, with a key press right behind it.
Freeze ClickRefresh(Form4& w) {
    QWidget* button = w.findChild<QWidget*>(QStringLiteral("xpcmdbutton2"));
    QWindow* window = w.windowHandle();
    const QPoint local = button->mapTo(&w, button->rect().center());
    const QPoint global = button->mapToGlobal(button->rect().center());
    auto* accounts = w.findChild<QTreeView*>(QStringLiteral("TreeView1"));

    Freeze f;
    QMetaObject::Connection reset =
        QObject::connect(accounts->model(), &QAbstractItemModel::modelReset, [&f] { ++f.resets; });
    QElapsedTimer clock;
    QEventLoop loop;
    KeyProbe probe;
    probe.clock = &clock;
    probe.loop = &loop;
    probe.listViewport = accounts->viewport();
    probe.resets = &f.resets;
    qApp->installEventFilter(&probe);

    double lastTick = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        f.longestStretchMs = std::max(f.longestStretchMs, now - lastTick);
        lastTick = now;
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);

    clock.start();
    ticker.start();
    QWindowSystemInterface::handleMouseEvent(window, local, global, Qt::LeftButton, Qt::LeftButton,
                                             QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent(window, local, global, Qt::NoButton, Qt::LeftButton,
                                             QEvent::MouseButtonRelease);
    QWindowSystemInterface::handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Shift,
                                           Qt::ShiftModifier);
    QWindowSystemInterface::handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_Shift,
                                           Qt::NoModifier);
    loop.exec();
    const double end = clock.nsecsElapsed() / 1e6;
    f.longestStretchMs = std::max(f.longestStretchMs, end - lastTick);
    f.frozenMs = probe.handledMs;
    f.paintedMs = probe.paintedMs;
    qApp->removeEventFilter(&probe);
    QObject::disconnect(reset);
    return f;
}

// The window's fetch, split and fill of the account list (with the repaint it causes)
// against a plain GET of the same address through the same transfer class.
void FillAgainstPlainGet(Form4& w, int runs) {
    InternetTransfer plain;
    const QString address = Requests::AccountList(w.connection());
    plain.OpenURL(address); // both connections warm
    w.client();
    std::vector<double> get, fill;
    QElapsedTimer t;
    // Events left from the previous run are handled before the clock starts.
    auto timeGet = [&] {
        QCoreApplication::processEvents();
        t.start();
        plain.OpenURL(address);
        QCoreApplication::processEvents();
        get.push_back(t.nsecsElapsed() / 1e6);
    };
    auto timeFill = [&] {
        QCoreApplication::processEvents();
        t.start();
        w.client();
        QCoreApplication::processEvents();
        fill.push_back(t.nsecsElapsed() / 1e6);
    };
    // Which goes first swaps every run: whatever one leaves behind lands on both alike.
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            timeGet();
            timeFill();
        } else {
            timeFill();
            timeGet();
        }
    }
    std::printf("  fetch+split+fill of the account list %.2f ms / plain GET %.2f ms "
                "(medians of %d, alternating): ratio %.2f (goal <= 1.5)\n",
                Median(fill), Median(get), runs, Median(fill) / Median(get));
}

} // namespace

int main(int argc, char** argv) {
    const BenchArguments args(argc, argv);
    QString binary = args.gatewayBinary();
    const QString base = args.gatewayBase();
    const int runs = args.runs();
    QList<int> counts{4, 10'000, 100'000};
    if (const QString accounts = args.value(QStringLiteral("--accounts")); !accounts.isEmpty()) {
        counts.clear();
        for (const QString& n : accounts.split(QLatin1Char(',')))
            counts << n.toInt();
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BrowserProcesses::ShareOneRenderer();
    BrowserProcesses::DrawInSoftware();
    QApplication app(argc, argv);
    // The offscreen platform skips the window system and understates a refresh.
    std::printf("Qt platform: %s\n", qPrintable(QGuiApplication::platformName()));
    if (binary.isEmpty())
        binary = BenchGateway::DefaultBinary();
    if (!base.isEmpty())
        counts = {-1};

    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("settings.whm"));
    WriteIni(SettingsFile::kSection, SettingsFile::kUser, QStringLiteral("root"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kHost, QStringLiteral("127.0.0.1"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kKey, QStringLiteral("ABC*DEF"), settings);

    for (int count : counts) {
        BenchGateway gateway;
        const QString address = base.isEmpty() ? gateway.start(binary, count) : base;
        if (address.isEmpty()) {
            std::fprintf(stderr, "the gateway %s did not start\n", qPrintable(binary));
            return 1;
        }
        Form4 w(address, settings);
        w.Start();
        if (!QTest::qWaitForWindowExposed(&w, 30000)) {
            std::fprintf(stderr, "the main window was not shown\n");
            return 1;
        }
        QTest::qWait(1500); // the panes' first pages, out of the way
        const int rows = w.findChild<QTreeView*>(QStringLiteral("TreeView1"))->model()->rowCount();

        std::vector<double> frozen, stretch, painted;
        for (int i = 0; i < runs; ++i) {
            const Freeze f = ClickRefresh(w);
            if (f.frozenMs < 0 || f.paintedMs < 0 || f.resets < 2) {
                std::fprintf(stderr, "the click did not refresh the lists\n");
                return 1;
            }
            frozen.push_back(f.frozenMs);
            stretch.push_back(f.longestStretchMs);
            painted.push_back(f.paintedMs);
            QTest::qWait(600); // so the next press is no double click
        }
        std::printf("Refresh All with %d accounts: input frozen %.1f ms (min %.1f, max %.1f), "
                    "list repainted after %.1f ms, longest stretch without event handling "
                    "%.1f ms (medians of %d)\n",
                    rows, Median(frozen), *std::min_element(frozen.begin(), frozen.end()),
                    *std::max_element(frozen.begin(), frozen.end()), Median(painted),
                    Median(stretch), runs);
        if (rows == 10'000)
            FillAgainstPlainGet(w, 21);
    }
    return 0;
}
