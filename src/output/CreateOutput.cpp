#include "CreateOutput.h"

#include "AppSettings.h"
#include "Document.h"
#include "FileListModel.h"
#include "LanguageTable.h"
#include "OutputContents.h"
#include "OutputNames.h"
#include "Paths.h"
#include "Platform.h"
#include "Reasons.h"
#include "ResourceWriter.h"
#include "RowPacker.h"
#include "Version.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <new>

namespace hexaloom {

namespace {

const QString kTitle = QLatin1String(kAppName);

// Create's messages come from the language table's texts beyond the built-in table.
QString MessageText(const char* key, const LanguageTable* language = nullptr)
{
    return hexaloom::MessageText(language, key);
}

// The files a Create could not read, one per line, those that did not fit in memory marked so.
QString MissingLines(const CreateResult& result, const CreateOptions& options)
{
    QStringList lines;
    for (const QString& file : result.missing)
        lines << (result.outOfMemory.contains(file)
                      ? file + QStringLiteral(" (%1)").arg(MessageText("NotEnoughMemory", options.language))
                      : file);
    return lines.join(QLatin1Char('\n'));
}

struct Row
{
    QString path;
    QString fileName;
};

// What stands for a file that could not be read: a block header claiming no bytes, which the access code
// and the readers take for "no data", unlike an empty file (a block of no bytes at all).
std::span<const std::uint8_t> NoDataBlock()
{
    static const auto block = [] {
        std::array<std::uint8_t, kBlockHeaderSize> header{};
        std::copy(std::begin(kBlockMagic), std::end(kBlockMagic), header.begin() + kBlockMagicOffset);
        return header;
    }();
    return block;
}

// Writes the rows in order into `writer`, packed on worker threads; raw files are streamed.
CreateResult WriteRows(BlockSink& writer, const std::vector<Row>& rows, const std::vector<int>& kinds,
                       const std::vector<qint64>& sizes, const CreateOptions& options, int firstNumber)
{
    CreateResult result;
    auto failed = [&] { return CreateResult{CreateStatus::Failed, {}, {}, writer.errorString()}; };
    std::vector<RowJob> jobs;
    jobs.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        jobs.push_back(RowJob{rows[i].path, kinds[i], sizes[i], options.level});
    RowPacker packer(std::move(jobs), options.threads, options.stop);
    const int total = static_cast<int>(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (options.progress && !options.progress(static_cast<int>(i), total)) {
            writer.Cancel();
            return {CreateStatus::Cancelled, {}, {}, {}};
        }
        const PackedRow row = packer.Take();
        if (options.stop && options.stop->load()) {
            // The row's packing may have given up: it must not be written as the file's block.
            writer.Cancel();
            return {CreateStatus::Cancelled, {}, {}, {}};
        }
        const int number = static_cast<int>(i) + firstNumber;
        switch (row.state) {
        case PackedRow::TooBig:
            writer.Cancel();
            result.status = CreateStatus::Refused;
            result.error = FillMessage(MessageText("FileTooBig", options.language),
                                       {rows[i].path, QString::number(kMaxStoredGiB)});
            return result;
        case PackedRow::NoMemory:
            result.outOfMemory.append(rows[i].path);
            [[fallthrough]];
        case PackedRow::Unreadable:
            result.missing.append(rows[i].path);
            if (writer.keepsMissingNumbers() && !writer.WriteBlock(NoDataBlock(), number))
                return failed();
            break;
        case PackedRow::Empty:
            if (!writer.WriteBlock({}, number))
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
            if (!row.file || !StreamFile(*row.file, row.size, [&writer](std::span<const std::uint8_t> bytes) {
                    return writer.AppendBlock(bytes);
                })) {
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
        return {CreateStatus::Failed,
                {},
                {},
                MessageText("NotAllRead", options.language).arg(MissingLines(result, options))};
    }
    result.status = result.missing.isEmpty() ? CreateStatus::Written : CreateStatus::MissingFiles;
    return result;
}

} // namespace

namespace {

// The warning about names that clash, when there is one; false when the user stops Create there.
bool ClashesAccepted(const CreatePlan& plan, Platform& platform, const CreateOptions& options)
{
    QStringList fileNames;
    for (const QString& path : plan.paths)
        fileNames.append(FileNamePart(path));
    const QString clashes = NameClashWarning(plan.paths, fileNames, options.language);
    return clashes.isEmpty() || platform.WarnProceed(kTitle, clashes, MessageText(options.language, "CreateAnyway"));
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

QString NameClashWarning(const QStringList& paths, const QStringList& fileNames, const LanguageTable* language)
{
    // Each name (case folded) with its different files, in the order the names first come.
    QList<QStringList> groups;
    QList<bool> exact;
    QHash<int, qsizetype> groupOfFirst;
    for (const auto& [first, later] : NameClashes(fileNames)) {
        const QString& path = paths.value(later);
        auto at = groupOfFirst.find(first);
        if (at == groupOfFirst.end()) {
            at = groupOfFirst.insert(first, groups.size());
            groups.append(QStringList{paths.value(first)});
            exact.append(true);
        }
        // The same file listed twice gives the same bytes whichever row is found.
        if (groups[*at].contains(path))
            continue;
        groups[*at].append(path);
        exact[*at] = exact[*at] && fileNames.value(later) == fileNames.value(first);
    }
    constexpr qsizetype kShown = 10;
    QStringList same;
    QStringList cased;
    qsizetype shown = 0;
    qsizetype more = 0;
    for (qsizetype g = 0; g < groups.size(); ++g) {
        if (groups[g].size() < 2)
            continue;
        if (shown++ >= kShown) {
            ++more;
            continue;
        }
        const QString last = groups[g].takeLast();
        (exact[g] ? same : cased)
            .append(QStringLiteral("  ") + FileNamePart(groups[g].front()) + QStringLiteral(": ") +
                    groups[g].join(QStringLiteral(", ")) + QLatin1Char(' ') + MessageText(language, "NameClashAnd") +
                    QLatin1Char(' ') + last);
    }
    if (shown == 0)
        return {};
    QStringList lines{MessageText(language, "NameClash")};
    if (!same.isEmpty())
        lines << MessageText(language, "NameClashSame") << same;
    if (!cased.isEmpty())
        lines << MessageText(language, "NameClashCase") << cased;
    if (more > 0)
        lines << MessageText(language, "NameClashMore").arg(more);
    return lines.join(QLatin1Char('\n'));
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

QList<int> RowsExtractCannotWrite(const QStringList& paths)
{
    QList<int> rows;
    for (qsizetype r = 0; r < paths.size(); ++r) {
        const QString name = FileNamePart(paths[r]);
        if (!name.contains(QLatin1Char(',')) && !IsSafeFileName(name))
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
    RememberOutputFolder(document, *plan, result);
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
        // The include's own extension first: a requester adds the first one to a name typed without.
        const QString pattern = format == OutputResource
                                    ? MessageText("FilterResource", options.language) + QStringLiteral(" (*.res)|*.res")
                                    : MessageText("FilterPureBasic", options.language) +
                                          QStringLiteral(" (*.pbi, *.pb)|*.pbi;*.pb|") +
                                          MessageText("FilterAll", options.language) + QStringLiteral(" (*.*)|*.*");
        path = platform.SaveFileRequester(QString(), document.settings().lastdir, pattern, 0);
        if (path.isEmpty())
            return stop(CreateStatus::Cancelled);
    }
    // The name is settled once; the question is about the file that will be written, since a name typed
    // without extension gets one and an existing file of that name must not be replaced unasked.
    path = SettleOutputExtension(path, format);
    if (givenPath.isEmpty()) {
        const QFileInfo existing(path);
        if (existing.exists() && existing.size() > 0 &&
            !platform.AskYesNo(kTitle, MessageText("OverWrite", options.language), false))
            return stop(CreateStatus::Cancelled);
    }
    CreatePlan plan = ListPlan(document.model(), format, path);
    if (givenPath.isEmpty())
        plan.chosenFolder = FolderPart(path);
    if (!ClashesAccepted(plan, platform, options))
        return stop(CreateStatus::Cancelled);
    return plan;
}

CreatePlan ListPlan(const FileListModel& model, int format, const QString& path)
{
    CreatePlan plan;
    plan.format = format;
    plan.path = path;
    QStringList packers;
    for (int r = 0; r < model.rowCount(); ++r) {
        plan.paths.append(model.CellText(FileListModel::PathColumn, r));
        packers.append(model.CellText(FileListModel::PackerColumn, r));
    }
    plan.kinds = RowPackerKinds(packers);
    return plan;
}

CreateResult CreateFromPlan(const CreatePlan& plan, Platform& platform, const CreateOptions& options)
{
    if (!ClashesAccepted(plan, platform, options))
        return {CreateStatus::Cancelled, {}, {}, {}};
    const CreateResult result = WriteCreatePlan(plan, options);
    ReportCreate(result, platform, options);
    return result;
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
    const std::vector<int>& kinds = plan.kinds;
    // A length the folder walk found stands for the file's; any other is asked for here, once.
    std::vector<qint64> sizes = plan.sizes;
    if (sizes.size() != rows.size()) {
        sizes.clear();
        for (const Row& row : rows)
            sizes.push_back(QFileInfo(row.path).size());
    }

    CreateResult result;
    auto refuse = [&](const QString& why) { return CreateResult{CreateStatus::Refused, path, {}, why}; };
    if (format == OutputResource && n > kMaxResourceRows)
        return refuse(FillMessage(MessageText("TooManyFiles", options.language), {QString::number(kMaxResourceRows)}));
    if (const QList<int> commas = RowsTheCatalogCannotName(plan.paths); !commas.isEmpty()) {
        QStringList lines;
        for (const int row : commas)
            lines << plan.paths[row];
        return refuse(MessageText("CommaInName", options.language).arg(lines.join(QLatin1Char('\n'))));
    }
    if (const QList<int> unsafe = RowsExtractCannotWrite(plan.paths); !unsafe.isEmpty()) {
        QStringList lines;
        for (const int row : unsafe)
            lines << plan.paths[row];
        return refuse(MessageText("NameNotExtractable", options.language).arg(lines.join(QLatin1Char('\n'))));
    }
    // A control character in an output's name would break the include's IncludeBinary line, and is
    // seldom what was meant anywhere.
    for (const QString& name :
         {OutputFileName(path), format == OutputBinpack ? OutputFileName(PackFilePath(path)) : QString()}) {
        if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }))
            return refuse(MessageText("ControlInOutputName", options.language).arg(path));
    }
    // An include named *.binpack would be overwritten by its own pack file.
    if (format == OutputBinpack &&
        QFileInfo(PackFilePath(ThroughLinks(path)))
                .absoluteFilePath()
                .compare(QFileInfo(ThroughLinks(path)).absoluteFilePath(), Qt::CaseInsensitive) == 0)
        return refuse(MessageText("PackIsInclude", options.language).arg(path));
    if (format == OutputBinpack && OutputFileName(PackFilePath(path)).contains(QLatin1Char('"')))
        return refuse(MessageText("QuoteInPackName", options.language).arg(path));
    // Known sizes are refused before anything is written; a block that grows past the limit when packed
    // is refused when it turns up, and the old output stays.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (sizes[i] > kMaxStoredSize)
            return refuse(FillMessage(MessageText("FileTooBig", options.language),
                                      {rows[i].path, QString::number(kMaxStoredGiB)}));
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
        auto uses = [&kinds](int kind) { return std::find(kinds.begin(), kinds.end(), kind) != kinds.end(); };
        opened = writing->Open(path, uses(PackerJcalg1), uses(PackerZip), fileNames);
        include = writing.get();
        writer = std::move(writing);
    }
    if (!opened) {
        result = {CreateStatus::Failed, {}, {}, writer->errorString()};
    } else {
        result = WriteRows(*writer, rows, kinds, sizes, options, include ? 1 : 2);
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
        return {CreateStatus::Failed, plan.path, {}, QString::fromLatin1(reason::kNotEnoughMemory)};
    } catch (const std::exception& e) {
        return {CreateStatus::Failed, plan.path, {}, QString::fromLocal8Bit(e.what())};
    }
}

void RememberOutputFolder(Document& document, const CreatePlan& plan, const CreateResult& result)
{
    // A folder where nothing could be written (or that only hangs the requester, such as /proc/) is
    // not worth starting in next time.
    if (!plan.chosenFolder.isEmpty() &&
        (result.status == CreateStatus::Written || result.status == CreateStatus::MissingFiles))
        document.settings().lastdir = plan.chosenFolder;
}

void ReportCreate(const CreateResult& result, Platform& platform, const CreateOptions& options)
{
    switch (result.status) {
    case CreateStatus::Failed:
        platform.Message(
            kTitle,
            result.packReplaced.isEmpty()
                ? MessageText("CreateFailed", options.language).arg(ReasonText(result.error, options.language))
                : MessageText("IncludeNotReplaced", options.language)
                      .arg(result.packReplaced, ReasonText(result.error, options.language)),
            MessageIcon::Error);
        break;
    case CreateStatus::Refused:
        platform.Message(kTitle, result.error, MessageIcon::Error);
        break;
    case CreateStatus::MissingFiles: {
        platform.Message(kTitle, MessageText("FilesMissing", options.language).arg(MissingLines(result, options)),
                         MessageIcon::Warning);
        break;
    }
    default:
        break;
    }
}

} // namespace hexaloom
