// One binpack Create in a process of its own, its address space capped a given number of MiB above what
// it uses once it has started, so that a test sees what Create does when memory runs out.
// create_under_limit <headroom MiB> <threads> <output> <packer>=<file>...
// The exit code is the CreateStatus; the messages go to stderr.
#include "AppSettings.h"
#include "ConsolePlatform.h"
#include "CreateOutput.h"
#include "Document.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/resource.h>

namespace {

// The address space in use (VmSize of /proc/self/status), in bytes; 0 when unknown.
long long AddressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace hexaloom;
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4)
        return 100;
    AppSettings settings;
    Document document(settings);
    document.setOutputFormat(OutputBinpack);
    for (const QString& row : arguments.mid(4)) {
        const qsizetype equals = row.indexOf(QLatin1Char('='));
        const int added = document.model().AddFileRow(row.mid(equals + 1), PackerNone, QStringLiteral("1"));
        document.model().SetCellText(FileListModel::PackerColumn, added, row.left(equals));
    }
    ConsolePlatform console;
    CreateOptions options;
    options.threads = arguments.at(2).toInt();

    const long long inUse = AddressSpaceInUse();
    const rlimit limit{static_cast<rlim_t>(inUse + arguments.at(1).toLongLong() * 1024 * 1024),
                       static_cast<rlim_t>(inUse + arguments.at(1).toLongLong() * 1024 * 1024)};
    if (inUse == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
        return 101;
    return static_cast<int>(CreateOutput(document, console, arguments.at(3), options).status);
}
