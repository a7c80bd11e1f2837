#include "ResourceReader.h"

#include "LittleEndian.h"
#include "ResourceLayout.h"

#include <cstring>
#include <set>

namespace hexaloom {

namespace {

// An entry's type and name fields lie in its header; more than this is no header we write or read.
constexpr qint64 kMaxHeaderRead = 1 << 16;

} // namespace

OutputContents ParseResource(std::shared_ptr<const ByteSource> source)
{
    OutputContents out;
    out.kind = OutputKind::Resource;
    using namespace resource_layout;
    constexpr qint64 firstSize = kEmptyEntry.size();
    std::uint8_t head[firstSize];
    const qint64 size = source->size();
    if (size < firstSize || !source->Read(0, head, firstSize) || std::memcmp(head, kEmptyEntry.data(), firstSize) != 0)
        return Unreadable(out, QStringLiteral("no 32-bit resource file: it does not begin with the empty entry"));
    std::set<int> seen;
    QByteArray header;
    for (qint64 at = firstSize; at < size;) {
        auto damaged = [&](const QString& what) {
            return Unreadable(out, QStringLiteral("the entry at byte %1 %2").arg(at).arg(what));
        };
        if (size - at < kSmallestHeader)
            return damaged(QStringLiteral("is cut short"));
        std::uint8_t sizes[8];
        if (!source->Read(at, sizes, 8))
            return damaged(QStringLiteral("cannot be read"));
        const std::uint32_t dataSize = ReadLe32(sizes);
        const std::uint32_t headerSize = ReadLe32(sizes + 4);
        if (headerSize < kSmallestHeader || headerSize % kAlignment != 0 || headerSize > size - at)
            return damaged(QStringLiteral("has a header size of %1").arg(headerSize));
        // Type and name: the numeric marker and a number, or a zero-terminated UTF-16 text, both inside the
        // header before its sixteen fixed bytes.
        const qint64 fieldsLength = std::min<qint64>(headerSize - kTypeOffset - 16, kMaxHeaderRead);
        header.resize(qsizetype(fieldsLength));
        if (!source->Read(at + kTypeOffset, reinterpret_cast<std::uint8_t*>(header.data()), fieldsLength))
            return damaged(QStringLiteral("cannot be read"));
        const auto* all = reinterpret_cast<const std::uint8_t*>(header.constData());
        const qsizetype headerEnd = header.size();
        qsizetype field = 0;
        auto readField = [&](int& number, QString& name) {
            if (field + 4 > headerEnd)
                return false;
            if (ReadLe16(all + field) == kNumericMarker) {
                number = ReadLe16(all + field + 2);
                field += 4;
                return true;
            }
            for (; field + 2 <= headerEnd; field += 2) {
                const std::uint16_t unit = ReadLe16(all + field);
                if (unit == 0) {
                    field += 2;
                    return true;
                }
                name += QChar(unit);
            }
            return false;
        };
        int typeNumber = -1;
        int number = -1;
        QString type;
        QString name;
        if (!readField(typeNumber, type) || !readField(number, name))
            return damaged(QStringLiteral("has a type or name that overruns its header"));
        const qint64 padded = (static_cast<qint64>(dataSize) + kAlignment - 1) / kAlignment * kAlignment;
        if (padded > size - at - headerSize)
            return damaged(QStringLiteral("claims %1 bytes of data; the file ends before").arg(dataSize));
        const StoredEntry entry{qsizetype(at + headerSize), static_cast<qsizetype>(dataSize)};
        at += headerSize + padded;
        // Resources of other types or with names may share the file; only ours are read.
        if (type != QStringView(kType) || number < 1)
            continue;
        if (!seen.insert(number).second)
            return Unreadable(out, QStringLiteral("resource %1 is there twice").arg(number));
        if (number == 1) {
            out.catalog = entry;
        } else {
            if (out.files.size() < static_cast<std::size_t>(number - 1))
                out.files.resize(static_cast<std::size_t>(number - 1));
            out.files[static_cast<std::size_t>(number - 2)] = entry;
        }
    }
    out.data = std::move(source);
    return out;
}

OutputContents ParseResource(QByteArray bytes)
{
    return ParseResource(MemorySource(std::move(bytes)));
}

} // namespace hexaloom
