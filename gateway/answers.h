#pragma once

#include <QString>
#include <QStringList>

inline const QString kProgramVersion = QStringLiteral("1.7");

// True when the version answer is exactly "1.7": nothing trimmed, case-sensitive.
bool IsCurrentVersion(const QString& body);

// Splits a list answer at every "<BR>" (exact, case-sensitive). An empty body gives no
// item; every other piece is kept unchanged and in order, empty ones included.
QStringList SplitGatewayList(const QString& body);
