#pragma once

// A real corvala-gateway in demo mode on 127.0.0.1, for the window benchmarks.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

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
