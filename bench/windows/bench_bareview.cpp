// The reference: a program that shows nothing but one QWebEngineView. Same figures as
// bench_startup.

#include "benchprocess.h"

#include <QApplication>
#include <QTest>
#include <QWebEngineView>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    view.resize(541, 472);
    view.load(QUrl(QStringLiteral("about:blank")));
    view.show();
    if (!QTest::qWaitForWindowExposed(&view, 30000)) {
        std::fprintf(stderr, "the view was not shown\n");
        return 1;
    }
    const double shownMs = BenchProcess::MsSinceProcessStart();
    QTest::qWait(3000);
    std::printf("bare QWebEngineView: window shown after %.0f ms; RSS %lld KiB, "
                "with browser helper processes %lld KiB\n",
                shownMs, BenchProcess::OwnRssKiB(), BenchProcess::TreeRssKiB());
    return 0;
}
