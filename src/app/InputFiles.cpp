#include "InputFiles.h"

#include "FolderScan.h"
#include "Paths.h"

#include <QDir>
#include <QFileInfo>

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
            m_malformed = m_malformed || c == QLatin1Char('[');
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

struct Filter
{
    QList<Glob> includes;
    QList<Glob> excludes;

    bool Wanted(const QString& relative) const
    {
        auto matches = [&relative](const Glob& glob) { return glob.Matches(relative); };
        if (!includes.isEmpty() && std::none_of(includes.begin(), includes.end(), matches))
            return false;
        return std::none_of(excludes.begin(), excludes.end(), matches);
    }
};

} // namespace

InputFiles CollectInputFiles(const QStringList& inputs, const QStringList& includes, const QStringList& excludes)
{
    Filter filter;
    for (const QString& glob : includes)
        filter.includes.append(Glob(glob));
    for (const QString& glob : excludes)
        filter.excludes.append(Glob(glob));
    InputFiles result;
    for (const QString& input : inputs) {
        const QFileInfo info(input);
        if (info.isDir()) {
            const QString root = WithSeparator(info.absoluteFilePath());
            ScanDirectory(info.absoluteFilePath(), true, [&](const ScanEntry& entry) {
                const QString shown = QDir::toNativeSeparators(QDir::cleanPath(entry.path));
                switch (entry.kind) {
                case ScanEntry::File: {
                    const QString relative = QDir::fromNativeSeparators(entry.path.mid(root.size()));
                    if (filter.Wanted(relative))
                        result.files.append({QDir::toNativeSeparators(entry.path), relative, entry.size});
                    return true;
                }
                case ScanEntry::Skipped:
                    result.warnings.append(QStringLiteral("\"%1\" is %2; left out").arg(shown, entry.why));
                    return true;
                case ScanEntry::Unlisted:
                    result.error = QStringLiteral("the folder \"%1\" cannot be listed").arg(shown);
                    return false;
                case ScanEntry::BadName:
                    // Left out it would vanish from the output without a word.
                    result.error = QStringLiteral("\"%1\": %2").arg(shown, entry.why);
                    return false;
                case ScanEntry::Folder:
                    return true;
                }
                return true;
            });
            if (!result.error.isEmpty())
                return {{}, result.error, {}};
        } else if (info.isFile()) {
            result.files.append({QDir::toNativeSeparators(info.absoluteFilePath()), info.fileName(), info.size()});
        } else {
            return {{}, QStringLiteral("\"%1\" is no file or folder").arg(input), {}};
        }
    }
    return result;
}

} // namespace hexaloom
