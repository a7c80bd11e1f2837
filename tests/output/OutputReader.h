#pragma once
// Reads generated outputs back the way the access code in the user's program does, and checks every
// line and byte of their layout on the way. Any deviation is reported in `error`.
#include "PackedBlock.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace hexaloom::test {

struct IncludeImage
{
    QString error;          // empty when the include parsed cleanly
    QByteArray code;        // the bytes before the generated part (the access-code template)
    QString kindLine;       // ";{ Hexaloom - HexData" or ";{ Hexaloom - BinPack"
    QStringList constants;  // the enumeration lines without their indent
    QStringList labels;     // the block labels in order, without indent
    QString includeBinary;  // the file named by IncludeBinary, empty when there is none
    Bytes data;             // the data section from Vorkel_CatchStart on, as the program would hold it
    std::vector<std::int32_t> sizes; // the size table

    int count() const { return static_cast<int>(sizes.size()); }
    // Vorkel_Get: block `number` (1-based) unpacked and CRC-checked; nothing where the access code gives 0.
    std::optional<Bytes> Get(int number) const;
    // Vorkel_GetFileName: the catalog's field number + 1.
    QString FileName(int number) const;
};

IncludeImage ReadInclude(const QString& path);

struct ResourceImage
{
    QString error;
    QList<int> order;           // resource numbers in file order
    QMap<int, Bytes> resources; // number -> stored bytes

    // Zember_Get: resource number + 1 unpacked and CRC-checked.
    std::optional<Bytes> Get(int number) const;
};

ResourceImage ReadResourceFile(const QString& path);

// The catalog's fields: the count, then the file names.
QStringList CatalogFields(const Bytes& catalog);

Bytes ReadAll(const QString& path);

} // namespace hexaloom::test
