#pragma once
// The interactive road: the main window over the document, the event loop until the window closes,
// then the settings saved.
namespace hexaloom {

class Platform;
struct StartupState;

// The window over the start-up that chose this road, once the displays are known. Needs a QApplication.
// Always 0.
int RunInteractive(StartupState& state);
// The window over a prepared start-up: opens a project named on the command line, runs the event loop
// until the window is closed and saves the settings. `platform` answers for the user when given (tests);
// otherwise the window's own dialogs do. Always 0.
int RunMainWindow(StartupState& state, Platform* platform = nullptr);

} // namespace hexaloom
