#pragma once

#include <QList>
#include <QString>

// Reads and writes values of an INI file with the rules of the Windows private-profile
// functions: section and key names match without regard to case, blanks around keys and
// values are dropped, a value in matching quotes loses them, ';' starts a comment line, the
// first of duplicated sections or keys wins, and anything missing reads as the default.
// Files are UTF-8; a leading byte-order mark is skipped and CR LF, LF and CR line endings
// all read.
class PrivateProfile {
public:
    // The value of key in section, or def when the file, the section or the key is missing.
    static QString GetString(const QString& section, const QString& key, const QString& def,
                             const QString& path);

    // One value to store: key in section.
    struct Entry {
        QString section;
        QString key;
        QString value;
    };

    // Stores value under key in section, keeping every other line as it was. A new key goes
    // at the end of its section, a new section at the end of the file; the file is created
    // when missing. The file is replaced whole through DurableFile, holding its lock from
    // reading to replacing. Throws PlatformError when the file cannot be written completely
    // (the old file then keeps every byte) or the value holds a CR or LF.
    static void WriteString(const QString& section, const QString& key, const QString& value,
                            const QString& path);

    // Stores the entries in this order, as WriteString would one after the other, but in one
    // image of the file that replaces it once: all of them or none.
    static void WriteStrings(const QList<Entry>& entries, const QString& path);
};
