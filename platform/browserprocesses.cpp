#include "browserprocesses.h"

#include <QByteArray>
#include <QQuickWindow>
#include <QtGlobal>

namespace BrowserProcesses {

void ShareOneRenderer() {
    static const char kVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";
    QByteArray flags = qgetenv(kVariable);
    for (const char* chosen : {"--renderer-process-limit", "--process-per-site", "--single-process",
                               "--process-per-tab"})
        if (flags.contains(chosen))
            return;
    if (!flags.isEmpty())
        flags += ' ';
    flags += "--renderer-process-limit=1";
    qputenv(kVariable, flags);
}

void DrawInSoftware() {
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace BrowserProcesses
