#include "privateprofile.h"

#include "durablefile.h"
#include "platformerror.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <optional>

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// The file as lines, split at CR LF, LF or a lone CR. The last line break, if any, does not
// start an empty line. Each line keeps its own bytes and its own line break, so that a save
// writes every line it does not change back exactly as it found it, whatever its encoding
// or line ending.
struct ProfileText {
    bool bom = false;
    QStringList lines;        // decoded, for matching names and reading values
    QList<QByteArray> raw;    // each line's bytes as they stand in the file
    QList<QByteArray> breaks; // each line's own line break; empty for a last line without one
    QByteArray newline;       // the first line break found, used for written lines
};

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimBlanks(QStringView s) {
    qsizetype first = 0;
    qsizetype last = s.size();
    while (first < last && isBlank(s[first]))
        ++first;
    while (last > first && isBlank(s[last - 1]))
        --last;
    return s.mid(first, last - first).toString();
}

QString decode(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    // Files written by older copies may be in a single-byte code page; read them without
    // turning their lines into replacement characters.
    return QString::fromLatin1(bytes);
}

ProfileText parse(QByteArray bytes) {
    ProfileText t;
    if (bytes.startsWith(kBom)) {
        t.bom = true;
        bytes.remove(0, kBom.size());
    }
    const auto addLine = [&t](const QByteArray& line, const QByteArray& lineBreak) {
        t.raw << line;
        t.breaks << lineBreak;
        t.lines << decode(line);
    };
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        qsizetype breakLength = 1;
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            breakLength = 2;
        addLine(bytes.mid(start, i - start), bytes.mid(i, breakLength));
        if (t.newline.isEmpty())
            t.newline = bytes.mid(i, breakLength);
        i += breakLength - 1;
        start = i + 1;
    }
    if (start < bytes.size())
        addLine(bytes.mid(start), QByteArray());
    return t;
}

// The section name when the line is a section header.
std::optional<QString> sectionOf(const QString& line) {
    const QString s = trimBlanks(line);
    if (!s.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = s.indexOf(QLatin1Char(']'));
    return trimBlanks(QStringView(s).mid(1, close < 0 ? -1 : close - 1));
}

bool isComment(const QString& line) {
    return trimBlanks(line).startsWith(QLatin1Char(';'));
}

// The key of a "name=value" line.
std::optional<QString> keyOf(const QString& line) {
    if (isComment(line))
        return std::nullopt;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    return trimBlanks(QStringView(line).left(eq));
}

QString valueOf(const QString& line) {
    QString v = trimBlanks(QStringView(line).mid(line.indexOf(QLatin1Char('=')) + 1));
    if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
        v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where the first section called section starts (its header line) and ends (one past its
// last line), or -1 when there is none.
struct SectionRange {
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionRange findSection(const QStringList& lines, const QString& section) {
    SectionRange r;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionOf(lines.at(i));
        if (!name)
            continue;
        if (r.header >= 0) {
            r.end = i;
            return r;
        }
        if (sameName(*name, section))
            r.header = i;
    }
    if (r.header >= 0)
        r.end = lines.size();
    return r;
}

qsizetype findKey(const QStringList& lines, const SectionRange& r, const QString& key) {
    for (qsizetype i = r.header + 1; i < r.end; ++i) {
        const auto name = keyOf(lines.at(i));
        if (name && sameName(*name, key))
            return i;
    }
    return -1;
}

bool hasLineBreak(const QString& s) {
    return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n'));
}

// The value as it must stand in the file to read back unchanged: blanks around it or a pair
// of matching quotes would otherwise be dropped on reading.
QString storedValue(const QString& value) {
    const bool blanks = !value.isEmpty() && (isBlank(value.front()) || isBlank(value.back()));
    const bool quoted = value.size() >= 2 &&
                        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
                        value.back() == value.front();
    if (blanks || quoted)
        return QLatin1Char('"') + value + QLatin1Char('"');
    return value;
}

QString nativePath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

// Refuses what the file cannot hold as one line, before anything is read or written.
void check(const PrivateProfile::Entry& e, const QString& where) {
    if (hasLineBreak(e.value))
        throw PlatformError(
            QStringLiteral("Cannot save \"%1\" in %2: the value holds a line break.")
                .arg(e.key, where));
    if (hasLineBreak(e.section) || hasLineBreak(e.key) || e.key.contains(QLatin1Char('=')) ||
        e.section.contains(QLatin1Char(']')) || trimBlanks(e.key).isEmpty())
        throw PlatformError(
            QStringLiteral("Cannot save \"%1\" in %2: not a valid section or key name.")
                .arg(e.key, where));
}

// Stores one value in the image, keeping every other line as it was.
void store(ProfileText& t, const PrivateProfile::Entry& e) {
    const QString entry = e.key + QLatin1Char('=') + storedValue(e.value);
    // A new line goes in with the file's line break; the line before it gets one too when it
    // was the last line and had none.
    const auto insertLine = [&t](qsizetype at, const QString& text) {
        if (at > 0 && t.breaks.at(at - 1).isEmpty())
            t.breaks[at - 1] = t.newline;
        t.lines.insert(at, text);
        t.raw.insert(at, text.toUtf8());
        t.breaks.insert(at, t.newline);
    };
    const SectionRange r = findSection(t.lines, e.section);
    if (r.header < 0) {
        insertLine(t.lines.size(), QLatin1Char('[') + e.section + QLatin1Char(']'));
        insertLine(t.lines.size(), entry);
    } else if (const qsizetype line = findKey(t.lines, r, e.key); line >= 0) {
        t.lines[line] = entry;
        t.raw[line] = entry.toUtf8();
        if (t.breaks.at(line).isEmpty())
            t.breaks[line] = t.newline; // every line written ends with a line break
    } else {
        // After the section's last non-blank line, so blank lines before the next section stay
        // where they are.
        qsizetype at = r.end;
        while (at > r.header + 1 && trimBlanks(t.lines.at(at - 1)).isEmpty())
            --at;
        insertLine(at, entry);
    }
}

} // namespace

QString PrivateProfile::GetString(const QString& section, const QString& key, const QString& def,
                                  const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return def;
    const ProfileText t = parse(file.readAll());
    const SectionRange r = findSection(t.lines, section);
    if (r.header < 0)
        return def;
    const qsizetype line = findKey(t.lines, r, key);
    return line < 0 ? def : valueOf(t.lines.at(line));
}

void PrivateProfile::WriteString(const QString& section, const QString& key, const QString& value,
                                 const QString& path) {
    WriteStrings({{section, key, value}}, path);
}

void PrivateProfile::WriteStrings(const QList<Entry>& entries, const QString& path) {
    const QString where = nativePath(path);
    for (const Entry& e : entries)
        check(e, where);

    // Read, change and write back under the lock: another copy's write in between would be
    // lost otherwise.
    const DurableFile::Lock lock(path);
    ProfileText t;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            throw PlatformError(QStringLiteral("Cannot read the settings file %1: %2")
                                    .arg(where, existing.errorString()));
        t = parse(existing.readAll());
        existing.close();
    }
    if (t.newline.isEmpty()) {
#ifdef Q_OS_WIN
        t.newline = "\r\n";
#else
        t.newline = "\n";
#endif
    }
    for (const Entry& e : entries)
        store(t, e);

    QByteArray bytes = t.bom ? kBom : QByteArray();
    for (qsizetype i = 0; i < t.raw.size(); ++i)
        bytes += t.raw.at(i) + t.breaks.at(i);
    DurableFile::Replace(path, bytes);
}
