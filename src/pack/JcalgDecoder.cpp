// The jCalg1 decoder. Streams come from outside (packed blocks, user files), so every read is checked against
// the stream's end and every write against the header's size and the destination.
#include "Jcalg.h"

#include <cstring>

namespace hexaloom {

namespace {

std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// Most significant bit first from 32-bit little-endian words. Reading past the last whole word sets
// the truncation flag and yields 0 bits, which every caller's loop ends on.
class BitReader {
public:
    BitReader(const std::uint8_t* words, std::size_t count) : m_next(words), m_end(words + count * 4) {}

    std::uint32_t Bits(std::uint32_t n) // 1..32
    {
        if (m_avail < n && !Refill())
            return 0;
        const auto value = static_cast<std::uint32_t>(m_buffer >> (64 - n));
        m_buffer <<= n;
        m_avail -= n;
        return value;
    }

    std::uint32_t Bit()
    {
        if (m_avail == 0 && !Refill())
            return 0;
        const auto value = static_cast<std::uint32_t>(m_buffer >> 63);
        m_buffer <<= 1;
        --m_avail;
        return value;
    }

    // Returns 0 when the value does not fit 32 bits or the stream ends.
    std::uint32_t Gamma()
    {
        std::uint64_t value = 1;
        do {
            value = value * 2 + Bit();
            if (value > UINT32_MAX || m_truncated)
                return 0;
        } while (Bit());
        return m_truncated ? 0 : static_cast<std::uint32_t>(value);
    }

    bool Truncated() const { return m_truncated; }

private:
    bool Refill()
    {
        if (m_next == m_end) {
            m_truncated = true;
            m_buffer = 0;
            m_avail = 64;
            return false;
        }
        m_buffer |= std::uint64_t{ReadLe32(m_next)} << (32 - m_avail);
        m_avail += 32;
        m_next += 4;
        return true;
    }

    const std::uint8_t* m_next;
    const std::uint8_t* m_end;
    std::uint64_t m_buffer = 0;
    std::uint32_t m_avail = 0;
    bool m_truncated = false;
};

std::uint32_t Adjust(std::uint64_t distance)
{
    if (distance < 128)
        return 4;
    if (distance < 639)
        return 0;
    if (distance < 14335)
        return 1;
    if (distance < 65536)
        return 2;
    return 3;
}

} // namespace

std::size_t JcDecompress(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                         std::size_t destinationLength)
{
    if (!source || !destination || sourceLength < 10 || source[0] != 0x4A || source[1] != 0x43)
        return 0;
    const std::uint32_t size = ReadLe32(source + 2);
    const std::uint32_t checksum = ReadLe32(source + 6);
    if (size > destinationLength)
        return 0;

    BitReader in(source + 10, (sourceLength - 10) / 4);
    std::uint8_t* const out = destination;
    std::size_t written = 0;
    std::uint32_t indexBits = 8;
    std::uint64_t lastDistance = 1;
    std::uint32_t literalBits = 0; // 0 until the first literal-mode command
    std::uint32_t literalBase = 0;

    // Copies front to back so a distance below the length repeats the last bytes.
    auto copy = [&](std::uint64_t distance, std::uint64_t length) {
        if (distance == 0 || distance > written || length > size - written)
            return false;
        std::uint8_t* to = out + written;
        const std::uint8_t* from = to - distance;
        if (distance >= length) {
            std::memcpy(to, from, length);
        } else if (distance >= 8) {
            std::size_t i = 0;
            for (; i + 8 <= length; i += 8)
                std::memcpy(to + i, from + i, 8);
            for (; i < length; ++i)
                to[i] = from[i];
        } else {
            for (std::size_t i = 0; i < length; ++i)
                to[i] = from[i];
        }
        written += length;
        return true;
    };
    auto put = [&](std::uint8_t byte) {
        if (written == size)
            return false;
        out[written++] = byte;
        return true;
    };

    for (;;) {
        bool ok = true;
        if (in.Bit()) {
            if (literalBits == 0)
                return 0;
            ok = put(static_cast<std::uint8_t>(in.Bits(literalBits) + literalBase));
        } else if (in.Bit()) {
            const std::uint32_t g = in.Gamma();
            if (g == 2) {
                const std::uint32_t length = in.Gamma();
                ok = length != 0 && copy(lastDistance, length);
            } else if (g >= 3) {
                const std::uint64_t distance = (std::uint64_t{g - 3} << indexBits) | in.Bits(indexBits);
                const std::uint32_t length = in.Gamma();
                lastDistance = distance;
                ok = length != 0 && copy(distance, std::uint64_t{length} + Adjust(distance));
            } else {
                ok = false;
            }
        } else if (in.Bit() == 0) {
            const std::uint32_t distance = in.Bits(7);
            const std::uint32_t count = in.Bits(2);
            if (distance != 0) {
                lastDistance = distance;
                ok = copy(distance, count + 2);
            } else if (count == 0) {
                if (in.Truncated() || written != size)
                    return 0;
                break;
            } else {
                const std::uint32_t bits = in.Bits(count + 3);
                if (bits < 1 || bits > 31)
                    return 0;
                indexBits = bits;
            }
        } else {
            const std::uint32_t v = in.Bits(4);
            if (v == 1) {
                ok = put(0);
            } else if (v >= 2) {
                ok = copy(v - 1, 1);
            } else if (in.Bit()) {
                do {
                    if (size - written < 256)
                        return 0;
                    for (int i = 0; i < 256; ++i)
                        out[written++] = static_cast<std::uint8_t>(in.Bits(8));
                } while (in.Bit() && !in.Truncated());
            } else {
                literalBits = 7 + in.Bit();
                literalBase = literalBits == 7 ? in.Bits(8) : 0;
            }
        }
        if (!ok || in.Truncated())
            return 0;
    }

    if (checksum != 0 && JcChecksum(destination, size) != checksum)
        return 0;
    return size;
}

} // namespace hexaloom
