#include "programend.h"

#include <QApplication>
#include <QWidget>

namespace {
bool g_Recording = false;
int g_Ends = 0;
} // namespace

void ProgramEnd::End() {
    if (g_Recording) {
        ++g_Ends;
        return;
    }
    // Hide at once so no window lingers while the event loop unwinds; the windows are
    // destroyed by their owners when exec() returns.
    for (QWidget* w : QApplication::topLevelWidgets())
        w->hide();
    QCoreApplication::exit(0);
}

void ProgramEnd::setRecording(bool recording) {
    g_Recording = recording;
    g_Ends = 0;
}

int ProgramEnd::takeEnds() {
    return std::exchange(g_Ends, 0);
}
