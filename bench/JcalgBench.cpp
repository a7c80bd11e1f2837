// jCalg1 level 9 against zlib level 9 on the generated corpus: speed in MB/s (of uncompressed data) and
// ratio (compressed / original). Usage: bench_jcalg [megabytes per file, default 16] [-r rounds] [file name ...]
// The two compressors take turns on each file, `rounds` times each (default 3; more for files packed in a
// fraction of a second), and the fastest run of each counts, timed by the process's CPU time: on a shared
// machine both then meet the same load.
#include "BenchCorpus.h"
#include "Jcalg.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace hexaloom;

namespace {

template <class F> double Seconds(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Mbps(std::size_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t megabytes = 16;
    std::vector<std::string> only;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::atoi(argv[i]) > 0)
            megabytes = static_cast<std::size_t>(std::atoi(argv[i]));
        else
            only.emplace_back(argv[i]);
    }
    const std::size_t size = megabytes << 20;
    std::printf("%-12s %10s | %12s %12s %8s | %12s %8s | %s\n", "file", "MB", "jc9 comp", "jc9 decomp", "jc9 ratio",
                "zlib9 comp", "ratio", "jc9 / zlib9 speed");
    bool ok = true;
    bool faster = true;
    // The table's files, or the ones named (which may also be "wav" and "module").
    for (const std::string& name : only.empty() ? bench::CorpusNames() : only) {
        const bench::CorpusFile file{name, bench::MakeCorpusFile(name, size)};
        const auto& data = file.data;
        if (data.empty()) {
            std::printf("%-12s (no data on this machine)\n", file.name.c_str());
            continue;
        }
        std::vector<std::uint8_t> packed(data.size() + 64);
        std::size_t packedSize = 0;
        uLongf zlibSize = compressBound(data.size());
        std::vector<Bytef> zlibOut(zlibSize);
        double compressTime = 1e9;
        double zlibTime = 1e9;
        // Files that pack in a fraction of a second get more rounds (until each side has run a second, at most
        // 25): on a shared machine one slow run in three would otherwise decide their figure.
        double compressTotal = 0;
        double zlibTotal = 0;
        for (int round = 0; round < rounds || (round < 25 && std::min(compressTotal, zlibTotal) < 1.0); ++round) {
            const double jc = bench::CpuSeconds([&] {
                packedSize = JcPackLevel(data.data(), packed.data(), data.size(), 9, packed.size());
            });
            zlibSize = compressBound(data.size());
            const double z = bench::CpuSeconds([&] {
                compress2(zlibOut.data(), &zlibSize, data.data(), data.size(), Z_BEST_COMPRESSION);
            });
            compressTime = std::min(compressTime, jc);
            zlibTime = std::min(zlibTime, z);
            compressTotal += jc;
            zlibTotal += z;
        }

        std::string decompressText = "-";
        std::string ratioText = "stored";
        if (packedSize != 0) {
            std::vector<std::uint8_t> back(data.size());
            double best = 1e9;
            for (int run = 0; run < 5; ++run) {
                std::size_t n = 0;
                best = std::min(
                    best, Seconds([&] { n = JcDecompress(packed.data(), packedSize, back.data(), back.size()); }));
                if (n != data.size() || back != data) {
                    std::printf("%s: round trip FAILED\n", file.name.c_str());
                    ok = false;
                    break;
                }
            }
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.1f", Mbps(data.size(), best));
            decompressText = buffer;
            std::snprintf(buffer, sizeof buffer, "%.4f", static_cast<double>(packedSize) / data.size());
            ratioText = buffer;
        }

        const double speedRatio = zlibTime / compressTime;
        faster = faster && speedRatio >= 1.0;
        std::printf("%-12s %10.1f | %12.2f %12s %8s | %12.2f %8.4f | %5.2f%s\n", file.name.c_str(),
                    data.size() / 1048576.0, Mbps(data.size(), compressTime), decompressText.c_str(), ratioText.c_str(),
                    Mbps(data.size(), zlibTime), static_cast<double>(zlibSize) / data.size(), speedRatio,
                    speedRatio >= 1.0 ? "" : "  SLOWER");
        std::fflush(stdout);
    }
    std::printf("MB/s count uncompressed bytes (MB = 10^6 bytes); compression: process CPU time, best of %d "
                "alternating runs (more, up to 25, until each side has run a second); decompression: wall time, best of 5; ratio = compressed / "
                "original; \"stored\": jCalg1 refused data that does not compress.\n%s\n",
                rounds,
                faster ? "jCalg1 9 at least as fast as zlib 9 on every file"
                       : "jCalg1 9 SLOWER than zlib 9 on some file");
    return ok ? 0 : 1;
}
