#pragma once

#include <QString>

// The WHM settings file "settings.whm": section "settings", keys "user", "host", "key".
namespace SettingsFile {
inline const QString kSection = QStringLiteral("settings");
inline const QString kUser = QStringLiteral("user");
inline const QString kHost = QStringLiteral("host");
inline const QString kKey = QStringLiteral("key");
inline const QString kFileName = QStringLiteral("settings.whm");

// Where settings.whm lives: beside the executable, unless that folder cannot be written
// and no file stands there, then in the user's configuration folder.
QString Path();
// The same choice for a given executable folder and fallback folder (for tests).
QString PathFor(const QString& exeFolder, const QString& configFolder);

// The key's line breaks are stored as '*'.
QString KeyToStored(const QString& key);   // every CR LF, and any lone CR or LF, becomes '*'
QString KeyFromStored(const QString& key); // every '*' becomes CR LF
} // namespace SettingsFile

// One value of the settings file; missing reads as "". Values longer than 2554
// characters read back cut to 2554.
QString ReadIni(const QString& section, const QString& key, const QString& path);
// Stores one value; throws PlatformError when the file cannot be written.
void WriteIni(const QString& section, const QString& key, const QString& value,
              const QString& path);
