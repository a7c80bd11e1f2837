#include "FolderScan.h"

#include "Paths.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

namespace hexaloom {

namespace {

// `ancestry`: the canonical paths of the folders being walked, outermost first.
bool Walk(const QString& folder, bool recursive, QStringList& ancestry,
          const std::function<bool(const ScanEntry&)>& visit)
{
    const QString base = WithSeparator(folder);
    QDirIterator it(base, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        ScanEntry entry;
        entry.path = base + info.fileName();
        if (!info.isDir()) {
            entry.kind = ScanEntry::File;
            entry.size = info.size();
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
        if (canonical.isEmpty() || ancestry.contains(canonical))
            continue;
        ancestry.append(canonical);
        const bool completed = Walk(entry.path, recursive, ancestry, visit);
        ancestry.removeLast();
        if (!completed)
            return false;
    }
    return true;
}

} // namespace

bool ScanDirectory(const QString& folder, bool recursive, const std::function<bool(const ScanEntry&)>& visit)
{
    QStringList ancestry{QFileInfo(folder).canonicalFilePath()};
    return Walk(folder, recursive, ancestry, visit);
}

} // namespace hexaloom
