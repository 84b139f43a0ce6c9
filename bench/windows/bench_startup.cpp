// Time from process start to the main window shown, and memory once start-up has settled,
// counted over the program and every browser engine process it started. Prints one line of
// key=value figures that bench_startup_paired reads.
//
//     bench_startup [--gateway-base URL] [--engine-defaults] [--settle-ms N]
//
// Without --gateway-base it serves a 1,000-account list from a test server of its own.
// --engine-defaults leaves the browser engine's process model as it comes (one renderer
// process per pane that loads a page), for comparing with the program's choice.

#include "benchprocess.h"
#include "browserprocesses.h"
#include "form4.h"
#include "settingsfile.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QString base;
    bool engineDefaults = false;
    int settleMs = 3000;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--gateway-base" && i + 1 < argc)
            base = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--engine-defaults")
            engineDefaults = true;
        else if (arg == "--settle-ms" && i + 1 < argc)
            settleMs = QByteArray(argv[++i]).toInt();
    }
    // The engine's sandbox refuses to run as root, as on the test machines.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // As the program's main() does.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (!engineDefaults)
        BrowserProcesses::ShareOneRenderer();
    BrowserProcesses::DrawInSoftware();
    QApplication app(argc, argv);
    const double appMs = BenchProcess::MsSinceProcessStart();

    std::unique_ptr<TestHttpServer> gateway;
    if (base.isEmpty()) {
        gateway = std::make_unique<TestHttpServer>();
        QStringList accounts;
        for (int i = 0; i < 1000; ++i)
            accounts << QStringLiteral("acct%1").arg(i, 4, 10, QLatin1Char('0'));
        gateway->setBody(QStringLiteral("/version.txt"), "1.7");
        gateway->setBody(QStringLiteral("/clients.php"),
                         accounts.join(QStringLiteral("<BR>")).toUtf8());
        gateway->setBody(QStringLiteral("/paks.php"), "basic<BR>silver<BR>gold");
        base = gateway->baseAddress();
    }
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("settings.whm"));
    WriteIni(SettingsFile::kSection, SettingsFile::kUser, QStringLiteral("root"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kHost, QStringLiteral("127.0.0.1"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kKey, QStringLiteral("ABC*DEF"), settings);

    Form4 w(base, settings);
    const double builtMs = BenchProcess::MsSinceProcessStart();
    w.Start();
    const double startedMs = BenchProcess::MsSinceProcessStart();
    if (!QTest::qWaitForWindowExposed(&w, 30000)) {
        std::fprintf(stderr, "the main window was not shown\n");
        return 1;
    }
    const double shownMs = BenchProcess::MsSinceProcessStart();
    // Let the panes finish their first pages before memory is read.
    QTest::qWait(settleMs);
    const BenchProcess::Memory m = BenchProcess::TreeMemory();
    // Where the time before showing went: application, window built, start-up done.
    std::printf("corvala shown_ms=%.0f pss_kib=%lld rss_kib=%lld processes=%d app_ms=%.0f "
                "built_ms=%.0f started_ms=%.0f platform=%s\n",
                shownMs, m.pssKiB, m.rssKiB, m.processes, appMs, builtMs, startedMs,
                qPrintable(QGuiApplication::platformName()));
    return 0;
}
