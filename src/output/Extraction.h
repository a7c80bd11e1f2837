#pragma once
// Extracting an output's files into a folder: which files are written, under which names, and the
// writing of one. The command line's --extract uses it; its messages are the caller's.
#include "OutputContents.h"

#include <QString>

#include <vector>

namespace hexaloom {

struct ExtractChoice
{
    enum Verdict {
        Write,
        NoData,     // HoldsNoData: nothing to write
        UnsafeName, // the name would not stay inside the folder (IsSafeFileName)
        SameName    // an earlier file takes the name, as the file system tells names apart
    };
    int number = 0; // from 1
    QString name;   // the catalog's name for it; empty when it has none
    Verdict verdict = Write;
    int sameAs = 0; // SameName: the number of the file written under the name
};

// Every number the catalog counts or the output stores, in order, with what extraction does with it. A
// name is written once: on Windows and macOS, whose file systems do not tell letters' case apart,
// "A.txt" and "a.txt" are one name.
std::vector<ExtractChoice> ChooseExtracted(const OutputContents& contents, const CatalogText& catalog);

// Writes file `number` of `contents` to `path`, unpacked as it is read. A link (or anything but a regular
// file) standing at `path` is refused, not followed, and only a sound block takes the name. Empty when
// the file was written, else why not. Runs on any thread.
QString ExtractFile(const OutputContents& contents, int number, const QString& path);

} // namespace hexaloom
