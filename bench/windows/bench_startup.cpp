// Time from process start to the main window shown, against the test HTTP server with a
// 1,000-account list, and resident memory once start-up is done. Prints one line.
//
//     xvfb-run -a bench_startup        (or QT_QPA_PLATFORM=offscreen bench_startup)

#include "benchprocess.h"
#include "form4.h"
#include "settingsfile.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    TestHttpServer gateway;
    QStringList accounts;
    for (int i = 0; i < 1000; ++i)
        accounts << QStringLiteral("acct%1").arg(i, 4, 10, QLatin1Char('0'));
    gateway.setBody(QStringLiteral("/version.txt"), "1.7");
    gateway.setBody(QStringLiteral("/clients.php"), accounts.join(QStringLiteral("<BR>")).toUtf8());
    gateway.setBody(QStringLiteral("/paks.php"), "basic<BR>silver<BR>gold");
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("settings.whm"));
    WriteIni(SettingsFile::kSection, SettingsFile::kUser, QStringLiteral("root"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kHost, QStringLiteral("whm.example"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kKey, QStringLiteral("ABC*DEF"), settings);

    Form4 w(gateway.baseAddress(), settings);
    w.Start();
    if (!QTest::qWaitForWindowExposed(&w, 30000)) {
        std::fprintf(stderr, "the main window was not shown\n");
        return 1;
    }
    const double shownMs = BenchProcess::MsSinceProcessStart();
    // Let the panes finish their first pages before memory is read.
    QTest::qWait(3000);
    std::printf("corvala start-up: window shown after %.0f ms (1,000 accounts); RSS %lld KiB, "
                "with browser helper processes %lld KiB\n",
                shownMs, BenchProcess::OwnRssKiB(), BenchProcess::TreeRssKiB());
    return 0;
}
