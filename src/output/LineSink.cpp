#include "LineSink.h"

#include "IncludeLayout.h"
#include "LittleEndian.h"

#include <QFileDevice>

#include <bit>
#include <cstring>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace hexaloom {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// The two upper-case hex digits of every byte value.
struct HexPairs
{
    char pair[256][2];
    constexpr HexPairs() : pair()
    {
        for (int v = 0; v < 256; ++v) {
            pair[v][0] = kDigits[v >> 4];
            pair[v][1] = kDigits[v & 15];
        }
    }
};
constexpr HexPairs kHex;

inline char* PutByte(char* out, std::uint8_t v)
{
    std::memcpy(out, kHex.pair[v], 2);
    return out + 2;
}

// "$" and the little-endian long at p, most significant byte first: the eight nibbles are spread into the
// bytes of a word, most significant first, and turned into digits all at once.
inline char* PutLong(char* out, const std::uint8_t* p)
{
    std::uint64_t x = ReadLe32(p);
    x = (x & 0xFFFF0000u) << 16 | (x & 0xFFFFu);
    x = (x & 0x0000FF000000FF00ull) << 8 | (x & 0x000000FF000000FFull);
    x = (x & 0x00F000F000F000F0ull) << 4 | (x & 0x000F000F000F000Full);
    // Byte i (from the least significant) holds nibble i; the text starts with the most significant one,
    // which a big-endian store already writes first.
    if constexpr (std::endian::native == std::endian::little)
        x = __builtin_bswap64(x);
    const std::uint64_t letters = ((x + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
    x += 0x3030303030303030ull + letters * 7;
    *out = '$';
    std::memcpy(out + 1, &x, 8);
    return out + 9;
}

inline char* PutText(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

} // namespace

LineSink::LineSink(QIODevice& device, std::size_t bufferSize) : m_device(device)
{
    for (std::vector<char>& buffer : m_buffers)
        buffer.resize(std::max<std::size_t>(bufferSize, 256));
}

LineSink::~LineSink()
{
    Wait();
}

void LineSink::Wait()
{
    if (m_writing.valid() && !m_writing.get())
        m_ok = false;
}

void LineSink::Hand()
{
    Wait();
    if (m_used > 0 && m_ok) {
        const char* data = m_buffers[m_current].data();
        const auto size = static_cast<qint64>(m_used);
        auto write = [this, data, size] {
            if (m_device.write(data, size) != size)
                return false;
#ifdef Q_OS_LINUX
            // Start writing the pages out now: the final sync of an atomic save then finds little left,
            // so the disk works while the next lines are formed.
            if (auto* file = qobject_cast<QFileDevice*>(&m_device); file && file->flush() && file->handle() >= 0)
                ::sync_file_range(file->handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
            return true;
        };
        try {
            m_writing = std::async(std::launch::async, write);
        } catch (const std::exception&) {
            // No thread to spare (memory or thread limits): this buffer is written here and now.
            m_ok = write();
        }
        m_current ^= 1;
    }
    m_used = 0;
}

char* LineSink::Reserve(std::size_t n)
{
    std::vector<char>& buffer = m_buffers[m_current];
    if (buffer.size() - m_used < n) {
        Hand();
        if (m_buffers[m_current].size() < n)
            m_buffers[m_current].resize(n);
    }
    return m_buffers[m_current].data() + m_used;
}

bool LineSink::Flush()
{
    Hand();
    Wait();
    return m_ok;
}

void LineSink::Raw(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() >= m_buffers[m_current].size()) {
        Flush();
        if (m_ok && m_device.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
                        static_cast<qint64>(bytes.size()))
            m_ok = false;
        return;
    }
    char* out = Reserve(bytes.size());
    std::memcpy(out, bytes.data(), bytes.size());
    m_used += bytes.size();
}

void LineSink::Line(std::string_view text)
{
    char* out = Reserve(text.size() + 2);
    out = PutText(out, text);
    *out++ = '\r';
    *out++ = '\n';
    m_used = static_cast<std::size_t>(out - m_buffers[m_current].data());
}

void LineSink::Line(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    Line(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

void LineSink::DataLines(std::span<const std::uint8_t> bytes)
{
    using include_layout::kBytes, include_layout::kIndent, include_layout::kLongs;
    // Longest line: the prefix, ten "$XXXXXXXX" with nine commas, CR LF.
    constexpr std::size_t kMaxLine = kIndent.size() + kLongs.size() + 10 * 9 + 9 + 2;
    const std::uint8_t* p = bytes.data();
    std::size_t longCount = bytes.size() / 4;
    while (longCount > 0) {
        const std::size_t onLine = std::min<std::size_t>(longCount, 10);
        char* out = Reserve(kMaxLine);
        out = PutText(PutText(out, kIndent), kLongs);
        for (std::size_t i = 0; i < onLine; ++i) {
            if (i > 0)
                *out++ = ',';
            out = PutLong(out, p);
            p += 4;
        }
        *out++ = '\r';
        *out++ = '\n';
        m_used = static_cast<std::size_t>(out - m_buffers[m_current].data());
        longCount -= onLine;
    }
    const std::size_t rest = bytes.size() % 4;
    if (rest > 0) {
        char* out = Reserve(kMaxLine);
        out = PutText(PutText(out, kIndent), kBytes);
        for (std::size_t i = 0; i < rest; ++i) {
            if (i > 0)
                *out++ = ',';
            *out++ = '$';
            out = PutByte(out, p[i]);
        }
        *out++ = '\r';
        *out++ = '\n';
        m_used = static_cast<std::size_t>(out - m_buffers[m_current].data());
    }
}

} // namespace hexaloom
