#pragma once
// Text output in CR LF lines through a small buffer: lines are written as they are formed, so no
// block's whole text is ever held in memory.
#include <QIODevice>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace hexaloom {

class LineSink
{
public:
    explicit LineSink(QIODevice& device, std::size_t bufferSize = 1 << 16);

    void Raw(std::span<const std::uint8_t> bytes);
    void Line(std::string_view text);
    void Line(const QString& text);
    // Data.l / Data.b lines spelling out `bytes` as the access code reads them back: ten
    // little-endian longs per line, then the leftover longs, then the leftover bytes.
    void DataLines(std::span<const std::uint8_t> bytes);

    // Writes what is buffered; false once any write has failed.
    bool Flush();
    bool ok() const { return m_ok; }

private:
    char* Reserve(std::size_t n);

    QIODevice& m_device;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    bool m_ok = true;
};

} // namespace hexaloom
