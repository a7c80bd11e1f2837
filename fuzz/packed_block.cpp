// Property: reading a stored entry from arbitrary bytes never crashes, never reads or writes out of
// bounds, and whatever it hands back as a block's content passes the CRC it claims.
#include "Crc32.h"
#include "PackedBlock.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom;
    const std::span<const uint8_t> input(data, size);
    // The reader allocates the size the header claims; keep the fuzzer's memory bounded.
    if (HasBlockMagic(input)) {
        const auto claimed = static_cast<int32_t>(data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24);
        if (claimed > (1 << 26))
            return 0;
    }
    const auto result = ReadPackedBlock(input);
    if (!HasBlockMagic(input)) {
        if (!result || result->size() != size)
            std::abort(); // raw data comes back unchanged
    } else if (result) {
        const uint32_t crc = data[8] | data[9] << 8 | data[10] << 16 | uint32_t(data[11]) << 24;
        if (Crc32(*result) != crc)
            std::abort();
    }
    return 0;
}
