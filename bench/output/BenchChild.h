#pragma once
// What the benchmarks share: reproducible generated data, and programs run as children whose wall time,
// CPU time and peak memory are their own.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace hexaloom {

// Half random bytes, half English-like text, reproducible from the seed.
void Generate(const QString& path, qint64 size, std::uint64_t seed);

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of the child: what the machine's other load leaves alone
    long peakKiB = 0;
    int exitCode = -1;
};

// Runs a program, its output to `stdoutFile` when given.
Run Spawn(const QStringList& arguments, const QString& stdoutFile = QString());

// The fastest of `repeats` runs (its own CPU time with it), the highest peak of all, any failure.
Run Best(int repeats, const std::function<Run()>& once);

} // namespace hexaloom
