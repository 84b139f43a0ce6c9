#pragma once

#include <QPoint>
#include <optional>

// The pointer position in screen pixels. Tests set it to steer the controls'
// pointer-leave polling without a real pointer.
class Pointer {
public:
    static QPoint position();
    static void setPosition(const QPoint& screenPos); // tests only: overrides the real one
    static void clearOverride();
    static bool isOverridden();
};
