// Start-up against a given gateway, with complete settings, until the first failure box:
// prints the time from the start of start-up to the box, the box's title and the process's
// peak resident memory. With no box, prints the peak once start-up is done.
//
//     python3 bench/windows/hostile_gateway.py endless 18717 &
//     QT_QPA_PLATFORM=offscreen bench_failure_shown http://127.0.0.1:18717

#include "benchprocess.h"
#include "form4.h"
#include "messagebox.h"
#include "settingsfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_failure_shown GATEWAY_BASE_ADDRESS\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("settings.whm"));
    SettingsFile::Save(QStringLiteral("root"), QStringLiteral("127.0.0.1"),
                       QStringLiteral("ABC*DEF"), settings);

    QElapsedTimer clock;
    bool shown = false;
    MessageBox::setScripted(true);
    MessageBox::setOnShown([&](const MessageBox::Shown& box) {
        if (shown)
            return;
        shown = true;
        std::printf("failure box \"%s\" shown after %.1f s; peak RSS %lld KiB\n",
                    qPrintable(box.title), clock.nsecsElapsed() / 1e9, BenchProcess::PeakRssKiB());
    });

    Form4 w(QString::fromLocal8Bit(argv[1]), settings);
    clock.start();
    w.Start();
    if (!shown)
        std::printf("no failure box; start-up took %.1f s; peak RSS %lld KiB\n",
                    clock.nsecsElapsed() / 1e9, BenchProcess::PeakRssKiB());
    return 0;
}
