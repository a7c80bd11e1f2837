#include "FolderScan.h"

#include "AtomicFile.h"
#include "Paths.h"
#include "Reasons.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#ifndef Q_OS_WIN
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>
#include <vector>
#endif

namespace hexaloom {

namespace {

#ifdef Q_OS_WIN
// `walked`: the canonical paths of the folders entered so far.
bool Walk(const QString& folder, bool recursive, QSet<QString>& walked,
          const std::function<bool(const ScanEntry&)>& visit)
{
    const QString base = WithSeparator(folder);
    const QDir dir(folder);
    if (!dir.isReadable())
        return visit({ScanEntry::Unlisted, base, 0, QString::fromLatin1(reason::kCannotBeListed)});
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
            entry.why = info.isSymLink() && !info.exists() ? QString::fromLatin1(reason::kLinkToNothing)
                                                           : QString::fromLatin1(reason::kNoRegularFile);
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
#else
// A folder's identity, however it is reached.
using FolderId = std::pair<dev_t, ino_t>;

// The name as it can be shown: each byte that is not plain ASCII written as \xNN.
QString EscapedName(const QByteArray& raw)
{
    QString shown;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x80 ? QString(QLatin1Char(c)) : QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

// Walks the open folder `handle` (taken over), which `base` names. Every entry is looked at relative to
// its folder's handle, so a deep tree costs the system no path walk from the root per entry.
bool Walk(int handle, const QString& base, bool recursive, std::set<FolderId>& walked,
          const std::function<bool(const ScanEntry&)>& visit)
{
    DIR* listing = ::fdopendir(handle);
    if (!listing) {
        ::close(handle);
        return visit({ScanEntry::Unlisted, base, 0, QString::fromLatin1(reason::kCannotBeListed)});
    }
    std::vector<std::pair<QString, QByteArray>> names;
    errno = 0;
    while (const dirent* found = ::readdir(listing)) {
        const QByteArray raw(found->d_name);
        if (raw != "." && raw != "..")
            names.emplace_back(QFile::decodeName(raw), raw);
    }
    const int listError = errno;
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    bool go = true;
    if (listError != 0)
        go = visit({ScanEntry::Unlisted, base, 0, SystemErrorText(listError)});
    for (std::size_t i = 0; go && i < names.size(); ++i) {
        const auto& [name, raw] = names[i];
        ScanEntry entry;
        entry.path = base + name;
        // A name the system's encoding cannot spell would be opened under another name (or none).
        if (QFile::encodeName(name) != raw) {
            entry.kind = ScanEntry::BadName;
            entry.path = base + EscapedName(raw);
            entry.why = QString::fromLatin1(reason::kNameNotInEncoding);
            go = visit(entry);
            continue;
        }
        struct stat info;
        if (::fstatat(handle, raw.constData(), &info, 0) != 0) {
            const int error = errno;
            struct stat link;
            entry.kind = ScanEntry::Skipped;
            entry.why = ::fstatat(handle, raw.constData(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)
                            ? QString::fromLatin1(reason::kLinkToNothing)
                            : SystemErrorText(error);
            go = visit(entry);
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            if (IsOwnTemporaryName(name))
                continue;
            entry.kind = ScanEntry::File;
            entry.size = info.st_size;
            go = visit(entry);
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            entry.kind = ScanEntry::Skipped;
            entry.why = QString::fromLatin1(reason::kNoRegularFile);
            go = visit(entry);
            continue;
        }
        entry.kind = ScanEntry::Folder;
        go = visit(entry);
        if (!go || !recursive || !walked.insert({info.st_dev, info.st_ino}).second)
            continue;
        const int sub = ::openat(handle, raw.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (sub < 0)
            go = visit(
                {ScanEntry::Unlisted, WithSeparator(entry.path), 0, QString::fromLatin1(reason::kCannotBeListed)});
        else
            go = Walk(sub, WithSeparator(entry.path), recursive, walked, visit);
    }
    ::closedir(listing);
    return go;
}
#endif

} // namespace

bool ScanDirectory(const QString& folder, bool recursive, const std::function<bool(const ScanEntry&)>& visit)
{
    if (!QFileInfo(folder).isDir())
        return true;
#ifdef Q_OS_WIN
    QSet<QString> walked{QFileInfo(folder).canonicalFilePath()};
    return Walk(folder, recursive, walked, visit);
#else
    const int handle = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        return visit({ScanEntry::Unlisted, WithSeparator(folder), 0, QString::fromLatin1(reason::kCannotBeListed)});
    struct stat info;
    std::set<FolderId> walked;
    if (::fstat(handle, &info) == 0)
        walked.insert({info.st_dev, info.st_ino});
    return Walk(handle, WithSeparator(folder), recursive, walked, visit);
#endif
}

} // namespace hexaloom
