#pragma once
// The source files of a run, each read, tokenised and parsed once and then shared by every target that
// includes it. A file changed on disk since it was parsed is parsed again.
#include "Ast.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <memory>
#include <vector>

namespace hexaloom::pbrun {

struct SourceFile
{
    QString path; // absolute
    Body body;
    QString error; // why the file could not be read or parsed; empty when it was
    int errorLine = 0;
    qint64 size = -1;
    QDateTime modified;
};

class SourceCache
{
public:
    // The index of the parsed file at `path` (absolute), loading it when needed. A file that cannot be
    // read or parsed still gets an index; its error says why.
    int Load(const QString& path);
    const SourceFile& file(int index) const { return *m_files[std::size_t(index)]; }
    int nodeCount() const { return m_nextId; }
    // The bytes of a file (IncludeBinary, Import of a .res), or false when it cannot be read.
    bool Binary(const QString& path, QByteArray& bytes, QString* error);
    // "name:line" for messages: the file name without its folder.
    QString Place(SourcePos pos) const;

private:
    std::vector<std::unique_ptr<SourceFile>> m_files;
    QHash<QString, int> m_byPath;
    struct CachedBinary
    {
        QByteArray bytes;
        qint64 size = -1;
        QDateTime modified;
    };
    QHash<QString, CachedBinary> m_binaries;
    int m_nextId = 0;
};

} // namespace hexaloom::pbrun
