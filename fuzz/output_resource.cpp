// Property: any bytes are read as a resource file without crashing (see OutputCheck.h).
#include "OutputCheck.h"
#include "ResourceReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckContents(
        hexaloom::ParseResource(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))));
    return 0;
}
