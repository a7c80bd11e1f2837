#include "Paths.h"

#include <QDir>

#include <algorithm>

namespace hexaloom {

namespace {
qsizetype LastSeparator(const QString& path)
{
#ifndef Q_OS_WIN
    // A path of this system (from the root) separates folders with "/" only: "\" is part of its names.
    if (path.startsWith(QLatin1Char('/')))
        return path.lastIndexOf(QLatin1Char('/'));
#endif
    return std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
}
} // namespace

QString FileNamePart(const QString& path)
{
    return path.mid(LastSeparator(path) + 1);
}

QString FolderPart(const QString& path)
{
    return path.left(LastSeparator(path) + 1);
}

QString WithSeparator(const QString& folder)
{
    if (folder.isEmpty())
        return folder;
    QString native = QDir::toNativeSeparators(folder);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

} // namespace hexaloom
