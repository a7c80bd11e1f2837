#pragma once
// Whole-file rewrites that never leave a half-written file: the bytes go to a temporary file beside the
// target, which replaces the target only when everything was written.
#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <functional>
#include <optional>

namespace hexaloom {

// The temporary files of this program are named ".hexaloom-" + eight random hexadecimal digits + four
// that check them + ".tmp"; folder walks leave them out, and only them.
bool IsOwnTemporaryName(const QString& fileName);

// Removes the temporary files of running saves when SIGINT or SIGTERM ends the program (then ends it as
// the signal would). Only the command-line roads install it; the window has its own way of quitting.
void RemoveTemporaryFilesOnSignals();

// A file written under a short temporary name in the target's folder; commit() puts it in the target's
// place in one step, anything else leaves the target as it was. QSaveFile names its temporary file after
// the target plus seven characters, so a target whose name is near the system's limit (255 bytes) could
// never be replaced; this name fits whatever the target's length. An existing target's permissions carry
// over. While the temporary file exists this process holds a lock on it; a temporary file of this
// program that nobody holds (left by a killed run) is removed when a save opens in its folder.
class SaveFile : public QFile
{
public:
    // FollowLinks: a target that is a symbolic link is replaced through the link, as an editor saving the
    // link would (the temporary file lies beside the file the link leads to, so the rename never crosses
    // file systems). RefuseLinks: a link or anything but a regular file standing at the target is refused.
    enum Links { FollowLinks, RefuseLinks };
    explicit SaveFile(const QString& target, Links links = FollowLinks);
    // Removes the temporary file unless it was committed.
    ~SaveFile() override;

    // Creates the temporary file for writing. False, with the reason in errorString(), when the target is
    // a folder or a file that may not be written, or the temporary file cannot be created.
    bool open(OpenMode mode) override;
    // Writes out what is buffered and syncs it to the disk; false when that or any earlier write failed.
    // commit() does it itself: call it first for each of several files that must all be complete before
    // any of them replaces its target.
    bool finishWriting();
    // finishWriting(), then the temporary file replaces the target. With keepSame, a target that already
    // holds the same bytes stays as it is (with its timestamp) and unchanged() says so. On failure the
    // temporary file is removed and the target is as it was.
    bool commit(bool keepSame = false);
    // Like commit(), but the old target is kept under a temporary name until restoreOld() or
    // dropOld(): for files that must be replaced as a pair.
    bool commitKeepingOld(bool keepSame = false);
    // Puts the old target back after commitKeepingOld() (removes the new one when there was none).
    bool restoreOld();
    // Forgets the old target kept by commitKeepingOld().
    void dropOld();
    // Drops the temporary file; the target stays as it was.
    void cancelWriting();

    QString target() const { return m_target; }
    // The file being written (empty when none is).
    QString temporaryName() const { return m_pending ? m_temporary : QString(); }
    bool unchanged() const { return m_unchanged; }

protected:
    qint64 writeData(const char* data, qint64 length) override;

private:
    bool fail(const QString& why);
    bool put(bool keepSame, bool keepOld);

    QString m_target;
    QString m_temporary; // the file being written (on Windows QFile forgets the name of a handle it opens)
    Links m_links;
    bool m_pending = false; // the temporary file exists and has not replaced the target
    bool m_writeFailed = false;
    bool m_finished = false;
    bool m_keepPermissions = false;
    bool m_unchanged = false;
    int m_registered = -1; // slot of the temporary file among those removed on a signal
    QString m_old;         // commitKeepingOld: where the old target waits; empty when there was none
    bool m_hadOld = false;
    int m_oldHandle = -1; // keeps the old target's second name locked
    Permissions m_permissions;
};

// While one lives, SIGINT, SIGTERM and SIGHUP (where RemoveTemporaryFilesOnSignals handles them) wait,
// and end the program once the last one goes: for steps that must not be cut in two.
class HeldSignals
{
public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
};

// Two saves that replace their targets one after the other (a binpack include and its pack file): a
// journal beside the second one's target, written before the first rename and removed after the second,
// lets the next run put together a pair that a kill between the two renames left apart.
class PairJournal
{
public:
    PairJournal() = default;
    ~PairJournal() { End(); }
    PairJournal(const PairJournal&) = delete;
    PairJournal& operator=(const PairJournal&) = delete;

    // Both saves finished writing (finishWriting), neither committed. False when it cannot be written.
    bool Begin(const SaveFile& first, const SaveFile& second);
    void End();

private:
    QString m_path;
    QFile m_file;
};

// The targets in `folder` whose pair a killed run left apart: the first file replaced, the second not.
// With `repair` the second one's complete new version (kept by the journal) takes its place, and only the
// pairs that could not be put together are returned. Saves repair their folder by themselves.
QStringList SplitPairs(const QString& folder, bool repair);

// Holds a lock on one output for as long as it lives, so that two runs never write one output at once.
class OutputLock
{
public:
    OutputLock() = default;
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Locks the folder `file` lies in (through links). While another program holds it, `waiting` is asked
    // every tenth of a second whether to go on waiting (false gives up); without it, waits quietly. A
    // folder that cannot be opened is not locked (writing there fails on its own).
    bool Lock(const QString& file, const std::function<bool()>& waiting = {});
    // The output that another run holding the folder of `file` writes, as it named it; empty when that
    // cannot be told.
    static QString Holder(const QString& file);

private:
    int m_handle = -1;      // the folder, flock()ed
    void* m_mutex = nullptr; // Windows: the folder's named mutex, owned
    int m_note = -1;        // the note naming the output, flock()ed while it exists
    QString m_notePath;
    int m_noteSlot = -1; // among the files removed on a signal
};

// The file a target names: through symbolic links, as an editor saving the link would.
QString ThroughLinks(const QString& target);

// Writes the bytes into an open device; false when the device refused any of them.
using DeviceWriter = std::function<bool(QIODevice& device, const QByteArray& bytes)>;

bool WriteAll(QIODevice& device, const QByteArray& bytes);

// Replaces (or creates) `path` with `bytes`. On failure the old file is untouched, the result is false
// and `error` (when given) says why. `writer` defaults to WriteAll; tests pass one that fails midway.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                         const DeviceWriter& writer = {}, SaveFile::Links links = SaveFile::FollowLinks);

// True when both files can be read and hold the same bytes.
bool SameFileContent(const QString& a, const QString& b);

// Makes `folder` and the folders above it that are missing; false with the system's reason when one
// cannot be made.
bool MakeFolders(const QString& folder, QString* why);

// Opens `path` for reading when it is a regular file (through links) of at most `cap` bytes, without
// ever waiting on a FIFO or reading a device. False with the reason otherwise.
bool OpenRegularFile(QFile& file, const QString& path, qint64 cap, QString* why);

// The whole of a regular file of at most `cap` bytes; nothing, with the reason, otherwise.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 cap, QString* why);

// Sleeps the milliseconds the environment variable `name` gives (none without it): lets the tests send a
// signal at a step that is otherwise over too soon to be caught.
void PauseForTests(const char* name);

// The system's text for an error number (never "Unknown error" for one the system knows).
QString SystemErrorText(int error);

} // namespace hexaloom
