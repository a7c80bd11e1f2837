#include "RowSize.h"

#include "PackedBlock.h"

#include <QFile>

#include <limits>
#include <new>

namespace hexaloom {

std::optional<qint64> RowDataSize(const QString& path, int kind)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 length = file.size();
    // An empty file is stored raw whatever its packer.
    if ((kind != PackerJcalg1 && kind != PackerZip) || length == 0)
        return length;
    // The packers take 32-bit lengths, as every output does.
    if (length > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    try {
        Bytes data(static_cast<std::size_t>(length));
        if (file.read(reinterpret_cast<char*>(data.data()), length) != length)
            return std::nullopt;
        const std::size_t n = data.size();
        // The payload space a packed block gives the packer.
        Bytes scratch(n + n / 100 + 36 - kBlockHeaderSize);
        const std::size_t packed = PackPayload(data.data(), n, scratch.data(), scratch.size(), 9, kind);
        return packed != 0 ? static_cast<qint64>(packed) : length;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace hexaloom
