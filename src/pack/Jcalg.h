#pragma once
// jCalg1: the LZ77 codec with a bit-oriented stream of 32-bit words that packer kind 1 uses.
// The stream is an external format: the access code in the user's program decodes it too.
#include <cstddef>
#include <cstdint>

namespace hexaloom {

// Zero-filled allocation and its release, as the compressor obtains its three work areas.
using JcAllocate = void* (*)(std::size_t bytes);
using JcRelease = void (*)(void* block);
// Called every 96 tokens with the bytes consumed and written so far; returning 0 cancels.
using JcProgress = int (*)(std::uint32_t consumed, std::uint32_t written, void* context);

// Checksum stored in the stream header; 0 for fewer than 4 bytes.
std::uint32_t JcChecksum(const std::uint8_t* data, std::size_t length);

// Compresses `length` bytes into `destination`, which holds `capacity` bytes. Returns the stream size (header
// included) or 0: work areas not obtained, cancelled, output larger than the input after a token, or output that
// would not fit the capacity (checked before every write; bytes of the destination past the stream, up to the
// capacity, may be written over). A stream that passes the size test is at most length + 13 bytes long, so that
// capacity never changes the result. Windows are clamped to 1024 .. 268435454 and to the length; the output
// depends only on the input, the window and the checksum flag (the search is fast but makes exactly the choices
// of the straightforward chain walk).
std::size_t JcCompress(const std::uint8_t* source, std::size_t length, std::uint8_t* destination, std::size_t capacity,
                       std::uint32_t window, JcAllocate allocate, JcRelease release, JcProgress progress,
                       void* progressContext, bool noChecksum);

// The "max" level: the stream of the fewest bits the parse finds (a window of 1 MiB), in tokens and token
// order the compressor's levels also write, so every decoder reads it. Returns 0 as JcCompress does (no
// room, cancelled by `progress`, which it calls once per block of at most 4096 bytes, output larger than the
// input after a token, no memory), and for an empty input.
std::size_t JcCompressMax(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                          std::size_t capacity, JcProgress progress, void* progressContext, bool noChecksum);

// Maps level 0..7 to a window (1024 .. 57344; anything else 65536) and compresses with the checksum on.
// Returns 0 when source, destination or length is 0.
std::size_t JcPackLevel(const std::uint8_t* source, std::uint8_t* destination, std::size_t length, int level,
                        std::size_t capacity);

// Decodes a stream. Never reads past `sourceLength` bytes nor writes past `destinationLength` bytes or the
// header's size. Returns the decompressed size, or 0 for missing arguments, a wrong magic, a corrupt or
// truncated stream, a size that does not fit the destination, or a checksum mismatch.
std::size_t JcDecompress(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                         std::size_t destinationLength);

} // namespace hexaloom
