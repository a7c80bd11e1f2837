#include "PackedBlock.h"

#include "Crc32.h"
#include "Jcalg.h"
#include "LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace hexaloom {

std::size_t PackPayload(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                        std::size_t capacity, int level, int kind)
{
    switch (kind) {
    case PackerJcalg1:
        return JcPackLevel(source, destination, sourceLength, level, capacity);
    case PackerZip: {
        if (sourceLength > std::numeric_limits<uLong>::max() || capacity > std::numeric_limits<uLong>::max())
            return 0;
        uLongf packed = static_cast<uLongf>(capacity);
        if (compress2(destination, &packed, source, static_cast<uLong>(sourceLength), level) != Z_OK)
            return 0;
        return packed;
    }
    default:
        return 0;
    }
}

std::size_t UnpackPayload(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                          std::size_t destinationLength, int kind)
{
    switch (kind) {
    case PackerJcalg1:
        return JcDecompress(source, sourceLength, destination, destinationLength);
    case PackerZip: {
        if (sourceLength > std::numeric_limits<uLong>::max() || destinationLength > std::numeric_limits<uLong>::max())
            return 0;
        uLongf length = static_cast<uLongf>(destinationLength);
        return uncompress(destination, &length, source, static_cast<uLong>(sourceLength)) == Z_OK ? 1 : 0;
    }
    default:
        return 0;
    }
}

namespace {

// The block header for `data`, in a buffer with room for `total` bytes of block.
Bytes BlockHeader(const Bytes& data, int kind, std::size_t total)
{
    Bytes block;
    block.reserve(total);
    block.resize(kBlockHeaderSize);
    WriteLe64(block.data() + kBlockSizeOffset, static_cast<std::int64_t>(data.size()));
    const auto crc = static_cast<std::int32_t>(Crc32(data));
    WriteLe64(block.data() + kBlockCrcOffset, crc); // sign-extended: bit 31 set gives FF FF FF FF above it
    block[kBlockPackerOffset] = static_cast<std::uint8_t>(kind);
    std::memcpy(block.data() + kBlockMagicOffset, kBlockMagic, sizeof kBlockMagic);
    return block;
}

} // namespace

Bytes PackBlock(Bytes data, int kind)
{
    if (data.empty() || data.size() > static_cast<std::size_t>(kMaxStoredSize))
        return data;
    if (kind != PackerNone) {
        // The packer writes into an area that is not zeroed first, and the block (with its checksum, a pass
        // over the data) is made only once packing paid: files that do not pack, often the larger part of a
        // list of sounds and pictures already compressed, cost the packing alone.
        const std::size_t length = data.size();
        const std::size_t capacity = PayloadCapacity(length);
        try {
            const auto work = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
            const std::size_t packed = PackPayload(data.data(), length, work.get(), capacity, 9, kind);
            if (packed != 0) {
                Bytes block = BlockHeader(data, kind, kBlockHeaderSize + packed);
                block.insert(block.end(), work.get(), work.get() + packed);
                return block;
            }
        } catch (const std::bad_alloc&) {
            // No room to pack in: the data is stored as it is.
        }
    }
    if (!HasBlockMagic(data))
        return data;
    // Stored raw, these bytes would be taken for a block: they go into one of packer none instead.
    Bytes block = BlockHeader(data, PackerNone, kBlockHeaderSize + data.size());
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

bool HasBlockMagic(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= kBlockHeaderSize &&
           std::equal(std::begin(kBlockMagic), std::end(kBlockMagic), bytes.begin() + kBlockMagicOffset);
}

std::optional<Bytes> ReadPackedBlock(std::span<const std::uint8_t> stored)
{
    if (!HasBlockMagic(stored))
        return Bytes(stored.begin(), stored.end());
    const auto size = static_cast<std::int32_t>(ReadLe32(stored.data() + kBlockSizeOffset));
    const std::uint32_t crc = ReadLe32(stored.data() + kBlockCrcOffset);
    const auto kind = static_cast<std::int8_t>(stored[kBlockPackerOffset]);
    if (size <= 0)
        return std::nullopt;
    const std::span<const std::uint8_t> payload = stored.subspan(kBlockHeaderSize);
    Bytes unpacked;
    if (kind == PackerNone) {
        // Raw bytes behind a header: exactly the size it states.
        if (payload.size() != static_cast<std::size_t>(size))
            return std::nullopt;
        unpacked.assign(payload.begin(), payload.end());
    } else {
        unpacked.resize(static_cast<std::size_t>(size));
        if (UnpackPayload(payload.data(), payload.size(), unpacked.data(), unpacked.size(), kind) == 0)
            return std::nullopt;
    }
    if (Crc32(unpacked) != crc)
        return std::nullopt;
    return unpacked;
}

} // namespace hexaloom
