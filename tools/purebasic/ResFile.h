#pragma once
// Reads a compiled 32-bit Windows resource file (.res): a sequence of entries, each a header (data size,
// header size, type and name as a number or a UTF-16 text, version fields) followed by its data, every
// entry starting on a 4-byte boundary. A linked .res gives a program the resources FindResource_ finds.
#include <QByteArray>
#include <QString>

#include <vector>

namespace hexaloom::pbrun {

struct ResEntry
{
    bool typeIsNumber = false;
    int typeNumber = 0;
    QString typeName; // upper-cased, as the resource compiler stores names
    bool nameIsNumber = false;
    int nameNumber = 0;
    QString name;
    int language = 0;
    QByteArray data;
};

// Every entry but the empty one that marks a 32-bit file. `error` is empty when the whole file is sound.
std::vector<ResEntry> ReadResFile(const QByteArray& bytes, QString* error);

} // namespace hexaloom::pbrun
