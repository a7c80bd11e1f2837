#pragma once
// Whole-file rewrites that never leave a half-written file: the bytes go to a temporary file beside the
// target, which replaces the target only when everything was written.
#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

namespace hexaloom {

// Writes the bytes into an open device; false when the device refused any of them.
using DeviceWriter = std::function<bool(QIODevice& device, const QByteArray& bytes)>;

bool WriteAll(QIODevice& device, const QByteArray& bytes);

// Replaces (or creates) `path` with `bytes`. On failure the old file is untouched, the result is false
// and `error` (when given) says why. `writer` defaults to WriteAll; tests pass one that fails midway.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                         const DeviceWriter& writer = {});

} // namespace hexaloom
