// The jCalg1 decoder. Streams come from outside (packed blocks, user files), so every read is checked against
// the stream's end and every write against the header's size and the destination.
#include "Jcalg.h"
#include "JcalgFormat.h"

#include <cstring>

namespace hexaloom {

namespace {


// One step of gamma decoding: up to four digit/continuation pairs from the next 8 bits.
struct GammaStep
{
    std::uint8_t bits;   // 2, 4, 6 or 8 bits consumed
    std::uint8_t digits; // the digits they carry
    bool done;           // a continuation bit 0 was among them
};

struct GammaTable
{
    GammaStep steps[256];
};

constexpr GammaTable MakeGammaTable()
{
    GammaTable table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        GammaStep step{0, 0, false};
        for (int pair = 0; pair < 4 && !step.done; ++pair) {
            const unsigned bits = byte >> (6 - 2 * pair) & 3;
            step.digits = static_cast<std::uint8_t>(step.digits << 1 | bits >> 1);
            step.bits = static_cast<std::uint8_t>(step.bits + 2);
            step.done = (bits & 1) == 0;
        }
        table.steps[byte] = step;
    }
    return table;
}

constexpr GammaTable kGamma = MakeGammaTable();

// Most significant bit first from 32-bit little-endian words, held left-aligned in a 64-bit buffer. Reading
// past the last whole word yields 0 bits and sets the truncation flag, which every caller's loop ends on.
class BitReader
{
public:
    BitReader(const std::uint8_t* words, std::size_t count) : m_next(words), m_end(words + count * 4) { Fill(); }

    // Tops the buffer up to at least 33 bits while words remain.
    void Fill()
    {
        if (m_avail <= 32 && m_next != m_end) {
            m_buffer |= std::uint64_t{ReadLe32(m_next)} << (32 - m_avail);
            m_avail += 32;
            m_next += 4;
        }
    }

    std::uint32_t Peek(std::uint32_t n) const { return static_cast<std::uint32_t>(m_buffer >> (64 - n)); } // 1..32

    void Skip(std::uint32_t n)
    {
        if (n > m_avail) {
            m_truncated = true;
            m_avail = n;
        }
        m_buffer <<= n;
        m_avail -= n;
    }

    std::uint32_t Bits(std::uint32_t n) // 1..32
    {
        if (m_avail < n)
            Fill();
        const std::uint32_t value = Peek(n);
        Skip(n);
        return value;
    }

    std::uint32_t Bit() { return Bits(1); }

    // Returns 0 when the value does not fit 32 bits or the stream ends. Four digit pairs at a time.
    std::uint32_t Gamma()
    {
        std::uint64_t value = 1;
        for (;;) {
            if (m_avail < 8)
                Fill();
            const GammaStep step = kGamma.steps[Peek(8)];
            Skip(step.bits);
            value = value << (step.bits / 2) | step.digits;
            if (value > UINT32_MAX || m_truncated)
                return 0;
            if (step.done)
                return static_cast<std::uint32_t>(value);
        }
    }

    bool Truncated() const { return m_truncated; }

private:
    const std::uint8_t* m_next;
    const std::uint8_t* m_end;
    std::uint64_t m_buffer = 0;
    std::uint32_t m_avail = 0;
    bool m_truncated = false;
};

} // namespace

std::size_t JcDecompress(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                         std::size_t destinationLength)
{
    if (!source || !destination || sourceLength < jcalg::kHeaderSize || source[0] != jcalg::kMagic0 ||
        source[1] != jcalg::kMagic1)
        return 0;
    const std::uint32_t size = ReadLe32(source + 2);
    const std::uint32_t checksum = ReadLe32(source + 6);
    if (size > destinationLength)
        return 0;

    BitReader in(source + jcalg::kHeaderSize, (sourceLength - jcalg::kHeaderSize) / 4);
    std::uint8_t* const out = destination;
    std::size_t written = 0;
    std::uint32_t indexBits = jcalg::kFirstIndexBits;
    std::uint64_t lastDistance = 1;
    std::uint32_t literalBits = 0; // 0 until the first literal-mode command
    std::uint32_t literalBase = 0;

    // Copies front to back so a distance below the length repeats the last bytes.
    auto copy = [&](std::uint64_t distance, std::uint64_t length) {
        if (distance == 0 || distance > written || length > size - written)
            return false;
        std::uint8_t* to = out + written;
        const std::uint8_t* from = to - distance;
        written += length;
        if (distance >= 8 && size - written >= 8) {
            // Whole 8-byte steps may run up to 7 bytes past the copy; the room is there and later output
            // overwrites it.
            for (std::size_t i = 0; i < length; i += 8)
                std::memcpy(to + i, from + i, 8);
        } else {
            for (std::size_t i = 0; i < length; ++i)
                to[i] = from[i];
        }
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
        in.Fill();
        const std::uint32_t prefix = in.Peek(3);
        if (prefix >= 4) {
            if (literalBits == 0)
                return 0;
            // Fill left at least 33 bits (or the stream ends and Skip flags it): prefix and literal in one go.
            const std::uint32_t value = in.Peek(1 + literalBits) & ((1u << literalBits) - 1);
            in.Skip(1 + literalBits);
            ok = put(static_cast<std::uint8_t>(value + literalBase));
        } else if (prefix >= 2) {
            in.Skip(2);
            const std::uint32_t g = in.Gamma();
            if (g == 2) {
                const std::uint32_t length = in.Gamma();
                ok = length != 0 && copy(lastDistance, length);
            } else if (g >= 3) {
                const std::uint64_t distance = (std::uint64_t{g - 3} << indexBits) | in.Bits(indexBits);
                const std::uint32_t length = in.Gamma();
                lastDistance = distance;
                ok = length != 0 && copy(distance, std::uint64_t{length} + jcalg::Adjust(distance));
            } else {
                ok = false;
            }
        } else if (prefix == 0) {
            const std::uint32_t fields = in.Peek(12);
            in.Skip(12);
            const std::uint32_t distance = fields >> 2 & 0x7F;
            const std::uint32_t count = fields & 3;
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
            const std::uint32_t v = in.Peek(7) & 15;
            in.Skip(7);
            if (v == 1) {
                ok = put(0);
            } else if (v >= 2) {
                ok = copy(v - 1, 1);
            } else if (in.Bit()) {
                do {
                    if (size - written < jcalg::kRawRun)
                        return 0;
                    for (std::uint32_t i = 0; i < jcalg::kRawRun; ++i)
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
