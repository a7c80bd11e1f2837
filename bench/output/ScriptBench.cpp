// The command line for build scripts on generated data: --create of a 200-file folder with jCalg1 and zip
// (does it use every core?) and --verify of what it wrote (how many MB of stored blocks per second?);
// --verify of a 1 GiB output of each format (how fast, and how much memory at its peak?).
//   bench_script [work folder]
#include "BenchChild.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

using namespace hexaloom;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTemporaryDir temp;
    const QString work = args.size() > 1 ? args[1] : temp.path();
    const QString assets = work + "/assets";
    QDir().mkpath(assets);
    const QString exe = QStringLiteral(HEXALOOM_EXECUTABLE);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    // 200 files of 256 KB, each half random, half text: odd numbers jCalg1, even ones zip.
    for (int i = 0; i < 200; ++i)
        Generate(assets + QStringLiteral("/f%1.dat").arg(i, 3, 10, QLatin1Char('0')), 256 << 10, std::uint64_t(i) + 2);
    const QStringList packers{"--packer", "zip", "--pack", "*[13579].dat=jcalg1"};
    std::printf("200 generated files of 256 KB (half random, half text), jCalg1 and zip, %d cores\n", cores);

    bool broken = false;
    bool ok = true;
    // One core for comparison, where the system lets a child be pinned to one.
    const QString taskset = QStandardPaths::findExecutable(QStringLiteral("taskset"));
    if (!taskset.isEmpty() && cores > 1) {
        const Run one = Spawn(QStringList{taskset, "-c", "0", exe, "--create", work + "/one.pbi", "--format", "binpack",
                                          "--force", "--quiet", assets} +
                              packers);
        broken = broken || one.exitCode != 0;
        std::printf("  --create, pinned to 1 core %8.3f s (cpu %6.3f s)\n", one.seconds, one.cpuSeconds);
    }
    for (const char* format : {"binpack", "hexdata", "res"}) {
        const QString out = work + (QLatin1String(format) == QLatin1String("res") ? "/many.res" : "/many.pbi");
        const Run create =
            Spawn(QStringList{exe, "--create", out, "--format", format, "--force", "--quiet", assets} + packers);
        broken = broken || create.exitCode != 0;
        const double used = create.cpuSeconds / create.seconds;
        std::printf("  --create %-8s           %8.3f s (cpu %6.3f s)   %.2f of %d cores busy\n", format, create.seconds,
                    create.cpuSeconds, used, cores);
        ok = ok && used >= 0.8 * cores;

        const QString report = work + "/verify.txt";
        const Run verify = Best(5, [&] { return Spawn({exe, "--verify", out}, report); });
        broken = broken || verify.exitCode != 0;
        QFile file(report);
        file.open(QIODevice::ReadOnly);
        const QRegularExpressionMatch stored =
            QRegularExpression(QStringLiteral("(\\d+) bytes stored")).match(QString::fromLocal8Bit(file.readAll()));
        const double megabytes = stored.captured(1).toDouble() / 1e6;
        const double rate = megabytes / verify.seconds;
        std::printf("  --verify %-8s           %8.3f s (cpu %6.3f s)   %.1f MB stored: %.0f MB/s\n", format,
                    verify.seconds, verify.cpuSeconds, megabytes, rate);
        ok = ok && rate >= 200.0;
        QFile::remove(out);
        QFile::remove(work + "/many.binpack");
    }
    QDir(assets).removeRecursively();

    // One file of 1 GiB stored as it is: --verify's speed and peak memory on a big output of each format,
    // which must not grow with the output (target: under 64 MB).
    const QString bigFolder = work + "/big";
    QDir().mkpath(bigFolder);
    Generate(bigFolder + "/one.dat", qint64(1) << 30, 99);
    std::printf("one generated file of 1 GiB, stored (packer none)\n");
    for (const char* format : {"res", "binpack", "hexdata"}) {
        const QString out = work + (QLatin1String(format) == QLatin1String("res") ? "/big.res" : "/big.pbi");
        const Run create = Spawn({exe, "--create", out, "--format", format, "--force", "--quiet", bigFolder});
        broken = broken || create.exitCode != 0;
        const Run verify = Best(3, [&] { return Spawn({exe, "--verify", out, "--quiet"}); });
        broken = broken || verify.exitCode != 0;
        const double rate = 1073.741824 / verify.seconds;
        std::printf("  --verify %-8s 1 GiB     %8.3f s (cpu %6.3f s)   %.0f MB/s, peak %ld MB\n", format,
                    verify.seconds, verify.cpuSeconds, rate, verify.peakKiB / 1024);
        ok = ok && verify.peakKiB < 64 * 1024 && rate >= 200.0;
        QFile::remove(out);
        QFile::remove(work + "/big.binpack");
    }
    QDir(bigFolder).removeRecursively();
    for (const char* name : {"/one.pbi", "/one.binpack", "/verify.txt"})
        QFile::remove(work + name);
    // A missed target is reported, not failed: figures on a shared machine vary.
    std::printf("%s\n", broken ? "A RUN FAILED" : ok ? "targets met" : "TARGETS MISSED");
    return broken ? 1 : 0;
}
