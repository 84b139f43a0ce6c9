#pragma once

// Process figures read from /proc, for the start-up benchmarks.

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <ctime>
#include <unistd.h>

namespace BenchProcess {

// Milliseconds since this process was started by the kernel (so dynamic loading and
// static initialisation count too).
inline double MsSinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22: starttime
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

inline qint64 StatusKiB(const QString& pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

inline qint64 RssKiB(const QString& pid) {
    return StatusKiB(pid, "VmRSS:");
}

// The highest resident memory this process has had so far.
inline qint64 PeakRssKiB() {
    return StatusKiB(QString::number(getpid()), "VmHWM:");
}

// Resident memory of this process, and of this process with every descendant (the
// browser engine's helper processes).
inline qint64 OwnRssKiB() {
    return RssKiB(QString::number(getpid()));
}

inline qint64 TreeRssKiB() {
    QHash<QString, QString> parentOf;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        parentOf.insert(pid, QString::fromLatin1(fields.value(1)));
    }
    const QString self = QString::number(getpid());
    qint64 total = 0;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        QString p = it.key();
        while (!p.isEmpty() && p != self && p != QLatin1String("0") && p != QLatin1String("1"))
            p = parentOf.value(p);
        if (p == self)
            total += RssKiB(it.key());
    }
    return total;
}

} // namespace BenchProcess
