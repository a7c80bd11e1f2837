#pragma once
// Names an output derives from its path and its rows: the settled extension, the label base, the pack
// file, the enumeration constants, the packer kinds and the catalog.
#include "PackedBlock.h"

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace hexaloom {

// The format an output's name calls for when none is asked for: a resource file for a name ending in ".res"
// (any case), a hexdata include otherwise. The readers tell an output's kind by the same rule.
int OutputFormatOfName(const QString& path);

// ".res" unless the path ends in ".res" (any case) for the resource format; ".pbi" for the include
// formats when the file part has no extension or ends in a dot. Any other format leaves the path.
QString SettleOutputExtension(const QString& path, int format);

// The file part of an output path. Output paths follow this system's rules: "\\" separates folders on
// Windows and is part of a file name elsewhere; the same holds for every name below.
QString OutputFileName(const QString& path);

// The file part without its last extension: the base of the block labels ("C:/out/MyData.pbi" gives "MyData").
QString OutputBase(const QString& path);

// The base as the block labels use it. A label may hold only ASCII letters, digits and "_" and may not
// begin with a digit, so every other character becomes "_" and a leading digit (or the block number after
// an empty base) gets a "_" before it; a
// base that already is a valid label ("MyData") stays as it is. Otherwise an output named "my data.pbi"
// would not compile.
QString LabelBase(const QString& base);

// The pack file beside a binpack include: the include's extension replaced by "binpack".
QString PackFilePath(const QString& includePath);

// "#HXL_" and the identifier made from a file name: upper-cased, "." turned into "_", then everything
// before the first letter or "_" and every character that cannot stand in an identifier dropped.
QString ConstantName(const QString& fileName);
// The enumeration constants of a whole list, one per row in row order: what the include declares and
// what every listing of an output shows. Each is ConstantName's, made unique: the first row keeps a name,
// later rows with the same one get "_2", "_3", ... (a suffix another row has by itself is passed over).
QStringList ConstantNames(const QStringList& fileNames);

// Rows whose file names are equal ignoring letter case, as (first row, later row) pairs counted from 0:
// the access code finds a file by name only at its first row.
std::vector<std::pair<int, int>> NameClashes(const QStringList& fileNames);

// The packer kind of every row from its packer text: "none" 0, "jCalg1" 1, "zip" 2; any other text takes
// the kind of the row before it (0 for the first row).
std::vector<int> RowPackerKinds(const QStringList& packerTexts);

// The catalog: the row count and ",name" per row, UTF-8, with a closing zero byte.
Bytes BuildCatalog(const QStringList& fileNames);

} // namespace hexaloom
