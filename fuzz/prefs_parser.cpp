// Property: whatever the bytes, the store parses them, and what it writes back reads as the same store
// (writing is a fixed point after one round).
#include "PrefsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    hexaloom::PrefsFile first;
    first.Parse(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const QByteArray once = first.Serialize();
    hexaloom::PrefsFile second;
    second.Parse(once);
    if (second.Serialize() != once)
        std::abort();
    return 0;
}
