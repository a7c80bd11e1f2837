// Hexaloom's entry point: options beginning with "--" take the road for build scripts; otherwise start-up,
// then the silent road when /CREATESILENT= names an output for a project given on the command line.
#include "BuildRoad.h"
#include "ConsolePlatform.h"
#include "Startup.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char** argv)
{
    // Before any application object: that road needs no display and touches no settings.
    if (hexaloom::WantsBuildRoad(argc, argv))
        return hexaloom::RunBuildRoad(argc, argv);
    QCoreApplication app(argc, argv);
    QStringList parameters;
#ifdef Q_OS_WIN
    // Windows hands over one line; it is split by the program's own rules.
    parameters = hexaloom::SplitCommandLine(QString::fromWCharArray(GetCommandLineW())).mid(1);
#else
    // Elsewhere the shell has already split and unquoted the parameters.
    parameters = QCoreApplication::arguments().mid(1);
#endif

    hexaloom::StartupState state;
    hexaloom::PrepareStartup(state, QCoreApplication::applicationFilePath(), parameters);
    hexaloom::ConsolePlatform console;
    if (hexaloom::WantsSilentRoad(state))
        return hexaloom::RunSilent(state, console);

    console.Print(QStringLiteral("Hexaloom: the main window is not built yet; "
                                 "use /CREATESILENT=<output> with a project file."));
    return 2;
}
