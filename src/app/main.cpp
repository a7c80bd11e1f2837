// Hexaloom's entry point: start-up, then the silent road when /CREATESILENT= names an output for a
// project given on the command line.
#include "ConsolePlatform.h"
#include "Startup.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char** argv)
{
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

    hexaloom::TellStartupProblems(state, console);
    console.Print(QStringLiteral("Hexaloom: the main window is not built yet; "
                                 "use /CREATESILENT=<output> with a project file."));
    return 2;
}
