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

enum class ReplaceResult { Unchanged, Replaced, Failed };

// Moves the finished file `source` over `target`, unless `target` already holds the same bytes: then
// `source` is removed and `target` keeps its timestamp. `force` always moves. The move is one rename on
// the same file system, so `target` is always either the old file or the new one; it keeps its
// permissions. On failure `target` is untouched and `error` (when given) says why.
ReplaceResult ReplaceIfChanged(const QString& source, const QString& target, bool force, QString* error = nullptr);

// True when both files can be read and hold the same bytes.
bool SameFileContent(const QString& a, const QString& b);

} // namespace hexaloom
