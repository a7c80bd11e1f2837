// Atomic saves on Windows: MoveFileEx and FlushFileBuffers; a file opened without delete sharing marks
// a running save's temporary file, and a named mutex locks an output's folder.
#include "AtomicFile.h"
#include "AtomicFileSystem.h"
#include "Reasons.h"

#include <QCryptographicHash>
#include <QDir>

#include <cerrno>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace hexaloom {

namespace atomic_file {

namespace {

// A C handle on `path` that lets others read, write, rename and delete it; -1 when it cannot be opened.
// While it is open no cleaner removes the file (see RemoveUnlessHeld), and the save may still rename it.
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

} // namespace

void UnlinkInSignalHandler(const char* path)
{
    _unlink(path);
}

bool MoveOver(const QString& from, const QString& to, QString* why)
{
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()), reinterpret_cast<const wchar_t*>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = qt_error_string(static_cast<int>(GetLastError()));
    return false;
}

bool SyncToDisk(int handle, QString* why)
{
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(handle))))
        return true;
    *why = qt_error_string(static_cast<int>(GetLastError()));
    return false;
}

QString WhyNotWritable(const QString& target, const QFileInfo& existing)
{
    Q_UNUSED(target);
    if (existing.exists() && !existing.isWritable())
        return SystemErrorText(EACCES);
    return {};
}

void RemoveUnlessHeld(const QString& path)
{
    // Opened for nobody else to share: that fails while a running save holds the file; otherwise the
    // file goes when this handle closes.
    const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                        DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
}

bool CreateTemporary(QFile& file, const QString& path, QIODevice::OpenMode mode, QFileDevice::Permissions created)
{
    // Qt opens files without delete sharing, so they could be neither renamed while open nor held
    // against a cleaner until the rename: the handle is made here.
    Q_UNUSED(created);
    file.setFileName(path);
    const int fd = OpenShared(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    return fd >= 0 && file.open(fd, mode, QFileDevice::AutoCloseHandle);
}

bool OpenUnhindering(QFile& file, const QString& path)
{
    // Qt's own open would share neither renaming nor removing.
    file.setFileName(path);
    const int fd = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

bool HoldTemporary(int handle, const QString& path)
{
    // The shared handle CreateTemporary made holds it.
    Q_UNUSED(handle);
    Q_UNUSED(path);
    return true;
}

bool TakeJournal(int handle)
{
    Q_UNUSED(handle);
    return true;
}

bool SecondName(const QString& existing, const QString& name, int* handle)
{
    if (!QFile::copy(existing, name))
        return false;
    *handle = OpenShared(name, GENERIC_READ, OPEN_EXISTING);
    return true;
}

void CloseDescriptor(int handle)
{
    _close(handle);
}

bool MakeFolder(const QString& folder, QString* why)
{
    if (QDir().mkdir(folder) || QFileInfo(folder).isDir())
        return true;
    *why = qt_error_string(static_cast<int>(GetLastError()));
    return false;
}

bool OpenRegular(QFile& file, const QString& path, QString* why)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *why = QString::fromLatin1(reason::kNotRegularFile);
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
            *why = QString::fromLatin1(reason::kNotRegularFile);
            return false;
        }
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return false;
    }
    return true;
}

} // namespace atomic_file

OutputLock::~OutputLock()
{
    if (m_mutex) {
        ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
    }
}

bool OutputLock::Lock(const QString& file, const std::function<bool()>& waiting)
{
    // A folder cannot be locked here; a mutex named after it can, and it is let go when its program ends
    // however it ends. Letter case does not tell folders apart on Windows.
    if (m_mutex)
        return true;
    const QString folder =
        QDir::toNativeSeparators(QFileInfo(ThroughLinks(QFileInfo(file).absoluteFilePath())).absolutePath().toLower());
    const QString name =
        QStringLiteral("Local\\hexaloom-output-") +
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
}

// Which run holds a folder cannot be asked of a mutex.
QString OutputLock::Holder(const QString& file)
{
    Q_UNUSED(file);
    return {};
}

} // namespace hexaloom
