// Property: any bytes are read as a .res file without crashing or reading outside the buffer; a file
// read without error gives entries whose data lie inside it, and one with an error gives none.
#include "ResFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom::pbrun;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const std::vector<ResEntry> entries = ReadResFile(bytes, &error);
    if (!error.isEmpty() && !entries.empty())
        std::abort();
    qsizetype total = 0;
    for (const ResEntry& e : entries)
        total += e.data.size();
    if (total > bytes.size())
        std::abort();
    return 0;
}
