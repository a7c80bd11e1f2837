#include "AtomicFile.h"

#include <QFile>
#include <QSaveFile>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace hexaloom {

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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool written = writer ? writer(file, bytes) : WriteAll(file, bytes);
    if (!written) {
        if (error)
            *error = file.errorString().isEmpty() ? QStringLiteral("write failed") : file.errorString();
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
    if (QFile::exists(target))
        QFile::setPermissions(source, QFile::permissions(target));
        // QFile::rename refuses an existing target; the system's rename replaces it in one step.
#ifdef Q_OS_WIN
    const std::filesystem::path from(source.toStdWString()), to(target.toStdWString());
#else
    const std::filesystem::path from(QFile::encodeName(source).toStdString()),
        to(QFile::encodeName(target).toStdString());
#endif
    std::error_code failure;
    std::filesystem::rename(from, to, failure);
    if (failure) {
        if (error)
            *error = QString::fromLocal8Bit(failure.message());
        return ReplaceResult::Failed;
    }
    return ReplaceResult::Replaced;
}

} // namespace hexaloom
