#include "pointer.h"

#include <QCursor>

namespace {
// One pointer for the whole program, like the desktop's; only the UI thread touches it.
std::optional<QPoint>& overridePosition() {
    static std::optional<QPoint> position;
    return position;
}
} // namespace

QPoint Pointer::position() {
    if (const auto& set = overridePosition())
        return *set;
    return QCursor::pos();
}

void Pointer::setPosition(const QPoint& screenPos) {
    overridePosition() = screenPos;
}

void Pointer::clearOverride() {
    overridePosition().reset();
}

bool Pointer::isOverridden() {
    return overridePosition().has_value();
}
