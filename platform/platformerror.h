#pragma once

#include <QString>
#include <stdexcept>

// A failed platform operation. The description names what was being done and why it
// failed, ready to be shown to the administrator.
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& description)
        : std::runtime_error(description.toStdString()), m_Description(description) {}
    const QString& description() const { return m_Description; }

private:
    QString m_Description;
};
