#include "FolderScan.h"

#include "AtomicFile.h"
#include "Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace hexaloom {

namespace {

// `walked`: the canonical paths of the folders entered so far.
bool Walk(const QString& folder, bool recursive, QSet<QString>& walked,
          const std::function<bool(const ScanEntry&)>& visit)
{
    const QString base = WithSeparator(folder);
    const QDir dir(folder);
    if (!dir.isReadable())
        return visit({ScanEntry::Unlisted, base, 0, QStringLiteral("cannot be listed")});
    QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(entries.begin(), entries.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });
    for (const QFileInfo& info : entries) {
        ScanEntry entry;
        entry.path = base + info.fileName();
        if (info.isFile()) {
            if (IsOwnTemporaryName(info.fileName()))
                continue;
            entry.kind = ScanEntry::File;
            entry.size = info.size();
            if (!visit(entry))
                return false;
            continue;
        }
        if (!info.isDir()) {
            entry.kind = ScanEntry::Skipped;
            entry.why = info.isSymLink() && !info.exists() ? QStringLiteral("a link to nothing")
                                                           : QStringLiteral("no regular file");
            if (!visit(entry))
                return false;
            continue;
        }
        entry.kind = ScanEntry::Folder;
        if (!visit(entry))
            return false;
        if (!recursive)
            continue;
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty() || walked.contains(canonical))
            continue;
        walked.insert(canonical);
        if (!Walk(entry.path, recursive, walked, visit))
            return false;
    }
    return true;
}

} // namespace

bool ScanDirectory(const QString& folder, bool recursive, const std::function<bool(const ScanEntry&)>& visit)
{
    if (!QFileInfo(folder).isDir())
        return true;
    QSet<QString> walked{QFileInfo(folder).canonicalFilePath()};
    return Walk(folder, recursive, walked, visit);
}

} // namespace hexaloom
