// Atomic saves on systems with POSIX files: rename, fsync, and flock() to tell a running save's
// temporary files from abandoned ones.
#include "AtomicFile.h"
#include "AtomicFileSystem.h"
#include "Reasons.h"

#include <QDir>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hexaloom {

namespace atomic_file {

void UnlinkInSignalHandler(const char* path)
{
    ::unlink(path);
}

bool MoveOver(const QString& from, const QString& to, QString* why)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *why = SystemErrorText(errno);
    return false;
}

bool SyncToDisk(int handle, QString* why)
{
    if (::fsync(handle) == 0 || errno == EINVAL)
        return true;
    *why = SystemErrorText(errno);
    return false;
}

QString WhyNotWritable(const QString& target, const QFileInfo& existing)
{
    // The system's own reason: a read-only file system is not a matter of permissions.
    if (existing.exists() && ::access(QFile::encodeName(target).constData(), W_OK) != 0)
        return SystemErrorText(errno);
    return {};
}

void RemoveUnlessHeld(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    const int handle = ::open(local.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (handle < 0)
        return;
    struct stat info;
    if (::fstat(handle, &info) == 0 && S_ISREG(info.st_mode) && ::flock(handle, LOCK_EX | LOCK_NB) == 0)
        ::unlink(local.constData());
    ::close(handle);
}

bool CreateTemporary(QFile& file, const QString& path, QIODevice::OpenMode mode, QFileDevice::Permissions created)
{
    file.setFileName(path);
    return file.open(mode | QIODevice::NewOnly, created);
}

bool OpenUnhindering(QFile& file, const QString& path)
{
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
}

bool HoldTemporary(int handle, const QString& path)
{
    if (::flock(handle, LOCK_EX) != 0)
        return true; // a file system without locks: nothing to hold
    struct stat open;
    struct stat named;
    return ::fstat(handle, &open) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_ino == named.st_ino && open.st_dev == named.st_dev;
}

bool TakeJournal(int handle)
{
    return ::flock(handle, LOCK_EX | LOCK_NB) == 0;
}

bool SecondName(const QString& existing, const QString& name, int* handle)
{
    const QByteArray local = QFile::encodeName(name);
    if (::link(QFile::encodeName(existing).constData(), local.constData()) != 0 && !QFile::copy(existing, name))
        return false;
    *handle = ::open(local.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (*handle >= 0)
        ::flock(*handle, LOCK_EX | LOCK_NB);
    return true;
}

void CloseDescriptor(int handle)
{
    ::close(handle);
}

bool MakeFolder(const QString& folder, QString* why)
{
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0 || errno == EEXIST)
        return true;
    *why = SystemErrorText(errno);
    return false;
}

bool OpenRegular(QFile& file, const QString& path, QString* why)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below like any non-file.
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        *why = SystemErrorText(errno);
        return false;
    }
    struct stat info;
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(handle);
        *why = S_ISDIR(info.st_mode) ? SystemErrorText(EISDIR) : QString::fromLatin1(reason::kNotRegularFile);
        return false;
    }
    ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        *why = file.errorString();
        return false;
    }
    return true;
}

} // namespace atomic_file

namespace {

// The first bytes of the note of a run that holds its output's folder (OutputLock), before the output's path.
const QByteArray kLockMagic("hexaloom is writing\n");

} // namespace

using namespace atomic_file;

OutputLock::~OutputLock()
{
    if (m_note >= 0) {
        ::unlink(QFile::encodeName(m_notePath).constData()); // while still held, so no cleaner takes it
        ::close(m_note);
        UnregisterPending(m_noteSlot);
    }
    if (m_handle >= 0)
        ::close(m_handle);
}

bool OutputLock::Lock(const QString& file, const std::function<bool()>& waiting)
{
    if (m_handle >= 0)
        return true;
    const QString folder = QFileInfo(ThroughLinks(QFileInfo(file).absoluteFilePath())).absolutePath();
    m_handle = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_handle < 0)
        return true;
    while (::flock(m_handle, waiting ? LOCK_EX | LOCK_NB : LOCK_EX) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true; // no locks on this file system
        if (errno == EWOULDBLOCK && !waiting())
            return false;
        QThread::msleep(100);
    }
    // A note of what this run writes, for a run that waits meanwhile to name it.
    const QByteArray text = kLockMagic + QFile::encodeName(ThroughLinks(QFileInfo(file).absoluteFilePath()));
    for (int attempt = 0; attempt < 16 && m_notePath.isEmpty(); ++attempt) {
        const QString name = TemporaryName(folder);
        m_noteSlot = RegisterPending(name); // a signal that ends the run removes it too
        const int note = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (note < 0) {
            UnregisterPending(std::exchange(m_noteSlot, -1));
            if (errno != EEXIST)
                break;
            continue;
        }
        ::flock(note, LOCK_EX);
        if (::write(note, text.constData(), std::size_t(text.size())) == text.size()) {
            m_notePath = name;
            m_note = note;
        } else {
            ::unlink(QFile::encodeName(name).constData());
            ::close(note);
            UnregisterPending(std::exchange(m_noteSlot, -1));
            break;
        }
    }
    return true;
}

QString OutputLock::Holder(const QString& file)
{
    const QString folder = QFileInfo(ThroughLinks(QFileInfo(file).absoluteFilePath())).absolutePath();
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (!IsOwnTemporaryName(name))
            continue;
        const int note = ::open(QFile::encodeName(folder + QLatin1Char('/') + name).constData(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (note < 0)
            continue;
        char bytes[4200];
        const ssize_t n = ::read(note, bytes, sizeof bytes);
        const bool held = ::flock(note, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(note);
        const QByteArray text = QByteArray::fromRawData(bytes, n > 0 ? qsizetype(n) : 0);
        if (held && text.startsWith(kLockMagic))
            return QFile::decodeName(text.mid(kLockMagic.size()));
    }
    return {};
}

} // namespace hexaloom
