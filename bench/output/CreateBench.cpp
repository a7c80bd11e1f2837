// Create's wall time and peak memory on generated data; hexdata against the disk itself (dd writing as many
// bytes, synced).
//   bench_create [--many] [work folder]      --many: only the many-files part
// Every measured Create runs in a child process of its own, so its peak memory is its own.
#include "AppSettings.h"
#include "BenchChild.h"
#include "CreateOutput.h"
#include "Document.h"
#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

using namespace hexaloom;

namespace {

class QuietPlatform : public Platform
{
public:
    QString OpenFileRequester(const QString&, const QString&, const QString&, int) override { return {}; }
    QStringList OpenFilesRequester(const QString&, const QString&, const QString&, int) override { return {}; }
    QString SaveFileRequester(const QString&, const QString&, const QString&, int) override { return {}; }
    QString PathRequester(const QString&, const QString&) override { return {}; }
    void Message(const QString&, const QString& text, MessageIcon) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    bool AskYesNo(const QString&, const QString&, bool answer) override { return answer; }
    bool StartProgram(const QString&, const QStringList&) override { return false; }
    bool OpenUrl(const QString&) override { return false; }
    bool EscapePressed() override { return false; }
};

// Child: bench_create --create <format> <threads> <output> <packer> <file>...
int CreateChild(const QStringList& args)
{
    AppSettings settings;
    Document document(settings);
    document.setOutputFormat(args.value(0).toInt());
    const int threads = args.value(1).toInt();
    const QString output = args.value(2);
    const QString packer = args.value(3);
    for (const QString& file : args.mid(4)) {
        const int row = document.model().AddFileRow(file, 0, QStringLiteral("1"));
        document.model().SetCellText(FileListModel::PackerColumn, row, packer);
    }
    QuietPlatform platform;
    CreateOptions options;
    options.threads = threads;
    const CreateResult result = CreateOutput(document, platform, output, options);
    return result.status == CreateStatus::Written ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--create"))
        return CreateChild(args.mid(2));

    const bool manyOnly = args.removeAll(QStringLiteral("--many")) > 0;
    QTemporaryDir temp;
    const QString work = args.size() > 1 ? args[1] : temp.path();
    QDir().mkpath(work);
    const QString self = QCoreApplication::applicationFilePath();
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool ok = true;

    bool broken = false;
    const qint64 bigSize = qint64(50) << 20;
    if (!manyOnly) {
        const QString big = work + "/big.bin";
        Generate(big, bigSize, 1);
        std::printf("one generated file of %lld bytes (half random, half text), best of 5, %d cores\n",
                    static_cast<long long>(bigSize), cores);

        // Every run writes a new file: replacing a large old one costs its release in the file system, which
        // would be measured for one side only.
        const QString xxd = QStandardPaths::findExecutable(QStringLiteral("xxd"));
        // Hexdata and `dd conv=fsync` writing as many bytes take turns, so both meet the same load; the
        // first hexdata run tells how many bytes that is.
        const QString dd = QStandardPaths::findExecutable(QStringLiteral("dd"));
        Run hexdata;
        Run disk;
        qint64 hexBytes = 0;
        for (int round = 0; round < 5; ++round) {
            QFile::remove(work + "/big_hex.pbi");
            const Run h =
                Spawn({self, "--create", QString::number(OutputHexdata), "0", work + "/big_hex.pbi", "none", big});
            hexBytes = QFileInfo(work + "/big_hex.pbi").size();
            const long peak = std::max(hexdata.peakKiB, h.peakKiB);
            const bool failed = hexdata.exitCode != 0 && round > 0;
            if (round == 0 || h.seconds < hexdata.seconds)
                hexdata = h;
            hexdata.peakKiB = peak;
            if (failed || h.exitCode != 0)
                hexdata.exitCode = 1;
            if (dd.isEmpty() || hexBytes <= 0)
                continue;
            QFile::remove(work + "/big_dd.bin");
            const Run d =
                Spawn({dd, "if=/dev/zero", "of=" + work + "/big_dd.bin", "bs=1M", "count=" + QString::number(hexBytes),
                       "iflag=count_bytes", "conv=fsync", "status=none"});
            if (round == 0 || d.seconds < disk.seconds)
                disk = d;
        }
        const Run binpack = Best(5, [&] {
            QFile::remove(work + "/big_bin.pbi");
            QFile::remove(work + "/big_bin.binpack");
            return Spawn({self, "--create", QString::number(OutputBinpack), "0", work + "/big_bin.pbi", "none", big});
        });
        std::printf("  hexdata, packer none      %8.3f s (cpu %6.3f s)   peak %6.1f MB (%.2f x input)\n",
                    hexdata.seconds, hexdata.cpuSeconds, hexdata.peakKiB / 1024.0,
                    hexdata.peakKiB * 1024.0 / double(bigSize));
        std::printf("  binpack, packer none      %8.3f s (cpu %6.3f s)   peak %6.1f MB\n", binpack.seconds,
                    binpack.cpuSeconds, binpack.peakKiB / 1024.0);
        if (!dd.isEmpty() && disk.exitCode == 0) {
            const double ratio = hexdata.seconds / disk.seconds;
            std::printf("  dd conv=fsync, %lld bytes %8.3f s (cpu %6.3f s)   hexdata takes %.2f x as long (target <= "
                        "1.5)\n",
                        static_cast<long long>(hexBytes), disk.seconds, disk.cpuSeconds, ratio);
            ok = ok && ratio <= 1.5;
        } else {
            std::printf("  dd not available: no comparison with the disk\n");
        }
        broken = hexdata.exitCode != 0 || binpack.exitCode != 0;
        ok = ok && hexdata.peakKiB * 1024.0 <= 2.0 * double(bigSize);
        ok = ok && binpack.seconds <= hexdata.seconds;
        if (!xxd.isEmpty()) {
            const Run reference = Best(5, [&] {
                QFile::remove(work + "/big_xxd.h");
                return Spawn({xxd, "-i", big}, work + "/big_xxd.h");
            });
            const double ratio = reference.seconds / hexdata.seconds;
            std::printf("  xxd -i > file             %8.3f s (cpu %6.3f s)   hexdata is %.1f x faster (cpu %.1f x)\n",
                        reference.seconds, reference.cpuSeconds, ratio, reference.cpuSeconds / hexdata.cpuSeconds);
            ok = ok && ratio >= 25.0;
        } else {
            std::printf("  xxd not installed: no comparison\n");
        }
        for (const char* name :
             {"/big_hex.pbi", "/big_bin.pbi", "/big_bin.binpack", "/big_xxd.h", "/big_dd.bin", "/big.bin"})
            QFile::remove(work + name);
    }

    // 200 files of 256 KB, each half random, half text.
    QStringList files;
    for (int i = 0; i < 200; ++i) {
        files.append(work + QStringLiteral("/f%1.bin").arg(i, 3, 10, QLatin1Char('0')));
        Generate(files.last(), 256 << 10, std::uint64_t(i) + 2);
    }
    std::printf("200 generated files of 256 KB (each half random, half text), hexdata include\n");
    for (const char* packer : {"zip", "jCalg1"}) {
        double one = 0;
        for (int threads : {1, cores}) {
            const Run run = Best(1, [&] {
                QFile::remove(work + "/many.pbi");
                return Spawn(QStringList{self, "--create", QString::number(OutputHexdata), QString::number(threads),
                                         work + "/many.pbi", packer} +
                             files);
            });
            broken = broken || run.exitCode != 0;
            if (threads == 1)
                one = run.seconds;
            std::printf(
                "  %-6s on %d core%s %8.3f s (cpu %6.3f s)%s\n", packer, threads, threads == 1 ? " " : "s", run.seconds,
                run.cpuSeconds,
                threads == 1 ? "" : qPrintable(QStringLiteral("   (%1 x one core)").arg(one / run.seconds, 0, 'f', 2)));
            if (cores == 1)
                break;
        }
    }
    for (const QString& file : files)
        QFile::remove(file);
    QFile::remove(work + "/many.pbi");
    // A missed target is reported, not failed: figures on a shared machine vary. A Create that did not
    // write its output is a failure.
    std::printf("%s\n", broken ? "A CREATE FAILED" : ok ? "targets met" : "TARGETS MISSED");
    return broken ? 1 : 0;
}
