// Property: the parameters a line splits into, written back (quoted where they hold no quote), split
// into the same parameters; and applying them never touches the file system beyond the probe.
#include "CommandLine.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom;
    const QString line = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList parameters = SplitCommandLine(line);
    QStringList written;
    for (const QString& parameter : parameters) {
        if (parameter.contains(QLatin1Char('"'))) {
            // Only an unquoted parameter keeps quotes, and it has no space and does not start with one.
            if (parameter.contains(QLatin1Char(' ')) || parameter.startsWith(QLatin1Char('"')))
                std::abort();
            written.append(parameter);
        } else {
            written.append(QLatin1Char('"') + parameter + QLatin1Char('"'));
        }
    }
    if (SplitCommandLine(written.join(QLatin1Char(' '))) != parameters)
        std::abort();
    const CommandLine parsed = ParseParameters(parameters, [](const QString& path) { return qint64(path.size()); });
    if (parsed.silentoutput.contains(QLatin1Char('"')) || parsed.projectdir.isEmpty() != parsed.projectfile.isEmpty())
        std::abort();
    return 0;
}
