#include "LineSink.h"

#include <cstring>

namespace hexaloom {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

inline char* PutLong(char* out, const std::uint8_t* p)
{
    *out++ = '$';
    for (int i = 3; i >= 0; --i) {
        *out++ = kDigits[p[i] >> 4];
        *out++ = kDigits[p[i] & 15];
    }
    return out;
}

inline char* PutText(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

} // namespace

LineSink::LineSink(QIODevice& device, std::size_t bufferSize)
    : m_device(device)
    , m_buffer(std::max<std::size_t>(bufferSize, 256))
{
}

char* LineSink::Reserve(std::size_t n)
{
    if (m_buffer.size() - m_used < n) {
        Flush();
        if (m_buffer.size() < n)
            m_buffer.resize(n);
    }
    return m_buffer.data() + m_used;
}

bool LineSink::Flush()
{
    if (m_used > 0 && m_ok) {
        if (m_device.write(m_buffer.data(), static_cast<qint64>(m_used)) != static_cast<qint64>(m_used))
            m_ok = false;
    }
    m_used = 0;
    return m_ok;
}

void LineSink::Raw(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() >= m_buffer.size()) {
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
    m_used = static_cast<std::size_t>(out - m_buffer.data());
}

void LineSink::Line(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    Line(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

void LineSink::DataLines(std::span<const std::uint8_t> bytes)
{
    constexpr std::string_view longs = "  Data.l ";
    constexpr std::string_view singles = "  Data.b ";
    // Longest line: the prefix, ten "$XXXXXXXX" with nine commas, CR LF.
    constexpr std::size_t kMaxLine = 9 + 10 * 9 + 9 + 2;
    const std::uint8_t* p = bytes.data();
    std::size_t longCount = bytes.size() / 4;
    while (longCount > 0) {
        const std::size_t onLine = std::min<std::size_t>(longCount, 10);
        char* out = Reserve(kMaxLine);
        out = PutText(out, longs);
        for (std::size_t i = 0; i < onLine; ++i) {
            if (i > 0)
                *out++ = ',';
            out = PutLong(out, p);
            p += 4;
        }
        *out++ = '\r';
        *out++ = '\n';
        m_used = static_cast<std::size_t>(out - m_buffer.data());
        longCount -= onLine;
    }
    const std::size_t rest = bytes.size() % 4;
    if (rest > 0) {
        char* out = Reserve(kMaxLine);
        out = PutText(out, singles);
        for (std::size_t i = 0; i < rest; ++i) {
            if (i > 0)
                *out++ = ',';
            *out++ = '$';
            *out++ = kDigits[p[i] >> 4];
            *out++ = kDigits[p[i] & 15];
        }
        *out++ = '\r';
        *out++ = '\n';
        m_used = static_cast<std::size_t>(out - m_buffer.data());
    }
}

} // namespace hexaloom
