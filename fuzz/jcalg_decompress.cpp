// Property: any byte string decodes without reading or writing out of bounds, and a success returns
// exactly the header's size.
#include "Jcalg.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::size_t room = 1 << 16;
    if (size >= 6)
        room = std::min<std::size_t>(room,
                                     data[2] | data[3] << 8 | std::size_t{data[4]} << 16 | std::size_t{data[5]} << 24);
    // An exactly sized block so the sanitizer sees any write past the end.
    std::vector<std::uint8_t> out(room);
    const std::size_t n = hexaloom::JcDecompress(data, size, out.data(), room);
    if (n != 0 && n != room)
        std::abort();
    // Missing arguments are refused.
    if (hexaloom::JcDecompress(nullptr, size, out.data(), room) != 0)
        std::abort();
    return 0;
}
