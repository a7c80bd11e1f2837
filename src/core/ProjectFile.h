#pragma once
// The project file: a magic line ("HXLM 1.5", older "HXLM 1.4" and "HXLM 1.0"), the row count, the
// output format, the unpacked length of the record area and the record area as one zlib stream. Each
// record is 661 bytes: packer (signed byte), size text (10 UTF-16LE units), path (320 UTF-16LE units).
#include "AtomicFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace hexaloom {

class FileListModel;

inline constexpr int kProjectRecordSize = 661;
inline constexpr int kProjectSizeUnits = 10;
inline constexpr int kProjectPathUnits = 320;
inline constexpr int kProjectMaxRows = 32767;

struct ProjectRecord
{
    int packer = 0;
    QString size;
    QString path;
};

struct ProjectContent
{
    int version = 15; // 10, 14 or 15
    int format = -1;  // the stored output format; -1 for version 1.0, which stores none
    QList<ProjectRecord> records;
};

enum class ProjectParse { Ok, NotSupported, Damaged };

struct ProjectParseResult
{
    ProjectParse status = ProjectParse::Damaged;
    ProjectContent content;
    QString reason; // why a damaged file was refused, for diagnostics
};

// Reads a whole project file. Unknown magic lines are NotSupported; a truncated header, a negative row
// count, an output format outside 0..2, a stored length other than rows x 661 or a stream that does
// not unpack to exactly that length are Damaged. Never reads or writes outside its buffers.
ProjectParseResult ParseProject(const QByteArray& bytes);

// The records of the list as the project file holds them (packer kind, size and path texts, cut).
QByteArray EncodeRecords(const QList<ProjectRecord>& records);
QByteArray EncodeRecords(const FileListModel& model);
// The rows (from 0) whose paths are longer than a record holds: cut, they would name other files.
QList<int> RowsWithLongPaths(const FileListModel& model);
// The complete version 1.5 file; empty when the list has more than 32767 rows, a path that does not fit
// its record, or compression fails.
QByteArray EncodeProject(const QList<ProjectRecord>& records, int outputFormat);
QByteArray EncodeProject(const FileListModel& model, int outputFormat);

// The largest file a valid project can be: header plus the worst zlib expansion of 32767 records.
qint64 MaxProjectFileSize();

} // namespace hexaloom
