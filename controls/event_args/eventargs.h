#pragma once

#include <QPointF>
#include <Qt>

// The controls' event arguments in the form their handlers expect: pointer buttons and
// modifier keys as bits (left 1, right 2, middle 4; Shift 1, Ctrl 2, Alt 4) and key codes
// as the desktop's virtual-key numbers.
class EventArgs {
public:
    // The four arguments of a pointer event; handlers receive them by reference and may
    // change them.
    struct Pointer {
        short Button;
        short Shift;
        float x;
        float Y;
    };
    static Pointer PointerEvent(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                QPointF at);

    static short Button(Qt::MouseButtons buttons);
    static short Shift(Qt::KeyboardModifiers modifiers);
    // The key's own number: the digit key for the symbol Shift makes of it (as on a US
    // layout), the keypad's own numbers for keys that carry the keypad modifier.
    static short KeyCode(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Loads the controls' picture strips into the resource system (they live in a static
    // library, whose resource initialiser the linker would otherwise drop).
    static void ensurePictures();
};
