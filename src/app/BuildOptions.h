#pragma once
// The command line for build scripts: options that begin with "--". The program's own grammar (/PORTABLE,
// /IGNOREPOS, /CREATESILENT= and a project file) ignores such parameters, so no existing command line
// changes its meaning.
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
    int level = 9;       // --level: 9, or kPackLevelMax for "max"
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

// Reads the parameters (the program's own path dropped). Options take their value as the next parameter
// or after "=" (--format=res); "--" ends the options, so an INPUT may begin with "--".
ParsedBuildOptions ParseBuildOptions(const QStringList& parameters);

// The text of --help: usage, every option and examples.
QString BuildUsage();

} // namespace hexaloom
