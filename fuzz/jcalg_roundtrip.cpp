// Property: a stream the compressor produces decodes to its input, and compressing again gives the same bytes.
// The first input byte picks the level, the rest is the data.
#include "Jcalg.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int level = data[0] % 10;
    const std::uint8_t* source = data + 1;
    const std::size_t length = size - 1;
    std::vector<std::uint8_t> stream(length + 64);
    std::vector<std::uint8_t> copy(stream.size());
    const std::size_t n = hexaloom::JcPackLevel(source, stream.data(), length, level, stream.size());
    const std::size_t again = hexaloom::JcPackLevel(source, copy.data(), length, level, copy.size());
    if (n != again || std::memcmp(stream.data(), copy.data(), n) != 0)
        std::abort();
    if (n == 0)
        return 0;
    if (n > length + 18)
        std::abort();
    std::vector<std::uint8_t> back(length);
    if (hexaloom::JcDecompress(stream.data(), n, back.data(), back.size()) != length ||
        (length && std::memcmp(back.data(), source, length) != 0))
        std::abort();
    return 0;
}
