#pragma once
// The command line: parameters split at spaces (a parameter that starts with a double quote runs to the
// next one), then the switches /PORTABLE, /IGNOREPOS and /CREATESILENT=, and a project file name.
#include <QString>
#include <QStringList>

#include <functional>

namespace hexaloom {

struct CommandLine
{
    bool portable = false;
    bool ignorepos = false;
    QString silentoutput;      // the output named by /CREATESILENT=; non-empty asks for the silent road
    QString projectdir;        // folder of the project named, with its trailing separator
    QString projectfile;       // file name of the project named
    QString unreadableProject; // the last project named that is no file (or an empty one); it is ignored
};

// Size in bytes of the file at a path, or -1 when it is no file (missing, a folder, unreadable).
using FileSizeProbe = std::function<qint64(const QString& path)>;

// Splits a command line into parameters. Only spaces separate; a parameter that begins with a double
// quote runs up to the next one (both dropped) and text right after the closing quote starts the next
// parameter; any other parameter runs up to the next space and keeps its quotes.
QStringList SplitCommandLine(const QString& line);

// Applies the parameters in order; the last occurrence of each wins. A project is a file of more than
// 0 bytes whose extension is HXLM in any letter case; a name without a folder is taken from the
// current directory. `probe` defaults to the file system.
CommandLine ParseParameters(const QStringList& parameters, const FileSizeProbe& probe = {});

// SplitCommandLine, then ParseParameters without the first parameter (the program's own path).
CommandLine ParseCommandLine(const QString& line, const FileSizeProbe& probe = {});

} // namespace hexaloom
