#include "Interactive.h"

#include "Artwork.h"
#include "Document.h"
#include "MainWindow.h"
#include "OwnResourceStore.h"
#include "ProjectCommands.h"
#include "QtPlatform.h"
#include "Startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace hexaloom {

namespace {
DisplayInfo CurrentDisplays()
{
    DisplayInfo display;
    const QList<QScreen*> screens = QGuiApplication::screens();
    display.count = static_cast<int>(screens.size());
    if (display.count == 1)
        display.width = screens.front()->geometry().width();
    return display;
}
} // namespace

int RunInteractive(StartupState& state)
{
    ForgetOffscreenPositions(state.settings, CurrentDisplays());
    return RunMainWindow(state);
}

int RunMainWindow(StartupState& state, Platform* platform)
{
    const Artwork art = LoadArtwork(OwnResourceStore());
    Document document(state.settings);
    document.setSettingsFilePath(state.settingsPath);
    document.setProgramPath(state.programPath);
    document.setOutputFormat(state.settings.lastoutput);

    QtPlatform dialogs;
    Platform& seam = platform ? *platform : static_cast<Platform&>(dialogs);
    MainWindow window(state, document, seam, art);
    dialogs.setWindow(&window);
    window.showFromSettings();
    // Messages about the start and the project are centred on the window, so they wait until the window
    // manager has placed it (until then its position is a guess, and a message would open elsewhere).
    QElapsedTimer placing;
    placing.start();
    QTimer placed;
    placed.setInterval(10);
    QObject::connect(&placed, &QTimer::timeout, &window, [&] {
        if (window.windowHandle() && !window.windowHandle()->isExposed() && placing.elapsed() < 3000)
            return;
        placed.stop();
        TellStartupProblems(state, seam);
        if (const QString project = ProjectToOpen(state.commandLine); !project.isEmpty())
            OpenProject(document, seam, project);
    });
    placed.start();
    QApplication::exec();
    document.saveSettings();
    return 0;
}

} // namespace hexaloom
