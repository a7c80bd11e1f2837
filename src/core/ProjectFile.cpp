#include "ProjectFile.h"

#include "FileListModel.h"
#include "LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace hexaloom {

namespace {
QString ReadUnits(const uchar* data, int units)
{
    QString text;
    for (int i = 0; i < units; ++i) {
        const char16_t unit = ReadLe16(data + 2 * i);
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
        WriteLe16(data + 2 * i, text.at(i).unicode());
}

ProjectParseResult Damaged(const char* reason)
{
    ProjectParseResult result;
    result.status = ProjectParse::Damaged;
    result.reason = QString::fromLatin1(reason);
    return result;
}
} // namespace

qint64 MaxProjectFileSize()
{
    return 17 + qint64(compressBound(uLong(kProjectMaxRows) * kProjectRecordSize)) + 1024;
}

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
        rows = static_cast<std::int16_t>(ReadLe16(data));
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
    const quint32 length = ReadLe32(data);
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
    WriteLe16(header, static_cast<std::uint16_t>(rows));
    header[2] = static_cast<uchar>(outputFormat);
    WriteLe32(header + 3, quint32(records.size()));
    file.append(reinterpret_cast<const char*>(header), sizeof header);
    file.append(packed);
    return file;
}

QByteArray EncodeProject(const FileListModel& model, int outputFormat)
{
    return EncodeProject(RecordsOf(model), outputFormat);
}

} // namespace hexaloom
