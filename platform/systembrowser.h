#pragma once

#include <QString>
#include <QStringList>

// Opens a page in the desktop's default web browser. Tests switch to the recording mode,
// where nothing is started and the addresses are kept.
class SystemBrowser {
public:
    // Throws PlatformError when no browser could be started.
    static void open(const QString& address);

    static void setRecording(bool recording);
    static QStringList takeOpened();
};
