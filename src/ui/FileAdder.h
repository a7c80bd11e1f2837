#pragma once
// Files reach the list one by one through here: the size check with its question, dropped files and
// folders (a project among them is opened as a project), and the entries of a folder walk as they
// arrive from the worker that walks it.
#include "FolderScan.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <memory>

namespace hexaloom {

class Document;
class LanguageTable;
class Platform;

// Files bigger than this need the user's consent.
inline constexpr qint64 kBigFileLimit = 50000000;

// The big-file question: the language's FileToBig text naming the file (without its folder).
QString BigFileQuestion(const LanguageTable& language, const QString& path);

class FileAdder : public QObject
{
    Q_OBJECT
public:
    FileAdder(Document& document, Platform& platform, const LanguageTable& language, QObject* parent = nullptr);

    // Appends a row for the file with packer none and its size, asking first when it is big. A file
    // that is in the list already is not added again; TellNotAdded names them.
    void AddWithSizeCheck(const QString& path, qint64 size);
    // Ends an add: one note for all the files that were in the list already, and one warning for all the
    // entries that could not be added (FIFOs, devices, dangling links, unreadable folders, names not
    // valid in the system's encoding); none when there were none. Nothing is left out without a word.
    void TellNotAdded();
    // The dropped paths in order: files (empty ones too) and the files directly inside folders; a
    // project file is opened instead of added.
    void DropFiles(const QStringList& paths);

    // A folder walk starts: Escape, polled once per entry, stops it and sets `stop` for the walker.
    void BeginWalk(std::shared_ptr<std::atomic_bool> stop);
    // Entries of the walk, in walk order. Safe to call while an earlier call is still asking a question:
    // the entries wait their turn.
    void TakeWalkEntries(const QList<ScanEntry>& entries);
    // Stops taking entries (the walk was cancelled); the rows added so far stay.
    void StopWalk();
    // True while entries are being added (a question may be open).
    bool busy() const { return m_draining; }

signals:
    // The entries taken so far are all added (emitted when busy() turns false).
    void drained();

private:
    void openProjectOrAdd(const QString& path, qint64 size);
    // Keeps an entry of a folder walk that is neither a file nor a folder for TellNotAdded's warning.
    void NoteLeftOut(const ScanEntry& entry);

    Document& m_document;
    Platform& m_platform;
    const LanguageTable& m_language;
    QSet<QString> m_listed; // the list's paths during an add, empty between adds
    QStringList m_alreadyListed;
    QStringList m_leftOut; // "path: why" of each entry that could not be added
    QList<ScanEntry> m_pending;
    qsizetype m_next = 0;
    bool m_draining = false;
    bool m_walkStopped = false;
    std::shared_ptr<std::atomic_bool> m_stop;
};

} // namespace hexaloom
