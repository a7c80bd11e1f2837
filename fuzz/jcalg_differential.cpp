// Property: the fast compressor search gives exactly the stream of the straightforward reference search.
// The first input byte picks the window (small windows make the window edge reachable), the rest is the data.
#include "Jcalg.h"
#include "JcalgReference.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void* Allocate(std::size_t bytes)
{
    return std::calloc(bytes, 1);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static constexpr std::uint32_t windows[] = {1024, 1500, 2048, 4096, 65536, 100000};
    const std::uint32_t window = windows[data[0] % 6];
    const std::uint8_t* source = data + 1;
    const std::size_t length = size - 1;
    std::vector<std::uint8_t> fast(length + 64);
    std::vector<std::uint8_t> reference(length + 64);
    const std::size_t a = hexaloom::JcCompress(source, length, fast.data(), fast.size(), window, Allocate, std::free,
                                               nullptr, nullptr, false);
    const std::size_t b = hexaloom::JcCompressReference(source, length, reference.data(), reference.size(), window,
                                                        Allocate, std::free, nullptr, nullptr, false);
    if (a != b || std::memcmp(fast.data(), reference.data(), a) != 0)
        std::abort();
    return 0;
}
