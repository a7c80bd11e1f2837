#pragma once
// Whole-file reads and writes for tests.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QString>

#include <cstdint>
#include <vector>

namespace hexaloom {

// The file's bytes, or empty when it cannot be read.
inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the bytes, creating missing folders; true when every byte was written.
inline bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Reproducible file contents: a repeated sentence (packs well) or random bytes (does not pack).
inline QByteArray Pattern(int size, int seed, bool text)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int i = 0; i < size; ++i)
        bytes[i] = text ? "hexaloom packs files, "[i % 22] : static_cast<char>(random.bounded(256));
    return bytes;
}

inline std::vector<std::uint8_t> ToBytes(const QByteArray& bytes)
{
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

} // namespace hexaloom
