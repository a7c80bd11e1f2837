#pragma once
// The compressor's strategy, shared by the fast search (JcalgSearch.cpp) and the straightforward reference search
// (JcalgReference.cpp): both plug a Search into EncodeStream, so they can differ only in how candidates are
// found. Internal to the packing library.
#include "Jcalg.h"
#include "JcalgFormat.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace hexaloom::jcalg {

struct Match
{
    std::uint32_t distance = 0;
    std::uint32_t length = 0; // 0: no candidate with a positive gain
    std::int32_t gain = 0;
};

inline std::uint32_t Digits(std::uint32_t x)
{
    return x == 0 ? 0 : 32 - static_cast<std::uint32_t>(__builtin_clz(x));
}

// The length of an accepted candidate that matches the first `need` bytes: four bytes at a time while
// below lmax - 4, then byte by byte once a four-byte step fails; a run that reaches lmax - 4 in four-byte
// steps ends there (so a match running on to lmax is left up to 4 bytes shorter).
inline std::uint32_t ExtendMatch(const std::uint8_t* there, const std::uint8_t* here, std::uint32_t need,
                                 std::uint32_t lmax)
{
    std::uint32_t length = need;
    if (lmax >= 4) {
        while (length < lmax - 4 && std::memcmp(there + length, here + length, 4) == 0)
            length += 4;
        if (length < lmax - 4)
            while (length < lmax && there[length] == here[length])
                ++length;
    }
    return length;
}

// Gain in bits the search credits a candidate with; 0 when it is unusable or not worth it.
__attribute__((always_inline)) inline std::int32_t Gain(std::uint32_t distance, std::uint32_t length,
                                                        std::uint32_t lastDistance, std::uint32_t indexBits)
{
    std::int32_t cost;
    if (distance != lastDistance && distance <= kShortDistanceMax && length <= kShortLengthMax) {
        cost = kShortTokenCost;
    } else if (distance == lastDistance) {
        cost = 2 * (static_cast<std::int32_t>(Digits(length)) - 1) - 1;
    } else {
        const std::int64_t coded = static_cast<std::int64_t>(length) - Adjust(distance);
        if (coded < 2)
            return 0;
        cost = kNewDistanceCost + 2 * (static_cast<std::int32_t>(Digits((distance >> indexBits) + 3)) - 1) +
               2 * (static_cast<std::int32_t>(Digits(static_cast<std::uint32_t>(coded))) - 1);
    }
    const std::int64_t gain = 8 * static_cast<std::int64_t>(length) + 1 - cost;
    return gain > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(gain, INT32_MAX)) : 0;
}

// The straightforward walk of one chain, newest node first: a candidate is accepted when it matches the
// length of the one accepted before (2 at first), and replaces the best only with a greater gain. The
// reference search runs it on its ring; the fast search on its pair chains, as the whole search for short
// maximum lengths and, in a build with HEXALOOM_JCALG_CHECK_SEARCH, as the check of every search.
// `positionOf(node)` is a node's position, `older(node)` the next node (0 ends the chain).
template <class PositionOf, class Older>
Match PlainWalk(const std::uint8_t* data, std::uint32_t position, std::uint32_t window, std::uint32_t lmax,
                std::uint32_t indexBits, std::uint32_t last, std::uint32_t newest, PositionOf positionOf, Older older)
{
    const std::uint8_t* here = data + position;
    Match best;
    std::uint32_t need = 2;
    for (std::uint32_t node = newest; node; node = older(node)) {
        const std::uint32_t candidate = positionOf(node);
        if (candidate >= position)
            continue;
        const std::uint32_t distance = position - candidate;
        if (distance >= window)
            break;
        const std::uint8_t* there = data + candidate;
        if (std::memcmp(there, here, need) != 0)
            continue;
        const std::uint32_t length = ExtendMatch(there, here, need, lmax);
        const std::int32_t gain = Gain(distance, length, last, indexBits);
        if (gain > best.gain) {
            best = {distance, length, gain};
            if (distance <= 1 && length > kRunStop)
                break;
        }
        need = length;
    }
    return best;
}

// Length a candidate is credited with when the required length is `need` and it really matches `trueLength`
// bytes (>= need): the extension runs in steps of 4 while below lmax - 4, then byte by byte only after a
// failed step, so a match running on to lmax is left up to 4 bytes short.
inline std::uint32_t CappedLength(std::uint32_t need, std::uint32_t lmax)
{
    if (lmax < 4 || need + 4 >= lmax)
        return need;
    const std::uint32_t steps = (lmax - 4 - need + 3) / 4;
    return need + 4 * steps;
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

// Search requirements:
//   bool Init(const uint8_t* data, uint32_t length, uint32_t window, JcAllocate, JcRelease)
//   void Release()
//   void Insert(uint32_t position)              positions arrive once each, in order; only those < length - 1
//   optionally void InsertRange(uint32_t first, uint32_t end)   Insert of first .. end - 1
//   Match Find(uint32_t position, uint32_t lmax, uint32_t indexBits, uint32_t lastDistance)
template <class Search>
std::size_t EncodeStream(Search& search, const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                         std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                         JcProgress progress, void* progressContext, bool noChecksum)
{
    if (!source || !destination || !allocate || !release || length > UINT32_MAX)
        return 0;
    const auto n = static_cast<std::uint32_t>(length);

    LiteralMode mode = Analyse(source, std::min(n, kAnalysisStretch), LiteralMode{});
    window = std::min(std::max(std::min(window, kMaxWindow), kMinWindow), n);
    std::uint32_t maxLength = window == 0 ? 0 : window - 1;

    if (!search.Init(source, n, window, allocate, release))
        return 0;

    BitWriter out(destination, capacity);
    const std::uint32_t checksum = noChecksum ? 0 : JcChecksum(source, length);
    std::uint8_t header[kHeaderSize] = {kMagic0, kMagic1};
    WriteLe32(header + 2, static_cast<std::uint32_t>(n));
    WriteLe32(header + 6, checksum);
    out.WriteBytes(header, sizeof header);

    auto putMode = [&] {
        out.Put(0b001'0000'0, 8);
        out.Put(mode.bits - 7, 1);
        if (mode.bits == 7)
            out.Put(mode.base, 8);
    };
    auto putLiteral = [&](std::uint8_t byte) {
        if (!mode.Holds(byte)) {
            // The analysis keeps the mode for a stretch of one value and may stop short of this byte.
            mode = LiteralMode{8, 0};
            putMode();
        }
        out.Put(1u << mode.bits | static_cast<std::uint8_t>(byte - mode.base), mode.bits + 1);
    };
    std::uint32_t indexBits = kFirstIndexBits;
    std::uint32_t lastDistance = 1;
    auto putSingle = [&](std::uint32_t p, std::uint32_t reach) __attribute__((always_inline))
    {
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
                putLiteral(byte);
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
            putLiteral(byte);
            return;
#endif
        }
        for (std::uint32_t k = 1; k <= look; ++k) {
            if (source[p - k] == byte) {
                out.Put(0b001'0000 | (k + 1), 7);
                return;
            }
        }
        putLiteral(byte);
    };
    auto putMatch = [&](const Match& m) {
        if (m.distance == lastDistance) {
            out.Put(0b01, 2);
            out.PutGamma(2);
            out.PutGamma(m.length);
        } else if (m.distance <= kShortDistanceMax && m.length <= kShortLengthMax) {
            out.Put(0b000, 3);
            out.Put(m.distance, 7);
            out.Put(m.length - 2, 2);
            lastDistance = m.distance;
        } else {
            out.Put(0b01, 2);
            out.PutGamma((m.distance >> indexBits) + 3);
            out.Put(m.distance & ((1u << indexBits) - 1), indexBits);
            out.PutGamma(m.length - Adjust(m.distance));
            lastDistance = m.distance;
        }
    };
    auto finish = [&](std::size_t result) {
        search.Release();
        return result;
    };

    putMode();
    std::uint32_t sinceAnalysis = 0;
    if (n > 0) {
        if (source[0] == 0)
            out.Put(0b001'0001, 7);
        else
            putLiteral(source[0]);
        sinceAnalysis = 1;
        for (std::uint32_t q = 0; q < 2 && q + 1 < n; ++q)
            search.Insert(q);
    }

    std::uint32_t p = 1;
    std::uint32_t untilProgress = kProgressTokens; // tokens left before the next progress report
    Match kept;
    bool haveKept = false;
    while (p < n) {
        if (haveKept && kept.length == 0) {
            // With nothing found at p the step below always does the same: p goes out as a single byte and
            // what is found at p + 1 is kept. On data that does not compress most steps are such; they run
            // here without the general step's checks, up to the next analysis, the next switch of the index
            // bits and the last four bytes.
            const std::uint32_t switchAt = indexBits == 8 && window > kIndexBits9From    ? kIndexBits9From + 1
                                           : indexBits == 9 && window > kIndexBits10From ? kIndexBits10From + 1
                                                                                         : UINT32_MAX;
            const std::uint32_t stop =
                std::min({n > 3 ? n - 3 : 0,
                          sinceAnalysis < kAnalysisStretch ? p + (kAnalysisStretch - sinceAnalysis) : 0, switchAt});
            while (p < stop && kept.length == 0) {
                maxLength = std::min(maxLength, n - p);
                search.Insert(p + 1);
                kept = search.Find(p + 1, maxLength - 1, indexBits, lastDistance);
                if (kept.gain < kLazyPenalty)
                    kept.gain += kLazyPenalty;
                putSingle(p, std::min(p, window));
                ++sinceAnalysis;
                if (--untilProgress == 0) {
                    untilProgress = kProgressTokens;
                    if (progress && progress(p + 1, static_cast<std::uint32_t>(out.Written()), progressContext) == 0)
                        return finish(0);
                }
                if (out.Failed() || out.Written() > length)
                    return finish(0);
                ++p;
            }
        }
        const std::uint32_t reach = std::min(p, window);
        maxLength = std::min(maxLength, n - p);
        std::uint32_t advance = 1;
        if (maxLength <= 3) {
            putSingle(p, reach);
            haveKept = false;
        } else {
            if (sinceAnalysis >= kAnalysisStretch) {
                sinceAnalysis = 0;
                const LiteralMode next = Analyse(source + p, std::min(maxLength, kAnalysisStretch), mode);
                if (!(next == mode)) {
                    mode = next;
                    putMode();
                }
            }
            if (reach > kIndexBits9From) {
                const std::uint32_t wanted = reach > kIndexBits10From ? 10 : 9;
                if (wanted != indexBits) {
                    out.Put(0b000'0000000'01, 12);
                    out.Put(wanted, 4);
                    indexBits = wanted;
                }
            }
            const Match atP = haveKept ? kept : search.Find(p, maxLength, indexBits, lastDistance);
            search.Insert(p + 1);
            Match next = search.Find(p + 1, maxLength - 1, indexBits, lastDistance);
            if (next.gain >= kLazyPenalty)
                next.gain -= kLazyPenalty;
            const std::int32_t keptGain = next.gain + kLazyPenalty;
            if (next.length != 0 && next.gain > atP.gain) {
                putSingle(p, reach);
                kept = next;
                kept.gain = keptGain;
                haveKept = true;
            } else if (atP.length != 0 && atP.gain >= static_cast<std::int32_t>(8 - mode.bits)) {
                putMatch(atP);
                advance = atP.length;
                haveKept = false;
            } else {
                putSingle(p, reach);
                kept = next;
                kept.gain = keptGain;
                haveKept = true;
            }
        }
        sinceAnalysis += advance;
        if (--untilProgress == 0) {
            untilProgress = kProgressTokens;
            if (progress && progress(p + advance, static_cast<std::uint32_t>(out.Written()), progressContext) == 0)
                return finish(0);
        }
        if (out.Failed() || out.Written() > length)
            return finish(0);
        const std::uint32_t insertEnd = std::min(p + advance + 1, n - 1); // positions below it are inserted
        if constexpr (requires { search.InsertRange(p, n); }) {
            if (p + 2 < insertEnd)
                search.InsertRange(p + 2, insertEnd);
        } else {
            for (std::uint32_t q = p + 2; q < insertEnd; ++q)
                search.Insert(q);
        }
        p += advance;
    }

    if (progress)
        progress(p, static_cast<std::uint32_t>(out.Written()), progressContext);
    out.Put(0b000'0000000'00, 12);
    out.Finish();
    return finish(out.Failed() ? 0 : out.Written());
}

} // namespace hexaloom::jcalg
