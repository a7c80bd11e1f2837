#pragma once
// The interactive road: the main window over the document, the event loop until the window closes,
// then the settings saved.
#include <QString>
#include <QStringList>

namespace hexaloom {

class Platform;
struct StartupState;

// Start-up with the displays known, then the window. Needs a QApplication. Always 0.
int RunInteractive(const QString& programPath, const QStringList& parameters);
// The window over a prepared start-up: opens a project named on the command line, runs the event loop
// until the window is closed and saves the settings. `platform` answers for the user when given (tests);
// otherwise the window's own dialogs do. Always 0.
int RunMainWindow(StartupState& state, Platform* platform = nullptr);

} // namespace hexaloom
