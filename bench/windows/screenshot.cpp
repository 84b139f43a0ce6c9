// Shows the main window against the test HTTP server and saves a picture of it:
//
//     xvfb-run -a screenshot OUT.png
//
// The picture is the whole window as the window system shows it (menu bar included) when
// the screen can be grabbed, else the window's own rendering.

#include "form4.h"
#include "form7.h"
#include "form9.h"
#include "settingsfile.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshot OUT.png\n");
        return 2;
    }
    TestHttpServer gateway;
    gateway.setBody(QStringLiteral("/version.txt"), "1.7");
    gateway.setBody(QStringLiteral("/clients.php"), "alice<BR>bob<BR>carol<BR>dave");
    gateway.setBody(QStringLiteral("/paks.php"), "basic<BR>silver<BR>gold");
    gateway.setRoute(QStringLiteral("/tips.php"),
                     {200,
                      "<html><body style='font:11px sans-serif'>Tip: a click on a client "
                      "fills the user box.</body></html>",
                      {},
                      false,
                      "text/html"});
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("settings.whm"));
    WriteIni(SettingsFile::kSection, SettingsFile::kUser, QStringLiteral("root"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kHost, QStringLiteral("127.0.0.1"), settings);
    WriteIni(SettingsFile::kSection, SettingsFile::kKey, QStringLiteral("ABC"), settings);

    Form4 w(gateway.baseAddress(), settings);
    w.move(20, 20);
    w.Start();
    if (!QTest::qWaitForWindowExposed(&w, 30000))
        return 1;
    QTest::qWait(2500);
    QPixmap shot = w.grab();
    if (QScreen* screen = w.screen(); screen && QGuiApplication::platformName() != "offscreen") {
        const QPixmap full = screen->grabWindow(0);
        if (!full.isNull())
            shot = full.copy(w.frameGeometry());
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!shot.save(out))
        return 1;
    // The settings dialog and About beside it, from their own rendering.
    w.ShowSettings();
    w.ShowAbout();
    QTest::qWait(300);
    QString base = out;
    base.chop(4);
    w.settingsDialog()->grab().save(base + QStringLiteral("-settings.png"));
    w.aboutWindow()->grab().save(base + QStringLiteral("-about.png"));
    std::printf(
        "saved %s: %dx%d, client area %dx%d at %d,%d in the frame\n", argv[1], shot.width(),
        shot.height(), w.centralWidget()->width(), w.centralWidget()->height(),
        w.centralWidget()->mapTo(&w, QPoint()).x() + w.geometry().x() - w.frameGeometry().x(),
        w.centralWidget()->mapTo(&w, QPoint()).y() + w.geometry().y() - w.frameGeometry().y());
    return 0;
}
