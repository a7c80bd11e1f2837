#pragma once
// The command line for build scripts: options that begin with "--". The program's own grammar (/PORTABLE,
// /IGNOREPOS, /CREATESILENT= and a project file) ignores such parameters, so no existing command line
// changes its meaning.
#include "PackedBlock.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace hexaloom {

enum class BuildCommand { Create, List, Verify, Extract, Help, Version, CheckUpdate };

// A file whose path matches `glob` gets `packer`; the last matching rule wins.
struct PackRule
{
    QString glob;
    int packer = 0;
};

struct BuildOptions
{
    BuildCommand command = BuildCommand::Help;
    QString output;      // OUT of --create, --list, --verify and --extract
    QString folder;      // DIR of --extract
    QStringList against; // --against DIR...: the folders --verify compares every file with
    QString url;         // URL of --check-update
    int format = -1;     // --format; -1: from the project, else from OUT's extension
    int packer = 0;      // --packer, for files no --pack rule matches
    int level = kPackLevelDefault; // --level: 9, or kPackLevelMax for "max"
    QList<PackRule> packRules;
    QStringList includes;
    QStringList excludes;
    QStringList inputs;  // files and folders
    QString project;     // --project
    QString saveProject; // --save-project
    bool force = false;
    bool strict = false;
    bool quiet = false;
};

struct ParsedBuildOptions
{
    BuildOptions options;
    QString error; // one line saying what is wrong with the command line; empty when nothing is
};

// True where the program's parameters were split by the Windows rules and its users type into cmd.
#ifdef Q_OS_WIN
inline constexpr bool kWindowsCommandLine = true;
#else
inline constexpr bool kWindowsCommandLine = false;
#endif

// Reads the parameters (the program's own path dropped). Options take their value as the next parameter
// or after "=" (--format=res); "--" ends the options, so an INPUT may begin with "--".
// With `windowsRules`, a parameter ending in a double quote, which no Windows name holds, is a quoted
// folder whose last \ the Windows rules took for a quote mark ("C:\out dir\" arrives as C:\out dir"):
// the quote is that \ again. A double quote anywhere else is refused, since the rest of the line then
// went into that parameter.
ParsedBuildOptions ParseBuildOptions(const QStringList& parameters, bool windowsRules = kWindowsCommandLine);

// The text of --help: usage, every option and examples; the examples quote as the user's shell does (cmd
// knows only double quotes; a Unix shell would expand $ and ` inside them).
QString BuildUsage(bool windowsRules = kWindowsCommandLine);

} // namespace hexaloom
