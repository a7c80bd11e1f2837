#pragma once
#include <cstdint>
#include <span>

namespace hexaloom {

// The common reflected CRC-32 (zlib's crc32): "abc" gives 0x352441C2.
std::uint32_t Crc32(std::span<const std::uint8_t> data);

} // namespace hexaloom
