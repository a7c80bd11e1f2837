#include "ProjectFile.h"

#include "AppSettings.h"
#include "Document.h"
#include "LanguageTable.h"
#include "Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace hexaloom {

namespace {
const QString kTitle = QStringLiteral("Hexaloom");
QString ProjectPattern(const LanguageTable* language)
{
    return MessageText(language, "FilterProject") + QStringLiteral(" (*.hxlm)|*hxlm");
}

// The largest file a valid project can be: header plus the worst zlib expansion of 32767 records.
qint64 MaxProjectFileSize()
{
    return 17 + qint64(compressBound(uLong(kProjectMaxRows) * kProjectRecordSize)) + 1024;
}

QString ReadUnits(const uchar* data, int units)
{
    QString text;
    for (int i = 0; i < units; ++i) {
        const char16_t unit = qFromLittleEndian<quint16>(data + 2 * i);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

void WriteUnits(uchar* data, int units, const QString& text)
{
    const qsizetype n = std::min<qsizetype>(units, text.size());
    for (qsizetype i = 0; i < n; ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), data + 2 * i);
}

ProjectParseResult Damaged(const char* reason)
{
    ProjectParseResult result;
    result.status = ProjectParse::Damaged;
    result.reason = QString::fromLatin1(reason);
    return result;
}
} // namespace

ProjectParseResult ParseProject(const QByteArray& bytes)
{
    // The magic line ends at the first CR, LF or zero byte; CR LF ends it together.
    qsizetype end = 0;
    while (end < bytes.size() && bytes.at(end) != '\r' && bytes.at(end) != '\n' && bytes.at(end) != '\0')
        ++end;
    const QString magic = QString::fromUtf8(bytes.constData(), end);
    qsizetype pos = end;
    if (pos < bytes.size())
        pos += (bytes.at(pos) == '\r' && pos + 1 < bytes.size() && bytes.at(pos + 1) == '\n') ? 2 : 1;

    ProjectParseResult result;
    if (magic == QLatin1String("HXLM 1.5"))
        result.content.version = 15;
    else if (magic == QLatin1String("HXLM 1.4"))
        result.content.version = 14;
    else if (magic == QLatin1String("HXLM 1.0"))
        result.content.version = 10;
    else {
        result.status = ProjectParse::NotSupported;
        return result;
    }
    const int version = result.content.version;
    const qsizetype header = (version == 15 ? 2 : 1) + (version == 10 ? 0 : 1) + 4;
    if (bytes.size() - pos < header)
        return Damaged("header cut short");
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData()) + pos;
    qint64 rows = 0;
    if (version == 15) {
        rows = qFromLittleEndian<qint16>(data);
        data += 2;
    } else {
        rows = static_cast<qint8>(*data);
        data += 1;
    }
    if (version != 10) {
        result.content.format = *data;
        data += 1;
        if (result.content.format > OutputBinpack)
            return Damaged("unknown output format");
    }
    const quint32 length = qFromLittleEndian<quint32>(data);
    data += 4;
    pos += header;
    if (rows < 0)
        return Damaged("negative row count");
    if (qint64(length) != rows * kProjectRecordSize)
        return Damaged("record area length disagrees with the row count");
    if (rows > 0) {
        QByteArray records(qsizetype(length), '\0');
        uLongf unpacked = length;
        const int status =
            uncompress(reinterpret_cast<Bytef*>(records.data()), &unpacked, data, uLong(bytes.size() - pos));
        if (status != Z_OK || unpacked != length)
            return Damaged("record area does not unpack");
        const auto* record = reinterpret_cast<const uchar*>(records.constData());
        for (qint64 i = 0; i < rows; ++i, record += kProjectRecordSize) {
            ProjectRecord r;
            r.packer = static_cast<qint8>(record[0]);
            r.size = ReadUnits(record + 1, kProjectSizeUnits);
            r.path = ReadUnits(record + 1 + 2 * kProjectSizeUnits, kProjectPathUnits);
            result.content.records.append(r);
        }
    }
    result.status = ProjectParse::Ok;
    return result;
}

namespace {

QList<ProjectRecord> RecordsOf(const FileListModel& model)
{
    QList<ProjectRecord> records;
    records.reserve(model.rowCount());
    for (int row = 0; row < model.rowCount(); ++row)
        records.append({PackerKindFromText(model.CellText(FileListModel::PackerColumn, row)),
                        model.CellText(FileListModel::SizeColumn, row),
                        model.CellText(FileListModel::PathColumn, row)});
    return records;
}

} // namespace

QByteArray EncodeRecords(const QList<ProjectRecord>& list)
{
    QByteArray records(qsizetype(list.size()) * kProjectRecordSize, '\0');
    auto* record = reinterpret_cast<uchar*>(records.data());
    for (const ProjectRecord& row : list) {
        record[0] = static_cast<uchar>(row.packer);
        WriteUnits(record + 1, kProjectSizeUnits, row.size);
        WriteUnits(record + 1 + 2 * kProjectSizeUnits, kProjectPathUnits, row.path);
        record += kProjectRecordSize;
    }
    return records;
}

QByteArray EncodeRecords(const FileListModel& model)
{
    return EncodeRecords(RecordsOf(model));
}

QList<int> RowsWithLongPaths(const FileListModel& model)
{
    QList<int> rows;
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.CellText(FileListModel::PathColumn, row).size() > kProjectPathUnits)
            rows.append(row);
    return rows;
}

QByteArray EncodeProject(const QList<ProjectRecord>& list, int outputFormat)
{
    const qsizetype rows = list.size();
    if (rows > kProjectMaxRows ||
        std::any_of(list.begin(), list.end(), [](const ProjectRecord& r) { return r.path.size() > kProjectPathUnits; }))
        return {};
    const QByteArray records = EncodeRecords(list);
    // Compressed before anything is written, so a failure never leaves a header without its records.
    QByteArray packed(qsizetype(compressBound(uLong(records.size()))), '\0');
    uLongf packedLength = uLongf(packed.size());
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedLength,
                  reinterpret_cast<const Bytef*>(records.constData()), uLong(records.size()), 9) != Z_OK)
        return {};
    packed.truncate(qsizetype(packedLength));

    QByteArray file("HXLM 1.5\r\n");
    uchar header[7];
    qToLittleEndian<qint16>(static_cast<qint16>(rows), header);
    header[2] = static_cast<uchar>(outputFormat);
    qToLittleEndian<quint32>(quint32(records.size()), header + 3);
    file.append(reinterpret_cast<const char*>(header), sizeof header);
    file.append(packed);
    return file;
}

QByteArray EncodeProject(const FileListModel& model, int outputFormat)
{
    return EncodeProject(RecordsOf(model), outputFormat);
}

OpenProjectReport OpenProject(Document& document, Platform& platform, const QString& givenPath)
{
    OpenProjectReport report;
    QString path = givenPath;
    if (path.isEmpty()) {
        path = platform.OpenFileRequester(QString(), document.projectDir(), ProjectPattern(document.language()), 0);
        if (path.isEmpty())
            return report;
    }
    FileListModel& model = document.model();
    if (model.rowCount() > 0) {
        // Lists are never merged: the project opens in a second copy of the program.
        document.saveSettings();
        platform.StartProgram(document.programPath(), {QStringLiteral("/IGNOREPOS"), path});
        report.result = OpenProjectResult::SecondCopy;
        return report;
    }

    QFile file;
    QString why;
    if (!OpenRegularFile(file, path, std::numeric_limits<qint64>::max(), &why)) {
        report.result = OpenProjectResult::Unreadable;
        report.reason = why;
        platform.Message(kTitle, MessageText(document.language(), "ProjectUnreadable").arg(path, why),
                         MessageIcon::Error);
        return report;
    }
    if (file.size() > MaxProjectFileSize()) {
        report.reason = QStringLiteral("larger than any project can be");
        platform.Message(kTitle, MessageText(document.language(), "ProjectDamaged").arg(path), MessageIcon::Error);
        report.result = OpenProjectResult::Damaged;
        return report;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    const ProjectParseResult parsed = ParseProject(bytes);
    if (parsed.status == ProjectParse::NotSupported) {
        platform.Message(kTitle, MessageText(document.language(), "ProjectNotSupported").arg(path), MessageIcon::None);
        report.result = OpenProjectResult::NotSupported;
        report.reason = QStringLiteral("Projectformat not supported");
        return report;
    }
    if (parsed.status == ProjectParse::Damaged) {
        platform.Message(kTitle, MessageText(document.language(), "ProjectDamaged").arg(path), MessageIcon::Error);
        report.result = OpenProjectResult::Damaged;
        report.reason = parsed.reason;
        return report;
    }

    if (parsed.content.format >= 0)
        document.setOutputFormat(parsed.content.format);
    QStringList missing;
    for (const ProjectRecord& record : parsed.content.records) {
        const QFileInfo info(record.path);
        if (info.isFile() && info.size() > 0) {
            model.AddFileRow(record.path, record.packer, record.size);
            ++report.added;
        } else {
            missing.append(record.path);
            ++report.missing;
        }
    }
    // One message for them all: a moved tree can miss thousands. The rest of the list is there, so it
    // is a warning.
    if (!missing.isEmpty())
        platform.MessageWithDetails(kTitle, MessageText(document.language(), "FilesNotFound").arg(missing.size()),
                                    missing.join(QLatin1Char('\n')), MessageIcon::Warning);
    document.setProjectPath(path);
    document.setWindowTitle(ProjectTitle(document.projectFile()));
    emit document.projectLoaded(path);
    report.result = OpenProjectResult::Loaded;
    return report;
}

SaveProjectResult SaveProject(Document& document, Platform& platform, const QString& givenPath,
                              const DeviceWriter& writer, const QString& overwriteQuestion)
{
    const FileListModel& model = document.model();
    const int rows = model.rowCount();
    if (rows > kProjectMaxRows) {
        // Asked before the requester: no name is worth choosing for a list the format cannot hold.
        platform.Message(kTitle, MessageText(document.language(), "ProjectTooManyRows").arg(rows).arg(kProjectMaxRows),
                         MessageIcon::Error);
        return SaveProjectResult::TooManyRows;
    }
    if (const QList<int> tooLong = RowsWithLongPaths(model); !tooLong.isEmpty()) {
        constexpr int kListed = 10;
        QStringList lines;
        for (qsizetype i = 0; i < std::min<qsizetype>(tooLong.size(), kListed); ++i)
            lines << QStringLiteral("%1: %2")
                         .arg(tooLong[i] + 1)
                         .arg(model.CellText(FileListModel::PathColumn, tooLong[i]));
        if (tooLong.size() > kListed)
            lines << MessageText(document.language(), "ProjectMore").arg(tooLong.size() - kListed);
        platform.Message(kTitle,
                         MessageText(document.language(), "ProjectPathsTooLong")
                             .arg(kProjectPathUnits)
                             .arg(lines.join(QLatin1Char('\n'))),
                         MessageIcon::Error);
        return SaveProjectResult::PathsTooLong;
    }
    QString path = givenPath;
    if (path.isEmpty())
        path = platform.SaveFileRequester(QString(), document.projectDir(), ProjectPattern(document.language()), 0);
    if (rows == 0)
        return SaveProjectResult::EmptyList;
    if (path.isEmpty())
        return SaveProjectResult::Cancelled;
    if (path.right(5).toUpper() != QLatin1String(".HXLM")) {
        path += QStringLiteral(".hxlm");
        // The requester asked about the name it was given, not about the file that name becomes.
        const QFileInfo existing(path);
        if (givenPath.isEmpty() && existing.exists() && existing.size() > 0 &&
            !platform.AskYesNo(kTitle,
                               overwriteQuestion.isEmpty() ? QStringLiteral("File already exists. Overwrite?")
                                                           : overwriteQuestion,
                               false))
            return SaveProjectResult::Cancelled;
    }
    const QByteArray bytes = EncodeProject(model, document.outputFormat());
    QString error = QStringLiteral("the list could not be compressed");
    if (bytes.isEmpty() || !WriteFileAtomically(path, bytes, &error, writer)) {
        // The project keeps its name: Save goes on offering the file that was last saved or opened.
        platform.Message(kTitle, MessageText(document.language(), "SaveFailed").arg(path, error), MessageIcon::Error);
        return SaveProjectResult::Failed;
    }
    document.setProjectPath(path);
    document.setWindowTitle(ProjectTitle(document.projectFile()));
    return SaveProjectResult::Saved;
}

} // namespace hexaloom
