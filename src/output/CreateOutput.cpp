#include "CreateOutput.h"

#include "AppSettings.h"
#include "Document.h"
#include "FileListModel.h"
#include "LanguageTable.h"
#include "OutputNames.h"
#include "Paths.h"
#include "Platform.h"
#include "ResourceWriter.h"
#include "RowPacker.h"

#include <QFileInfo>

#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <new>

namespace hexaloom {

namespace {

const QString kTitle = QStringLiteral("Hexaloom");

// Message texts of group "Messages": from the language table when it has them, else the English here
// (the table does not know the keys that only Create uses).
QString MessageText(const char* key, const LanguageTable* language = nullptr)
{
    if (language) {
        const QString text = language->LanguageText(QStringLiteral("Messages"), QString::fromLatin1(key));
        if (text != QLatin1String(kStringNotFound))
            return text;
    }
    struct Text
    {
        const char* key;
        const char* english;
    };
    static constexpr Text texts[] = {
        {"OverWrite", "File already exists. Overwrite?"},
        {"CreateFailed", "The output could not be written; the old files were left as they were.\n%1"},
        {"IncludeNotReplaced", "The pack file %1 was replaced, but its include could not be:\n%2\nThe include "
                               "there does not fit the new pack file; create the output again."},
        {"NotAllRead", "These files could not be read:\n%1"},
        {"FilesMissing", "These files could not be read; the output lacks them:\n%1"},
        {"TooManyFiles", "A resource file holds at most 65534 files; nothing was written."},
        {"FileTooBig", "%1 is larger than 2 GiB - 1 bytes; nothing was written."},
        {"CommaInName", "The catalog separates the file names with \",\", so these files cannot be put in the "
                        "output; rename them. Nothing was written:\n%1"},
        {"PackIsInclude", "%1 would be both the include and its pack file; nothing was written."},
        {"QuoteInPackName", "%1: the include names its pack file in a PureBasic string, which cannot hold a "
                            "double quote; nothing was written."},
        {"NameClash", "These files have the same name apart from letter case. Both are written, but a lookup by name "
                      "finds only the first, and extracting by name writes one over the other:\n%1"},
    };
    for (const Text& text : texts) {
        if (qstrcmp(text.key, key) == 0)
            return QString::fromUtf8(text.english);
    }
    return {};
}

struct Row
{
    QString path;
    QString fileName;
};

// Writes the rows in order into `writer`, packed on worker threads; raw files are streamed.
CreateResult WriteRows(BlockSink& writer, const std::vector<Row>& rows, const std::vector<int>& kinds,
                       const CreateOptions& options, int firstNumber)
{
    CreateResult result;
    auto failed = [&] { return CreateResult{CreateStatus::Failed, {}, {}, writer.errorString()}; };
    std::vector<RowJob> jobs;
    jobs.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        jobs.push_back(RowJob{rows[i].path, kinds[i]});
    RowPacker packer(std::move(jobs), options.threads);
    const int total = static_cast<int>(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (options.progress && !options.progress(static_cast<int>(i), total)) {
            writer.Cancel();
            return {CreateStatus::Cancelled, {}, {}, {}};
        }
        const PackedRow row = packer.Take();
        const int number = static_cast<int>(i) + firstNumber;
        switch (row.state) {
        case PackedRow::TooBig:
            writer.Cancel();
            result.status = CreateStatus::Refused;
            result.error = MessageText("FileTooBig", options.language).arg(rows[i].path);
            return result;
        case PackedRow::NoMemory:
            result.outOfMemory.append(rows[i].path);
            [[fallthrough]];
        case PackedRow::Unreadable:
            result.missing.append(rows[i].path);
            [[fallthrough]];
        case PackedRow::Empty:
            if (writer.keepsEmptyNumbers() && !writer.WriteBlock({}, number))
                return failed();
            break;
        case PackedRow::Stored:
            if (!writer.WriteBlock(row.bytes, number))
                return failed();
            break;
        case PackedRow::Raw:
            if (!writer.BeginBlock(number, row.size))
                return failed();
            // The file was checked, not read: a read that now fails midway cannot be taken back.
            if (!StreamFile(rows[i].path, row.size,
                            [&writer](std::span<const std::uint8_t> bytes) { return writer.AppendBlock(bytes); })) {
                const QString error = writer.errorString();
                writer.Cancel();
                return {CreateStatus::Failed,
                        {},
                        {},
                        error.isEmpty() ? QStringLiteral("%1: cannot be read").arg(rows[i].path) : error};
            }
            if (!writer.EndBlock())
                return failed();
            break;
        }
    }
    if (options.progress && !options.progress(total, total)) {
        writer.Cancel();
        return {CreateStatus::Cancelled, {}, {}, {}};
    }
    if (options.allOrNothing && !result.missing.isEmpty()) {
        writer.Cancel();
        QStringList lines;
        for (const QString& file : result.missing)
            lines << (result.outOfMemory.contains(file) ? file + QStringLiteral(" (not enough memory)") : file);
        return {CreateStatus::Failed,
                {},
                {},
                MessageText("NotAllRead", options.language).arg(lines.join(QLatin1Char('\n')))};
    }
    result.status = result.missing.isEmpty() ? CreateStatus::Written : CreateStatus::MissingFiles;
    return result;
}

} // namespace

QStringList NameClashPairs(const QStringList& paths, const QStringList& fileNames)
{
    // The same file listed twice gives the same bytes whichever row is found, so only different files count.
    constexpr int kShown = 10;
    QStringList pairs;
    int more = 0;
    for (const auto& [first, later] : NameClashes(fileNames)) {
        if (paths.value(first) == paths.value(later))
            continue;
        if (pairs.size() < kShown)
            pairs.append(QStringLiteral("%1 and %2").arg(paths.value(first), paths.value(later)));
        else
            ++more;
    }
    if (more > 0)
        pairs.append(QStringLiteral("(and %1 more)").arg(more));
    return pairs;
}

QList<int> RowsTheCatalogCannotName(const QStringList& paths)
{
    QList<int> rows;
    for (qsizetype r = 0; r < paths.size(); ++r) {
        if (FileNamePart(paths[r]).contains(QLatin1Char(',')))
            rows.append(int(r));
    }
    return rows;
}

CreateResult CreateOutput(Document& document, Platform& platform, const QString& path, const CreateOptions& options)
{
    CreateStatus why = CreateStatus::NoFormat;
    const std::optional<CreatePlan> plan = PlanCreate(document, platform, path, options, &why);
    if (!plan)
        return {why, {}, {}, {}};
    const CreateResult result = WriteCreatePlan(*plan, options);
    ReportCreate(result, platform, options);
    return result;
}

std::optional<CreatePlan> PlanCreate(Document& document, Platform& platform, const QString& givenPath,
                                     const CreateOptions& options, CreateStatus* why)
{
    auto stop = [why](CreateStatus status) {
        if (why)
            *why = status;
        return std::optional<CreatePlan>();
    };
    const int format = document.outputFormat();
    if (format != OutputResource && format != OutputHexdata && format != OutputBinpack)
        return stop(CreateStatus::NoFormat);

    QString path = givenPath;
    if (path.isEmpty()) {
        const QString pattern = format == OutputResource
                                    ? QStringLiteral("*.res|*.res")
                                    : QStringLiteral("PureBasic Files (*.pb, *.pbi)|*.pb;*.pbi|All Files (*.*)|*.*");
        path = platform.SaveFileRequester(QString(), document.settings().lastdir, pattern, 0);
        if (path.isEmpty())
            return stop(CreateStatus::Cancelled);
        document.settings().lastdir = FolderPart(path);
        // Ask about the file that will be written: a name typed without extension gets one below, and
        // an existing file of that name must not be replaced unasked.
        path = SettleOutputExtension(path, format);
        const QFileInfo existing(path);
        if (existing.exists() && existing.size() > 0 &&
            !platform.AskYesNo(kTitle, MessageText("OverWrite", options.language), false))
            return stop(CreateStatus::Cancelled);
    }
    CreatePlan plan;
    plan.format = format;
    plan.path = SettleOutputExtension(path, format);
    const FileListModel& model = document.model();
    QStringList fileNames;
    for (int r = 0; r < model.rowCount(); ++r) {
        plan.paths.append(model.CellText(FileListModel::PathColumn, r));
        plan.packers.append(model.CellText(FileListModel::PackerColumn, r));
        fileNames.append(model.CellText(FileListModel::FileColumn, r));
    }
    const QStringList clashes = NameClashPairs(plan.paths, fileNames);
    if (!clashes.isEmpty())
        platform.Message(kTitle, MessageText("NameClash", options.language).arg(clashes.join(QLatin1Char('\n'))),
                         MessageIcon::Warning);
    return plan;
}

// WriteCreatePlan without its guard against exceptions.
static CreateResult WriteCreatePlanOrThrow(const CreatePlan& plan, const CreateOptions& options)
{
    const int format = plan.format;
    const QString& path = plan.path;
    const int n = static_cast<int>(plan.paths.size());
    std::vector<Row> rows;
    QStringList fileNames;
    rows.reserve(static_cast<std::size_t>(n));
    for (const QString& source : plan.paths) {
        rows.push_back(Row{source, FileNamePart(source)});
        fileNames.append(rows.back().fileName);
    }
    const QStringList& packerTexts = plan.packers;
    const std::vector<int> kinds = RowPackerKinds(packerTexts);

    CreateResult result;
    auto refuse = [&](const QString& why) { return CreateResult{CreateStatus::Refused, path, {}, why}; };
    if (format == OutputResource && n > kMaxResourceRows)
        return refuse(MessageText("TooManyFiles", options.language));
    if (const QList<int> commas = RowsTheCatalogCannotName(plan.paths); !commas.isEmpty()) {
        QStringList lines;
        for (const int row : commas)
            lines << plan.paths[row];
        return refuse(MessageText("CommaInName", options.language).arg(lines.join(QLatin1Char('\n'))));
    }
    // An include named *.binpack would be overwritten by its own pack file.
    if (format == OutputBinpack && QFileInfo(PackFilePath(path))
                                           .absoluteFilePath()
                                           .compare(QFileInfo(path).absoluteFilePath(), Qt::CaseInsensitive) == 0)
        return refuse(MessageText("PackIsInclude", options.language).arg(path));
    if (format == OutputBinpack && OutputFileName(PackFilePath(path)).contains(QLatin1Char('"')))
        return refuse(MessageText("QuoteInPackName", options.language).arg(path));
    // Known sizes are refused before anything is written; a block that grows past the limit when packed
    // is refused when it turns up, and the old output stays.
    for (const Row& row : rows) {
        if (QFileInfo(row.path).size() > std::numeric_limits<std::int32_t>::max())
            return refuse(MessageText("FileTooBig", options.language).arg(row.path));
    }

    // One run at a time per output: two writing one binpack pair could leave its two files apart.
    OutputLock lock;
    const std::function<bool()> waiting =
        options.waiting ? options.waiting : [&options] { return !options.progress || options.progress(0, 0); };
    if (!lock.Lock(path, waiting))
        return {CreateStatus::Cancelled, {}, {}, {}};

    const Bytes catalog = PackBlock(BuildCatalog(fileNames), PackerNone);
    // A resource file holds the catalog first (resource 1), an include last (after the rows' blocks).
    std::unique_ptr<BlockSink> writer;
    IncludeWriter* include = nullptr;
    bool opened = false;
    if (format == OutputResource) {
        auto resource = std::make_unique<ResourceWriter>();
        opened = resource->Open(path) && resource->WriteBlock(catalog, 1);
        writer = std::move(resource);
    } else {
        auto writing = std::make_unique<IncludeWriter>(
            format == OutputHexdata ? IncludeFormat::Hexdata : IncludeFormat::Binpack, options.templates);
        opened = writing->Open(path, packerTexts.contains(PackerText(PackerJcalg1)),
                               packerTexts.contains(PackerText(PackerZip)), fileNames);
        include = writing.get();
        writer = std::move(writing);
    }
    if (!opened) {
        result = {CreateStatus::Failed, {}, {}, writer->errorString()};
    } else {
        result = WriteRows(*writer, rows, kinds, options, include ? 1 : 2);
        if (result.status == CreateStatus::Written || result.status == CreateStatus::MissingFiles) {
            if ((include && !writer->WriteBlock(catalog, n + 1)) || !writer->Finish(options.keepUnchanged))
                result = {CreateStatus::Failed, {}, {}, writer->errorString()};
            result.unchanged = writer->unchanged();
            if (include) {
                result.packUnchanged = include->packUnchanged();
                if (include->packReplaced())
                    result.packReplaced = include->packPath();
            }
        }
    }
    result.path = path;
    if (result.status == CreateStatus::Failed)
        result.missing.clear();
    return result;
}

CreateResult WriteCreatePlan(const CreatePlan& plan, const CreateOptions& options)
{
    // The window runs this on a worker thread, where an exception would end the program and lose the
    // unsaved list: memory or a thread that cannot be had outside the rows' own fallbacks fails this
    // Create instead, and the writers drop their temporary files as the exception passes.
    try {
        return WriteCreatePlanOrThrow(plan, options);
    } catch (const std::bad_alloc&) {
        return {CreateStatus::Failed, plan.path, {}, QStringLiteral("not enough memory")};
    } catch (const std::exception& e) {
        return {CreateStatus::Failed, plan.path, {}, QString::fromLocal8Bit(e.what())};
    }
}

void ReportCreate(const CreateResult& result, Platform& platform, const CreateOptions& options)
{
    switch (result.status) {
    case CreateStatus::Failed:
        platform.Message(
            kTitle,
            result.packReplaced.isEmpty()
                ? MessageText("CreateFailed", options.language).arg(result.error)
                : MessageText("IncludeNotReplaced", options.language).arg(result.packReplaced, result.error),
            MessageIcon::Error);
        break;
    case CreateStatus::Refused:
        platform.Message(kTitle, result.error, MessageIcon::Error);
        break;
    case CreateStatus::MissingFiles: {
        QStringList lines;
        for (const QString& file : result.missing)
            lines << (result.outOfMemory.contains(file) ? file + QStringLiteral(" (not enough memory)") : file);
        platform.Message(kTitle, MessageText("FilesMissing", options.language).arg(lines.join(QLatin1Char('\n'))),
                         MessageIcon::Warning);
        break;
    }
    default:
        break;
    }
}

} // namespace hexaloom
