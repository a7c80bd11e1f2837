#pragma once
// Create: turns the document's list into the output of its format, asking for the path and before
// overwriting when no path is given. Outputs are written atomically: a failed run leaves the old files.
#include "IncludeWriter.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace hexaloom {

class Document;
class LanguageTable;
class Platform;

enum class CreateStatus {
    Written,      // the output holds every file
    MissingFiles, // written, but some files could not be read (listed in `missing`)
    Failed,       // could not be written; old files untouched
    Refused,      // too many rows for a resource file, or a file too large; nothing written
    Cancelled,    // requester cancelled or overwrite declined
    NoFormat,     // the output format is none of the three
};

struct CreateResult
{
    CreateStatus status = CreateStatus::NoFormat;
    QString path;        // the output written (extension settled)
    QStringList missing; // source files that could not be read
    QString error;       // what failed or why it was refused
};

struct CreateOptions
{
    int threads = 0;                                   // packing workers; 0 one per core
    TemplateSource templates = OwnTemplates();         // where the access-code templates come from
    const LanguageTable* language = nullptr;           // message texts; the built-in English without one
    std::function<void(int done, int total)> progress; // called after each row is written
};

// Different files whose names are equal apart from letter case: one "first and later" line per pair (at
// most ten, then how many more); empty when there is none. Create warns with them.
QStringList NameClashPairs(const QStringList& paths, const QStringList& fileNames);

// `path` empty: the save requester and the overwrite question; otherwise neither is shown and an
// existing file is replaced. Every problem is told through `platform` as one message.
CreateResult CreateOutput(Document& document, Platform& platform, const QString& path,
                          const CreateOptions& options = {});

} // namespace hexaloom
