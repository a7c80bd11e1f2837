#include "SmallestPacker.h"

#include "PackedBlock.h"
#include "RowSize.h"

namespace hexaloom {

std::optional<SmallestChoice> SmallestPacker(const QString& path, int level, const std::atomic<bool>* stop)
{
    const std::optional<qint64> length = RowDataSize(path, PackerNone);
    if (!length)
        return std::nullopt;
    SmallestChoice best{PackerNone, *length};
    qint64 bestBlock = *length;
    // In the order of the decoders' speed, so that only a smaller block displaces a faster one.
    for (const int packer : {int(PackerZip), int(PackerJcalg1)}) {
        const std::optional<qint64> payload = RowDataSize(path, packer, level, stop);
        if (!payload)
            return std::nullopt;
        const qint64 block = *payload + static_cast<qint64>(kBlockHeaderSize);
        if (block < bestBlock) {
            best = {packer, *payload};
            bestBlock = block;
        }
    }
    return best;
}

} // namespace hexaloom
