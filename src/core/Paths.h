#pragma once
// Path texts as the program stores and shows them: both "\" and "/" separate folders in stored paths
// (project files and settings come from Windows too), folder texts end with a separator. Outside Windows a
// path from the root ("/...") is this system's own, and there "\" is an ordinary character of a name.
#include <QString>

namespace hexaloom {

// The text after the last "\" or "/".
QString FileNamePart(const QString& path);
// Everything up to and including the last "\" or "/" (empty when there is none).
QString FolderPart(const QString& path);
// The folder in native separators, ending with the native separator. An empty folder stays empty: it is
// "no folder", not the root.
QString WithSeparator(const QString& folder);

} // namespace hexaloom
