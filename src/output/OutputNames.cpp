#include "OutputNames.h"

#include "FileListModel.h"

#include "Document.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace hexaloom {

namespace {

// Output names are paths of this system: "\\" separates folders on Windows only and is an ordinary
// character of a file name elsewhere.
qsizetype LastSeparator(const QString& path)
{
#ifdef Q_OS_WIN
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
#else
    return path.lastIndexOf(QLatin1Char('/'));
#endif
}

bool IsAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

} // namespace

int OutputFormatOfName(const QString& path)
{
    return path.right(4).compare(QLatin1String(".res"), Qt::CaseInsensitive) == 0 ? OutputResource : OutputHexdata;
}

QString SettleOutputExtension(const QString& path, int format)
{
    if (format == OutputResource) {
        if (OutputFormatOfName(path) != OutputResource)
            return path + QLatin1String(".res");
        return path;
    }
    if (format == OutputHexdata || format == OutputBinpack) {
        const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || dot < LastSeparator(path) || dot == path.size() - 1)
            return path + QLatin1String(".pbi");
    }
    return path;
}

QString OutputFileName(const QString& path)
{
    return path.mid(LastSeparator(path) + 1);
}

QString OutputBase(const QString& path)
{
    const QString name = OutputFileName(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString LabelBase(const QString& base)
{
    QString label;
    label.reserve(base.size() + 1);
    for (const QChar c : base) {
        const bool keep = IsAsciiLetter(c) || c == QLatin1Char('_') || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
        label += keep ? c : QLatin1Char('_');
    }
    // The block number follows the base, so an empty base would let the number lead.
    if (label.isEmpty() || label.front().isDigit())
        label.prepend(QLatin1Char('_'));
    return label;
}

QString PackFilePath(const QString& includePath)
{
    const qsizetype dot = includePath.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < LastSeparator(includePath))
        return includePath + QLatin1String(".binpack");
    return includePath.left(dot) + QLatin1String(".binpack");
}

QString ConstantName(const QString& fileName)
{
    // Only ASCII letters survive the filter, so only they are upper-cased: a full case mapping would
    // turn some non-ASCII letters (such as the German sharp s) into ASCII ones.
    QString id;
    for (QChar c : fileName) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
        else if (c == QLatin1Char('.'))
            c = QLatin1Char('_');
        const bool start = IsAsciiLetter(c) || c == QLatin1Char('_');
        if (id.isEmpty() ? start : (start || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))))
            id += c;
    }
    return QLatin1String("#HXL_") + id;
}

QStringList ConstantNames(const QStringList& fileNames)
{
    QStringList constants;
    constants.reserve(fileNames.size());
    for (const QString& name : fileNames)
        constants.append(ConstantName(name));
    // A constant declared twice does not compile. Later rows with a name already taken get "_2", "_3", ...,
    // passing over every name some row has by itself, so no row's own name is taken from it.
    // A suffix passed over once stays taken, so each name's search goes on where it stopped last time:
    // thousands of files of one name (icon.png in every folder) cost no more than distinct names.
    const QSet<QString> own(constants.begin(), constants.end());
    QSet<QString> taken;
    QHash<QString, int> nextSuffix;
    for (QString& constant : constants) {
        if (taken.contains(constant)) {
            int& suffix = nextSuffix[constant];
            QString unique;
            for (suffix = std::max(suffix, 2);; ++suffix) {
                unique = constant + QLatin1Char('_') + QString::number(suffix);
                if (!own.contains(unique) && !taken.contains(unique))
                    break;
            }
            ++suffix;
            constant = unique;
        }
        taken.insert(constant);
    }
    return constants;
}

std::vector<std::pair<int, int>> NameClashes(const QStringList& fileNames)
{
    std::vector<std::pair<int, int>> clashes;
    QHash<QString, int> first;
    for (int row = 0; row < fileNames.size(); ++row) {
        const QString key = fileNames[row].toCaseFolded();
        const auto at = first.constFind(key);
        if (at != first.constEnd())
            clashes.emplace_back(*at, row);
        else
            first.insert(key, row);
    }
    return clashes;
}

std::vector<int> RowPackerKinds(const QStringList& packerTexts)
{
    std::vector<int> kinds;
    kinds.reserve(packerTexts.size());
    int kind = PackerNone;
    for (const QString& text : packerTexts) {
        const int named = PackerKindFromText(text);
        if (named != PackerNone || text == PackerText(PackerNone))
            kind = named;
        kinds.push_back(kind);
    }
    return kinds;
}

Bytes BuildCatalog(const QStringList& fileNames)
{
    QString text = QString::number(fileNames.size());
    for (const QString& name : fileNames)
        text += QLatin1Char(',') + name;
    const QByteArray utf8 = text.toUtf8();
    Bytes catalog(utf8.begin(), utf8.end());
    catalog.push_back(0);
    return catalog;
}

} // namespace hexaloom
