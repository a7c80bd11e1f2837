// Property: any bytes, as a PureBasic program, are tokenised, parsed, checked and run by pbrun (with
// small limits, in a folder of their own) without crashing, hanging or reading outside buffers; a run
// that ends in an error says why, and one that ends well says nothing.
#include "Interpreter.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom::pbrun;
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("program.pb"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    for (const char* name : {"6.12-windows-x64-unicode", "4.20-linux-x86-ascii"}) {
        SourceCache cache;
        RunOptions options;
        options.workDir = dir.path();
        options.memoryLimit = 16 << 20;
        options.stepLimit = 20000;
        options.depthLimit = 100;
        options.strictMemory = true;
        const RunResult result = Run(cache, path, *Target::Parse(QLatin1String(name)), options);
        const bool quiet = result.diagnostics.isEmpty() && result.leaks.isEmpty();
        if ((result.phase == Phase::Ok) != quiet)
            std::abort();
    }
    return 0;
}
