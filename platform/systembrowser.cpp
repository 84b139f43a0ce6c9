#include "systembrowser.h"
#include "platformerror.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
bool g_Recording = false;
QStringList g_Opened;
} // namespace

void SystemBrowser::open(const QString& address) {
    if (g_Recording) {
        g_Opened.append(address);
        return;
    }
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        throw PlatformError(
            QStringLiteral("The page %1 could not be opened: the address is not valid.")
                .arg(address));
    if (!QDesktopServices::openUrl(url))
        throw PlatformError(
            QStringLiteral("The page %1 could not be opened: no web browser could be started.")
                .arg(address));
}

void SystemBrowser::setRecording(bool recording) {
    g_Recording = recording;
    g_Opened.clear();
}

QStringList SystemBrowser::takeOpened() {
    return std::exchange(g_Opened, {});
}
