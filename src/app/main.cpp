// Hexaloom's entry point: options beginning with "--" take the road for build scripts; otherwise start-up,
// then the silent road when /CREATESILENT= names an output for a project given on the command line, else
// the main window. Only the window needs a display: the command line is read under a core application,
// which the window's road then replaces.
#include "AtomicFile.h"
#include "BuildRoad.h"
#include "ConsolePlatform.h"
#include "Startup.h"
#include "Version.h"
#include "WindowsStart.h"

#include <QCoreApplication>

#ifdef HEXALOOM_GUI
#include "Interactive.h"

#include <QApplication>
#endif

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char** argv)
{
    const bool buildRoad = hexaloom::WantsBuildRoad(argc, argv);
    hexaloom::ConsoleStreams streams{stdout, stderr};
#ifdef Q_OS_WIN
    // The window program talks on the console it was started from for the command lines; on a system
    // older than Qt supports, nothing is read or written.
    if (buildRoad)
        streams = hexaloom::AttachParentConsole();
    if (!hexaloom::RunningOnSupportedWindows()) {
        if (!buildRoad) {
            hexaloom::ShowUnsupportedSystem();
            return 0;
        }
        std::fputs("hexaloom: Your OS isn't supported\n", streams.err);
        return 1;
    }
#endif
    // Before any application object: that road needs no display and touches no settings.
    if (buildRoad)
        return hexaloom::RunBuildRoad(argc, argv, streams.out, streams.err);
    hexaloom::StartupState state;
    {
        QCoreApplication core(argc, argv);
#ifdef Q_OS_WIN
        // Windows hands over one line; it is split by the program's own rules.
        const QStringList parameters = hexaloom::SplitCommandLine(QString::fromWCharArray(GetCommandLineW())).mid(1);
#else
        // Elsewhere the shell has already split and unquoted the parameters.
        const QStringList parameters = QCoreApplication::arguments().mid(1);
#endif
        hexaloom::PrepareStartup(state, QCoreApplication::applicationFilePath(), parameters);
        if (hexaloom::WantsSilentRoad(state)) {
#ifdef Q_OS_WIN
            streams = hexaloom::AttachParentConsole();
#endif
            hexaloom::RemoveTemporaryFilesOnSignals();
            hexaloom::ConsolePlatform console(streams.err);
            return hexaloom::RunSilent(state, console);
        }
    }
#ifdef HEXALOOM_GUI
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Without a display Qt would abort; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        hexaloom::ConsolePlatform console;
        console.Print(QLatin1String(hexaloom::kAppName) +
                      QStringLiteral(": no display for the window; "
                                     "use /CREATESILENT=<output> with a project file to create without one."));
        return 1;
    }
#endif
    QApplication app(argc, argv);
    return hexaloom::RunInteractive(state);
#else
    hexaloom::ConsolePlatform console;
    console.Print(QLatin1String(hexaloom::kAppName) +
                  QStringLiteral(": this build has no window; use /CREATESILENT=<output> with a project file."));
    return 2;
#endif
}
