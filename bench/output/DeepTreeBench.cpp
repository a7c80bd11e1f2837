// The folder walk on a deep tree: --create of a chain of nested folders, one file in each (default 1,000
// levels). Walked relative to open folders, the time grows with the entries, not with depth squared.
//   bench_deep_tree [levels]
#include "BenchChild.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace hexaloom;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int levels = args.size() > 1 ? args[1].toInt() : 1000;
    QTemporaryDir temp;
    // Folders named "d": the deepest file's path stays below the system's 4,096 bytes up to some 2,000 levels.
    QString folder = temp.path() + "/tree";
    QDir().mkpath(folder);
    for (int level = 0; level < levels; ++level) {
        folder += "/d";
        QDir().mkdir(folder);
        QFile file(folder + QStringLiteral("/f%1.txt").arg(level));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray::number(level));
    }
    const Run create = Best(3, [&] {
        return Spawn({QStringLiteral(HEXALOOM_EXECUTABLE), "--create", temp.path() + "/out.pbi", "--force", "--quiet",
                       temp.path() + "/tree"});
    });
    std::printf("--create of %d nested folders, one file each: %.3f s (cpu %.3f s), peak %ld MB%s\n", levels,
                create.seconds, create.cpuSeconds, create.peakKiB / 1024, create.exitCode == 0 ? "" : "  FAILED");
    return create.exitCode == 0 ? 0 : 1;
}
