#pragma once

#include <QImage>

// Paints the controls' two picture strips. The committed PNG files next to the controls are
// this class's output (run corvala_strip_generator to write them again); a test keeps the
// two in step.
class StripGenerator {
public:
    // 90 x 21, 8-bit palette: the button's five looks, 18 x 21 each
    // (Normal, Pressed, Disabled, Hot, Highlighted).
    static QImage FaceStrip();
    // 63 x 21, 24-bit: the help icon's three looks, 21 x 21 each (resting, over, pressed).
    static QImage HelpStrip();
};
