#include "PackedBlock.h"

#include "Crc32.h"
#include "Jcalg.h"
#include "LittleEndian.h"

#include <zlib.h>
#include <zopfli/deflate.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace hexaloom {

namespace {

// zopfli's rounds of parsing per block: enough for most of its gain, few enough that a 16 MiB file packs
// within some thirty times zlib's level 9.
constexpr int kZopfliIterations = 1;
// Bytes zopfli parses at a time (its own master block); the stop flag is looked at between them.
constexpr std::size_t kZopfliPart = 1000000;
// zlib's level 9 stream is kept without zopfli when it is under this fraction of the input.
constexpr std::size_t kZopfliRunsFraction = 64;

int NotStopped(std::uint32_t, std::uint32_t, void* stop)
{
    return !static_cast<const std::atomic<bool>*>(stop)->load(std::memory_order_relaxed);
}

// zlib's stream at `level`, or 0 when it does not fit `capacity`.
std::size_t ZlibPack(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                     std::size_t capacity, int level)
{
    if (length > std::numeric_limits<uLong>::max() || capacity > std::numeric_limits<uLong>::max())
        return 0;
    uLongf packed = static_cast<uLongf>(capacity);
    if (compress2(destination, &packed, source, static_cast<uLong>(length), level) != Z_OK)
        return 0;
    return packed;
}

// A zlib stream of zopfli's deflate: the header zopfli writes (best compression), its blocks, part by part
// with the data before each part as the window, then the Adler-32 of the data.
std::size_t ZopfliZlib(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                       std::size_t capacity, const std::atomic<bool>* stop)
{
    // zlib's level 9 first, straight into the destination: where it is shorter than zopfli's (by a few bytes,
    // on short periods) it is kept, and where it packs to under 1/64 (flat pictures, long runs) zopfli is not
    // run: it would take hundreds of times zlib's time for a few per cent of a few bytes. zopfli writes into
    // a buffer of its own, which replaces it only when shorter.
    const std::size_t level9Size = ZlibPack(source, length, destination, capacity, Z_BEST_COMPRESSION);
    const bool have9 = level9Size != 0;
    if (have9 && level9Size < length / kZopfliRunsFraction)
        return level9Size;
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    options.numiterations = kZopfliIterations;
    unsigned char bits = 0;
    unsigned char* out = nullptr;
    std::size_t outSize = 0;
    bool stopped = false;
    std::size_t at = 0;
    do {
        if (stop && stop->load(std::memory_order_relaxed)) {
            stopped = true;
            break;
        }
        const std::size_t part = std::min(kZopfliPart, length - at);
        ZopfliDeflatePart(&options, 2, at + part == length, source, at, at + part, &bits, &out, &outSize);
        at += part;
    } while (at < length);
    const std::unique_ptr<unsigned char, decltype(&std::free)> owned(out, &std::free);
    if (stopped || !out)
        return 0;
    if (have9 && level9Size <= outSize + 6)
        return level9Size;
    if (outSize + 6 > capacity)
        return 0;
    destination[0] = 0x78;
    destination[1] = 0xDA;
    std::memcpy(destination + 2, out, outSize);
    const auto check = static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), source, static_cast<uInt>(length)));
    for (int i = 0; i < 4; ++i)
        destination[2 + outSize + i] = static_cast<std::uint8_t>(check >> (24 - 8 * i));
    return outSize + 6;
}

} // namespace

std::size_t PackPayload(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                        std::size_t capacity, int level, int kind, const std::atomic<bool>* stop)
{
    if (level == kPackLevelMax && (kind == PackerJcalg1 || kind == PackerZip)) {
        if (!source || !destination || sourceLength == 0 || sourceLength > static_cast<std::size_t>(kMaxStoredSize) ||
            (stop && stop->load(std::memory_order_relaxed)))
            return 0;
        if (kind == PackerZip)
            return ZopfliZlib(source, sourceLength, destination, capacity, stop);
        return JcCompressMax(source, sourceLength, destination, capacity, stop ? NotStopped : nullptr,
                             const_cast<std::atomic<bool>*>(stop), false);
    }
    switch (kind) {
    case PackerJcalg1:
        return JcPackLevel(source, destination, sourceLength, level, capacity);
    case PackerZip:
        return ZlibPack(source, sourceLength, destination, capacity, level);
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

Bytes PackBlock(Bytes data, int kind, int level, const std::atomic<bool>* stop)
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
            const std::size_t packed = PackPayload(data.data(), length, work.get(), capacity, level, kind, stop);
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
