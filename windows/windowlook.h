#pragma once

class QIcon;
class QWidget;

// What every window needs before its form is built, and the point sizes Designer cannot
// store.
namespace WindowLook {
// Embeds the pictures and maps the classic font names onto metric-compatible ones where
// the classic fonts are missing. Safe to call more than once.
void Prepare();

// The program's icon in every size it is drawn in.
QIcon ProgramIcon();

// A fixed frame with the program's icon and a close box only: no minimize or maximize box,
// no resizing. width x height is the size of window's client area.
void FixedFrame(QWidget* window, int width, int height);

// Designer stores whole point sizes; the windows are drawn in the classic 8.25 and 9.75
// point sizes, which the forms store as 8 and 10. Adjusts root and every child whose font
// was set by its form, including the command buttons' "Font" property.
void FixPointSizes(QWidget* root);
} // namespace WindowLook
