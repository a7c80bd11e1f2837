#pragma once
// Benchmark data, generated reproducibly: the same seed and size give the same bytes on every run; and the
// benchmarks' clock.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace hexaloom::bench {

struct CorpusFile
{
    std::string name;
    std::vector<std::uint8_t> data;
};

// English-like text: sentences of words drawn with a skewed frequency from a fixed vocabulary.
std::vector<std::uint8_t> MakeText(std::size_t size, std::uint32_t seed);
// Executables found on this machine (ELF files under /usr/bin, by name), concatenated; empty if none.
std::vector<std::uint8_t> MakeExecutable(std::size_t size);
// A BMP file of flat-coloured rectangles, 24 or 32 bits per pixel.
std::vector<std::uint8_t> MakeFlatBitmap(std::size_t size, int bitsPerPixel, std::uint32_t seed);
// Stretches of random length, each repeating a random unit of 2 to 5 bytes.
std::vector<std::uint8_t> MakePeriodic(std::size_t size, std::uint32_t seed);
std::vector<std::uint8_t> MakeRandom(std::size_t size, std::uint32_t seed);
// A WAV file of 16-bit stereo sound at 44.1 kHz: notes of a few harmonics with a decay, and some noise.
std::vector<std::uint8_t> MakeWav(std::size_t size, std::uint32_t seed);
// A four-channel tracker module: a header with 31 sample descriptions and the pattern order, patterns of
// notes that repeat with variations, then 8-bit instrument samples.
std::vector<std::uint8_t> MakeModule(std::size_t size, std::uint32_t seed);

std::vector<CorpusFile> MakeCorpus(std::size_t size);
// The corpus files' names, and one file of the corpus by name (empty for an unknown name).
std::vector<std::string> CorpusNames();
std::vector<std::uint8_t> MakeCorpusFile(const std::string& name, std::size_t size);

// The process's CPU time `f` takes: other programs on the same cores lower it far less than the wall time.
template <class F> double CpuSeconds(F&& f)
{
    const std::clock_t start = std::clock();
    f();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

} // namespace hexaloom::bench
