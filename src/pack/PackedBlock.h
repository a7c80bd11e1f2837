#pragma once
// The packed block: a 23-byte header (unpacked size, CRC-32, packer kind, "VORKEL") followed by the
// packer's output. Data without the header is raw. Readers tell the two apart by the magic alone.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace hexaloom {

using Bytes = std::vector<std::uint8_t>;

enum PackerKind : int { PackerNone = 0, PackerJcalg1 = 1, PackerZip = 2 };

// Lengths in the block header and in every container are 32-bit signed: no file, block or output is longer
// than 2 GiB - 1 bytes.
inline constexpr std::int64_t kMaxStoredSize = std::numeric_limits<std::int32_t>::max();

inline constexpr std::size_t kBlockHeaderSize = 23;
// The header's fields: the unpacked size and the CRC-32 as 64-bit values (readers take the low 32 bits),
// the packer kind in one byte, then the magic.
inline constexpr std::size_t kBlockSizeOffset = 0;
inline constexpr std::size_t kBlockCrcOffset = 8;
inline constexpr std::size_t kBlockPackerOffset = 16;
inline constexpr std::size_t kBlockMagicOffset = 17;
inline constexpr std::uint8_t kBlockMagic[6] = {'V', 'O', 'R', 'K', 'E', 'L'};

// The room a block gives its packer for `length` bytes of data: a little more than the data, so that
// every packer can finish (jCalg1 gives up past length + 13 bytes, zip needs under length / 100 + 16 more).
// Counting a file's packed size must give the packer the same room, or the count and the block disagree.
inline std::size_t PayloadCapacity(std::size_t length)
{
    return length + length / 100 + 36 - kBlockHeaderSize;
}

// The packing levels the program offers: 9, the default (jCalg1 with the 64 KiB window, zlib's level 9), and
// "max": jCalg1's optimal parse and zopfli's deflate in the zlib format, smaller and many times slower, read
// by the same decoders.
inline constexpr int kPackLevelDefault = 9;
inline constexpr int kPackLevelMax = 10;

// The packer dispatch. Returns the packed length, or 0 when the kind is unknown or packing fails
// (including output that does not fit `capacity`). `stop`, when given, is polled by the max level, which
// gives up (0) once it is set.
std::size_t PackPayload(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                        std::size_t capacity, int level, int kind, const std::atomic<bool>* stop = nullptr);

// The unpacker dispatch. A result greater than 0 means success (jCalg1: the unpacked size; zip: 1).
std::size_t UnpackPayload(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                          std::size_t destinationLength, int kind);

// Packs one file's bytes into a block, or hands them back unchanged (raw) for kind none, empty data, a
// packer that fails or a work buffer that cannot be had. A block is kept even when it is longer than the
// data. Raw bytes that carry the block magic themselves (a pack file or an output stored again) become a
// block of kind none instead: the header, then the bytes as they are (std::bad_alloc when that block
// cannot be had: stored raw, they would read back wrong).
Bytes PackBlock(Bytes data, int kind, int level = kPackLevelDefault, const std::atomic<bool>* stop = nullptr);

// True when the bytes carry the block magic at offset 17 (and are long enough to hold a header).
bool HasBlockMagic(std::span<const std::uint8_t> bytes);

// Reads stored bytes back the way every reader of the format does: raw data (no magic, or shorter
// than a header) comes back as it is; a block is unpacked (kind none: its payload copied, which must be
// exactly the stated size) and must pass its CRC test, else nothing.
std::optional<Bytes> ReadPackedBlock(std::span<const std::uint8_t> stored);

} // namespace hexaloom
