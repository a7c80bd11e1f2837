#pragma once
// The one folder walk: Add Directory, dropped folders and the build-script road's INPUT folders all list
// the files of a tree in the same order, so a tree gives the same rows (and #HXL_ numbers) on every road
// and every machine. Needs no window and no platform, so it runs on a worker thread while the window
// stays live.
#include <QString>

#include <functional>

namespace hexaloom {

struct ScanEntry
{
    // Skipped: a FIFO, device, socket or dangling link, which no road packs. Unlisted: a folder whose
    // entries cannot be read. BadName: an entry whose name is not valid in the system's encoding, so it
    // cannot be opened by any name this program could give (`path` shows its bytes as \xNN). All three
    // carry the reason in `why`.
    enum Kind { File = 1, Folder = 2, Skipped = 3, Unlisted = 4, BadName = 5 };
    Kind kind = File;
    QString path;    // the folder walked (with a trailing separator) followed by the entry's name
    qint64 size = 0; // a file's length in bytes
    QString why;
};

// Walks `folder` depth first, each folder's entries sorted by name code unit by code unit (whatever the
// locale), hidden ones included: `visit` sees every file and every folder, and a folder's contents
// follow it at once when `recursive`. Returning false from `visit` ends the whole walk. A folder reached
// a second time through links (a loop, or two links to one folder) is listed but not entered again. The
// temporary files of running saves are left out. Returns whether the walk ran to its end.
bool ScanDirectory(const QString& folder, bool recursive, const std::function<bool(const ScanEntry&)>& visit);

} // namespace hexaloom
