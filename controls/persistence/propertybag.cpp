#include "propertybag.h"

qsizetype PropertyBag::indexOf(const QString& name) const {
    for (qsizetype i = 0; i < m_Values.size(); ++i)
        if (m_Values[i].first.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const {
    const qsizetype i = indexOf(name);
    if (i < 0)
        return defaultValue;
    QVariant stored = m_Values[i].second;
    if (!defaultValue.isValid())
        return stored;
    // A value of the wrong kind reads as the default rather than stopping the program.
    if (!stored.convert(defaultValue.metaType()))
        return defaultValue;
    return stored;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value,
                                const QVariant& defaultValue) {
    const qsizetype i = indexOf(name);
    if (defaultValue.isValid() && value == defaultValue) {
        if (i >= 0)
            m_Values.removeAt(i);
        return;
    }
    if (i >= 0)
        m_Values[i].second = value;
    else
        m_Values.append({name.toLower(), value});
}

bool PropertyBag::contains(const QString& name) const {
    return indexOf(name) >= 0;
}

QStringList PropertyBag::names() const {
    QStringList result;
    for (const auto& entry : m_Values)
        result.append(entry.first);
    return result;
}

QVariant PropertyBag::value(const QString& name) const {
    const qsizetype i = indexOf(name);
    return i < 0 ? QVariant() : m_Values[i].second;
}
