// The reference: a program that shows nothing but one QWebEngineView with one page, the
// browser engine as it comes. Same figures and line format as bench_startup.
//
//     bench_bareview [--page URL] [--settle-ms N]

#include "benchprocess.h"

#include <QApplication>
#include <QTest>
#include <QWebEngineView>
#include <cstdio>

int main(int argc, char** argv) {
    QString page = QStringLiteral("about:blank");
    int settleMs = 3000;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--page" && i + 1 < argc)
            page = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--settle-ms" && i + 1 < argc)
            settleMs = QByteArray(argv[++i]).toInt();
    }
    // The engine's sandbox refuses to run as root, as on the test machines.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const double appMs = BenchProcess::MsSinceProcessStart();
    QWebEngineView view;
    view.resize(541, 472);
    view.load(QUrl(page));
    view.show();
    const double loadedMs = BenchProcess::MsSinceProcessStart();
    if (!QTest::qWaitForWindowExposed(&view, 30000)) {
        std::fprintf(stderr, "the view was not shown\n");
        return 1;
    }
    const double shownMs = BenchProcess::MsSinceProcessStart();
    QTest::qWait(settleMs);
    const BenchProcess::Memory m = BenchProcess::TreeMemory();
    std::printf("bare shown_ms=%.0f pss_kib=%lld rss_kib=%lld processes=%d app_ms=%.0f "
                "built_ms=%.0f platform=%s\n",
                shownMs, m.pssKiB, m.rssKiB, m.processes, appMs, loadedMs,
                qPrintable(QGuiApplication::platformName()));
    return 0;
}
