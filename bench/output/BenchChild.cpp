#include "BenchChild.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace hexaloom {

void Generate(const QString& path, qint64 size, std::uint64_t seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char* words[] = {"hexaloom", "packs", "the",  "files", "of",  "a",      "program", "into", "one",
                                  "include",  "with",  "data", "lines", "and", "checks", "every",   "block"};
    QByteArray chunk;
    qint64 written = 0;
    while (written < size) {
        chunk.clear();
        const bool text = written >= size / 2;
        while (chunk.size() < (1 << 16)) {
            if (text) {
                chunk += words[next() % 17];
                chunk += (next() % 11 == 0) ? '\n' : ' ';
            } else {
                const std::uint64_t v = next();
                chunk.append(reinterpret_cast<const char*>(&v), 8);
            }
        }
        const qint64 n = std::min<qint64>(chunk.size(), size - written);
        file.write(chunk.constData(), n);
        written += n;
    }
}

Run Spawn(const QStringList& arguments, const QString& stdoutFile)
{
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    for (const QString& a : arguments)
        storage.push_back(a.toLocal8Bit());
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = stdoutFile.toLocal8Bit();
    if (!stdoutFile.isEmpty())
        posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    Run run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

Run Best(int repeats, const std::function<Run()>& once)
{
    Run best;
    long peak = 0;
    int failure = 0;
    for (int i = 0; i < repeats; ++i) {
        const Run run = once();
        peak = std::max(peak, run.peakKiB);
        if (run.exitCode != 0)
            failure = run.exitCode;
        if (i == 0 || run.seconds < best.seconds)
            best = run;
    }
    best.peakKiB = peak;
    if (failure != 0)
        best.exitCode = failure;
    return best;
}

} // namespace hexaloom
