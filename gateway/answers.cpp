#include "answers.h"

bool IsCurrentVersion(const QString& body) {
    return body == kProgramVersion;
}

QStringList SplitGatewayList(const QString& body) {
    if (body.isEmpty())
        return {};
    return body.split(QStringLiteral("<BR>"), Qt::KeepEmptyParts, Qt::CaseSensitive);
}
