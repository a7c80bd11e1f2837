#pragma once
// Little-endian integers in byte buffers, the order of every file format the program writes and reads.
#include <cstddef>
#include <cstdint>

namespace hexaloom {

inline std::uint16_t ReadLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The low `width` bytes of `value`, least significant first.
inline void WriteLe(std::uint8_t* p, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline void WriteLe16(std::uint8_t* p, std::uint16_t value)
{
    WriteLe(p, value, 2);
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t value)
{
    WriteLe(p, value, 4);
}

// Signed values are sign-extended: -1 gives eight FF bytes.
inline void WriteLe64(std::uint8_t* p, std::int64_t value)
{
    WriteLe(p, static_cast<std::uint64_t>(value), 8);
}

} // namespace hexaloom
