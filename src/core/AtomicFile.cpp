#include "AtomicFile.h"

#include <QSaveFile>

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

} // namespace hexaloom
