#pragma once
// The folder walk behind Add Directory and dropped folders. Needs no window and no platform, so it runs
// on a worker thread while the window stays live.
#include <QString>

#include <functional>

namespace hexaloom {

struct ScanEntry
{
    enum Kind { File = 1, Folder = 2 };
    Kind kind = File;
    QString path;    // the folder walked (with a trailing separator) followed by the entry's name
    qint64 size = 0; // a file's length in bytes
};

// Walks `folder` depth first in the order the listing delivers the entries (hidden ones included):
// `visit` sees every file and every folder, and a folder's contents follow it at once when
// `recursive`. Returning false from `visit` ends the whole walk. A folder that cannot be listed adds
// nothing; a linked folder that leads back into its own ancestry is not entered again. Returns whether
// the walk ran to its end.
bool ScanDirectory(const QString& folder, bool recursive, const std::function<bool(const ScanEntry&)>& visit);

} // namespace hexaloom
