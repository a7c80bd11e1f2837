#pragma once
// Text output in CR LF lines through two bounded buffers: lines are written as they are formed, so no
// block's whole text is ever held in memory. While one buffer is being written to the device on a helper
// thread the next one is filled, so forming the text and writing it overlap.
#include <QIODevice>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <future>
#include <span>
#include <string_view>
#include <vector>

namespace hexaloom {

class LineSink
{
public:
    explicit LineSink(QIODevice& device, std::size_t bufferSize = 1 << 20);
    ~LineSink();
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;

    void Raw(std::span<const std::uint8_t> bytes);
    void Line(std::string_view text);
    void Line(const QString& text);
    // Data.l / Data.b lines spelling out `bytes` as the access code reads them back: ten
    // little-endian longs per line, then the leftover longs, then the leftover bytes.
    void DataLines(std::span<const std::uint8_t> bytes);

    // Writes what is buffered and waits for it; false once any write has failed. The device may be
    // used directly only after this.
    bool Flush();
    bool ok() const { return m_ok; }

private:
    char* Reserve(std::size_t n);
    // Hands the filled buffer to the helper thread and switches to the other one.
    void Hand();
    void Wait();

    QIODevice& m_device;
    std::vector<char> m_buffers[2];
    int m_current = 0;
    std::size_t m_used = 0;
    std::future<bool> m_writing;
    bool m_ok = true;
};

} // namespace hexaloom
