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

// The highest resident memory this process has had so far (VmHWM), in KiB.
inline qint64 PeakRssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// A process and all its descendants (the browser engine's zygote, renderer, GPU and
// utility processes), found through /proc/PID/task/*/children.
inline QStringList ProcessTree(const QString& pid) {
    QStringList tree{pid};
    for (qsizetype i = 0; i < tree.size(); ++i) {
        const QString taskDir = QStringLiteral("/proc/%1/task").arg(tree[i]);
        for (const QString& task : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(taskDir + QLatin1Char('/') + task + QStringLiteral("/children"));
            if (!children.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& child : children.readAll().simplified().split(' '))
                if (!child.isEmpty() && !tree.contains(QString::fromLatin1(child)))
                    tree << QString::fromLatin1(child);
        }
    }
    return tree;
}

// Pss and Rss of one process, in KiB, from smaps_rollup.
struct Memory {
    qint64 pssKiB = 0;
    qint64 rssKiB = 0;
    int processes = 0;
};

inline Memory ProcessMemory(const QString& pid) {
    Memory m;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.value(0) == "Pss:")
            m.pssKiB = f.value(1).toLongLong();
        else if (f.value(0) == "Rss:")
            m.rssKiB = f.value(1).toLongLong();
    }
    m.processes = 1;
    return m;
}

// PSS shares each shared page out among the processes that map it, so the sum over the
// tree is what the program costs the machine; RSS summed counts shared pages repeatedly.
inline Memory TreeMemory(const QString& pid = QString::number(getpid())) {
    Memory total;
    for (const QString& p : ProcessTree(pid)) {
        const Memory m = ProcessMemory(p);
        total.pssKiB += m.pssKiB;
        total.rssKiB += m.rssKiB;
        total.processes += m.processes;
    }
    return total;
}

} // namespace BenchProcess
