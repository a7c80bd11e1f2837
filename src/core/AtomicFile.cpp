#include "AtomicFile.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace hexaloom {

namespace {

// A short name of its own in the target's folder, however long the target's name is.
QString TemporaryName(const QString& folder)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name = QStringLiteral("/.hexaloom-");
    for (int i = 0; i < 8; ++i)
        name += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(36)]);
    return folder + name + QStringLiteral(".tmp");
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
    *why = qt_error_string(errno);
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
    *why = qt_error_string(errno);
    return false;
#endif
}

// The file a target names: through a symbolic link, as an editor saving the link would.
QString ThroughLinks(const QString& target)
{
    QFileInfo link(target);
    for (int depth = 0; depth < 32 && link.isSymLink(); ++depth)
        link.setFile(link.symLinkTarget());
    return link.filePath();
}

} // namespace

SaveFile::SaveFile(const QString& target) : m_target(ThroughLinks(target)) {}

SaveFile::~SaveFile()
{
    cancelWriting();
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
    const QFileInfo existing(m_target);
    if (existing.isDir())
        return fail(qt_error_string(EISDIR));
    if (existing.exists() && !existing.isWritable())
        return fail(qt_error_string(EACCES));
    m_keepPermissions = existing.exists();
    m_permissions = existing.permissions();
    // Readable only by its owner until it takes an existing file's place and permissions.
    const Permissions created = m_keepPermissions
                                    ? (ReadOwner | WriteOwner)
                                    : (ReadOwner | WriteOwner | ReadGroup | WriteGroup | ReadOther | WriteOther);
    for (int attempt = 0; attempt < 16; ++attempt) {
        setFileName(TemporaryName(existing.absolutePath()));
        if (QFile::open(mode | QIODevice::NewOnly, created)) {
            m_pending = true;
            return true;
        }
        if (!QFileInfo::exists(fileName()))
            break; // not a name taken by chance: the folder refuses
    }
    return false;
}

qint64 SaveFile::writeData(const char* data, qint64 length)
{
    const qint64 written = QFile::writeData(data, length);
    if (written != length)
        m_writeFailed = true;
    return written;
}

bool SaveFile::finishWriting()
{
    if (!m_pending)
        return fail(QStringLiteral("not open"));
    if (!flush() || m_writeFailed)
        return false; // the device's own error text stays
    QString why;
    if (!SyncToDisk(handle(), &why))
        return fail(why);
    m_finished = true;
    return true;
}

bool SaveFile::commit()
{
    if (!m_finished && !finishWriting()) {
        const QString why = errorString();
        cancelWriting();
        return fail(why);
    }
    close();
    if (m_keepPermissions)
        setPermissions(m_permissions);
    QString why;
    if (!ReplaceFile(fileName(), m_target, &why)) {
        cancelWriting();
        return fail(why);
    }
    m_pending = false;
    return true;
}

void SaveFile::cancelWriting()
{
    if (!m_pending)
        return;
    m_pending = false;
    close();
    QFile::remove();
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

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error, const DeviceWriter& writer)
{
    SaveFile file(path);
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
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size())
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

ReplaceResult ReplaceIfChanged(const QString& source, const QString& target, bool force, QString* error)
{
    if (!force && SameFileContent(source, target)) {
        QFile::remove(source);
        return ReplaceResult::Unchanged;
    }
    // As SaveFile replaces a file: through a link, keeping the old file's permissions.
    const QString file = ThroughLinks(target);
    if (QFile::exists(file))
        QFile::setPermissions(source, QFile::permissions(file));
    QString why;
    if (!ReplaceFile(source, file, &why)) {
        if (error)
            *error = why;
        return ReplaceResult::Failed;
    }
    return ReplaceResult::Replaced;
}

} // namespace hexaloom
