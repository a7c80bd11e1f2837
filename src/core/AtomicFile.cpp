#include "AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <utility>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <QCryptographicHash>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hexaloom {

namespace {

const QLatin1String kTemporaryPrefix(".hexaloom-");
const QLatin1String kTemporarySuffix(".tmp");
// The first bytes of a pair's journal (PairJournal), which carries a temporary file's name.
const QByteArray kPairMagic("hexaloom pair journal 1\n");
// The first bytes of the note of a run that holds its output's folder (OutputLock), before the output's path.
const QByteArray kLockMagic("hexaloom is writing\n");

// Four hexadecimal digits that check the eight before them: a name a user gave a file of his own
// (".hexaloom-mynotes1.tmp") is never taken for one of ours, removed or left out of a walk.
QString CheckDigits(QStringView random)
{
    std::uint32_t hash = 2166136261u; // FNV-1a, salted so that no plain pattern checks
    for (const char c : {'h', 'x', 'l', 'm'})
        hash = (hash ^ std::uint8_t(c)) * 16777619u;
    for (const QChar c : random)
        hash = (hash ^ c.unicode()) * 16777619u;
    return QStringLiteral("%1").arg((hash ^ (hash >> 16)) & 0xFFFF, 4, 16, QLatin1Char('0'));
}

// A short name of its own in the target's folder, however long the target's name is.
QString TemporaryName(const QString& folder)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    QString random;
    for (int i = 0; i < 8; ++i)
        random += QLatin1Char(kDigits[QRandomGenerator::global()->bounded(16)]);
    return folder + QLatin1Char('/') + kTemporaryPrefix + random + CheckDigits(random) + kTemporarySuffix;
}

// The temporary files that exist right now, for the signal handler: fixed slots, so that registering
// never allocates and the handler reads only what was completely written.
struct PendingSlot
{
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 holds a path
    char path[4096];
};
PendingSlot g_pending[64];

int RegisterPending(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= int(sizeof g_pending[0].path))
        return -1;
    for (int i = 0; i < 64; ++i) {
        int expected = 0;
        if (g_pending[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_pending[i].path, bytes.constData(), std::size_t(bytes.size()) + 1);
            g_pending[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void UnregisterPending(int slot)
{
    if (slot >= 0)
        g_pending[slot].state.store(0);
}

// While above 0, a signal that ends the program waits in g_deferred (see HeldSignals).
std::atomic<int> g_holding{0};
std::atomic<int> g_deferred{0};

extern "C" void RemovePendingAndEnd(int signal)
{
    if (g_holding.load() > 0) {
        g_deferred.store(signal);
        return;
    }
    for (PendingSlot& slot : g_pending) {
        if (slot.state.load() == 2) {
#ifdef Q_OS_WIN
            _unlink(slot.path);
#else
            ::unlink(slot.path);
#endif
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Puts `from` in the place of `to` in one step, replacing what is there.
bool ReplaceFile(const QString& from, const QString& to, QString* why)
{
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()), reinterpret_cast<const wchar_t*>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = qt_error_string(static_cast<int>(GetLastError()));
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *why = SystemErrorText(errno);
#endif
    return false;
}

// Flushes the file's data to the disk. Devices that cannot be synced are taken as synced.
bool SyncToDisk(int handle, QString* why)
{
#ifdef Q_OS_WIN
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(handle))))
        return true;
    *why = qt_error_string(static_cast<int>(GetLastError()));
    return false;
#else
    if (::fsync(handle) == 0 || errno == EINVAL)
        return true;
    *why = SystemErrorText(errno);
    return false;
#endif
}

// Removes the temporary files of this program in `folder` that no running program holds: a killed run
// leaves its file behind, and the next save there must not find it (nor a folder walk pack it).
void RemoveAbandoned(const QString& folder)
{
    // A pair a killed run left apart is put together first, from the temporary file the cleaner would take.
    SplitPairs(folder, true);
    // No name filter: Qt matches those with a regular expression, whose per-thread state crashes a
    // MinGW program when a worker thread that used it ends. The names are told apart below.
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (!IsOwnTemporaryName(name))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
#ifdef Q_OS_WIN
        // Opened for nobody else to share: that fails while a running save holds the file; otherwise the
        // file goes when this handle closes.
        const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                            DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
#else
        const QByteArray local = QFile::encodeName(path);
        const int handle = ::open(local.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (handle < 0)
            continue;
        struct stat info;
        if (::fstat(handle, &info) == 0 && S_ISREG(info.st_mode) && ::flock(handle, LOCK_EX | LOCK_NB) == 0)
            ::unlink(local.constData());
        ::close(handle);
#endif
    }
}

// Locks the new temporary file for as long as it exists. A cleaner that removed it between its creation
// and the lock leaves it without a name: then false, and another name is tried.
bool HoldTemporary(int handle, const QString& path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(handle);
    Q_UNUSED(path);
    return true;
#else
    if (::flock(handle, LOCK_EX) != 0)
        return true; // a file system without locks: nothing to hold
    struct stat open;
    struct stat named;
    return ::fstat(handle, &open) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_ino == named.st_ino && open.st_dev == named.st_dev;
#endif
}

#ifdef Q_OS_WIN
// A C handle on `path` that lets others read, write, rename and delete it; -1 when it cannot be opened.
// While it is open no cleaner removes the file (see RemoveAbandoned), and the save may still rename it.
int OpenShared(const QString& path, DWORD access, DWORD disposition)
{
    const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                        access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), access & GENERIC_WRITE ? _O_RDWR : _O_RDONLY);
    if (fd < 0)
        ::CloseHandle(handle);
    return fd;
}
#endif

// Gives the file `existing` the second name `name` (a hard link where the file system has them, else a
// copy), locked as a temporary file of a running save is.
bool SecondName(const QString& existing, const QString& name, int* handle)
{
#ifdef Q_OS_WIN
    if (!QFile::copy(existing, name))
        return false;
    *handle = OpenShared(name, GENERIC_READ, OPEN_EXISTING);
    return true;
#else
    const QByteArray local = QFile::encodeName(name);
    if (::link(QFile::encodeName(existing).constData(), local.constData()) != 0 && !QFile::copy(existing, name))
        return false;
    *handle = ::open(local.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (*handle >= 0)
        ::flock(*handle, LOCK_EX | LOCK_NB);
    return true;
#endif
}

} // namespace

void PauseForTests(const char* name)
{
    const int ms = qEnvironmentVariableIntValue(name);
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

QString SystemErrorText(int error)
{
    const QString text = qt_error_string(error);
    if (!text.isEmpty() && text != QLatin1String("Unknown error"))
        return text;
    return QString::fromLocal8Bit(std::strerror(error));
}

bool IsOwnTemporaryName(const QString& fileName)
{
    if (fileName.size() != kTemporaryPrefix.size() + 12 + kTemporarySuffix.size() ||
        !fileName.startsWith(kTemporaryPrefix) || !fileName.endsWith(kTemporarySuffix))
        return false;
    const QStringView digits = QStringView(fileName).mid(kTemporaryPrefix.size(), 12);
    for (const QChar c : digits) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return CheckDigits(digits.left(8)) == digits.mid(8);
}

void RemoveTemporaryFilesOnSignals()
{
    std::signal(SIGINT, RemovePendingAndEnd);
    std::signal(SIGTERM, RemovePendingAndEnd);
#ifdef SIGHUP
    std::signal(SIGHUP, RemovePendingAndEnd);
#endif
}

HeldSignals::HeldSignals()
{
    ++g_holding;
}

HeldSignals::~HeldSignals()
{
    if (--g_holding == 0) {
        if (const int signal = g_deferred.exchange(0))
            RemovePendingAndEnd(signal);
    }
}

bool PairJournal::Begin(const SaveFile& first, const SaveFile& second)
{
    End();
    // The second file's target and temporary file, and the first one's temporary file: which of the
    // two steps were taken can be told from what is still there.
    QByteArray text = kPairMagic;
    for (const QString& path : {second.target(), second.temporaryName(), first.temporaryName()})
        text += QFile::encodeName(QFileInfo(path).absoluteFilePath()) + '\0';
    const QString folder = QFileInfo(second.target()).absolutePath();
    for (int attempt = 0; attempt < 16 && m_path.isEmpty(); ++attempt) {
        const QString name = TemporaryName(folder);
        m_file.setFileName(name);
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
#ifndef Q_OS_WIN
            ::flock(m_file.handle(), LOCK_EX);
#endif
            m_path = name;
        }
    }
    QString why;
    if (m_path.isEmpty() || m_file.write(text) != text.size() || !m_file.flush() || !SyncToDisk(m_file.handle(), &why)) {
        End();
        return false;
    }
    return true;
}

void PairJournal::End()
{
    if (m_path.isEmpty())
        return;
    QFile::remove(m_path); // while still held, so no cleaner takes it meanwhile
    m_file.close();
    m_path.clear();
}

namespace {

// What a journal left by a killed run says: the second file's target when the first file has replaced
// its old one and the second has not; then `temporary` is the second file's complete new version.
std::optional<std::pair<QString, QString>> SplitPair(const QByteArray& text)
{
    if (!text.startsWith(kPairMagic))
        return std::nullopt;
    const QList<QByteArray> parts = text.mid(kPairMagic.size()).split('\0');
    if (parts.size() < 3)
        return std::nullopt;
    const QString target = QFile::decodeName(parts[0]);
    const QString temporary = QFile::decodeName(parts[1]);
    const QString firstTemporary = QFile::decodeName(parts[2]);
    if (QFileInfo::exists(firstTemporary) || !QFileInfo(temporary).isFile())
        return std::nullopt; // the first step was not taken, or the second was
    return std::pair{target, temporary};
}

} // namespace

QStringList SplitPairs(const QString& folder, bool repair)
{
    QStringList split;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (!IsOwnTemporaryName(name))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        QFile journal(path);
        if (!journal.open(QIODevice::ReadOnly) || journal.size() > 3 * 4096 + 64 ||
            !journal.peek(kPairMagic.size()).startsWith(kPairMagic))
            continue;
#ifndef Q_OS_WIN
        // Held: its run is still at work.
        if (::flock(journal.handle(), LOCK_EX | LOCK_NB) != 0)
            continue;
#endif
        const auto pair = SplitPair(journal.readAll());
        if (!pair)
            continue;
        QString why;
        if (repair && ReplaceFile(pair->second, pair->first, &why))
            continue;
        split.append(pair->first);
    }
    return split;
}

QString ThroughLinks(const QString& target)
{
    QFileInfo link(target);
    for (int depth = 0; depth < 32 && link.isSymLink(); ++depth)
        link.setFile(link.symLinkTarget());
    return link.filePath();
}

SaveFile::SaveFile(const QString& target, Links links)
    : m_target(links == FollowLinks ? ThroughLinks(target) : target), m_links(links)
{
}

SaveFile::~SaveFile()
{
    cancelWriting();
    dropOld();
}

bool SaveFile::fail(const QString& why)
{
    setErrorString(why);
    return false;
}

bool SaveFile::open(OpenMode mode)
{
    if (m_pending)
        return fail(QStringLiteral("already open"));
    m_writeFailed = false;
    m_finished = false;
    m_unchanged = false;
    const QFileInfo existing(m_target);
    if (m_links == RefuseLinks && existing.isSymLink())
        return fail(QStringLiteral("a link stands there"));
    if (existing.isDir())
        return fail(SystemErrorText(EISDIR));
    // A FIFO or device standing there is the user's, not an old output: renaming over it would replace
    // it with a regular file.
    if (existing.exists() && !existing.isFile())
        return fail(QStringLiteral("not a regular file; left as it is"));
#ifdef Q_OS_WIN
    if (existing.exists() && !existing.isWritable())
        return fail(SystemErrorText(EACCES));
#else
    // The system's own reason: a read-only file system is not a matter of permissions.
    if (existing.exists() && ::access(QFile::encodeName(m_target).constData(), W_OK) != 0)
        return fail(SystemErrorText(errno));
#endif
    m_keepPermissions = existing.exists();
    // The file's own bits only: the "user" ones say what this process may do (everything, for root), and
    // set again they would make a read-only file writable.
    m_permissions = existing.permissions() & ~(ReadUser | WriteUser | ExeUser);
    const QString folder = existing.absolutePath();
    RemoveAbandoned(folder);
    // Readable only by its owner until it takes an existing file's place and permissions.
    const Permissions created = m_keepPermissions
                                    ? (ReadOwner | WriteOwner)
                                    : (ReadOwner | WriteOwner | ReadGroup | WriteGroup | ReadOther | WriteOther);
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = TemporaryName(folder);
        setFileName(m_temporary);
        // Known to the signal handler before it exists: a signal right after its creation removes it too.
        m_registered = RegisterPending(m_temporary);
#ifdef Q_OS_WIN
        // Qt opens files without delete sharing, so they could be neither renamed while open nor held
        // against a cleaner until the rename: the handle is made here.
        Q_UNUSED(created);
        const int fd = OpenShared(m_temporary, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
        if (fd >= 0 && QFile::open(fd, mode, AutoCloseHandle)) {
#else
        if (QFile::open(mode | QIODevice::NewOnly, created)) {
#endif
            if (!HoldTemporary(handle(), m_temporary)) {
                QFile::close();
                UnregisterPending(std::exchange(m_registered, -1));
                continue;
            }
            m_pending = true;
            return true;
        }
        UnregisterPending(std::exchange(m_registered, -1));
        if (!QFileInfo::exists(m_temporary))
            break; // not a name taken by chance: the folder refuses
    }
    return false;
}

qint64 SaveFile::writeData(const char* data, qint64 length)
{
    errno = 0;
    const qint64 written = QFile::writeData(data, length);
    if (written != length) {
        m_writeFailed = true;
        if (errno != 0)
            setErrorString(SystemErrorText(errno));
    }
    return written;
}

bool SaveFile::finishWriting()
{
    if (!m_pending)
        return fail(QStringLiteral("not open"));
    errno = 0;
    if (!flush() || m_writeFailed) {
        if (errno != 0 && !m_writeFailed)
            setErrorString(SystemErrorText(errno));
        return false; // the device's own error text stays
    }
    QString why;
    if (!SyncToDisk(handle(), &why))
        return fail(why);
    m_finished = true;
    return true;
}

bool SaveFile::put(bool keepSame, bool keepOld)
{
    if (!m_finished && !finishWriting()) {
        const QString why = errorString();
        cancelWriting();
        return fail(why);
    }
    if (keepSame && SameFileContent(m_temporary, m_target)) {
        cancelWriting();
        m_unchanged = true;
        return true;
    }
    if (m_keepPermissions)
        QFile::setPermissions(m_temporary, m_permissions);
    dropOld();
    m_hadOld = QFileInfo(m_target).isFile();
    if (keepOld && m_hadOld) {
        // A second name for the old file, which the rename below leaves in place.
        for (int attempt = 0; attempt < 16 && m_old.isEmpty(); ++attempt) {
            const QString name = TemporaryName(QFileInfo(m_target).absolutePath());
            if (SecondName(m_target, name, &m_oldHandle))
                m_old = name;
        }
        if (m_old.isEmpty()) {
            const QString why = errorString();
            cancelWriting();
            return fail(QStringLiteral("the old file cannot be kept aside: ") + why);
        }
    }
    QString why;
    if (!ReplaceFile(m_temporary, m_target, &why)) {
        cancelWriting();
        dropOld();
        return fail(why);
    }
    m_pending = false;
    QFile::close();
    UnregisterPending(m_registered);
    m_registered = -1;
    return true;
}

bool SaveFile::commit(bool keepSame)
{
    return put(keepSame, false);
}

bool SaveFile::commitKeepingOld(bool keepSame)
{
    return put(keepSame, true);
}

bool SaveFile::restoreOld()
{
    if (m_unchanged)
        return true;
    QString why;
    if (!m_hadOld)
        return QFile::remove(m_target);
    if (m_old.isEmpty() || !ReplaceFile(m_old, m_target, &why))
        return fail(why);
    m_old.clear();
    dropOld();
    return true;
}

void SaveFile::dropOld()
{
    if (!m_old.isEmpty())
        QFile::remove(m_old);
    m_old.clear();
    if (m_oldHandle >= 0)
#ifdef Q_OS_WIN
        _close(m_oldHandle);
#else
        ::close(m_oldHandle);
#endif
    m_oldHandle = -1;
}

void SaveFile::cancelWriting()
{
    if (!m_pending)
        return;
    m_pending = false;
    // Removed while still open and locked, so no cleaner takes it for abandoned meanwhile.
    QFile::remove(m_temporary);
    QFile::close();
    UnregisterPending(m_registered);
    m_registered = -1;
}

OutputLock::~OutputLock()
{
#ifdef Q_OS_WIN
    if (m_mutex) {
        ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
    }
#else
    if (m_note >= 0) {
        ::unlink(QFile::encodeName(m_notePath).constData()); // while still held, so no cleaner takes it
        ::close(m_note);
        UnregisterPending(m_noteSlot);
    }
    if (m_handle >= 0)
        ::close(m_handle);
#endif
}

bool OutputLock::Lock(const QString& file, const std::function<bool()>& waiting)
{
#ifdef Q_OS_WIN
    // A folder cannot be locked here; a mutex named after it can, and it is let go when its program ends
    // however it ends. Letter case does not tell folders apart on Windows.
    if (m_mutex)
        return true;
    const QString folder = QDir::toNativeSeparators(
        QFileInfo(ThroughLinks(QFileInfo(file).absoluteFilePath())).absolutePath().toLower());
    const QString name = QStringLiteral("Local\\hexaloom-output-") +
                         QString::fromLatin1(QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex());
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.utf16()));
    if (!mutex)
        return true; // nothing to lock with: writing goes on as without locks
    for (;;) {
        const DWORD result = ::WaitForSingleObject(mutex, waiting ? 100 : INFINITE);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            m_mutex = mutex;
            return true;
        }
        if (result != WAIT_TIMEOUT || !waiting()) {
            ::CloseHandle(mutex);
            return result != WAIT_TIMEOUT;
        }
    }
#else
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
#endif
}

QString OutputLock::Holder(const QString& file)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file);
    return {};
#else
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
#endif
}

bool WriteAll(QIODevice& device, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error, const DeviceWriter& writer,
                         SaveFile::Links links)
{
    SaveFile file(path, links);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool written = writer ? writer(file, bytes) : WriteAll(file, bytes);
    if (!written) {
        if (error)
            *error = file.error() == QFileDevice::NoError ? QStringLiteral("write failed") : file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool SameFileContent(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (!QFileInfo(b).isFile() || !first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    constexpr qint64 kPiece = 1 << 20;
    QByteArray x(kPiece, Qt::Uninitialized);
    QByteArray y(kPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 n = first.read(x.data(), kPiece);
        const qint64 m = second.read(y.data(), kPiece);
        if (n != m || n < 0)
            return false;
        if (n == 0)
            return true;
        if (std::memcmp(x.constData(), y.constData(), static_cast<std::size_t>(n)) != 0)
            return false;
    }
}

} // namespace hexaloom

namespace hexaloom {

bool MakeFolders(const QString& folder, QString* why)
{
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink()) {
        *why = SystemErrorText(ENOTDIR);
        return false;
    }
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !MakeFolders(parent, why))
        return false;
#ifdef Q_OS_WIN
    if (QDir().mkdir(folder) || QFileInfo(folder).isDir())
        return true;
    *why = qt_error_string(static_cast<int>(GetLastError()));
#else
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0 || errno == EEXIST)
        return true;
    *why = SystemErrorText(errno);
#endif
    return false;
}

bool OpenRegularFile(QFile& file, const QString& path, qint64 cap, QString* why)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *why = QStringLiteral("not a regular file");
        return false;
    }
    // NUL, CON, COM1 and the like pass as files by name; the handle says what they are.
    const HANDLE probe = ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        const DWORD type = ::GetFileType(probe);
        ::CloseHandle(probe);
        if (type != FILE_TYPE_DISK) {
            *why = QStringLiteral("not a regular file");
            return false;
        }
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return false;
    }
#else
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below like any non-file.
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        *why = SystemErrorText(errno);
        return false;
    }
    struct stat info;
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(handle);
        *why = S_ISDIR(info.st_mode) ? SystemErrorText(EISDIR) : QStringLiteral("not a regular file");
        return false;
    }
    ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        *why = file.errorString();
        return false;
    }
#endif
    if (file.size() > cap) {
        file.close();
        *why = QStringLiteral("larger than %1 bytes").arg(cap);
        return false;
    }
    return true;
}

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 cap, QString* why)
{
    QFile file;
    if (!OpenRegularFile(file, path, cap, why))
        return std::nullopt;
    // A file that grows while it is read is read only up to the length it had.
    const qint64 size = file.size();
    QByteArray bytes = file.read(size + 1);
    if (file.error() != QFileDevice::NoError) {
        *why = file.errorString();
        return std::nullopt;
    }
    if (bytes.size() != size) {
        *why = QStringLiteral("changed while it was read");
        return std::nullopt;
    }
    return bytes;
}

} // namespace hexaloom
