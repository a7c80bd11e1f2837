#include "CommandLine.h"

#include "Paths.h"

#include <QDir>
#include <QFileInfo>

namespace hexaloom {

QStringList SplitCommandLine(const QString& line)
{
    QStringList parameters;
    qsizetype pos = 0;
    const qsizetype size = line.size();
    while (true) {
        while (pos < size && line.at(pos) == QLatin1Char(' '))
            ++pos;
        if (pos >= size)
            break;
        if (line.at(pos) == QLatin1Char('"')) {
            const qsizetype close = line.indexOf(QLatin1Char('"'), pos + 1);
            const qsizetype end = close < 0 ? size : close;
            parameters.append(line.mid(pos + 1, end - pos - 1));
            pos = close < 0 ? size : close + 1;
        } else {
            qsizetype end = line.indexOf(QLatin1Char(' '), pos);
            if (end < 0)
                end = size;
            parameters.append(line.mid(pos, end - pos));
            pos = end;
        }
    }
    return parameters;
}

namespace {
qint64 FileSystemProbe(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : -1;
}
} // namespace

CommandLine ParseParameters(const QStringList& parameters, const FileSizeProbe& givenProbe)
{
    const FileSizeProbe probe = givenProbe ? givenProbe : FileSystemProbe;
    CommandLine result;
    for (const QString& parameter : parameters) {
        const QString head = parameter.left(13).toUpper();
        if (head == QLatin1String("/PORTABLE")) {
            result.portable = true;
        } else if (head == QLatin1String("/IGNOREPOS")) {
            result.ignorepos = true;
        } else if (head == QLatin1String("/CREATESILENT")) {
            QString output = parameter;
            output.remove(QStringLiteral("/CREATESILENT="), Qt::CaseInsensitive);
            output.remove(QLatin1Char('"'));
            result.silentoutput = output;
        } else {
            const QString file = FileNamePart(parameter);
            const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
            if (dot < 0 || file.mid(dot + 1).toUpper() != QLatin1String("HXLM"))
                continue;
            if (probe(parameter) <= 0) {
                result.unreadableProject = parameter;
                continue;
            }
            // A bare name would leave the project's folder empty, and with it the project unopened;
            // relative names mean the current directory.
            QString folder = FolderPart(parameter);
            if (folder.isEmpty())
                folder = WithSeparator(QDir::currentPath());
            result.projectdir = folder;
            result.projectfile = file;
        }
    }
    return result;
}

CommandLine ParseCommandLine(const QString& line, const FileSizeProbe& probe)
{
    return ParseParameters(SplitCommandLine(line).mid(1), probe);
}

} // namespace hexaloom
