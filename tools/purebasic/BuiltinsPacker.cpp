// The Packer and Cipher libraries as the access code uses them, and zlib's uncompress as an ImportC
// function. The JCALG1 decoder here is written from the stream format alone, apart from the program's
// own codec, so the two check each other.
#include "Builtins.h"

#include <zlib.h>

#include <cstring>

namespace hexaloom::pbrun {

namespace {

enum class JcStatus { Ok, BadMagic, Corrupt, SourceOverrun, ChecksumMismatch };

// A JCALG1 stream: "JC", the unpacked size, a checksum (0 for none), then 32-bit little-endian words
// read from the most significant bit down.
class JcDecoder
{
public:
    JcDecoder(const std::uint8_t* src, std::uint64_t srcLength) : m_src(src), m_length(srcLength) {}

    JcStatus Decode(std::uint8_t* dst, std::uint64_t capacity, std::uint64_t& written)
    {
        written = 0;
        if (m_length < 10)
            return m_length >= 2 && (m_src[0] != 'J' || m_src[1] != 'C') ? JcStatus::BadMagic : JcStatus::SourceOverrun;
        if (m_src[0] != 'J' || m_src[1] != 'C')
            return JcStatus::BadMagic;
        const std::uint32_t size = U32(2);
        const std::uint32_t checksum = U32(6);
        if (size > capacity)
            return JcStatus::Corrupt;
        m_pos = 10;
        try {
            written = Run(dst, size);
        } catch (JcStatus s) {
            return s;
        }
        if (checksum != 0 && (written < size || Checksum(dst, size) != checksum))
            return JcStatus::ChecksumMismatch;
        return JcStatus::Ok;
    }

    static std::uint32_t Size(const std::uint8_t* src)
    {
        return std::uint32_t(src[2] | src[3] << 8 | src[4] << 16) | std::uint32_t(src[5]) << 24;
    }

private:
    const std::uint8_t* m_src;
    std::uint64_t m_length;
    std::uint64_t m_pos = 10;
    std::uint32_t m_word = 0;
    int m_left = 0;

    std::uint32_t U32(std::uint64_t at) const
    {
        return std::uint32_t(m_src[at]) | std::uint32_t(m_src[at + 1]) << 8 | std::uint32_t(m_src[at + 2]) << 16 |
               std::uint32_t(m_src[at + 3]) << 24;
    }

    unsigned Bit()
    {
        if (m_left == 0) {
            if (m_pos + 4 > m_length)
                throw JcStatus::SourceOverrun;
            m_word = U32(m_pos);
            m_pos += 4;
            m_left = 32;
        }
        --m_left;
        return (m_word >> m_left) & 1u;
    }

    std::uint32_t Bits(int n)
    {
        std::uint32_t v = 0;
        while (n-- > 0)
            v = v << 1 | Bit();
        return v;
    }

    std::uint64_t Gamma()
    {
        std::uint64_t v = 1;
        do {
            v = 2 * v + Bit();
            if (v > 0xFFFFFFFFu)
                throw JcStatus::Corrupt;
        } while (Bit());
        return v;
    }

    static std::uint64_t Adjust(std::uint64_t d)
    {
        if (d < 128)
            return 4;
        if (d < 639)
            return 0;
        if (d < 14335)
            return 1;
        if (d < 65536)
            return 2;
        return 3;
    }

    std::uint64_t Run(std::uint8_t* dst, std::uint64_t size)
    {
        std::uint64_t out = 0;
        int indexBits = 8;
        std::uint64_t last = 1;
        int literalBits = -1;
        std::uint32_t literalBase = 0;
        auto put = [&](std::uint8_t b) {
            if (out >= size)
                throw JcStatus::Corrupt; // more than the header promised
            dst[out++] = b;
        };
        auto copy = [&](std::uint64_t distance, std::uint64_t length) {
            if (distance == 0 || distance > out)
                throw JcStatus::Corrupt;
            for (std::uint64_t i = 0; i < length; ++i)
                put(dst[out - distance]);
        };
        for (;;) {
            if (Bit()) {
                if (literalBits < 0)
                    throw JcStatus::Corrupt;
                put(std::uint8_t(Bits(literalBits) + literalBase));
            } else if (Bit()) {
                const std::uint64_t g = Gamma();
                if (g == 2) {
                    copy(last, Gamma());
                } else {
                    const std::uint64_t low = Bits(indexBits);
                    const std::uint64_t d = ((g - 3) << indexBits) | low;
                    last = d;
                    copy(d, Gamma() + Adjust(d));
                }
            } else if (!Bit()) {
                const std::uint32_t d = Bits(7);
                const std::uint32_t n = Bits(2);
                if (d >= 1) {
                    last = d;
                    copy(d, n + 2);
                } else if (n == 0) {
                    return out;
                } else {
                    indexBits = int(Bits(int(n) + 3));
                    if (indexBits > 24)
                        throw JcStatus::Corrupt;
                }
            } else {
                const std::uint32_t v = Bits(4);
                if (v == 1) {
                    put(0);
                } else if (v >= 2) {
                    copy(v - 1, 1);
                } else if (Bit()) {
                    do {
                        for (int i = 0; i < 256; ++i)
                            put(std::uint8_t(Bits(8)));
                    } while (Bit());
                } else {
                    const unsigned m = Bit();
                    literalBits = 7 + int(m);
                    literalBase = m == 0 ? Bits(8) : 0;
                }
            }
        }
    }

    static std::uint32_t Checksum(const std::uint8_t* data, std::uint64_t n)
    {
        if (n < 4)
            return 0;
        std::uint32_t sum = 0;
        auto add = [&](std::uint64_t at) {
            const std::uint32_t w = std::uint32_t(data[at]) | std::uint32_t(data[at + 1]) << 8 |
                                    std::uint32_t(data[at + 2]) << 16 | std::uint32_t(data[at + 3]) << 24;
            sum = (sum + w) ^ (((w << 1) | (w >> 31)) + 1);
        };
        std::uint64_t at = 0;
        for (; at + 4 <= n; at += 4)
            add(at);
        if (at < n)
            add(n - 4);
        return sum;
    }
};

QString Crc32Text(const std::uint8_t* data, std::uint64_t n)
{
    const uLong crc = crc32(crc32(0, nullptr, 0), data, uInt(n));
    // Lower-case and eight digits (unconfirmed: the manual only says "an hexadecimal string").
    return QStringLiteral("%1").arg(std::uint32_t(crc), 8, 16, QLatin1Char('0'));
}

} // namespace

Value Bi_CRC32Fingerprint(Runtime& rt, std::vector<Value>& a)
{
    if (a[1].i < 0)
        rt.Fail(QStringLiteral("CRC32Fingerprint(): a negative size"));
    if (a[1].i == 0)
        return Int(0);
    const std::uint8_t* p = rt.Bytes(std::uint64_t(a[0].i), std::uint64_t(a[1].i), false);
    return Int(std::int64_t(crc32(crc32(0, nullptr, 0), p, uInt(a[1].i))));
}

Value Bi_UseCRC32Fingerprint(Runtime& rt, std::vector<Value>&)
{
    rt.crc32Plugin = true;
    return {};
}

Value Bi_Fingerprint(Runtime& rt, std::vector<Value>& a)
{
    if (a[2].i != 2)
        rt.Fail(
            QStringLiteral("pbrun does not support Fingerprint() with plugin %1, only #PB_Cipher_CRC32").arg(a[2].i));
    // The manual: "UseCRC32Fingerprint needs to be called before to register this plugin."
    if (!rt.crc32Plugin)
        rt.Fail(QStringLiteral("Fingerprint(): UseCRC32Fingerprint() was not called"));
    if (a[1].i <= 0)
        rt.Fail(QStringLiteral("pbrun does not support Fingerprint() of %1 bytes").arg(a[1].i));
    Value r;
    r.s = Crc32Text(rt.Bytes(std::uint64_t(a[0].i), std::uint64_t(a[1].i), false), std::uint64_t(a[1].i));
    return r;
}

Value Bi_StringFingerprint(Runtime& rt, std::vector<Value>& a)
{
    if (a[1].i != 2)
        rt.Fail(QStringLiteral("pbrun does not support StringFingerprint() with plugin %1, only #PB_Cipher_CRC32")
                    .arg(a[1].i));
    if (!rt.crc32Plugin)
        rt.Fail(QStringLiteral("StringFingerprint(): UseCRC32Fingerprint() was not called"));
    const QByteArray utf8 = a[0].s.toUtf8(); // the manual: UTF-8 is the default format
    Value r;
    r.s = Crc32Text(reinterpret_cast<const std::uint8_t*>(utf8.constData()), std::uint64_t(utf8.size()));
    return r;
}

Value Bi_UnpackMemory(Runtime& rt, std::vector<Value>& a)
{
    // UnpackMemory(*Source, *Destination) is given no lengths: the stream runs as far as it says, and the
    // destination must hold the size its header gives.
    std::uint64_t available = 0;
    const std::uint8_t* src = rt.Rest(std::uint64_t(a[0].i), available, false);
    const auto overrun = [&]() {
        rt.Fail(QStringLiteral("UnpackMemory() reads past the end of the block its stream starts in (the stream is "
                               "damaged or cut): PureBasic's unpacker is given no length and would read memory that "
                               "is not its own"));
    };
    if (available < 2)
        overrun();
    if (src[0] != 'J' || src[1] != 'C')
        return Int(0);
    if (available < 10)
        overrun();
    const std::uint32_t size = JcDecoder::Size(src);
    std::uint8_t* dst = size ? rt.Bytes(std::uint64_t(a[1].i), size, true) : nullptr;
    std::uint64_t written = 0;
    const JcStatus status = JcDecoder(src, available).Decode(dst, size, written);
    if (status == JcStatus::SourceOverrun)
        overrun();
    return Int(status == JcStatus::Ok ? std::int64_t(written) : 0);
}

Value Bi_UncompressMemory(Runtime& rt, std::vector<Value>& a)
{
    std::int64_t plugin = a.size() > 4 ? a[4].i : 0;
    if (a.size() <= 4) {
        // The manual: the plugin is needed "if more than one packer plugin has been registered".
        if (rt.packers != 1)
            rt.Fail(QStringLiteral("pbrun does not support UncompressMemory() without a plugin when %1 plugins are "
                                   "registered")
                        .arg(rt.packers));
        plugin = rt.jcalg1Packer ? 5 : 1;
    }
    if (plugin != 5)
        rt.Fail(QStringLiteral("pbrun does not support UncompressMemory() with plugin %1: the stream format of "
                               "PureBasic's packer plugins other than JCALG1 is not documented")
                    .arg(plugin));
    if (!rt.jcalg1Packer)
        rt.Fail(QStringLiteral("UncompressMemory(): UseJcalg1Packer() was not called"));
    if (a[1].i <= 0 || a[3].i <= 0)
        return Int(-1);
    const std::uint8_t* src = rt.Bytes(std::uint64_t(a[0].i), std::uint64_t(a[1].i), false);
    std::uint8_t* dst = rt.Bytes(std::uint64_t(a[2].i), std::uint64_t(a[3].i), true);
    std::uint64_t written = 0;
    const JcStatus status = JcDecoder(src, std::uint64_t(a[1].i)).Decode(dst, std::uint64_t(a[3].i), written);
    return Int(status == JcStatus::Ok ? std::int64_t(written) : -1);
}

static Value Register(Runtime& rt, bool& flag)
{
    if (!flag)
        ++rt.packers;
    flag = true;
    return {};
}

Value Bi_UseZipPacker(Runtime& rt, std::vector<Value>&)
{
    return Register(rt, rt.zipPacker);
}

Value Bi_UseJcalg1Packer(Runtime& rt, std::vector<Value>&)
{
    return Register(rt, rt.jcalg1Packer);
}

Value Bi_UseLZMAPacker(Runtime& rt, std::vector<Value>&)
{
    rt.Fail(QStringLiteral("pbrun does not support the LZMA packer"));
}

Value Bi_UseBriefLZPacker(Runtime& rt, std::vector<Value>&)
{
    rt.Fail(QStringLiteral("pbrun does not support the BriefLZ packer"));
}

Value NativeUncompress(Runtime& rt, std::vector<Value>& a)
{
    // int uncompress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen): the uLong is read
    // and written at the target's C width, so an out-parameter declared narrower overruns its variable.
    const int width = rt.target.cLongSize();
    std::uint64_t destLength = 0;
    std::memcpy(&destLength, rt.Bytes(std::uint64_t(a[1].i), std::uint64_t(width), false), std::size_t(width));
    const std::uint64_t sourceLength = width == 4 ? std::uint64_t(std::uint32_t(a[3].i)) : std::uint64_t(a[3].i);
    const std::uint8_t* src = sourceLength ? rt.Bytes(std::uint64_t(a[2].i), sourceLength, false) : nullptr;
    std::uint8_t* dst = destLength ? rt.Bytes(std::uint64_t(a[0].i), destLength, true) : nullptr;
    if (sourceLength > 0xFFFFFFFFu || destLength > 0xFFFFFFFFu)
        rt.Fail(QStringLiteral("pbrun does not support uncompress() of more than 4 GiB"));
    uLongf outLength = uLongf(destLength);
    const int result = uncompress(dst, &outLength, src, uLong(sourceLength));
    const std::uint64_t back = outLength;
    std::memcpy(rt.Bytes(std::uint64_t(a[1].i), std::uint64_t(width), true), &back, std::size_t(width));
    return Int(result);
}

} // namespace hexaloom::pbrun
