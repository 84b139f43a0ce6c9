#pragma once

// A real corvala-gateway in demo mode on 127.0.0.1, for the window benchmarks, and the
// command line they share.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <algorithm>

class BenchGateway {
public:
    // The gateway binary beside the benchmark unless told otherwise.
    static QString DefaultBinary() {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/corvala-gateway");
    }

    // Starts binary --demo (--demo-accounts N when accounts >= 0) on a free loopback port.
    // Returns the base address, or an empty string when it did not come up.
    QString start(const QString& binary, int accounts) {
        QStringList args{QStringLiteral("--demo"), QStringLiteral("--listen"),
                         QStringLiteral("127.0.0.1:0")};
        if (accounts >= 0)
            args << QStringLiteral("--demo-accounts") << QString::number(accounts);
        m_Process.setProcessChannelMode(QProcess::SeparateChannels);
        m_Process.setStandardErrorFile(QProcess::nullDevice());
        m_Process.start(binary, args);
        static const QRegularExpression kListening(QStringLiteral("http://127\\.0\\.0\\.1:\\d+"));
        QByteArray out;
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && m_Process.state() != QProcess::NotRunning) {
            m_Process.waitForReadyRead(100);
            out += m_Process.readAllStandardOutput();
            const QRegularExpressionMatch m = kListening.match(QString::fromLatin1(out));
            if (m.hasMatch())
                return m.captured();
        }
        return {};
    }

    ~BenchGateway() {
        if (m_Process.state() != QProcess::NotRunning) {
            m_Process.terminate();
            if (!m_Process.waitForFinished(3000))
                m_Process.kill();
            m_Process.waitForFinished(3000);
        }
    }

private:
    QProcess m_Process;
};

// --gateway PATH, --gateway-base URL and --runs N, as every window benchmark takes them;
// each one's own options are read by name.
class BenchArguments {
public:
    BenchArguments(int argc, char** argv) {
        for (int i = 1; i < argc; ++i)
            m_Args << QString::fromLocal8Bit(argv[i]);
    }

    // The word after name, or fallback when name is not given.
    QString value(const QString& name, const QString& fallback = QString()) const {
        const qsizetype at = m_Args.lastIndexOf(name);
        return at >= 0 && at + 1 < m_Args.size() ? m_Args[at + 1] : fallback;
    }
    bool flag(const QString& name) const { return m_Args.contains(name); }

    // Empty: corvala-gateway beside the benchmark.
    QString gatewayBinary() const { return value(QStringLiteral("--gateway")); }
    // A gateway already running; empty: start one.
    QString gatewayBase() const { return value(QStringLiteral("--gateway-base")); }
    int runs() const {
        return std::max(1, value(QStringLiteral("--runs"), QStringLiteral("5")).toInt());
    }

private:
    QStringList m_Args;
};
