// Property: any text is read as a hexdata include without crashing (see OutputCheck.h).
#include "IncludeReader.h"
#include "OutputCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CheckContents(hexaloom::ParseInclude(text, {}));
    return 0;
}
