#include "InputFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace hexaloom {

Glob::Glob(const QString& pattern) : m_wholePath(pattern.contains(QLatin1Char('/')))
{
    QString expression;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('*')) {
            if (pattern.mid(i, 3) == QLatin1String("**/")) {
                expression += QLatin1String("(?:.*/)?"); // any number of folders, none included
                i += 2;
            } else if (pattern.mid(i, 2) == QLatin1String("**")) {
                expression += QLatin1String(".*");
                ++i;
            } else {
                expression += QLatin1String("[^/]*");
            }
        } else if (c == QLatin1Char('?')) {
            expression += QLatin1String("[^/]");
        } else if (c == QLatin1Char('[') && pattern.indexOf(QLatin1Char(']'), i + 2) > i) {
            const qsizetype close = pattern.indexOf(QLatin1Char(']'), i + 2);
            QString set = pattern.mid(i + 1, close - i - 1);
            const bool negated = set.startsWith(QLatin1Char('!')) || set.startsWith(QLatin1Char('^'));
            if (negated)
                set.remove(0, 1);
            set.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('['), QLatin1String("\\["));
            expression += (negated ? QLatin1String("[^/") : QLatin1String("[")) + set + QLatin1Char(']');
            i = close;
        } else {
            expression += QRegularExpression::escape(QString(c));
        }
    }
    m_expression =
        QRegularExpression(QRegularExpression::anchoredPattern(expression),
                           QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
}

bool Glob::Matches(const QString& relativePath) const
{
    const QString subject =
        m_wholePath ? relativePath : relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
    return m_expression.isValid() && m_expression.match(subject).hasMatch();
}

namespace {

struct Walk
{
    QList<Glob> includes;
    QList<Glob> excludes;
    InputFiles result;
    QSet<QString> visiting; // canonical folders on the way down: a link back up is not walked again

    bool Wanted(const QString& relative) const
    {
        auto matches = [&relative](const Glob& glob) { return glob.Matches(relative); };
        if (!includes.isEmpty() && std::none_of(includes.begin(), includes.end(), matches))
            return false;
        return std::none_of(excludes.begin(), excludes.end(), matches);
    }

    bool Folder(const QString& folder, const QString& relative)
    {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (visiting.contains(canonical))
            return true;
        const QDir dir(folder);
        if (!dir.isReadable()) {
            result.error = QStringLiteral("the folder \"%1\" cannot be listed").arg(QDir::toNativeSeparators(folder));
            return false;
        }
        visiting.insert(canonical);
        QFileInfoList entries =
            dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        std::sort(entries.begin(), entries.end(),
                  [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });
        for (const QFileInfo& entry : entries) {
            const QString path = relative + entry.fileName();
            if (entry.isDir()) {
                if (!Folder(entry.absoluteFilePath(), path + QLatin1Char('/')))
                    return false;
            } else if (entry.isFile() && Wanted(path)) {
                result.files.append({QDir::toNativeSeparators(entry.absoluteFilePath()), path});
            }
        }
        visiting.remove(canonical);
        return true;
    }
};

} // namespace

InputFiles CollectInputFiles(const QStringList& inputs, const QStringList& includes, const QStringList& excludes)
{
    Walk walk;
    for (const QString& glob : includes)
        walk.includes.append(Glob(glob));
    for (const QString& glob : excludes)
        walk.excludes.append(Glob(glob));
    for (const QString& input : inputs) {
        const QFileInfo info(input);
        if (info.isDir()) {
            if (!walk.Folder(info.absoluteFilePath(), QString()))
                return {{}, walk.result.error};
        } else if (info.isFile()) {
            walk.result.files.append({QDir::toNativeSeparators(info.absoluteFilePath()), info.fileName()});
        } else {
            return {{}, QStringLiteral("\"%1\" is no file or folder").arg(input)};
        }
    }
    return walk.result;
}

} // namespace hexaloom
