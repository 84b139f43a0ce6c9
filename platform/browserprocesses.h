#pragma once

// How the browser engine spreads the program's panes over processes. Called in main()
// before the application object exists, since the engine reads its flags once.
namespace BrowserProcesses {

// All panes show pages of the one gateway site; without this each pane that loads a page
// starts a renderer process of its own (tens of MB each). Flags the user already set in
// QTWEBENGINE_CHROMIUM_FLAGS are kept, and a process model they chose wins.
void ShareOneRenderer();

} // namespace BrowserProcesses
