// Property: the RTF reader takes any bytes; every character it gives comes from at least one byte of
// input, and no run it gives is empty.
#include "RtfReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qsizetype characters = 0;
    for (const RtfParagraph& paragraph : ReadRtf(bytes)) {
        for (const RtfRun& run : paragraph) {
            if (run.text.isEmpty())
                std::abort();
            characters += run.text.size();
        }
    }
    if (characters > bytes.size())
        std::abort();
    RtfToHtml(bytes);
    return 0;
}
