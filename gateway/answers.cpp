#include "answers.h"

bool IsCurrentVersion(const QString& body) {
    return body == kProgramVersion;
}

namespace {
const QString kListMarker = QStringLiteral("<BR>");
}

GatewayList::GatewayList(QString body) : m_Body(std::move(body)) {
    if (m_Body.isEmpty())
        return;
    m_Starts.append(0);
    for (qsizetype at = m_Body.indexOf(kListMarker); at >= 0;
         at = m_Body.indexOf(kListMarker, at + kListMarker.size()))
        m_Starts.append(at + kListMarker.size());
    m_Starts.append(m_Body.size() + kListMarker.size());
}

QString GatewayList::at(qsizetype i) const {
    const qsizetype start = m_Starts.at(i);
    return m_Body.mid(start, m_Starts.at(i + 1) - kListMarker.size() - start);
}

QStringList GatewayList::toList() const {
    QStringList items;
    items.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        items.append(at(i));
    return items;
}
