#pragma once

class QWidget;

// What a window shows assistive technology beyond what each control tells of itself.
namespace AssistiveTechnology {

// widget is not shown to assistive technology at all: its parent does not list it, and it
// has no name, value, text or children to read, nor text changes to announce. For fields
// that hold values for the program alone (the main window's connection settings, the WHM
// access key among them) and for drawing that is no control. Call it before the window is
// shown.
void Conceal(QWidget* widget);

} // namespace AssistiveTechnology
