#include "Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace hexaloom {

std::uint32_t Crc32(std::span<const std::uint8_t> data)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    // zlib takes a 32-bit length; feed larger buffers in pieces.
    while (left > 0) {
        const std::size_t piece = std::min<std::size_t>(left, std::numeric_limits<uInt>::max());
        crc = crc32(crc, p, static_cast<uInt>(piece));
        p += piece;
        left -= piece;
    }
    return static_cast<std::uint32_t>(crc);
}

} // namespace hexaloom
