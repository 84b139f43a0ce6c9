#include "settingsfile.h"

#include "durablefile.h"
#include "platformerror.h"
#include "privateprofile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// The longest value a read hands back, as the settings file has always been read.
constexpr qsizetype kMaxValueLength = 2554;

const QString kCrLf = QStringLiteral("\r\n");
const QString kStar = QStringLiteral("*");

// Whether a new file can be created in folder: tried for real, since permission bits say
// nothing about read-only mounts or a process running as root.
bool canCreateIn(const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".corvala-probe-XXXXXX")));
    return probe.open();
}

} // namespace

namespace SettingsFile {

QString PathFor(const QString& exeFolder, const QString& configFolder, bool installed) {
    const QString beside = QDir(exeFolder).filePath(kFileName);
    if (!installed && canCreateIn(exeFolder))
        return beside;
    QDir().mkpath(configFolder); // a failure shows when the file is written
    const QString config = QDir(configFolder).filePath(kFileName);
    if (QFileInfo::exists(config) || !QFileInfo::exists(beside))
        return config;
    try {
        const DurableFile::Lock lock(config); // another copy may be doing the same
        if (!QFileInfo::exists(config)) {
            QFile old(beside);
            if (!old.open(QIODevice::ReadOnly))
                return beside;
            DurableFile::Replace(config, old.readAll());
        }
    } catch (const PlatformError&) {
        return beside; // its values are still read; a save reports why it fails
    }
    return config;
}

QString Path() {
    const QString exeFolder = QCoreApplication::applicationDirPath();
    const QString installFolder =
        QFileInfo(QStringLiteral(CORVALA_INSTALL_BINDIR)).canonicalFilePath();
    const bool installed =
        !installFolder.isEmpty() && QFileInfo(exeFolder).canonicalFilePath() == installFolder;
    return PathFor(exeFolder, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation),
                   installed);
}

QString KeyToStored(const QString& key) {
    // A lone CR or LF (a key pasted from elsewhere, or typed on a platform whose text fields
    // break lines with LF) is a line break too; the file cannot hold it as it is.
    QString out = key;
    out.replace(kCrLf, kStar);
    out.replace(QLatin1Char('\r'), QLatin1Char('*'));
    out.replace(QLatin1Char('\n'), QLatin1Char('*'));
    return out;
}

QString KeyFromStored(const QString& key) {
    QString out = key;
    return out.replace(kStar, kCrLf);
}

void Save(const QString& user, const QString& host, const QString& storedKey, const QString& path) {
    PrivateProfile::WriteStrings(
        {{kSection, kUser, user}, {kSection, kHost, host}, {kSection, kKey, storedKey}}, path);
}

} // namespace SettingsFile

QString ReadIni(const QString& section, const QString& key, const QString& path) {
    QString value = PrivateProfile::GetString(section, key, QString(), path);
    if (value.size() > kMaxValueLength) {
        // Never leave half of a surrogate pair at the end.
        value.truncate(value.at(kMaxValueLength - 1).isHighSurrogate() ? kMaxValueLength - 1
                                                                       : kMaxValueLength);
    }
    return value;
}

void WriteIni(const QString& section, const QString& key, const QString& value,
              const QString& path) {
    PrivateProfile::WriteString(section, key, value, path);
}
