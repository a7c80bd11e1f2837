// The jCalg1 codec: stream facts, round trips, every decoder token from hand-built streams, hostile streams,
// and the compressor's limits (capacity, allocation, cancellation).
#include "Jcalg.h"
#include "Crc32.h"
#include "JcalgFormat.h"
#include "JcalgReference.h"

#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace hexaloom;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Deterministic data so failures reproduce.
class Lcg
{
public:
    explicit Lcg(std::uint32_t seed) : m_state(seed) {}
    std::uint32_t Next()
    {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(m_state >> 33);
    }

private:
    std::uint64_t m_state;
};

Bytes Random(std::size_t n, std::uint32_t seed, std::uint32_t span = 256, std::uint8_t low = 0)
{
    Lcg rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(low + rng.Next() % span);
    return out;
}

Bytes Text(std::size_t n, std::uint32_t seed)
{
    static const char* const words[] = {"the ",     "packer ",  "of ",    "a ",        "file ",
                                        "window ",  "and ",     "bytes ", "Distance ", "match, ",
                                        "literal ", "stream. ", "to ",    "is ",       "chain\r\n"};
    Lcg rng(seed);
    Bytes out;
    while (out.size() < n) {
        const char* w = words[rng.Next() % std::size(words)];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes Periodic(std::size_t n, std::size_t period, std::uint32_t seed)
{
    const Bytes unit = Random(period, seed);
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = unit[i % period];
    return out;
}

Bytes Compress(const Bytes& in, int level = 9)
{
    Bytes out(in.size() + 64);
    const std::size_t n = JcPackLevel(in.data(), out.data(), in.size(), level, out.size());
    out.resize(n);
    return out;
}

Bytes Decompress(const Bytes& stream, std::size_t room)
{
    Bytes out(room + 1);
    const std::size_t n = JcDecompress(stream.data(), stream.size(), out.data(), room);
    out.resize(n);
    return out;
}

void* ZeroAllocate(std::size_t bytes)
{
    return std::calloc(bytes, 1);
}

void Free(void* block)
{
    std::free(block);
}

// Builds streams bit by bit, most significant first, in 32-bit little-endian words.
class StreamBuilder
{
public:
    StreamBuilder& Put(std::uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            m_bits.push_back((value >> i) & 1);
        return *this;
    }
    StreamBuilder& Gamma(std::uint32_t value)
    {
        int top = 31;
        while (!(value >> top))
            --top;
        for (int i = top - 1; i >= 0; --i)
            Put((value >> i) & 1, 1).Put(i > 0, 1);
        return *this;
    }
    StreamBuilder& Mode8() { return Put(0b001'0000'0'1, 9); }
    StreamBuilder& Mode7(std::uint8_t base) { return Put(0b001'0000'0'0, 9).Put(base, 8); }
    StreamBuilder& Literal8(std::uint8_t byte) { return Put(1, 1).Put(byte, 8); }
    StreamBuilder& End() { return Put(0, 12); }
    StreamBuilder& IndexBits(std::uint32_t n, std::uint32_t value) { return Put(0, 10).Put(n, 2).Put(value, n + 3); }

    Bytes Build(std::uint32_t size, std::uint32_t checksum = 0) const
    {
        Bytes out = {0x4A, 0x43};
        for (std::uint32_t v : {size, checksum})
            for (int i = 0; i < 4; ++i)
                out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        std::vector<bool> bits = m_bits;
        while (bits.size() % 32)
            bits.push_back(false);
        for (std::size_t w = 0; w < bits.size(); w += 32) {
            std::uint32_t word = 0;
            for (std::size_t i = 0; i < 32; ++i)
                word = word << 1 | bits[w + i];
            for (int i = 0; i < 4; ++i)
                out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
        }
        return out;
    }

private:
    std::vector<bool> m_bits;
};

// Reads a stream's bits as the decoder does; past the end, 0 bits.
class BitCursor
{
public:
    explicit BitCursor(const Bytes& stream) : m_stream(stream) {}
    std::uint32_t Bits(int count)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++m_bit) {
            const std::size_t at = 10 + m_bit / 32 * 4;
            const std::uint32_t word = at + 4 <= m_stream.size() ? std::uint32_t{m_stream[at]} |
                                                                        std::uint32_t{m_stream[at + 1]} << 8 |
                                                                        std::uint32_t{m_stream[at + 2]} << 16 |
                                                                        std::uint32_t{m_stream[at + 3]} << 24
                                                                  : 0;
            value = value << 1 | (word >> (31 - m_bit % 32) & 1);
        }
        return value;
    }
    std::uint32_t Peek(int count)
    {
        const std::size_t at = m_bit;
        const std::uint32_t value = Bits(count);
        m_bit = at;
        return value;
    }
    std::uint32_t Gamma()
    {
        std::uint32_t value = 1;
        do
            value = value << 1 | Bits(1);
        while (Bits(1) && value < (1u << 30));
        return value;
    }

private:
    const Bytes& m_stream;
    std::size_t m_bit = 0;
};

// Where a stream of `data` leaves the token kinds and order the compressor's levels write (the rules
// JcalgOptimal.cpp states); empty when it keeps them. `window`: the one it was packed with.
QString TokenOrderFault(const Bytes& stream, const Bytes& data, std::uint32_t window)
{
    BitCursor in(stream);
    std::uint64_t last = 1;
    std::uint32_t indexBits = 8;
    std::uint32_t literalBits = 0;
    std::uint32_t base = 0;
    bool afterMatch = false;
    std::size_t at = 0;
    const std::size_t n = data.size();
    auto nearest = [&](std::size_t p) -> std::size_t {
        for (std::size_t k = 1; k <= std::min<std::size_t>({p, 14, window}); ++k)
            if (data[p - k] == data[p])
                return k;
        return 0;
    };
    auto fault = [&](const char* what) { return QString("%1 at %2").arg(what).arg(at); };
    // A token from `at` on, where matches may start, needs the index bits of its reach.
    auto late = [&] {
        const auto reach = static_cast<std::uint32_t>(std::min<std::size_t>(at, window));
        return at < n && n - at > 3 && indexBits < (reach > 65536 ? 10u : reach > 49152 ? 9u : 8u);
    };
    // A match's start and length; level 9 repeats its distance at once only when its length limit cut it
    // short (by up to 4, from a limit one less where it was found a byte ahead).
    std::size_t matchStart = 0;
    std::size_t matchLength = 0;
    auto tail = [&] { return n - at <= 3; }; // no match starts in the last three bytes
    auto cutShort = [&] { return matchLength + 5 >= std::min<std::size_t>(window - 1, n - matchStart); };
    while (at <= n) {
        const bool command = (in.Peek(3) == 0 && in.Peek(10) == 0) || in.Peek(8) == 0b001'0000'0;
        if (!command && late())
            return fault("index bits switched late");
        if (in.Bits(1)) {
            if (at >= n || literalBits == 0)
                return fault("literal past the end or before a mode");
            const auto byte = static_cast<std::uint8_t>(in.Bits(static_cast<int>(literalBits)) + base);
            if (byte != data[at] || byte == 0 || nearest(at) != 0)
                return fault("literal where the zero or near token goes");
            ++at;
            afterMatch = false;
        } else if (in.Bits(1)) {
            const std::uint32_t g = in.Gamma();
            if (tail())
                return fault("a match in the last three bytes");
            if (g == 2) {
                if (afterMatch && !cutShort())
                    return fault("repeat right after a match");
                matchStart = at;
                matchLength = in.Gamma();
                at += matchLength;
            } else {
                const std::uint64_t distance = std::uint64_t{g - 3} << indexBits | in.Bits(int(indexBits));
                const std::uint64_t length = in.Gamma() + hexaloom::jcalg::Adjust(distance);
                if (distance == last)
                    return fault("the last distance coded anew");
                if (distance <= 127 && length <= 5)
                    return fault("a short match coded long");
                if (distance >= window || length >= window)
                    return fault("beyond the window");
                last = distance;
                matchStart = at;
                matchLength = static_cast<std::size_t>(length);
                at += length;
            }
            afterMatch = true;
        } else if (!in.Bits(1)) {
            const std::uint32_t d = in.Bits(7);
            const std::uint32_t count = in.Bits(2);
            if (d != 0) {
                if (tail())
                    return fault("a match in the last three bytes");
                if (d == last)
                    return fault("a short match at the last distance");
                last = d;
                matchStart = at;
                matchLength = count + 2;
                at += count + 2;
                afterMatch = true;
            } else if (count == 0) {
                return at == n ? QString() : fault("end before the data's end");
            } else {
                const std::uint32_t bits = in.Bits(int(count) + 3);
                if (bits <= indexBits)
                    return fault("index bits not raised");
                indexBits = bits;
            }
        } else {
            const std::uint32_t v = in.Bits(4);
            if (v == 1 || v >= 2) {
                if (at >= n || (v == 1 ? data[at] != 0 : data[at] == 0 || nearest(at) != v - 1))
                    return fault("a single byte not coded as the compressor codes it");
                ++at;
                afterMatch = false;
            } else if (in.Bits(1)) {
                return fault("a raw run");
            } else {
                literalBits = 7 + in.Bits(1);
                base = literalBits == 7 ? in.Bits(8) : 0;
            }
        }
    }
    return fault("past the data");
}

std::uint32_t FirstWord(const Bytes& stream)
{
    return std::uint32_t{stream[10]} | std::uint32_t{stream[11]} << 8 | std::uint32_t{stream[12]} << 16 |
           std::uint32_t{stream[13]} << 24;
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class JcalgTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checksum_data();
    void checksum();
    void oneByteGivesFourteenByteStream();
    void shortInputsDoNotCompress();
    void fourteenEqualBytesGiveEighteen();
    void streamBeyondTheIndexBitSwitchIsPinned();
    void literalRunsArePinned();
    void zeroByteIsCodedAsShortToken_data();
    void zeroByteIsCodedAsShortToken();
    void literalModeFollowsByteSpan_data();
    void literalModeFollowsByteSpan();
    void roundTrip_data();
    void roundTrip();
    void maxLevelReadsBack_data();
    void maxLevelReadsBack();
    void fastSearchMatchesReference_data();
    void fastSearchMatchesReference();
    void incompressibleGivesZero();
    void decodesHandBuiltStreams_data();
    void decodesHandBuiltStreams();
    void rejectsCorruptStreams_data();
    void rejectsCorruptStreams();
    void checksumMismatchGivesZero();
    void damagedStreamsNeverOverrun();
    void capacityIsNeverExceeded();
    void failedAllocationGivesZero();
    void progressCanCancel();
};

// The process's first compression gets fresh work areas (later ones reuse kept areas): they must start empty.
// The zero pair early on is keyed to the tables' first entries.
void JcalgTest::initTestCase()
{
    Bytes data = Text(300, 11);
    data[5] = data[6] = 0;
    Bytes reference(data.size() + 64);
    reference.resize(JcCompressReference(data.data(), data.size(), reference.data(), reference.size(), 65536,
                                         ZeroAllocate, Free, nullptr, nullptr, false));
    QVERIFY(!reference.empty());
    QCOMPARE(Compress(data), reference);
}

void JcalgTest::checksum_data()
{
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("empty") << Bytes{} << 0u;
    QTest::newRow("three bytes") << Bytes{1, 2, 3} << 0u;
    QTest::newRow("one word") << Bytes{1, 0, 0, 0} << 2u;
    QTest::newRow("top bit rotates") << Bytes{0, 0, 0, 0x80} << 0x80000002u;
    // The tail word overlaps the last whole one: words 1 and 0 (from offset 1).
    QTest::newRow("overlapping tail") << Bytes{1, 0, 0, 0, 0} << 3u;
    QTest::newRow("two words") << Bytes{1, 0, 0, 0, 1, 0, 0, 0} << ((2u + 1u) ^ 3u);
}

void JcalgTest::checksum()
{
    QFETCH(Bytes, data);
    QFETCH(quint32, expected);
    QCOMPARE(JcChecksum(data.data(), data.size()), expected);
}

void JcalgTest::oneByteGivesFourteenByteStream()
{
    const Bytes stream = Compress({'A'});
    const Bytes expected = StreamBuilder().Mode8().Literal8('A').End().Build(1, 0);
    QCOMPARE(stream, expected);
    QCOMPARE(Decompress(stream, 1), Bytes{'A'});
}

void JcalgTest::shortInputsDoNotCompress()
{
    for (std::size_t n = 2; n <= 9; ++n) {
        Bytes out(64);
        const Bytes in(n, 'x');
        QCOMPARE(JcPackLevel(in.data(), out.data(), in.size(), 9, out.size()), std::size_t{0});
    }
    // Ten equal bytes complete a word: 14 bytes written exceed the input.
    const Bytes ten(10, 'x');
    QVERIFY(Compress(ten).empty());
}

void JcalgTest::fourteenEqualBytesGiveEighteen()
{
    const Bytes in(14, 'q');
    const Bytes stream = Compress(in);
    QCOMPARE(stream.size(), std::size_t{18});
    QCOMPARE(Decompress(stream, in.size()), in);
}

// Round trips and the fast-vs-reference comparison share the encoder, so they cannot see its choices
// move; this stream runs past position 49152, where the index bits of the distances are widened, with
// literals around it so that a token starts right there.
void JcalgTest::streamBeyondTheIndexBitSwitchIsPinned()
{
    Bytes data = Text(60000, 25);
    const Bytes literals = Random(100, 26);
    std::memcpy(data.data() + 49100, literals.data(), literals.size());
    const Bytes stream = Compress(data);
    QCOMPARE(Decompress(stream, data.size()), data);
    QCOMPARE(stream.size(), std::size_t{12026});
    QCOMPARE(Crc32(stream), 0x05883F7Fu);
}

// Stretches of bytes from a span of 64 between text: runs of literals in which a two-byte candidate now and
// then gains a bit or two, kept for the next step as the general step keeps it.
void JcalgTest::literalRunsArePinned()
{
    Bytes data;
    for (std::uint32_t i = 0; i < 6; ++i) {
        const Bytes text = Text(3000, 40 + i);
        const Bytes noise = Random(5000, 50 + i, 64);
        data.insert(data.end(), text.begin(), text.end());
        data.insert(data.end(), noise.begin(), noise.end());
    }
    const Bytes stream = Compress(data);
    QCOMPARE(Decompress(stream, data.size()), data);
    QCOMPARE(stream.size(), std::size_t{32502});
    QCOMPARE(Crc32(stream), 0x552241D0u);
}

void JcalgTest::zeroByteIsCodedAsShortToken_data()
{
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<quint32>("firstWord");
    // Literal-mode command (8 bits), then 001 0001 for the zero, then the end marker.
    QTest::newRow("first byte") << Bytes{0} << (0b001'0000'0'1'001'0001'000'0000000'00u << 4);
    // 7-bit mode from 0 for the span 0..5; 'x' 5 then zero 001 0001 although 0 lies in the span.
    const std::uint32_t second = 0b001'0000'0'0u << 23 | 0u << 15 | 0b1'0000101u << 7 | 0b001'0001u;
    Bytes afterLiteral = {5, 0, 1, 2, 3, 4, 5, 0, 0, 0};
    afterLiteral.insert(afterLiteral.end(), 40, 9);
    QTest::newRow("after a literal") << afterLiteral << second;
}

void JcalgTest::zeroByteIsCodedAsShortToken()
{
    QFETCH(Bytes, data);
    QFETCH(quint32, firstWord);
    const Bytes stream = Compress(data);
    QVERIFY(stream.size() >= 14);
    QCOMPARE(FirstWord(stream), firstWord);
    QCOMPARE(Decompress(stream, data.size()), data);
}

void JcalgTest::literalModeFollowsByteSpan_data()
{
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<quint32>("modeBits"); // the first 17 bits of the stream
    auto repeated = [](Bytes unit) {
        Bytes out;
        for (int i = 0; i < 4; ++i)
            out.insert(out.end(), unit.begin(), unit.end());
        return out;
    };
    QTest::newRow("text from line feed") << Text(2000, 1) << (0b001'0000'0'0u << 8 | '\n');
    QTest::newRow("span of 128 values") << repeated(Random(1000, 2, 128, 100)) << (0b001'0000'0'0u << 8 | 100);
    QTest::newRow("span of 129 values") << repeated(Random(1000, 3, 129, 100)) << (0b001'0000'0'1u << 8);
}

void JcalgTest::literalModeFollowsByteSpan()
{
    QFETCH(Bytes, data);
    QFETCH(quint32, modeBits);
    const Bytes stream = Compress(data);
    QVERIFY(!stream.empty());
    const std::uint32_t word = FirstWord(stream);
    if ((modeBits >> 8 & 1) == 1)
        QCOMPARE(word >> 23, modeBits >> 8);
    else
        QCOMPARE(word >> 15, modeBits);
    QCOMPARE(Decompress(stream, data.size()), data);
}

void JcalgTest::roundTrip_data()
{
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<int>("level");
    QTest::newRow("one byte") << Bytes{0xFF} << 9;
    QTest::newRow("fourteen equal") << Bytes(14, 7) << 9;
    QTest::newRow("run of 100000") << Bytes(100000, 0xAB) << 9;
    QTest::newRow("zero run") << Bytes(5000, 0) << 9;
    QTest::newRow("text") << Text(200000, 4) << 9;
    QTest::newRow("text window 1024") << Text(50000, 5) << 0;
    QTest::newRow("text window 40960") << Text(120000, 6) << 6;
    for (std::size_t period = 2; period <= 5; ++period)
        QTest::newRow(qPrintable(QString("period %1").arg(period))) << Periodic(70000, period, 7 + period) << 9;
    QTest::newRow("wide span with runs") << [] {
        Bytes b = Random(3000, 12);
        b.insert(b.end(), 3000, 0xEE);
        Bytes t = Text(3000, 13);
        b.insert(b.end(), t.begin(), t.end());
        return b;
    }() << 9;
    // A stretch of one value outside the 7-bit span forces a literal-mode switch before its first byte.
    QTest::newRow("one value outside span") << [] {
        // The analysis after the first 1024 bytes sees only 0xF0 and keeps the 7-bit mode.
        Bytes b = Text(1024, 14);
        b.insert(b.end(), 3000, 0xF0);
        Bytes t = Text(1500, 15);
        b.insert(b.end(), t.begin(), t.end());
        return b;
    }() << 9;
    QTest::newRow("7-bit span") << Random(30000, 16, 100, 20) << 9;
    QTest::newRow("low entropy") << Random(80000, 17, 4) << 9;
    for (std::size_t distance : {127, 128, 638, 639, 14334, 14335, 65535, 65536}) {
        // Repeats at the boundary, inside mostly compressible text so the stream stays below the input size.
        Bytes b = Text(distance + 4000, static_cast<std::uint32_t>(distance));
        const Bytes marker = Random(64, static_cast<std::uint32_t>(distance) + 1);
        std::memcpy(b.data() + 100, marker.data(), marker.size());
        std::memcpy(b.data() + 100 + distance, marker.data(), marker.size());
        QTest::newRow(qPrintable(QString("distance %1").arg(distance))) << b << 9;
    }
    QTest::newRow("window 1024, distance 1023") << [] {
        Bytes b = Text(5000, 18);
        const Bytes marker = Random(40, 19);
        std::memcpy(b.data() + 10, marker.data(), marker.size());
        std::memcpy(b.data() + 1033, marker.data(), marker.size());
        return b;
    }() << 0;
}

void JcalgTest::roundTrip()
{
    QFETCH(Bytes, data);
    QFETCH(int, level);
    const Bytes stream = Compress(data, level);
    QVERIFY(!stream.empty());
    QCOMPARE((stream.size() - 10) % 4, std::size_t{0});
    QCOMPARE(Decompress(stream, data.size()), data);

    // The straightforward search must produce the very same stream.
    static constexpr std::uint32_t windows[] = {1024, 2048, 4096, 8192, 16384, 32768, 40960, 57344};
    Bytes reference(data.size() + 64);
    reference.resize(JcCompressReference(data.data(), data.size(), reference.data(), reference.size(),
                                         level <= 7 ? windows[level] : 65536u, ZeroAllocate, Free, nullptr, nullptr,
                                         false));
    QCOMPARE(stream, reference);
    const std::uint32_t window =
        std::min<std::uint32_t>(level <= 7 ? windows[level] : 65536u, std::uint32_t(data.size()));
    QCOMPARE(TokenOrderFault(stream, data, window), QString());
}

void JcalgTest::maxLevelReadsBack_data()
{
    roundTrip_data();
    QTest::newRow("text past 64 KiB, index bits 10") << Text(300000, 26) << 9;
    // A repeat longer than the max level's window, of data level 9 cannot reach: matches stop below it.
    QTest::newRow("random repeated past the window") << Periodic(1600000, 500000, 27) << 9;
}

// The max level's streams decode, keep the token order of the levels, and are never longer than level 9's.
void JcalgTest::maxLevelReadsBack()
{
    QFETCH(Bytes, data);
    Bytes stream(data.size() + 64);
    stream.resize(JcCompressMax(data.data(), data.size(), stream.data(), stream.size(), nullptr, nullptr, false));
    QVERIFY(!stream.empty());
    QCOMPARE(Decompress(stream, data.size()), data);
    // Where level 9's stream is kept (it is no longer, or the data is long runs), with level 9's window.
    const Bytes level9 = Compress(data);
    const std::uint32_t window = stream == level9 ? 65536u : 1u << 20;
    QCOMPARE(TokenOrderFault(stream, data, std::min<std::uint32_t>(window, std::uint32_t(data.size()))), QString());
    QVERIFY2(level9.empty() || stream.size() <= level9.size(),
             qPrintable(QString("%1 against %2").arg(stream.size()).arg(level9.size())));
    if (data.size() >= 50000 && QByteArray(QTest::currentDataTag()).startsWith("text"))
        QVERIFY2(stream.size() * 100 < level9.size() * 95,
                 qPrintable(QString("%1 against %2").arg(stream.size()).arg(level9.size())));
}

void JcalgTest::fastSearchMatchesReference_data()
{
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<quint32>("window");
    std::ifstream self("/proc/self/exe", std::ios::binary);
    Bytes executable((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
    executable.resize(std::min<std::size_t>(executable.size(), 700000));
    // Flat rectangles of 3-byte pixels in rows of 3000 bytes.
    Bytes bitmap(1500000, 0x80);
    {
        Lcg rng(30);
        for (int i = 0; i < 400; ++i) {
            const std::size_t x0 = rng.Next() % 1000, y0 = rng.Next() % 500, w = rng.Next() % 300, h = rng.Next() % 80;
            const std::uint32_t colour = rng.Next();
            for (std::size_t y = y0; y < std::min<std::size_t>(500, y0 + h); ++y)
                for (std::size_t x = x0; x < std::min<std::size_t>(1000, x0 + w); ++x)
                    for (std::size_t c = 0; c < 3; ++c)
                        bitmap[y * 3000 + x * 3 + c] = static_cast<std::uint8_t>(colour >> (8 * c));
        }
    }
    // The same with 4-byte pixels whose fourth byte never changes: stretches of period 4 that start and end
    // a byte or more past a search position.
    Bytes bitmap32(1200000, 0x80);
    {
        Lcg rng(40);
        for (std::size_t i = 3; i < bitmap32.size(); i += 4)
            bitmap32[i] = 0xFF;
        for (int i = 0; i < 400; ++i) {
            const std::size_t x0 = rng.Next() % 1000, y0 = rng.Next() % 300, w = rng.Next() % 300, h = rng.Next() % 80;
            const std::uint32_t colour = rng.Next();
            for (std::size_t y = y0; y < std::min<std::size_t>(300, y0 + h); ++y)
                for (std::size_t x = x0; x < std::min<std::size_t>(1000, x0 + w); ++x)
                    for (std::size_t c = 0; c < 3; ++c)
                        bitmap32[y * 4000 + x * 4 + c] = static_cast<std::uint8_t>(colour >> (8 * c));
        }
    }
    // Stretches repeating units of 2 to 5 bytes from a small pool, so the same patterns recur.
    Bytes periodic;
    {
        Lcg rng(31);
        while (periodic.size() < 1000000) {
            const std::uint32_t unit = rng.Next() % 12;
            const Bytes pattern = Random(2 + unit % 4, unit);
            const std::size_t length = 16 + rng.Next() % 3000;
            for (std::size_t i = 0; i < length; ++i)
                periodic.push_back(pattern[i % pattern.size()]);
        }
    }
    // A long period with rare changes: each farther candidate is a new best.
    Bytes mutated = Periodic(400000, 301, 32);
    {
        Lcg rng(33);
        for (std::size_t i = 0; i < mutated.size(); i += 1 + rng.Next() % 2000)
            mutated[i] = static_cast<std::uint8_t>(rng.Next());
    }
    // Long zero runs with rare other bytes: each farther candidate in a run matches one byte more.
    Bytes sparse(400000, 0);
    {
        Lcg rng(36);
        for (std::size_t i = 0; i < sparse.size(); i += 1 + rng.Next() % 6000)
            sparse[i] = static_cast<std::uint8_t>(1 + rng.Next() % 255);
    }
    Bytes runs;
    {
        Lcg rng(37);
        while (runs.size() < 300000)
            runs.insert(runs.end(), 1 + rng.Next() % 100, static_cast<std::uint8_t>(rng.Next() % 4));
    }
    // Long stretches of a 3-byte period (a flat 24-bit picture) with rare other pixels.
    Bytes flat = Periodic(240000, 3, 38);
    {
        Lcg rng(39);
        for (std::size_t i = 0; i < flat.size(); i += 1 + rng.Next() % 30000)
            flat[i] = static_cast<std::uint8_t>(rng.Next());
    }
    for (std::uint32_t window : {65536u, 1024u, 5000u}) {
        const QByteArray w = QByteArray::number(window);
        QTest::newRow("sparse zeros " + w) << sparse << window;
        QTest::newRow("flat picture with dots " + w) << flat << window;
        QTest::newRow("runs of four values " + w) << runs << window;
        QTest::newRow("text " + w) << Text(400000, 34) << window;
        if (!executable.empty())
            QTest::newRow("executable " + w) << executable << window;
        QTest::newRow("bitmap " + w) << bitmap << window;
        QTest::newRow("bitmap of 4-byte pixels " + w) << bitmap32 << window;
        QTest::newRow("periodic " + w) << periodic << window;
        QTest::newRow("mutated period " + w) << mutated << window;
    }
    QTest::newRow("window beyond 65536") << Text(300000, 35) << 200000u;
}

void JcalgTest::fastSearchMatchesReference()
{
    QFETCH(Bytes, data);
    QFETCH(quint32, window);
    Bytes fast(data.size() + 64);
    Bytes reference(data.size() + 64);
    fast.resize(JcCompress(data.data(), data.size(), fast.data(), fast.size(), window, ZeroAllocate, Free, nullptr,
                           nullptr, false));
    reference.resize(JcCompressReference(data.data(), data.size(), reference.data(), reference.size(), window,
                                         ZeroAllocate, Free, nullptr, nullptr, false));
    QVERIFY(!reference.empty());
    QVERIFY(fast == reference);
}

void JcalgTest::incompressibleGivesZero()
{
    const Bytes data = Random(5000, 20);
    Bytes out(data.size() + 64);
    QCOMPARE(JcPackLevel(data.data(), out.data(), data.size(), 9, out.size()), std::size_t{0});
}

void JcalgTest::decodesHandBuiltStreams_data()
{
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<Bytes>("expected");
    QTest::newRow("8-bit literals") << StreamBuilder().Mode8().Literal8(0xFF).Literal8(0).End().Build(2)
                                    << Bytes{0xFF, 0};
    QTest::newRow("7-bit literals wrap past 255")
        << StreamBuilder().Mode7(200).Put(1, 1).Put(0, 7).Put(1, 1).Put(127, 7).End().Build(2) << Bytes{200, 71};
    QTest::newRow("zero byte") << StreamBuilder().Put(0b001'0001, 7).End().Build(1) << Bytes{0};
    {
        StreamBuilder s;
        s.Mode8();
        for (char c = 'a'; c <= 'n'; ++c)
            s.Literal8(static_cast<std::uint8_t>(c));
        s.Put(0b001'1111, 7).Put(0b001'0010, 7);
        QTest::newRow("one byte from distance 14 and 1")
            << s.End().Build(16)
            << Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'a', 'a'};
    }
    // Initial last distance is 1.
    QTest::newRow("repeat initial distance")
        << StreamBuilder().Mode8().Literal8('z').Put(0b01, 2).Gamma(2).Gamma(5).End().Build(6) << Bytes(6, 'z');
    QTest::newRow("short match sets last distance") << StreamBuilder()
                                                           .Mode8()
                                                           .Literal8('a')
                                                           .Literal8('b')
                                                           .Put(0, 3)
                                                           .Put(2, 7)
                                                           .Put(1, 2)
                                                           .Put(0b01, 2)
                                                           .Gamma(2)
                                                           .Gamma(2)
                                                           .End()
                                                           .Build(7)
                                                    << Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a'};
    // g = 3, low = 2, B = 8 -> distance 2 (adjust 4): copies gamma 2 + 4 = 6 bytes.
    QTest::newRow("long match near")
        << StreamBuilder().Mode8().Literal8('x').Literal8('y').Put(0b01, 2).Gamma(3).Put(2, 8).Gamma(2).End().Build(8)
        << Bytes{'x', 'y', 'x', 'y', 'x', 'y', 'x', 'y'};
    {
        StreamBuilder s;
        Bytes expected(256);
        s.Put(0b001'0000'1, 8);
        for (std::size_t i = 0; i < 256; ++i)
            s.Put(expected[i] = static_cast<std::uint8_t>(i * 3), 8);
        QTest::newRow("raw run fills the output") << s.Put(0, 1).End().Build(256) << expected;
    }
    {
        // Two raw runs (512 bytes), then a match at distance 256 (g = 4, low 0, adjust 0) of gamma 3 = 3 bytes.
        StreamBuilder s;
        Bytes expected;
        s.Put(0b001'0000'1, 8);
        for (int i = 0; i < 256; ++i) {
            s.Put(static_cast<std::uint32_t>(i), 8);
            expected.push_back(static_cast<std::uint8_t>(i));
        }
        s.Put(1, 1);
        for (int i = 0; i < 256; ++i) {
            s.Put(static_cast<std::uint32_t>(255 - i), 8);
            expected.push_back(static_cast<std::uint8_t>(255 - i));
        }
        s.Put(0, 1).Put(0b01, 2).Gamma(4).Put(0, 8).Gamma(3);
        expected.insert(expected.end(), expected.end() - 256, expected.end() - 253);
        QTest::newRow("two raw runs, match at 256")
            << s.End().Build(static_cast<std::uint32_t>(expected.size())) << expected;
    }
    {
        // Three raw runs in a row, then B = 9: distance 700 = (1 << 9) | 188 is coded g = 4, low 188;
        // adjust 1, so gamma 2 copies 3 bytes.
        StreamBuilder s;
        Bytes expected;
        s.Put(0b001'0000'1, 8);
        for (int i = 0; i < 256 * 3; ++i) {
            s.Put(static_cast<std::uint32_t>(i * 7) & 0xFF, 8);
            if (i % 256 == 255)
                s.Put(i < 256 * 3 - 1, 1);
            expected.push_back(static_cast<std::uint8_t>(i * 7));
        }
        s.IndexBits(1, 9).Put(0b01, 2).Gamma(4).Put(188, 9).Gamma(2);
        expected.insert(expected.end(), expected.begin() + 68, expected.begin() + 71);
        QTest::newRow("three raw runs, index bits 9")
            << s.End().Build(static_cast<std::uint32_t>(expected.size())) << expected;
    }
}

void JcalgTest::decodesHandBuiltStreams()
{
    QFETCH(Bytes, stream);
    QFETCH(Bytes, expected);
    QCOMPARE(Decompress(stream, expected.size()), expected);
}

void JcalgTest::rejectsCorruptStreams_data()
{
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<int>("room");
    const Bytes good = StreamBuilder().Mode8().Literal8('a').End().Build(1);
    QTest::newRow("good stream for comparison") << good << -1;
    Bytes badMagic = good;
    badMagic[1] = 'X';
    QTest::newRow("wrong magic") << badMagic << 1;
    QTest::newRow("shorter than a header") << Bytes(good.begin(), good.begin() + 9) << 1;
    QTest::newRow("size beyond destination") << good << 0;
    QTest::newRow("literal before literal mode") << StreamBuilder().Literal8('a').End().Build(1) << 1;
    QTest::newRow("index bits 0") << StreamBuilder().IndexBits(1, 0).Mode8().Literal8('a').End().Build(1) << 1;
    QTest::newRow("index bits 32") << StreamBuilder().IndexBits(2, 32).Mode8().Literal8('a').End().Build(1) << 1;
    QTest::newRow("end before size") << StreamBuilder().Mode8().Literal8('a').End().Build(2) << 2;
    QTest::newRow("more bytes than size") << StreamBuilder().Mode8().Literal8('a').Literal8('b').End().Build(1) << 8;
    QTest::newRow("short match before output")
        << StreamBuilder().Mode8().Literal8('a').Put(0, 3).Put(2, 7).Put(0, 2).End().Build(3) << 8;
    QTest::newRow("one-byte copy before output") << StreamBuilder().Put(0b001'0010, 7).End().Build(1) << 8;
    QTest::newRow("repeat with nothing written") << StreamBuilder().Put(0b01, 2).Gamma(2).Gamma(2).End().Build(2) << 8;
    QTest::newRow("distance 0")
        << StreamBuilder().Mode8().Literal8('a').Put(0b01, 2).Gamma(3).Put(0, 8).Gamma(2).End().Build(7) << 8;
    QTest::newRow("match past size")
        << StreamBuilder().Mode8().Literal8('a').Put(0b01, 2).Gamma(2).Gamma(9).End().Build(5) << 64;
    QTest::newRow("raw run past size") << [] {
        StreamBuilder s;
        s.Put(0b001'0000'1, 8);
        for (int i = 0; i < 256; ++i)
            s.Put(1, 8);
        return s.Put(0, 1).End().Build(100);
    }() << 1000;
    QTest::newRow("gamma beyond 32 bits") << [] {
        StreamBuilder s;
        s.Mode8().Literal8('a').Put(0b01, 2);
        for (int i = 0; i < 40; ++i)
            s.Put(0b11, 2);
        return s.Put(0, 2).Put(0, 8).Gamma(2).End().Build(7);
    }() << 64;
    QTest::newRow("gamma 2^32 + 2, cut to 2") << [] {
        StreamBuilder s;
        s.Mode8().Literal8('a').Put(0b01, 2);
        for (int i = 31; i >= 0; --i) // the digits below the leading 1, each with its continuation bit
            s.Put((2u >> i & 1) << 1 | (i > 0), 2);
        return s.Gamma(2).End().Build(3);
    }() << 8;
    Bytes truncated = StreamBuilder().Mode8().Literal8('a').Literal8('b').Literal8('c').Literal8('d').End().Build(4);
    truncated.resize(truncated.size() - 4);
    QTest::newRow("missing last word") << truncated << 4;
}

void JcalgTest::rejectsCorruptStreams()
{
    QFETCH(Bytes, stream);
    QFETCH(int, room);
    if (room < 0) {
        QCOMPARE(Decompress(stream, 1), Bytes{'a'});
        return;
    }
    Bytes out(static_cast<std::size_t>(room) + 16, 0xCD);
    QCOMPARE(JcDecompress(stream.data(), stream.size(), out.data(), static_cast<std::size_t>(room)), std::size_t{0});
    for (std::size_t i = static_cast<std::size_t>(room); i < out.size(); ++i)
        QCOMPARE(out[i], std::uint8_t{0xCD});
}

void JcalgTest::checksumMismatchGivesZero()
{
    const Bytes data = Text(5000, 21);
    Bytes stream = Compress(data);
    QVERIFY(!stream.empty());
    stream[6] ^= 1;
    QCOMPARE(Decompress(stream, data.size()).size(), std::size_t{0});
    // Checksum field 0: accepted without verification.
    std::fill(stream.begin() + 6, stream.begin() + 10, 0);
    QCOMPARE(Decompress(stream, data.size()), data);
    // Only the length given counts, whatever follows it.
    Bytes out(data.size());
    QCOMPARE(JcDecompress(stream.data(), 9, out.data(), out.size()), std::size_t{0});
}

void JcalgTest::damagedStreamsNeverOverrun()
{
    const Bytes data = Text(3000, 22);
    const Bytes stream = Compress(data);
    QVERIFY(!stream.empty());
    auto decodeGuarded = [&](const Bytes& damaged) {
        Bytes out(data.size() + 32, 0xCD);
        const std::size_t n = JcDecompress(damaged.data(), damaged.size(), out.data(), data.size());
        for (std::size_t i = data.size(); i < out.size(); ++i)
            if (out[i] != 0xCD)
                return std::size_t{SIZE_MAX};
        return n;
    };
    for (std::size_t cut = 0; cut < stream.size(); cut += 3)
        QCOMPARE(decodeGuarded(Bytes(stream.begin(), stream.begin() + cut)), std::size_t{0});
    for (std::size_t bit = 10 * 8; bit < stream.size() * 8; bit += 5) {
        Bytes damaged = stream;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        const std::size_t n = decodeGuarded(damaged);
        QVERIFY2(n == 0 || n == data.size(), qPrintable(QString("bit %1 gave %2").arg(bit).arg(n)));
    }
}

void JcalgTest::capacityIsNeverExceeded()
{
    const Bytes data = Text(20000, 23);
    const Bytes stream = Compress(data);
    QVERIFY(!stream.empty());
    for (std::size_t capacity :
         {std::size_t{0}, std::size_t{9}, std::size_t{10}, stream.size() / 2, stream.size() - 1, stream.size()}) {
        Bytes out(capacity + 16, 0xCD);
        const std::size_t n = JcPackLevel(data.data(), out.data(), data.size(), 9, capacity);
        QCOMPARE(n, capacity == stream.size() ? stream.size() : std::size_t{0});
        for (std::size_t i = capacity; i < out.size(); ++i)
            QCOMPARE(out[i], std::uint8_t{0xCD});
        if (n)
            QCOMPARE(Bytes(out.begin(), out.begin() + n), stream);
    }
}

namespace {
int g_allocationsLeft = 0;
int g_liveBlocks = 0;

void* CountedAllocate(std::size_t bytes)
{
    if (g_allocationsLeft-- <= 0)
        return nullptr;
    ++g_liveBlocks;
    return std::calloc(bytes, 1);
}

void CountedFree(void* block)
{
    --g_liveBlocks;
    std::free(block);
}
} // namespace

void JcalgTest::failedAllocationGivesZero()
{
    const Bytes data = Text(5000, 24);
    Bytes out(data.size() + 64);
    const auto compressors = {&JcCompress, &JcCompressReference};
    for (auto compress : compressors) {
        bool succeeded = false;
        for (int allowed = 0; allowed < 64 && !succeeded; ++allowed) {
            g_allocationsLeft = allowed;
            g_liveBlocks = 0;
            const std::size_t n = compress(data.data(), data.size(), out.data(), out.size(), 65536, CountedAllocate,
                                           CountedFree, nullptr, nullptr, false);
            QCOMPARE(g_liveBlocks, 0);
            if (n != 0) {
                QVERIFY(allowed > 0);
                QCOMPARE(Bytes(out.begin(), out.begin() + n), Compress(data));
                succeeded = true;
            }
        }
        QVERIFY(succeeded);
    }
}

void JcalgTest::progressCanCancel()
{
    struct Calls
    {
        int count = 0;
        int cancelAt = 0;
        std::uint32_t lastConsumed = 0;
    };
    auto callback = [](std::uint32_t consumed, std::uint32_t, void* context) {
        auto* calls = static_cast<Calls*>(context);
        calls->lastConsumed = consumed;
        return ++calls->count == calls->cancelAt ? 0 : 1;
    };
    const Bytes data = Text(50000, 25);
    Bytes out(data.size() + 64);
    Calls all;
    const std::size_t n =
        JcCompress(data.data(), data.size(), out.data(), out.size(), 65536, ZeroAllocate, Free, callback, &all, false);
    QCOMPARE(Bytes(out.begin(), out.begin() + n), Compress(data));
    QVERIFY(all.count > 3);
    QCOMPARE(all.lastConsumed, std::uint32_t(data.size()));

    // The max level: cancelled in its level-9 pass, and in its parse (the calls before the last).
    Calls maxAll;
    QVERIFY(JcCompressMax(data.data(), data.size(), out.data(), out.size(), callback, &maxAll, false) != 0);
    for (const int at : {2, maxAll.count - 1}) {
        Calls maxCancel;
        maxCancel.cancelAt = at;
        QCOMPARE(JcCompressMax(data.data(), data.size(), out.data(), out.size(), callback, &maxCancel, false),
                 std::size_t{0});
    }

    Calls cancel;
    cancel.cancelAt = 3;
    QCOMPARE(JcCompress(data.data(), data.size(), out.data(), out.size(), 65536, ZeroAllocate, Free, callback, &cancel,
                        false),
             std::size_t{0});
    QCOMPARE(cancel.count, 3);

    // Without a checksum the field is 0 and the stream is otherwise the same.
    const std::size_t plain =
        JcCompress(data.data(), data.size(), out.data(), out.size(), 65536, ZeroAllocate, Free, nullptr, nullptr, true);
    QCOMPARE(plain, n);
    QCOMPARE(Bytes(out.begin() + 6, out.begin() + 10), Bytes(4, 0));
}

QTEST_APPLESS_MAIN(JcalgTest)
#include "JcalgTest.moc"
