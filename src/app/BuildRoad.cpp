#include "BuildRoad.h"

#include "AppSettings.h"
#include "AtomicFile.h"
#include "BuildOptions.h"
#include "ConsolePlatform.h"
#include "CreateOutput.h"
#include "Document.h"
#include "Extraction.h"
#include "FolderScan.h"
#include "InputFiles.h"
#include "LanguageTable.h"
#include "OutputContents.h"
#include "OutputNames.h"
#include "ParallelFor.h"
#include "Paths.h"
#include "ProjectCommands.h"
#include "ProjectFile.h"
#include "ProgramInfo.h"
#include "SmallestPacker.h"
#include "UpdateService.h"
#include "Version.h"
#include "WindowsStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace hexaloom {

namespace {

const QString kName = QLatin1String(kAppCommand);

// The road's console: results on `out`; messages, the core's included, as one "hexaloom: ..." block each
// on `err`; a progress line that the next message or result clears.
class Console : public ConsolePlatform
{
public:
    Console(std::FILE* out, std::FILE* err, ProgressLine progress)
        : ConsolePlatform(err), m_out(out), m_err(err), m_progress(progress)
    {
    }

    void Out(const QString& line)
    {
        EndProgress();
        const QByteArray bytes = line.toLocal8Bit();
        std::fprintf(m_out, "%s\n", bytes.constData());
        std::fflush(m_out);
    }
    void Error(const QString& text) { Message(kName, text, MessageIcon::Error); }
    void Warning(const QString& text) { Message(kName, text, MessageIcon::Warning); }
    void Progress(const QString& text)
    {
        if (m_progress == ProgressLine::None)
            return;
        const QByteArray bytes = text.toLocal8Bit();
        if (m_progress == ProgressLine::Escapes)
            std::fprintf(m_err, "\r%s\033[K", bytes.constData());
        else
            std::fprintf(m_err, "\r%s%*s", bytes.constData(), std::max(0, m_shown - int(bytes.size())), "");
        std::fflush(m_err);
        m_shown = std::max(m_shown, int(bytes.size()));
    }
    void EndProgress()
    {
        if (m_shown == 0)
            return;
        if (m_progress == ProgressLine::Escapes)
            std::fputs("\r\033[K", m_err);
        else
            std::fprintf(m_err, "\r%*s\r", m_shown, "");
        m_shown = 0;
    }
    void Message(const QString&, const QString& text, MessageIcon icon) override
    {
        EndProgress();
        ConsolePlatform::Message(kName, text, icon);
    }

private:
    std::FILE* m_out;
    std::FILE* m_err;
    ProgressLine m_progress;
    int m_shown = 0; // the width of the longest progress line since the last message, 0 when none is shown
};

QString Absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Runs `work` for 0..count-1 on one thread per core (the caller's among them, which reports the number
// done to `progress`) and returns what each call returned.
std::vector<QString> OnEveryCore(int count, const std::function<QString(int)>& work,
                                 const std::function<void(int)>& progress)
{
    std::vector<QString> results(static_cast<std::size_t>(std::max(count, 0)));
    ParallelFor(
        results.size(), [&](std::size_t i) { results[i] = work(static_cast<int>(i)); },
        {.progress = [&](std::size_t done) { progress(static_cast<int>(done)); }});
    return results;
}

QString FileLabel(int number, const QString& name)
{
    return name.isEmpty() ? QStringLiteral("file %1").arg(number)
                          : QStringLiteral("file %1 (%2)").arg(number).arg(name);
}

// The output of --create, decided once: its format (--format, else the project's, else OUT's name), OUT with
// the extension that format settles (as messages name it), and the files written.
struct Target
{
    int format = OutputHexdata;
    QString shown;
    QString path;     // absolute
    QString packPath; // binpack: the pack file beside it (beside the file a link leads to); empty otherwise
    QString shownPack;
};

// `otherwise`: the format when --format names none.
Target SettleTarget(const BuildOptions& o, int otherwise)
{
    Target target;
    const int format = o.format >= 0 ? o.format : otherwise;
    target.format = format;
    target.shown = SettleOutputExtension(o.output, format);
    target.path = Absolute(target.shown);
    if (format == OutputBinpack) {
        target.packPath = PackFilePath(ThroughLinks(target.path));
        target.shownPack = QFileInfo(target.path).isSymLink() ? QDir::toNativeSeparators(target.packPath)
                                                              : PackFilePath(target.shown);
    }
    return target;
}

// --save-project: the list as a project, replaced only when its bytes change.
bool SaveProjectFile(const BuildOptions& o, const CreatePlan& plan, Console& console)
{
    QString shown = o.saveProject;
    if (shown.right(5).compare(QLatin1String(".hxlm"), Qt::CaseInsensitive) != 0)
        shown += QLatin1String(".hxlm");
    if (plan.paths.size() > kProjectMaxRows) {
        console.Error(
            QStringLiteral("%1: a project holds at most %2 files; not saved").arg(shown).arg(kProjectMaxRows));
        return false;
    }
    QList<ProjectRecord> records;
    for (qsizetype row = 0; row < plan.paths.size(); ++row) {
        const QString& path = plan.paths[row];
        if (path.size() > kProjectPathUnits) {
            console.Error(
                QStringLiteral("%1: the path \"%2\" is longer than a project holds (%3 characters); not saved")
                    .arg(shown, path)
                    .arg(kProjectPathUnits));
            return false;
        }
        records.append({plan.kinds[std::size_t(row)], QString::number(plan.sizes[std::size_t(row)]), path});
    }
    const QByteArray bytes = EncodeProject(records, plan.format);
    const QString path = Absolute(shown);
    // Read only when it is a regular file: a FIFO standing there would wait for a writer.
    QString ignored;
    const bool same = !o.force && ReadRegularFile(path, bytes.size(), &ignored) == bytes;
    QString error;
    if (!same && (bytes.isEmpty() || !WriteFileAtomically(path, bytes, &error))) {
        console.Error(QStringLiteral("%1: cannot be saved: %2").arg(shown, error));
        return false;
    }
    if (!o.quiet)
        console.Out(QStringLiteral("%1 %2").arg(same ? QStringLiteral("unchanged") : QStringLiteral("written"), shown));
    return true;
}

// The files and folders named on the command line as Create's rows, each with its packer and the length
// the walk found.
bool PlanInputs(const BuildOptions& o, const Target& target, CreatePlan& plan, Console& console)
{
    const InputFiles inputs = CollectInputFiles(o.inputs, o.includes, o.excludes);
    if (!inputs.error.isEmpty()) {
        console.Error(inputs.error + QStringLiteral("; nothing was written"));
        return false;
    }
    for (const QString& warning : inputs.warnings)
        console.Warning(warning);
    QList<Glob> rules;
    for (const PackRule& rule : o.packRules)
        rules.append(Glob(rule.glob));
    std::vector<bool> used(std::size_t(rules.size()), false);
    // The output of an earlier run inside an INPUT folder is no input of this one.
    const QString output = QDir::toNativeSeparators(target.path);
    const QString pack = QDir::toNativeSeparators(target.packPath);
    for (const InputFile& file : inputs.files) {
        if (file.path == output || (!pack.isEmpty() && file.path == pack))
            continue;
        int packer = o.packer;
        for (qsizetype r = 0; r < rules.size(); ++r) {
            if (rules[r].Matches(file.relative)) {
                packer = o.packRules[r].packer;
                used[std::size_t(r)] = true;
            }
        }
        if (packer == kPackerSmallest)
            packer = SmallestPacker(file.path, o.level).value_or(SmallestChoice{}).packer;
        plan.paths.append(file.path);
        plan.kinds.push_back(packer);
        plan.sizes.push_back(file.size);
    }
    // A rule that names no file is most likely mistyped: the files it was meant for get another packer.
    for (qsizetype r = 0; r < rules.size(); ++r) {
        const QString rule = QStringLiteral("--pack \"%1=...\"").arg(o.packRules[r].glob);
        if (rules[r].malformed())
            console.Warning(QStringLiteral("%1: \"[\" has no \"]\", so it stands for itself").arg(rule));
        if (!used[std::size_t(r)])
            console.Warning(QStringLiteral("%1 matches no file").arg(rule));
    }
    if (plan.paths.isEmpty())
        console.Warning(QStringLiteral("no file to put into %1").arg(o.output));
    return true;
}

// The project named by --project as Create's rows; false (told) when it cannot be read or lacks a file.
bool PlanProject(const BuildOptions& o, std::optional<Target>& target, CreatePlan& plan, Console& console)
{
    AppSettings settings; // never loaded, never saved
    Document document(settings);
    // A project of the oldest kind stores no format: OUT's name decides, as it does without a project.
    document.setOutputFormat(OutputFormatOfName(o.output));
    const OpenProjectReport report = OpenProject(document, console, Absolute(o.project));
    if (report.result != OpenProjectResult::Loaded) {
        console.Error(QStringLiteral("the project \"%1\" could not be read; nothing was written").arg(o.project));
        return false;
    }
    // A build that lacks a file must not leave an output that passes for a good one.
    if (report.missing > 0) {
        console.Error(QStringLiteral("%1 file(s) of the project \"%2\" cannot be read; nothing was written")
                          .arg(report.missing)
                          .arg(o.project));
        return false;
    }
    // OUT's name stands: a project's format that OUT's extension contradicts would write an include
    // named x.res (read back as a resource file) or a resource file named x.pbi.res.
    const QString extension = QFileInfo(OutputFileName(o.output)).suffix().toLower();
    const bool named = extension == QLatin1String("res") || extension == QLatin1String("pbi") ||
                       extension == QLatin1String("pb");
    if (o.format < 0 && named &&
        (document.outputFormat() == OutputResource) != (OutputFormatOfName(o.output) == OutputResource)) {
        QString makes = QStringLiteral("PureBasic include"), names = QStringLiteral("resource file");
        if (document.outputFormat() == OutputResource)
            std::swap(makes, names);
        console.Error(QStringLiteral("the project \"%1\" makes a %2, but %3 names a %4; give --format or another "
                                     "OUT; nothing was written")
                          .arg(o.project, makes, o.output, names));
        return false;
    }
    target = SettleTarget(o, document.outputFormat());
    plan = ListPlan(document.model(), target->format, target->path);
    return true;
}

int RunCreate(const BuildOptions& o, Console& console)
{
    // The build road has no list to show: the plan is made straight from the INPUTs (or the project).
    std::optional<Target> target;
    CreatePlan plan;
    if (!o.project.isEmpty()) {
        if (!PlanProject(o, target, plan, console))
            return kExitFailed;
    } else {
        target = SettleTarget(o, OutputFormatOfName(o.output));
        plan.format = target->format;
        plan.path = target->path;
        if (!PlanInputs(o, *target, plan, console))
            return kExitFailed;
    }

    if (o.strict) {
        QStringList names;
        for (const QString& path : plan.paths)
            names.append(FileNamePart(path));
        const QStringList clashes = NameClashPairs(plan.paths, names);
        if (!clashes.isEmpty()) {
            console.Error(QStringLiteral("--strict: these files have the same name apart from letter case; nothing "
                                         "was written:\n") +
                          clashes.join(QLatin1Char('\n')));
            return kExitFailed;
        }
    }
    if (const QList<int> commas = RowsTheCatalogCannotName(plan.paths); !commas.isEmpty()) {
        QStringList named;
        for (const int row : commas)
            named << plan.paths[row];
        console.Error(QStringLiteral("the catalog separates file names with \",\", so these files cannot be put "
                                     "into %1; nothing was written:\n%2")
                          .arg(o.output, named.join(QLatin1Char('\n'))));
        return kExitFailed;
    }
    if (const QList<int> unsafe = RowsExtractCannotWrite(plan.paths); !unsafe.isEmpty()) {
        QStringList named;
        for (const int row : unsafe)
            named << plan.paths[row];
        console.Error(QStringLiteral("--extract could not write these file names back (a control character, \"/\", "
                                     "\"\\\", \":\" or only dots), so they cannot be put into %1; nothing was "
                                     "written:\n%2")
                          .arg(o.output, named.join(QLatin1Char('\n'))));
        return kExitFailed;
    }
    if (!o.saveProject.isEmpty() && !SaveProjectFile(o, plan, console))
        return kExitFailed;

    // Create writes each file beside its target and puts it in place only when complete; a file whose
    // bytes did not change is left as it was, so that make sees nothing new.
    const QString& shown = target->shown;
    const QString folder = QFileInfo(target->path).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        console.Error(
            QStringLiteral("%1: the folder \"%2\" does not exist").arg(shown, QDir::toNativeSeparators(folder)));
        return kExitFailed;
    }
    CreateOptions options;
    options.level = o.level;
    options.keepUnchanged = !o.force;
    options.allOrNothing = true;
    options.progress = [&console](int done, int total) {
        console.Progress(QStringLiteral("packing %1 of %2").arg(done).arg(total));
        return true;
    };
    bool told = false;
    options.waiting = [&] {
        if (!told) {
            const QString other = OutputLock::Holder(target->path);
            console.Warning(other.isEmpty() ? QStringLiteral("another run is writing in the folder of %1; waiting for "
                                                             "it to end")
                                                  .arg(shown)
                                            : QStringLiteral("another run is writing %1; waiting for it to end")
                                                  .arg(QDir::toNativeSeparators(other)));
        }
        told = true;
        return true;
    };
    const CreateResult created = CreateFromPlan(plan, console, options);
    if (created.status != CreateStatus::Written)
        return kExitFailed;
    if (!o.quiet) {
        auto say = [&console](bool unchanged, const QString& name) {
            console.Out(
                QStringLiteral("%1 %2").arg(unchanged ? QStringLiteral("unchanged") : QStringLiteral("written"), name));
        };
        if (target->format == OutputBinpack)
            say(created.packUnchanged, target->shownPack);
        say(created.unchanged, shown);
    }
    return kExitOk;
}

// Reads OUT, or says why it cannot be read.
bool Read(const BuildOptions& o, Console& console, OutputContents& contents)
{
    contents = ReadOutput(Absolute(o.output));
    if (contents.error.isEmpty())
        return true;
    console.Error(QStringLiteral("%1: %2").arg(o.output, contents.error));
    return false;
}

// A file that got shorter while it was read (another program writes it) was read as something it never
// held: then nothing read from it stands.
bool ChangedMeanwhile(const BuildOptions& o, Console& console, const OutputContents& contents)
{
    if (!contents.data || !contents.data->Changed())
        return false;
    console.Error(QStringLiteral("%1: it changed while it was read; nothing read from it stands").arg(o.output));
    return true;
}

int RunList(const BuildOptions& o, Console& console)
{
    OutputContents contents;
    if (!Read(o, console, contents))
        return kExitFailed;
    const OutputListing listing = ListOutput(contents);
    if (ChangedMeanwhile(o, console, contents))
        return kExitFailed;
    QList<QStringList> rows{{"#", "constant", "packer", "stored", "original", "CRC-32", "name"}};
    for (const OutputFile& file : listing.files) {
        QStringList row{QString::number(file.number), file.constant};
        if (!file.present) {
            row << "-"
                << "-"
                << "-"
                << "-";
        } else {
            QString packer = PackerText(file.info.packer);
            // raw bytes carry no checksum: their CRC-32 is computed here, and damage to them passes unseen
            row << (packer.isEmpty() ? QString::number(file.info.packer) : packer) << QString::number(file.stored)
                << QString::number(file.info.original)
                << (file.stored == 0  ? QStringLiteral("-")
                    : file.info.block ? CrcText(file.info.crc)
                                      : CrcText(file.info.crc) + QStringLiteral(" unchecked"));
        }
        rows.append(row << file.name);
    }
    // Columns as wide as their widest cell; the name last, so names with blanks stay readable.
    std::vector<qsizetype> widths(6, 0);
    for (const QStringList& row : rows) {
        for (std::size_t c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], row[qsizetype(c)].size());
    }
    for (const QStringList& row : rows) {
        QString line;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            const bool number = c == 0 || c == 3 || c == 4;
            line +=
                (number ? row[qsizetype(c)].rightJustified(widths[c]) : row[qsizetype(c)].leftJustified(widths[c])) +
                QStringLiteral("  ");
        }
        console.Out(line + row.last());
    }
    if (!listing.catalog.problem.isEmpty()) {
        console.Error(QStringLiteral("%1: %2").arg(o.output, listing.catalog.problem));
        return kExitFailed;
    }
    return kExitOk;
}

// Reads OUT and its catalog; a problem with the catalog is told and counted in `bad`.
bool ReadWithCatalog(const BuildOptions& o, Console& console, OutputContents& contents, CatalogText& catalog, int& bad)
{
    if (!Read(o, console, contents))
        return false;
    catalog = ReadCatalog(contents);
    if (!catalog.problem.isEmpty()) {
        console.Error(QStringLiteral("%1: %2").arg(o.output, catalog.problem));
        ++bad;
    }
    return true;
}

// Whether an entry unpacks to exactly the bytes of the file at `path`.
bool SameAsFile(const OutputContents& contents, const StoredEntry& entry, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray buffer;
    const bool same = UnpackEntry(contents, entry, [&](std::span<const std::uint8_t> piece) {
        buffer.resize(qsizetype(piece.size()));
        return file.read(buffer.data(), buffer.size()) == buffer.size() &&
               std::memcmp(buffer.constData(), piece.data(), piece.size()) == 0;
    });
    return same && file.atEnd();
}

// --verify --against: every sound file compared with the files of its name in the folders (the catalog
// holds names only, so any of them may be the one it was made from); each difference is told.
int CompareAgainst(const BuildOptions& o, Console& console, const OutputContents& contents, const CatalogText& catalog,
                   const std::vector<QString>& damage)
{
    QHash<QString, QStringList> byName;
    int bad = 0;
    for (const QString& folder : o.against) {
        if (!QFileInfo(folder).isDir()) {
            console.Error(QStringLiteral("--against %1: not a folder").arg(folder));
            ++bad;
            continue;
        }
        ScanDirectory(folder, true, [&byName](const ScanEntry& entry) {
            if (entry.kind == ScanEntry::File)
                byName[FileNamePart(entry.path)].append(entry.path);
            return true;
        });
    }
    for (int k = 1; k <= int(contents.files.size()); ++k) {
        if (!damage[std::size_t(k - 1)].isEmpty() || HoldsNoData(contents, k))
            continue; // told already
        const QString name = catalog.names.value(k - 1);
        const QString label = FileLabel(k, name);
        const QStringList candidates = byName.value(name);
        const StoredEntry& entry = contents.files[std::size_t(k - 1)];
        if (name.isEmpty() || candidates.isEmpty())
            console.Error(QStringLiteral("%1: %2: not found in the folders given").arg(o.output, label));
        else if (std::none_of(candidates.begin(), candidates.end(),
                              [&](const QString& path) { return SameAsFile(contents, entry, path); }))
            console.Error(QStringLiteral("%1: %2: differs from %3").arg(o.output, label, candidates.join(", ")));
        else
            continue;
        ++bad;
    }
    return bad;
}

// An entry stored as it is (packer none): no checksum of any format covers it.
bool StoredRaw(const OutputContents& contents, const StoredEntry& entry)
{
    std::uint8_t head[kBlockHeaderSize];
    const qint64 n = std::min<qint64>(entry.length, qint64(sizeof head));
    return entry.length > 0 && contents.data->Read(entry.offset, head, n) &&
           !DescribeStored({head, std::size_t(n)}).block;
}

int RunVerify(const BuildOptions& o, Console& console)
{
    OutputContents contents;
    CatalogText catalog;
    int bad = 0;
    if (!ReadWithCatalog(o, console, contents, catalog, bad))
        return kExitFailed;
    const int count = static_cast<int>(contents.files.size());
    const std::vector<QString> damage = OnEveryCore(
        count,
        [&contents](int index) {
            const StoredEntry& entry = contents.files[std::size_t(index)];
            return HoldsNoData(contents, index + 1) || UnpackEntry(contents, entry) ? QString()
                                                                                    : EntryDamageText(contents, entry);
        },
        [&](int done) { console.Progress(QStringLiteral("verifying %1 of %2").arg(done).arg(count)); });
    if (ChangedMeanwhile(o, console, contents))
        return kExitFailed;
    qint64 stored = 0;
    int raw = 0;
    for (int k = 1; k <= std::max(count, catalog.count); ++k) {
        const QString label = FileLabel(k, catalog.names.value(k - 1));
        if (k <= count && !damage[std::size_t(k - 1)].isEmpty()) {
            console.Error(QStringLiteral("%1: %2: %3").arg(o.output, label, damage[std::size_t(k - 1)]));
            ++bad;
        } else if (HoldsNoData(contents, k)) {
            // The access code gives nothing for such a row: a file that was missing when the output was
            // written, or an entry damaged past recognition (a resource of another type or name).
            console.Error(QStringLiteral("%1: %2: no data (the file was missing or unreadable when the output was "
                                         "written, or its entry is damaged)")
                              .arg(o.output, label));
            ++bad;
        } else {
            stored += contents.files[std::size_t(k - 1)].length;
            raw += StoredRaw(contents, contents.files[std::size_t(k - 1)]) ? 1 : 0;
        }
    }
    if (!o.against.isEmpty())
        bad += CompareAgainst(o, console, contents, catalog, damage);
    if (!o.quiet && bad == 1 && catalog.notByName)
        console.Out(QStringLiteral("unreadable by name %1: every block is sound, but the catalog cannot tell which "
                                   "name belongs to which file")
                        .arg(o.output));
    else if (!o.quiet)
        console.Out(bad ? QStringLiteral("damaged %1: %2 problem(s)").arg(o.output).arg(bad)
                        : QStringLiteral("ok %1: %2 file(s), %3 bytes stored").arg(o.output).arg(count).arg(stored));
    if (!o.quiet && raw > 0)
        console.Out(QStringLiteral("%1 files stored raw carry no checksum").arg(raw));
    return bad ? kExitFailed : kExitOk;
}

int RunExtract(const BuildOptions& o, Console& console)
{
    OutputContents contents;
    CatalogText catalog;
    int bad = 0;
    if (!ReadWithCatalog(o, console, contents, catalog, bad))
        return kExitFailed;
    const QString folder = Absolute(o.folder);
    QString why;
    if (!MakeFolders(folder, &why)) {
        console.Error(QStringLiteral("the folder \"%1\" cannot be made: %2").arg(o.folder, why));
        return kExitFailed;
    }
    std::vector<int> chosen;
    for (const ExtractChoice& choice : ChooseExtracted(contents, catalog)) {
        const int k = choice.number;
        switch (choice.verdict) {
        case ExtractChoice::Write:
            chosen.push_back(k);
            continue;
        case ExtractChoice::NoData:
            console.Error(QStringLiteral("%1: %2: no data; not written").arg(o.output, FileLabel(k, choice.name)));
            break;
        case ExtractChoice::UnsafeName:
            console.Error(QStringLiteral("%1: file %2: the name \"%3\" does not stay inside %4; not written")
                              .arg(o.output)
                              .arg(k)
                              .arg(choice.name, o.folder));
            break;
        case ExtractChoice::SameName:
            console.Error(QStringLiteral("%1: %2: file %3 has the same name; not written")
                              .arg(o.output, FileLabel(k, choice.name))
                              .arg(choice.sameAs));
            break;
        }
        ++bad;
    }
    const std::vector<QString> failures = OnEveryCore(
        static_cast<int>(chosen.size()),
        [&](int index) {
            const int k = chosen[std::size_t(index)];
            return ExtractFile(contents, k, folder + QLatin1Char('/') + catalog.names.value(k - 1));
        },
        [&](int done) { console.Progress(QStringLiteral("extracting %1 of %2").arg(done).arg(chosen.size())); });
    if (ChangedMeanwhile(o, console, contents))
        return kExitFailed;
    int written = 0;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const int k = chosen[i];
        if (failures[i].isEmpty()) {
            ++written;
            continue;
        }
        console.Error(
            QStringLiteral("%1: %2: %3").arg(o.output, FileLabel(k, catalog.names.value(k - 1)), failures[i]));
        ++bad;
    }
    if (!o.quiet)
        console.Out(QStringLiteral("extracted %1 file(s) into %2").arg(written).arg(o.folder));
    return bad ? kExitFailed : kExitOk;
}

// The update check's messages are the window's; on this road its decision is the one line printed.
class SilentPlatform : public ConsolePlatform
{
public:
    void Message(const QString&, const QString&, MessageIcon) override {}
};

} // namespace

int CheckUpdateCommand(const QString& url, std::span<const UpdatePublicKey> keys, std::FILE* out)
{
    SilentPlatform platform;
    const LanguageTable english;
    UpdateService service(platform, english, keys);
    service.setInfoUrl(url);
    std::optional<UpdateService::CheckResult> result;
    QEventLoop loop;
    QObject::connect(&service, &UpdateService::checkFinished, &loop, [&](UpdateService::CheckResult r) {
        result = r;
        loop.quit();
    });
    service.CheckForUpdate();
    if (!result)
        loop.exec();
    const UpdateInfo& info = service.updateInfo();
    const QString own = QString::fromLatin1(kOwnVersion);
    QString line;
    switch (*result) {
    case UpdateService::CheckResult::UpdateFound:
        line = QStringLiteral("offered: %1 %2 (this is %3), %4 bytes from %5")
                   .arg(info.Name, info.Version, own)
                   .arg(info.FileSize)
                   .arg(info.DownloadUrl);
        break;
    case UpdateService::CheckResult::NoUpdate:
        line = QStringLiteral("not offered: the server's version %1 is not newer than this program's %2")
                   .arg(info.Version, own);
        break;
    case UpdateService::CheckResult::Refused:
        line = QStringLiteral("refused: ") + service.failure();
        break;
    case UpdateService::CheckResult::Failed:
        line = QStringLiteral("failed: ") + service.failure();
        break;
    }
    std::fprintf(out, "%s\n", line.toLocal8Bit().constData());
    std::fflush(out);
    return *result == UpdateService::CheckResult::UpdateFound ? kExitOk : kExitFailed;
}

bool WantsBuildRoad(int argc, char** argv)
{
    return argc > 1 && std::strncmp(argv[1], "--", 2) == 0;
}

int RunBuildRoad(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    QCoreApplication app(argc, argv);
    RemoveTemporaryFilesOnSignals();
#ifdef Q_OS_WIN
    const ProgressLine progress = ConsoleProgressLine(err);
#else
    const ProgressLine progress = isatty(fileno(err)) ? ProgressLine::Escapes : ProgressLine::None;
#endif
    return RunBuildCommand(QCoreApplication::arguments().mid(1), out, err, progress);
}

int RunBuildCommand(const QStringList& parameters, std::FILE* out, std::FILE* err, ProgressLine progress)
{
    const ParsedBuildOptions parsed = ParseBuildOptions(parameters);
    Console console(out, err, parsed.options.quiet ? ProgressLine::None : progress);
    if (!parsed.error.isEmpty()) {
        console.Message(kName, parsed.error + QStringLiteral(" (hexaloom --help shows the usage)"), MessageIcon::None);
        return kExitUsage;
    }
    const BuildOptions& o = parsed.options;
    switch (o.command) {
    case BuildCommand::Help:
        console.Out(BuildUsage().chopped(1));
        return kExitOk;
    case BuildCommand::Version:
        console.Out(kName + QLatin1Char(' ') + QLatin1String(kAppVersion));
        return kExitOk;
    case BuildCommand::Create:
        return RunCreate(o, console);
    case BuildCommand::List:
        return RunList(o, console);
    case BuildCommand::Verify:
        return RunVerify(o, console);
    case BuildCommand::Extract:
        return RunExtract(o, console);
    case BuildCommand::CheckUpdate:
        return CheckUpdateCommand(o.url, ReleaseKeys(), out);
    }
    return kExitUsage;
}

} // namespace hexaloom
