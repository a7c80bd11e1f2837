#include "BenchCorpus.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace hexaloom::bench {

namespace {

class Rng
{
public:
    explicit Rng(std::uint64_t seed) : m_state(seed * 2654435761u + 1) {}
    std::uint32_t Next()
    {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(m_state >> 33);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

private:
    std::uint64_t m_state;
};

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

std::vector<std::uint8_t> MakeText(std::size_t size, std::uint32_t seed)
{
    Rng rng(seed);
    static const char* const syllables[] = {"th", "e",  "an", "in", "er", "on", "re", "ed", "nd",  "ha", "at",   "en",
                                            "es", "of", "or", "nt", "ea", "ti", "to", "it", "st",  "io", "le",   "is",
                                            "ou", "ar", "as", "de", "rt", "ve", "s",  "y",  "ing", "ly", "ment", "ck",
                                            "wh", "pl", "ow", "a",  "o",  "u",  "i",  "b",  "m",   "p",  "g",    "c"};
    // A vocabulary of pseudo-words; a few very common short words sit at the front, as in English.
    std::vector<std::string> vocabulary = {"the", "of", "and", "to",   "a",  "in", "is",  "it",   "that", "was", "he",
                                           "for", "on", "are", "with", "as", "I",  "his", "they", "be",   "at"};
    while (vocabulary.size() < 6000) {
        std::string word;
        const std::uint32_t parts = 1 + rng.Below(4);
        for (std::uint32_t i = 0; i < parts; ++i)
            word += syllables[rng.Below(std::size(syllables))];
        vocabulary.push_back(word);
    }
    // Zipf-like: rank r is drawn with weight 1 / (r + 1).
    std::vector<double> cumulative(vocabulary.size());
    double total = 0;
    for (std::size_t r = 0; r < vocabulary.size(); ++r)
        cumulative[r] = total += 1.0 / static_cast<double>(r + 1);

    std::string text;
    text.reserve(size + 64);
    bool sentenceStart = true;
    std::uint32_t lineLength = 0;
    while (text.size() < size) {
        const double x = (rng.Next() / 4294967296.0) * total;
        std::string word = vocabulary[static_cast<std::size_t>(
            std::lower_bound(cumulative.begin(), cumulative.end(), x) - cumulative.begin())];
        if (sentenceStart)
            word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        sentenceStart = false;
        text += word;
        lineLength += static_cast<std::uint32_t>(word.size()) + 1;
        const std::uint32_t mark = rng.Below(100);
        if (mark < 7) {
            text += ". ";
            sentenceStart = true;
        } else if (mark < 12) {
            text += ", ";
        } else {
            text += ' ';
        }
        if (lineLength > 70) {
            text.back() = '\r';
            text += '\n';
            lineLength = 0;
            if (rng.Below(8) == 0)
                text += "\r\n";
        }
    }
    text.resize(size);
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> MakeExecutable(std::size_t size)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/bin", error))
        if (entry.is_regular_file(error) && entry.file_size(error) > 65536)
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::uint8_t> out;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < 4 || std::memcmp(bytes.data(),
                                            "\x7F"
                                            "ELF",
                                            4) != 0)
            continue;
        out.insert(out.end(), bytes.begin(), bytes.end());
        if (out.size() >= size)
            break;
    }
    if (out.size() > size)
        out.resize(size);
    return out;
}

std::vector<std::uint8_t> MakeFlatBitmap(std::size_t size, int bitsPerPixel, std::uint32_t seed)
{
    Rng rng(seed);
    const std::uint32_t bytesPerPixel = static_cast<std::uint32_t>(bitsPerPixel) / 8;
    const std::uint32_t width = 2048;
    const std::uint32_t rowBytes = (width * bytesPerPixel + 3) & ~3u;
    const std::uint32_t height = static_cast<std::uint32_t>((size - 54) / rowBytes) + 1;
    std::vector<std::uint32_t> pixels(std::size_t{width} * height, 0x00F0F0F0);
    // Flat rectangles of a few dozen colours, as in a drawing or a screenshot.
    std::vector<std::uint32_t> palette(40);
    for (auto& c : palette)
        c = rng.Next() & 0xFFFFFF;
    for (std::uint32_t i = 0; i < height * 2; ++i) {
        const std::uint32_t w = 8 + rng.Below(400);
        const std::uint32_t h = 4 + rng.Below(200);
        const std::uint32_t x0 = rng.Below(width);
        const std::uint32_t y0 = rng.Below(height);
        const std::uint32_t colour = palette[rng.Below(static_cast<std::uint32_t>(palette.size()))];
        for (std::uint32_t y = y0; y < std::min(height, y0 + h); ++y)
            std::fill_n(pixels.begin() + std::size_t{y} * width + x0, std::min(w, width - x0), colour);
    }
    std::vector<std::uint8_t> out = {'B', 'M'};
    const std::uint32_t imageBytes = rowBytes * height;
    PutLe(out, 54 + imageBytes, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);
    PutLe(out, 40, 4);
    PutLe(out, width, 4);
    PutLe(out, height, 4);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(bitsPerPixel), 2);
    PutLe(out, 0, 4);
    PutLe(out, imageBytes, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::size_t rowStart = out.size();
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t c = pixels[std::size_t{y} * width + x];
            PutLe(out, bytesPerPixel == 4 ? c | 0xFF000000u : c, static_cast<int>(bytesPerPixel));
        }
        out.resize(rowStart + rowBytes, 0);
    }
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> MakePeriodic(std::size_t size, std::uint32_t seed)
{
    Rng rng(seed);
    std::vector<std::uint8_t> out;
    out.reserve(size + 4096);
    // Units come from a small pool, so the same patterns recur within the window.
    struct Unit
    {
        std::uint32_t period;
        std::uint8_t bytes[5];
    };
    std::vector<Unit> pool(24);
    for (auto& unit : pool) {
        unit.period = 2 + rng.Below(4);
        for (auto& b : unit.bytes)
            b = static_cast<std::uint8_t>(rng.Next());
    }
    while (out.size() < size) {
        const Unit& unit = pool[rng.Below(static_cast<std::uint32_t>(pool.size()))];
        const std::uint32_t length = 16 + rng.Below(4080);
        for (std::uint32_t i = 0; i < length; ++i)
            out.push_back(unit.bytes[i % unit.period]);
    }
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> MakeRandom(std::size_t size, std::uint32_t seed)
{
    Rng rng(seed);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng.Next() >> 7);
    return out;
}

std::vector<std::uint8_t> MakeWav(std::size_t size, std::uint32_t seed)
{
    Rng rng(seed);
    const std::uint32_t frames = static_cast<std::uint32_t>((std::max<std::size_t>(size, 48) - 44) / 4);
    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
    PutLe(out, 36 + frames * 4, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);         // PCM
    PutLe(out, 2, 2);         // stereo
    PutLe(out, 44100, 4);     // frames per second
    PutLe(out, 44100 * 4, 4); // bytes per second
    PutLe(out, 4, 2);
    PutLe(out, 16, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    PutLe(out, frames * 4, 4);
    double frequency = 220;
    std::uint32_t noteLeft = 0;
    std::uint32_t noteLength = 1;
    for (std::uint32_t i = 0; i < frames; ++i, ++noteLeft) {
        if (noteLeft >= noteLength) {
            frequency = 110.0 * std::pow(2.0, rng.Below(36) / 12.0);
            noteLength = 4410 + rng.Below(22050);
            noteLeft = 0;
        }
        const double t = noteLeft / 44100.0;
        const double envelope = std::exp(-3.0 * t);
        const double tone = std::sin(2 * M_PI * frequency * t) + 0.5 * std::sin(4 * M_PI * frequency * t) +
                            0.25 * std::sin(6 * M_PI * frequency * t);
        const double noise = (static_cast<double>(rng.Below(2001)) - 1000.0) / 1000.0;
        const auto left = static_cast<std::int32_t>(9000 * envelope * tone + 300 * noise);
        const auto right = static_cast<std::int32_t>(8000 * envelope * tone - 250 * noise);
        PutLe(out, static_cast<std::uint32_t>(left) & 0xFFFF, 2);
        PutLe(out, static_cast<std::uint32_t>(right) & 0xFFFF, 2);
    }
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> MakeModule(std::size_t size, std::uint32_t seed)
{
    Rng rng(seed);
    std::vector<std::uint8_t> out(20, 0);
    std::memcpy(out.data(), "generated tune", 14);
    // 31 samples of 22 name bytes, length in words, finetune, volume, loop start and length.
    const std::uint32_t patterns = 24;
    const std::size_t sampleBytes = size > 1084 + patterns * 1024 ? size - 1084 - patterns * 1024 : 0;
    const auto sampleWords = static_cast<std::uint32_t>(std::min<std::size_t>(sampleBytes / 31 / 2, 65535));
    for (int i = 0; i < 31; ++i) {
        out.resize(out.size() + 22, 0);
        out.push_back(static_cast<std::uint8_t>(sampleWords >> 8));
        out.push_back(static_cast<std::uint8_t>(sampleWords));
        out.push_back(0);
        out.push_back(64);
        out.insert(out.end(), {0, 0, 0, 1});
    }
    out.push_back(64); // song length
    out.push_back(127);
    for (int i = 0; i < 128; ++i)
        out.push_back(static_cast<std::uint8_t>(i < 64 ? rng.Below(patterns) : 0));
    out.insert(out.end(), {'M', '.', 'K', '.'});
    // Patterns: 64 rows of 4 channels; a bass line and a beat that repeat, notes now and then.
    static const std::uint16_t periods[] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453};
    for (std::uint32_t p = 0; p < patterns; ++p) {
        for (int row = 0; row < 64; ++row) {
            for (int channel = 0; channel < 4; ++channel) {
                std::uint32_t sample = 0;
                std::uint32_t period = 0;
                if (channel == 0 && row % 4 == 0) {
                    sample = 1;
                    period = periods[(row / 16 + p) % 12];
                } else if (channel == 1 && row % 8 == 4) {
                    sample = 2;
                    period = 428;
                } else if (channel >= 2 && rng.Below(4) == 0) {
                    sample = 3 + rng.Below(6);
                    period = periods[rng.Below(12)] / (channel == 3 ? 2 : 1);
                }
                out.push_back(static_cast<std::uint8_t>((sample & 0xF0) | period >> 8));
                out.push_back(static_cast<std::uint8_t>(period));
                out.push_back(static_cast<std::uint8_t>((sample & 0x0F) << 4 | (rng.Below(8) == 0 ? 0xC : 0)));
                out.push_back(static_cast<std::uint8_t>(rng.Below(8) == 0 ? rng.Below(65) : 0));
            }
        }
    }
    // Instruments: single cycles of a waveform repeated with a decay, with a little noise.
    for (int i = 0; i < 31 && out.size() < size; ++i) {
        const std::uint32_t cycle = 16 + rng.Below(112);
        const std::uint32_t shape = rng.Below(3);
        for (std::uint32_t j = 0; j < sampleWords * 2u && out.size() < size; ++j) {
            const double phase = static_cast<double>(j % cycle) / cycle;
            const double wave = shape == 0    ? std::sin(2 * M_PI * phase)
                                : shape == 1  ? 2 * phase - 1
                                : phase < 0.5 ? 1
                                              : -1;
            const double level = 100 * std::exp(-3.0 * j / (sampleWords * 2.0)) * wave + rng.Below(5) - 2.0;
            out.push_back(static_cast<std::uint8_t>(static_cast<std::int32_t>(level)));
        }
    }
    out.resize(size);
    return out;
}

std::vector<std::string> CorpusNames()
{
    return {"text", "executable", "bitmap24", "bitmap32", "periodic2-5", "random"};
}

std::vector<std::uint8_t> MakeCorpusFile(const std::string& name, std::size_t size)
{
    if (name == "text")
        return MakeText(size, 1);
    if (name == "executable")
        return MakeExecutable(size);
    if (name == "bitmap24")
        return MakeFlatBitmap(size, 24, 2);
    if (name == "bitmap32")
        return MakeFlatBitmap(size, 32, 3);
    if (name == "periodic2-5")
        return MakePeriodic(size, 4);
    if (name == "random")
        return MakeRandom(size, 5);
    // Not in the table, but at hand for measuring the kinds the game assets hold.
    if (name == "wav")
        return MakeWav(size, 7);
    if (name == "module")
        return MakeModule(size, 8);
    return {};
}

std::vector<CorpusFile> MakeCorpus(std::size_t size)
{
    std::vector<CorpusFile> corpus;
    for (const std::string& name : CorpusNames())
        corpus.push_back({name, MakeCorpusFile(name, size)});
    return corpus;
}

} // namespace hexaloom::bench
