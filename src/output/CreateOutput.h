#pragma once
// Create: turns the document's list into the output of its format, asking for the path and before
// overwriting when no path is given. Outputs are written atomically: a failed run leaves the old files.
#include "IncludeWriter.h"
#include "PackedBlock.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace hexaloom {

class Document;
class FileListModel;
class LanguageTable;
class Platform;

enum class CreateStatus {
    Written,      // the output holds every file
    MissingFiles, // written, but some files could not be read (listed in `missing`)
    Failed,       // could not be written; old files untouched
    Refused,      // too many rows for a resource file, a file too large, a "," in a name; nothing written
    Cancelled,    // requester cancelled, overwrite declined or stopped by `progress`; nothing written
    NoFormat,     // the output format is none of the three
};

struct CreateResult
{
    CreateStatus status = CreateStatus::NoFormat;
    QString path;        // the output written (extension settled)
    QStringList missing; // source files that could not be read
    QString error;       // what failed or why it was refused
    // Failed, but this pack file has replaced its old one while its include could not replace its own.
    QString packReplaced{};
    // Of `missing`, the files that could not be held in memory.
    QStringList outOfMemory{};
    // With CreateOptions::keepUnchanged: the include (or resource file) and the pack file that already
    // held the same bytes and were left as they were.
    bool unchanged = false;
    bool packUnchanged = false;
};

struct CreateOptions
{
    int threads = 0;                           // packing workers; 0 one per core
    int level = kPackLevelDefault;             // packing level: 9, or kPackLevelMax
    // The caller's cancel flag, also polled while a row packs at the max level (which can take long); once
    // set, Create ends Cancelled. `progress` should say false for it too.
    const std::atomic<bool>* stop = nullptr;
    TemplateSource templates = OwnTemplates(); // where the access-code templates come from
    const LanguageTable* language = nullptr;   // message texts; the built-in English without one
    // Called on the writing thread with the rows written so far (0 first) and their count; returning
    // false stops Create: the old output is left as it was and the status is Cancelled.
    std::function<bool(int done, int total)> progress;
    // An old output that already holds the same bytes is left as it is, timestamp and all.
    bool keepUnchanged = false;
    // A file that cannot be read (or held in memory) fails Create, and the old output stays: for build
    // scripts, where an output that lacks a file would pass for a good one.
    bool allOrNothing = false;
    // While another program writes this output, asked every tenth of a second whether to wait on
    // (false gives up: Cancelled). Without it, `progress` with 0 done decides.
    std::function<bool()> waiting;
};

// Different files whose names are equal apart from letter case: one "first and later" line per pair (at
// most ten, then how many more); empty when there is none. Create warns with them before it writes.
QStringList NameClashPairs(const QStringList& paths, const QStringList& fileNames);

// The warning about different files of one name, grouped by name: names equal in every letter apart from
// those that differ only in letter case, each name with its files; empty when there is none.
QString NameClashWarning(const QStringList& paths, const QStringList& fileNames, const LanguageTable* language);

// The rows (0-based) whose file name holds a ",": the catalog separates names with it, so such a name
// would give a program another file's bytes. Create refuses them.
QList<int> RowsTheCatalogCannotName(const QStringList& paths);
// The rows (0-based) whose file name Extract would not write back (IsSafeFileName). Create refuses them.
QList<int> RowsExtractCannotWrite(const QStringList& paths);

// `path` empty: the save requester and the overwrite question; otherwise neither is shown and an
// existing file is replaced. Every problem is told through `platform` as one message.
// The same as PlanCreate, WriteCreatePlan and ReportCreate in a row.
CreateResult CreateOutput(Document& document, Platform& platform, const QString& path,
                          const CreateOptions& options = {});

// What Create writes: the settled output path, the format and the rows.
struct CreatePlan
{
    int format = 0;
    QString path;
    QStringList paths;      // each row's source file
    std::vector<int> kinds; // each row's packer kind (PackerNone, PackerJcalg1 or PackerZip)
    // Each row's file length as a folder walk found it, so that the file system is not asked again; empty
    // when not known (the writer then asks).
    std::vector<qint64> sizes{};
    // The folder the save requester answered with; it becomes the remembered folder once the output
    // was written there (RememberOutputFolder). Empty when no requester was asked.
    QString chosenFolder{};
};

// The plan of a list for an output path already settled (SettleOutputExtension) and its format.
CreatePlan ListPlan(const FileListModel& model, int format, const QString& path);

// Create's questions, on the interface thread: the format check, the requester with the overwrite
// question when `path` is empty, the extension; then the warning about names that clash. Nothing when
// Create ends here (`why` then tells NoFormat or Cancelled).
std::optional<CreatePlan> PlanCreate(Document& document, Platform& platform, const QString& path,
                                     const CreateOptions& options, CreateStatus* why = nullptr);
// Create without its questions, for a plan made elsewhere: the warning about names that clash, the work
// and the message about the result.
CreateResult CreateFromPlan(const CreatePlan& plan, Platform& platform, const CreateOptions& options);
// Create's work: needs neither document nor platform, so it may run on any thread. `options.language`
// must not be used by another thread meanwhile. Throws nothing: memory that runs out fails the row that
// needs it (stored raw, or left out and listed in `outOfMemory`) or else this Create, old files intact.
CreateResult WriteCreatePlan(const CreatePlan& plan, const CreateOptions& options);
// Remembers the requester's folder for the next requesters when the output was written.
void RememberOutputFolder(Document& document, const CreatePlan& plan, const CreateResult& result);
// Create's one message about a result: a failure, a refusal or the files that were missing.
void ReportCreate(const CreateResult& result, Platform& platform, const CreateOptions& options);

} // namespace hexaloom
