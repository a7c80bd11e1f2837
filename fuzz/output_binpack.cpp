// Property: any include text with any pack file is read without crashing (see OutputCheck.h). The first
// four bytes give the include's length (little-endian); the bytes after the include are the pack file.
#include "IncludeReader.h"
#include "OutputCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const std::size_t length =
        std::min<std::size_t>(data[0] | data[1] << 8 | data[2] << 16 | std::size_t(data[3]) << 24, size - 4);
    const QByteArray text(reinterpret_cast<const char*>(data) + 4, static_cast<qsizetype>(length));
    const QByteArray pack(reinterpret_cast<const char*>(data) + 4 + length, static_cast<qsizetype>(size - 4 - length));
    CheckContents(hexaloom::ParseInclude(text, [&](const QString&) { return hexaloom::MemorySource(pack); }));
    return 0;
}
