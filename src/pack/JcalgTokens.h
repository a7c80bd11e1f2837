#pragma once
// How tokens go into a jCalg1 stream: the bit writer, the literal modes and the coder state the stream keeps
// (literal mode, index bits, last distance). Both compressors write through it: the strategy of level 9
// (JcalgEncoder.h) and the optimal parse (JcalgOptimal.cpp), so the two cannot code a token differently.
// Internal to the packing library.
#include "JcalgFormat.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace hexaloom::jcalg {

inline std::uint32_t Digits(std::uint32_t x)
{
    return x == 0 ? 0 : 32 - static_cast<std::uint32_t>(__builtin_clz(x));
}

// Bits of the gamma code of a value >= 2 (BitWriter::PutGamma): two per digit after the leading 1.
inline std::uint32_t GammaBits(std::uint32_t value)
{
    return 2 * (Digits(value) - 1);
}

// The index bits a position `reach` bytes into the data codes new distances with.
inline std::uint32_t IndexBitsFor(std::uint32_t reach)
{
    return reach > kIndexBits10From ? 10 : reach > kIndexBits9From ? 9 : kFirstIndexBits;
}

// Bits are collected most significant first into 32-bit little-endian words; a word is stored only when it
// fits the destination, and nothing is written past the destination's capacity.
class BitWriter
{
public:
    BitWriter(std::uint8_t* destination, std::size_t capacity) : m_out(destination), m_capacity(capacity) {}

    bool WriteBytes(const std::uint8_t* bytes, std::size_t count)
    {
        if (m_failed || m_capacity - m_written < count) {
            m_failed = true;
            return false;
        }
        std::memcpy(m_out + m_written, bytes, count);
        m_written += count;
        return true;
    }

    // Whether a put completes a word follows the lengths of the tokens, which the processor predicts badly
    // (on audio a branch on it went wrong once per three bytes). So with room for a word, the word in the
    // making is stored after every put, and only a complete one moves the count of bytes written on: the
    // next put stores over an incomplete one. The last four bytes of the destination take complete words
    // only.
    __attribute__((always_inline)) void Put(std::uint32_t value, std::uint32_t bits)
    {
        m_acc = (m_acc << bits) | value;
        m_count += bits;
        if (m_capacity - m_written < 4) [[unlikely]] {
            if (m_count >= 32) {
                m_count -= 32;
                StoreWord(static_cast<std::uint32_t>(m_acc >> m_count));
                m_acc &= (std::uint64_t{1} << m_count) - 1;
            }
            return;
        }
        const std::uint32_t complete = m_count >> 5; // 1 when it holds a complete word (it holds at most 63 bits)
        m_count &= 31;
        const std::uint32_t word = ToLittleEndian(static_cast<std::uint32_t>(m_acc >> m_count));
        std::memcpy(m_out + m_written, &word, 4);
        m_written += 4 * complete;
        m_acc &= (std::uint64_t{1} << m_count) - 1;
    }

    // Values >= 2: the digits after the leading 1, each followed by 1 when another digit follows.
    void PutGamma(std::uint32_t value)
    {
        for (int i = static_cast<int>(Digits(value)) - 2; i >= 0; --i)
            Put(((value >> i) & 1u) << 1 | (i > 0 ? 1u : 0u), 2);
    }

    void Finish()
    {
        if (m_count > 0)
            Put(0, 32 - m_count);
    }

    bool Failed() const { return m_failed; }
    // Header and completed words.
    std::size_t Written() const { return m_written; }

private:
    static std::uint32_t ToLittleEndian(std::uint32_t word)
    {
        if constexpr (std::endian::native == std::endian::little)
            return word;
        else
            return __builtin_bswap32(word);
    }

    void StoreWord(std::uint32_t word)
    {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                       static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
        WriteBytes(bytes, 4);
    }

    std::uint8_t* m_out;
    std::size_t m_capacity;
    std::size_t m_written = 0;
    std::uint64_t m_acc = 0;
    std::uint32_t m_count = 0;
    bool m_failed = false;
};

struct LiteralMode
{
    std::uint32_t bits = 8;
    std::uint32_t base = 0;
    bool operator==(const LiteralMode&) const = default;

    bool Holds(std::uint8_t byte) const { return bits == 8 || static_cast<std::uint8_t>(byte - base) < 128; }
};

// 8 bits when the stretch spans more than 128 values, 7 bits from its smallest value otherwise; a stretch of
// one value keeps the current mode.
inline LiteralMode Analyse(const std::uint8_t* data, std::size_t count, LiteralMode current)
{
    if (count == 0)
        return current;
    // Plain reductions, which the compiler vectorises.
    std::uint8_t lo = 255;
    std::uint8_t hi = 0;
    for (std::size_t i = 0; i < count; ++i) {
        lo = std::min(lo, data[i]);
        hi = std::max(hi, data[i]);
    }
    if (lo == hi)
        return current;
    if (hi - lo > 127)
        return LiteralMode{8, 0};
    return LiteralMode{7, lo};
}

// The stream's tokens with the state they change. Every single byte is coded as the compressor always
// codes it: a zero byte as the zero token, else the nearest equal byte among the 14 before, else a literal.
class TokenWriter
{
public:
    TokenWriter(const std::uint8_t* source, std::uint8_t* destination, std::size_t capacity)
        : out(destination, capacity), m_source(source)
    {
    }

    void PutHeader(std::uint32_t length, std::uint32_t checksum)
    {
        std::uint8_t header[kHeaderSize] = {kMagic0, kMagic1};
        WriteLe32(header + 2, length);
        WriteLe32(header + 6, checksum);
        out.WriteBytes(header, sizeof header);
    }

    void PutMode()
    {
        out.Put(0b001'0000'0, 8);
        out.Put(mode.bits - 7, 1);
        if (mode.bits == 7)
            out.Put(mode.base, 8);
    }

    void SwitchMode(LiteralMode next)
    {
        if (!(next == mode)) {
            mode = next;
            PutMode();
        }
    }

    void PutLiteral(std::uint8_t byte)
    {
        if (!mode.Holds(byte)) {
            // The analysis keeps the mode for a stretch of one value and may stop short of this byte.
            mode = LiteralMode{8, 0};
            PutMode();
        }
        out.Put(1u << mode.bits | static_cast<std::uint8_t>(byte - mode.base), mode.bits + 1);
    }

    // The first byte has nothing before it to repeat.
    void PutFirst(std::uint8_t byte)
    {
        if (byte == 0)
            out.Put(0b001'0001, 7);
        else
            PutLiteral(byte);
    }

    // The byte at p, with `reach` bytes before it to look back over.
    __attribute__((always_inline)) void PutSingle(std::uint32_t p, std::uint32_t reach)
    {
        const std::uint8_t* const source = m_source;
        const std::uint8_t byte = source[p];
        if (byte == 0) {
            out.Put(0b001'0001, 7);
            return;
        }
        const std::uint32_t look = std::min(reach, kNearByteMax);
        if (look == kNearByteMax && p >= 16) {
#ifdef __SSE2__
            // The 16 bytes before p against the byte at once: bit i stands for distance 16 - i, so the nearest
            // equal byte among distances 1 to 14 is the highest of bits 2 to 15.
            const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + p - 16));
            const auto equal = static_cast<std::uint32_t>(
                                   _mm_movemask_epi8(_mm_cmpeq_epi8(before, _mm_set1_epi8(static_cast<char>(byte))))) &
                               0xFFFCu;
            // The short token and the literal are both made and one put takes the one that applies (fewer
            // instructions than a put on each road); only a literal outside the mode takes the long road.
            // Whether the byte is near is a coin toss on audio: the choice is made with a mask, hidden from
            // the compiler, which would otherwise branch on it.
            if (!mode.Holds(byte) && equal == 0) [[unlikely]] {
                PutLiteral(byte);
                return;
            }
            std::uint32_t near = 0u - static_cast<std::uint32_t>(equal != 0);
            asm("" : "+r"(near));
            const std::uint32_t k = 16 - (31 - static_cast<std::uint32_t>(__builtin_clz(equal | 1u)));
            const std::uint32_t literal = 1u << mode.bits | static_cast<std::uint8_t>(byte - mode.base);
            out.Put(((0b001'0000 | (k + 1)) & near) | (literal & ~near), (7 & near) | ((mode.bits + 1) & ~near));
            return;
#else
            // The nearest equal byte among the 14 before, eight at a time: each word is loaded nearest byte
            // first, and the lowest zero byte of word ^ byte is found exactly.
            constexpr std::uint64_t ones = 0x0101010101010101ull;
            for (std::uint32_t part = 0; part < 2; ++part) {
                std::uint64_t w;
                std::memcpy(&w, source + p - 8 * (part + 1), 8);
                if constexpr (std::endian::native == std::endian::little)
                    w = __builtin_bswap64(w);
                const std::uint64_t x = w ^ (ones * byte);
                std::uint64_t zero = (x - ones) & ~x & (ones << 7);
                if (part == 1)
                    zero &= (std::uint64_t{1} << 48) - 1; // distances 9 to 14
                if (zero != 0) {
                    const auto k = 8 * part + static_cast<std::uint32_t>(__builtin_ctzll(zero) >> 3) + 1;
                    out.Put(0b001'0000 | (k + 1), 7);
                    return;
                }
            }
            PutLiteral(byte);
            return;
#endif
        }
        for (std::uint32_t k = 1; k <= look; ++k) {
            if (source[p - k] == byte) {
                out.Put(0b001'0000 | (k + 1), 7);
                return;
            }
        }
        PutLiteral(byte);
    }

    // A match at the last distance goes out as a repeat, a near short one as the short token, any other with
    // its distance coded anew.
    void PutMatch(std::uint32_t distance, std::uint32_t length)
    {
        if (distance == lastDistance) {
            out.Put(0b01, 2);
            out.PutGamma(2);
            out.PutGamma(length);
        } else if (distance <= kShortDistanceMax && length <= kShortLengthMax) {
            out.Put(0b000, 3);
            out.Put(distance, 7);
            out.Put(length - 2, 2);
            lastDistance = distance;
        } else {
            out.Put(0b01, 2);
            out.PutGamma((distance >> indexBits) + 3);
            out.Put(distance & ((1u << indexBits) - 1), indexBits);
            out.PutGamma(length - Adjust(distance));
            lastDistance = distance;
        }
    }

    // The index bits a position `reach` bytes into the data needs; switched before the token there, never back.
    void UpdateIndexBits(std::uint32_t reach)
    {
        const std::uint32_t wanted = IndexBitsFor(reach);
        if (wanted > indexBits) {
            out.Put(0b000'0000000'01, 12);
            out.Put(wanted, 4);
            indexBits = wanted;
        }
    }

    void PutEnd()
    {
        out.Put(0b000'0000000'00, 12);
        out.Finish();
    }

    BitWriter out;
    LiteralMode mode;
    std::uint32_t indexBits = kFirstIndexBits;
    std::uint32_t lastDistance = 1;

private:
    const std::uint8_t* m_source;
};

} // namespace hexaloom::jcalg
