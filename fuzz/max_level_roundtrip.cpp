// Property: the max level's streams decode with the program's decoders to their input (jCalg1 with
// JcDecompress, zip with zlib's uncompress), are never longer than level 9's, and come out the same twice.
// The first input byte picks the packer (even: jCalg1, odd: zip), the rest is the data.
#include "PackedBlock.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace hexaloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int kind = data[0] % 2 ? PackerZip : PackerJcalg1;
    const std::uint8_t* source = data + 1;
    const std::size_t length = size - 1;
    const std::size_t capacity = PayloadCapacity(length);
    std::vector<std::uint8_t> stream(capacity);
    std::vector<std::uint8_t> again(capacity);
    std::vector<std::uint8_t> level9(capacity);
    const std::size_t n = PackPayload(source, length, stream.data(), capacity, kPackLevelMax, kind);
    const std::size_t m = PackPayload(source, length, again.data(), capacity, kPackLevelMax, kind);
    const std::size_t n9 = PackPayload(source, length, level9.data(), capacity, kPackLevelDefault, kind);
    if (n != m || std::memcmp(stream.data(), again.data(), n) != 0)
        std::abort();
    if (n9 != 0 && (n == 0 || n > n9))
        std::abort();
    if (n == 0)
        return 0;
    std::vector<std::uint8_t> back(length);
    if (UnpackPayload(stream.data(), n, back.data(), back.size(), kind) == 0 ||
        std::memcmp(back.data(), source, length) != 0)
        std::abort();
    return 0;
}
