#include "Source.h"

#include "Lexer.h"
#include "Parser.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace hexaloom::pbrun {

namespace {
// Larger sources and binaries are refused rather than read: a device or a huge file named by mistake
// must not hang or exhaust the run.
constexpr qint64 kMaxSource = 256ll << 20;
constexpr qint64 kMaxBinary = 256ll << 20;
} // namespace

int SourceCache::Load(const QString& path)
{
    const QFileInfo info(path);
    const auto found = m_byPath.constFind(path);
    if (found != m_byPath.constEnd()) {
        const SourceFile& f = *m_files[std::size_t(*found)];
        if (f.size == info.size() && f.modified == info.lastModified())
            return *found;
    }
    auto file = std::make_unique<SourceFile>();
    file->path = path;
    file->size = info.size();
    file->modified = info.lastModified();
    const int index = int(m_files.size());
    QFile f(path);
    if (!info.isFile() || !f.open(QIODevice::ReadOnly)) {
        file->error = QStringLiteral("file not found: %1").arg(path);
    } else if (info.size() > kMaxSource) {
        file->error = QStringLiteral("pbrun does not read sources over %1 MiB: %2").arg(kMaxSource >> 20).arg(path);
    } else {
        const QByteArray bytes = f.readAll();
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder(bytes);
        if (decoder.hasError()) {
            file->error = QStringLiteral("pbrun reads sources as UTF-8, and %1 is not").arg(info.fileName());
        } else {
            ParseResult parsed = Parse(Tokenize(text), index, m_nextId);
            file->body = std::move(parsed.body);
            file->error = parsed.error;
            file->errorLine = parsed.errorLine;
        }
    }
    m_files.push_back(std::move(file));
    m_byPath.insert(path, index);
    return index;
}

bool SourceCache::Binary(const QString& path, QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    auto it = m_binaries.find(path);
    if (it != m_binaries.end() && it->size == info.size() && it->modified == info.lastModified()) {
        bytes = it->bytes;
        return true;
    }
    QFile f(path);
    if (!info.isFile() || !f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("file not found: %1").arg(path);
        return false;
    }
    if (info.size() > kMaxBinary) {
        if (error)
            *error = QStringLiteral("pbrun does not read files over %1 MiB: %2").arg(kMaxBinary >> 20).arg(path);
        return false;
    }
    CachedBinary cached{f.readAll(), info.size(), info.lastModified()};
    bytes = cached.bytes;
    m_binaries.insert(path, std::move(cached));
    return true;
}

QString SourceCache::Place(SourcePos pos) const
{
    if (pos.file < 0 || pos.file >= int(m_files.size()))
        return QStringLiteral("?:%1").arg(pos.line);
    return QStringLiteral("%1:%2").arg(QFileInfo(m_files[std::size_t(pos.file)]->path).fileName()).arg(pos.line);
}

} // namespace hexaloom::pbrun
