#include "RowSize.h"

#include "PackedBlock.h"

#include <QFile>

#include <memory>
#include <new>

namespace hexaloom {

std::optional<qint64> RowDataSize(const QString& path, int kind, int level, const std::atomic<bool>* stop)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 length = file.size();
    // An empty file is stored raw whatever its packer.
    if ((kind != PackerJcalg1 && kind != PackerZip) || length == 0)
        return length;
    // The packers take 32-bit lengths, as every output does.
    if (length > kMaxStoredSize)
        return std::nullopt;
    try {
        // Both areas are written before they are read, so they are not zeroed first.
        const auto n = static_cast<std::size_t>(length);
        const auto data = std::make_unique_for_overwrite<std::uint8_t[]>(n);
        if (file.read(reinterpret_cast<char*>(data.get()), length) != length)
            return std::nullopt;
        const std::size_t capacity = PayloadCapacity(n);
        const auto scratch = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        const std::size_t packed = PackPayload(data.get(), n, scratch.get(), capacity, level, kind, stop);
        if (stop && stop->load())
            return std::nullopt;
        return packed != 0 ? static_cast<qint64>(packed) : length;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace hexaloom
