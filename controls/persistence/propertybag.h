#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

// The named values a control keeps in its container's form data. Names match without
// regard to letter case and are kept in lower case, in the order first written; a value
// equal to its default is not stored (writing it removes an earlier one).
class PropertyBag {
public:
    // The stored value converted to the default's type; the default when nothing is
    // stored under `name` or the stored value cannot be converted to that type.
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue = {}) const;
    void WriteProperty(const QString& name, const QVariant& value,
                       const QVariant& defaultValue = {});

    bool contains(const QString& name) const;
    QStringList names() const;
    QVariant value(const QString& name) const; // as stored, unconverted
    bool isEmpty() const { return m_Values.isEmpty(); }

private:
    qsizetype indexOf(const QString& name) const;

    QList<QPair<QString, QVariant>> m_Values;
};
