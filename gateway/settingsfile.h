#pragma once

#include <QString>

// The WHM settings file "settings.whm": section "settings", keys "user", "host", "key".
namespace SettingsFile {
inline const QString kSection = QStringLiteral("settings");
inline const QString kUser = QStringLiteral("user");
inline const QString kHost = QStringLiteral("host");
inline const QString kKey = QStringLiteral("key");
inline const QString kFileName = QStringLiteral("settings.whm");

// Where settings.whm lives: beside the executable for a copy run from a build or an
// unpacked folder, when a file can be created there. An installed copy (one run from the
// folder it was built to be installed to), and any copy whose folder cannot take a new
// file, keeps it in the user's configuration folder: as root too, who could write under
// /usr but must not. When the configuration folder holds no settings.whm yet, one beside
// the executable is copied there, byte for byte, as the starting values; from then on only
// the copy is read and written, and the file beside the executable is left alone. When
// that copy cannot be made, the file beside the executable is read as it is (and a save
// is reported failed).
QString Path();
// The same choice for a given executable folder and configuration folder (for tests);
// installed says whether the executable runs from its installed location.
QString PathFor(const QString& exeFolder, const QString& configFolder, bool installed = false);

// The save of the three values: writes "user", "host" and "key" (already stored form), in
// this order, to one image of the file and replaces the file once, under its lock, so that
// two running copies never interleave their saves and the file never holds values of two
// saves. When the file cannot be written, it stays as it was and PlatformError is thrown.
void Save(const QString& user, const QString& host, const QString& storedKey, const QString& path);

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
