#include "Interactive.h"

#include "Artwork.h"
#include "Document.h"
#include "MainWindow.h"
#include "OwnResourceStore.h"
#include "ProjectFile.h"
#include "QtPlatform.h"
#include "Startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QThread>
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
    // Messages about the start and the project are centred on the window: the window manager places
    // it first (until then its position is a guess, and a message would open somewhere else).
    QElapsedTimer placing;
    placing.start();
    while (window.windowHandle() && !window.windowHandle()->isExposed() && placing.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
    TellStartupProblems(state, seam);
    if (const QString project = ProjectToOpen(state.commandLine); !project.isEmpty())
        OpenProject(document, seam, project);
    QApplication::exec();
    document.saveSettings();
    return 0;
}

} // namespace hexaloom
