#include "browserprocesses.h"
#include "form4.h"
#include "settingsfile.h"

#include <QApplication>

int main(int argc, char** argv) {
    // The browser panes share one GL context; this must be set before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BrowserProcesses::ShareOneRenderer();
    BrowserProcesses::DrawInSoftware();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvala"));
    QApplication::setDesktopFileName(QStringLiteral("corvala"));

    Form4 main(QStringLiteral(CORVALA_GATEWAY_URL), SettingsFile::Path(),
               QStringLiteral(CORVALA_GATEWAY_CONFIG));
    main.Start();
    return app.exec();
}
