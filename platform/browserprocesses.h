#pragma once

// How the browser engine runs the program's panes: over which processes, and how they are
// drawn. Called in main() before the application object exists, since the engine reads its
// settings once.
namespace BrowserProcesses {

// All panes show pages of the one gateway site; without this each pane that loads a page
// starts a renderer process of its own (tens of MB each). Flags the user already set in
// QTWEBENGINE_CHROMIUM_FLAGS are kept, and a process model they chose wins.
void ShareOneRenderer();

// The panes draw in software, through QPainter. Drawn with OpenGL, a pane makes its whole
// window compose through OpenGL on every repaint, which a machine without a GPU (a remote
// desktop, a virtual machine) does in software at several milliseconds a frame; the panes
// show small, still pages that need none of it. A Qt Quick backend the user chose in
// QT_QUICK_BACKEND wins.
void DrawInSoftware();

} // namespace BrowserProcesses
