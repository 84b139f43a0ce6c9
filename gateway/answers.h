#pragma once

#include <QString>
#include <QStringList>

inline const QString kProgramVersion = QStringLiteral("1.7");

// True when the version answer is exactly "1.7": nothing trimmed, case-sensitive.
bool IsCurrentVersion(const QString& body);

// A list answer split at every "<BR>" (exact, case-sensitive). An empty body gives no
// item; every other piece is kept unchanged and in order, empty ones included. The body is
// kept whole with where each item starts, so a long list costs no string per item.
class GatewayList {
public:
    GatewayList() = default;
    explicit GatewayList(QString body);

    qsizetype size() const { return m_Starts.isEmpty() ? 0 : m_Starts.size() - 1; }
    QString at(qsizetype i) const;
    QStringList toList() const; // every item as a string of its own

private:
    QString m_Body;
    QList<qsizetype> m_Starts; // each item's start, then the end of the body plus a marker
};
