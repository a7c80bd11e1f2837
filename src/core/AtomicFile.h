#pragma once
// Whole-file rewrites that never leave a half-written file: the bytes go to a temporary file beside the
// target, which replaces the target only when everything was written.
#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <functional>

namespace hexaloom {

// A file written under a short temporary name in the target's folder; commit() puts it in the target's
// place in one step, anything else leaves the target as it was. QSaveFile names its temporary file after
// the target plus seven characters, so a target whose name is near the system's limit (255 bytes) could
// never be replaced; this name fits whatever the target's length. A target that is a symbolic link is
// replaced through the link; an existing target's permissions carry over.
class SaveFile : public QFile
{
public:
    explicit SaveFile(const QString& target);
    // Removes the temporary file unless it was committed.
    ~SaveFile() override;

    // Creates the temporary file for writing. False, with the reason in errorString(), when the target is
    // a folder or a file that may not be written, or the temporary file cannot be created.
    bool open(OpenMode mode) override;
    // Writes out what is buffered and syncs it to the disk; false when that or any earlier write failed.
    // commit() does it itself: call it first for each of several files that must all be complete before
    // any of them replaces its target.
    bool finishWriting();
    // finishWriting(), then the temporary file replaces the target. On failure the temporary file is
    // removed and the target is as it was.
    bool commit();
    // Drops the temporary file; the target stays as it was.
    void cancelWriting();

    QString target() const { return m_target; }

protected:
    qint64 writeData(const char* data, qint64 length) override;

private:
    bool fail(const QString& why);

    QString m_target;
    bool m_pending = false; // the temporary file exists and has not replaced the target
    bool m_writeFailed = false;
    bool m_finished = false;
    bool m_keepPermissions = false;
    Permissions m_permissions;
};

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
