#include "Paths.h"

#include <QDir>

#include <algorithm>

namespace hexaloom {

namespace {
qsizetype LastSeparator(const QString& path)
{
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
