// The Memory library: allocation, copies, Peek and Poke, on the checked address space.
#include "Builtins.h"

#include <QStringDecoder>

#include <cstring>

namespace hexaloom::pbrun {

namespace {

constexpr std::int64_t kAscii = 24;   // #PB_Ascii
constexpr std::int64_t kUnicode = 25; // #PB_Unicode
constexpr std::int64_t kUtf8 = 2;     // #PB_UTF8
constexpr std::int64_t kByteLength = 64;
constexpr std::int64_t kNoClear = 1; // #PB_Memory_NoClear

std::int64_t Arg(const std::vector<Value>& a, std::size_t i, std::int64_t fallback)
{
    return i < a.size() ? a[i].i : fallback;
}

std::uint64_t Size(Runtime& rt, std::int64_t size, const char* function)
{
    if (size < 0)
        rt.Fail(QStringLiteral("%1(): a negative size (%2)").arg(QLatin1String(function)).arg(size));
    return std::uint64_t(size);
}

std::int64_t DefaultFormat(const Runtime& rt)
{
    return rt.target.unicode ? kUnicode : kAscii;
}

// The string format of a PeekS/PokeS flag value, refusing what pbrun does not know.
std::int64_t Format(Runtime& rt, std::int64_t flags, const char* function, bool& byteLength)
{
    byteLength = (flags & kByteLength) != 0;
    const std::int64_t format = flags & ~kByteLength;
    if (format != kAscii && format != kUnicode && format != kUtf8)
        rt.Fail(QStringLiteral("pbrun does not support %1() with the format flags %2")
                    .arg(QLatin1String(function))
                    .arg(flags));
    if (byteLength && format != kUtf8)
        rt.Fail(QStringLiteral("%1(): #PB_ByteLength goes with #PB_UTF8 only").arg(QLatin1String(function)));
    return format;
}

} // namespace

namespace {

// Windows-1252 at 0x80 to 0x9F (0: no character there); 0xA0 to 0xFF are Latin-1's.
constexpr char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

[[noreturn]] void NoCodePage(Runtime& rt, const char* function, QChar c)
{
    if (rt.target.os != Os::Windows)
        rt.Fail(QStringLiteral("pbrun does not support %1() with characters beyond ASCII in ASCII conversions on "
                               "%2: no source says which code page applies there")
                    .arg(QLatin1String(function),
                         rt.target.os == Os::Linux ? QStringLiteral("Linux") : QStringLiteral("macOS")));
    rt.Fail(QStringLiteral("pbrun does not support %1() with the character U+%2: code page 1252 has none, and what "
                           "Windows puts in its place is not documented")
                .arg(QLatin1String(function))
                .arg(c.unicode(), 4, 16, QLatin1Char('0')));
}

} // namespace

QString BytesToText(Runtime& rt, const QString& bytes, const char* function)
{
    QString text = bytes;
    for (QChar& c : text) {
        if (c.unicode() < 0x80)
            continue;
        const char16_t u = c.unicode() < 0xA0 ? kCp1252High[c.unicode() - 0x80] : c.unicode();
        if (rt.target.os != Os::Windows || u == 0 || c.unicode() > 0xFF)
            NoCodePage(rt, function, c);
        c = QChar(u);
    }
    return text;
}

QString TextToBytes(Runtime& rt, const QString& text, const char* function)
{
    QString bytes = text;
    for (QChar& c : bytes) {
        if (c.unicode() < 0x80)
            continue;
        char16_t byte = 0;
        if (c.unicode() >= 0xA0 && c.unicode() <= 0xFF)
            byte = c.unicode();
        for (int i = 0; i < 32 && byte == 0; ++i)
            if (kCp1252High[i] == c.unicode())
                byte = char16_t(0x80 + i);
        if (rt.target.os != Os::Windows || byte == 0)
            NoCodePage(rt, function, c);
        c = QChar(byte);
    }
    return bytes;
}

std::uint8_t* Runtime::Bytes(std::uint64_t address, std::uint64_t length, bool write)
{
    MemoryFault fault;
    std::uint8_t* p = memory.Access(address, std::max<std::uint64_t>(length, 1), write, fault);
    if (!p)
        Fail(fault.message);
    return p;
}

std::uint8_t* Runtime::Rest(std::uint64_t address, std::uint64_t& available, bool write)
{
    MemoryFault fault;
    std::uint8_t* p = memory.Access(address, 1, write, fault);
    if (!p)
        Fail(fault.message);
    available = fault.block->base + fault.block->size - address;
    return p;
}

std::int64_t Runtime::ObjectResult(std::int64_t number)
{
    if (number == -1)
        return nextAnyId++;
    return nextHandle++;
}

void Runtime::CheckObjectNumber(std::int64_t number, const char* function)
{
    // The debugger refuses object numbers above a limit; pbrun takes the same view of big numbers.
    if (number != -1 && (number < 0 || number > 100000))
        Fail(QStringLiteral("%1(): #%2 is not a valid object number").arg(QLatin1String(function)).arg(number));
}

// The flags of AllocateMemory() and ReAllocateMemory(): 0 or #PB_Memory_NoClear (5.10 on). Memory left
// uncleared holds whatever was there; pbrun fills it with a pattern, so a program that counts on zeros
// there shows it.
static bool NoClear(Runtime& rt, const std::vector<Value>& a, std::size_t index, const char* function)
{
    const std::int64_t flags = Arg(a, index, 0);
    if (flags != 0 && flags != kNoClear)
        rt.Fail(
            QStringLiteral("pbrun does not support %1() with the flags %2").arg(QLatin1String(function)).arg(flags));
    return flags == kNoClear;
}

constexpr std::uint8_t kUnclearedByte = 0xA5;

Value Bi_AllocateMemory(Runtime& rt, std::vector<Value>& a)
{
    if (a[0].i <= 0)
        rt.Fail(QStringLiteral("pbrun does not support AllocateMemory(%1): the manual does not say what a size of 0 "
                               "or less gives")
                    .arg(a[0].i));
    const bool noClear = NoClear(rt, a, 1, "AllocateMemory");
    Block* b = rt.memory.Allocate(std::uint64_t(a[0].i), BlockKind::Heap, rt.pos);
    if (b && noClear)
        std::fill(b->bytes.begin(), b->bytes.end(), kUnclearedByte);
    return Int(b ? std::int64_t(b->base) : 0);
}

Value Bi_FreeMemory(Runtime& rt, std::vector<Value>& a)
{
    MemoryFault fault;
    if (!rt.memory.Free(std::uint64_t(a[0].i), rt.pos, fault))
        rt.Fail(fault.message);
    return {};
}

Value Bi_MemorySize(Runtime& rt, std::vector<Value>& a)
{
    MemoryFault fault;
    const Block* b = rt.memory.HeapBlock(std::uint64_t(a[0].i), "MemorySize", fault);
    if (!b)
        rt.Fail(fault.message);
    return Int(std::int64_t(b->size));
}

Value Bi_ReAllocateMemory(Runtime& rt, std::vector<Value>& a)
{
    if (a[1].i <= 0)
        rt.Fail(QStringLiteral("pbrun does not support ReAllocateMemory() to %1 bytes: the manual does not say what "
                               "a size of 0 or less gives")
                    .arg(a[1].i));
    const std::uint64_t size = std::uint64_t(a[1].i);
    const bool noClear = NoClear(rt, a, 2, "ReAllocateMemory");
    if (a[0].i == 0) {
        Block* b = rt.memory.Allocate(size, BlockKind::Heap, rt.pos);
        if (b && noClear)
            std::fill(b->bytes.begin(), b->bytes.end(), kUnclearedByte);
        return Int(b ? std::int64_t(b->base) : 0);
    }
    MemoryFault fault;
    Block* old = rt.memory.HeapBlock(std::uint64_t(a[0].i), "ReAllocateMemory", fault);
    if (!old)
        rt.Fail(fault.message);
    Block* b = rt.memory.Allocate(size, BlockKind::Heap, rt.pos);
    if (!b)
        return Int(0); // the old block stays valid
    std::memcpy(b->bytes.data(), old->bytes.data(), std::size_t(std::min(size, old->size)));
    if (noClear && size > old->size)
        std::fill(b->bytes.begin() + std::ptrdiff_t(old->size), b->bytes.end(), kUnclearedByte);
    rt.memory.Release(old, rt.pos);
    return Int(std::int64_t(b->base));
}

Value Bi_CopyMemory(Runtime& rt, std::vector<Value>& a)
{
    const std::uint64_t n = Size(rt, a[2].i, "CopyMemory");
    if (n == 0)
        return {};
    const std::uint64_t src = std::uint64_t(a[0].i);
    const std::uint64_t dst = std::uint64_t(a[1].i);
    const std::uint8_t* from = rt.Bytes(src, n, false);
    std::uint8_t* to = rt.Bytes(dst, n, true);
    // The manual: "The source and destination buffers may not overlap."
    if (src < dst + n && dst < src + n)
        rt.Fail(QStringLiteral("CopyMemory(): the source and destination overlap (use MoveMemory())"));
    std::memcpy(to, from, std::size_t(n));
    return {};
}

Value Bi_MoveMemory(Runtime& rt, std::vector<Value>& a)
{
    const std::uint64_t n = Size(rt, a[2].i, "MoveMemory");
    if (n == 0)
        return {};
    const std::uint8_t* from = rt.Bytes(std::uint64_t(a[0].i), n, false);
    std::uint8_t* to = rt.Bytes(std::uint64_t(a[1].i), n, true);
    std::memmove(to, from, std::size_t(n));
    return {};
}

Value Bi_FillMemory(Runtime& rt, std::vector<Value>& a)
{
    const std::uint64_t n = Size(rt, a[1].i, "FillMemory");
    const std::int64_t value = Arg(a, 2, 0);
    const std::int64_t type = Arg(a, 3, 1);
    int width = 0;
    switch (type) {
    case 1:
        width = 1;
        break; // #PB_Byte
    case 3:
        width = 2;
        break; // #PB_Word
    case 5:
        width = 4;
        break; // #PB_Long
    case 24:
        width = 1;
        break; // #PB_Ascii, from 5.10
    case 25:
        width = 2;
        break; // #PB_Unicode, from 5.10
    case 11:
        width = rt.target.charSize();
        break; // #PB_Character, from 5.10
    case 21:
        width = rt.target.pointerSize();
        break; // #PB_Integer, from 5.10
    default:
        break;
    }
    if (width == 0 || (rt.target.version < Since::FillMemoryTypes && type != 1 && type != 3 && type != 5))
        rt.Fail(QStringLiteral("FillMemory(): type %1 is not supported on this version").arg(type));
    if (n % std::uint64_t(width) != 0)
        rt.Fail(QStringLiteral("pbrun does not support FillMemory() of %1 bytes with %2-byte values: what happens to "
                               "the rest is not documented")
                    .arg(n)
                    .arg(width));
    if (n == 0)
        return {};
    std::uint8_t* p = rt.Bytes(std::uint64_t(a[0].i), n, true);
    for (std::uint64_t i = 0; i < n; i += std::uint64_t(width))
        std::memcpy(p + i, &value, std::size_t(width));
    return {};
}

Value Bi_CompareMemory(Runtime& rt, std::vector<Value>& a)
{
    const std::uint64_t n = Size(rt, a[2].i, "CompareMemory");
    if (n == 0)
        return Int(1);
    const std::uint8_t* x = rt.Bytes(std::uint64_t(a[0].i), n, false);
    const std::uint8_t* y = rt.Bytes(std::uint64_t(a[1].i), n, false);
    return Int(std::memcmp(x, y, std::size_t(n)) == 0 ? 1 : 0);
}

// Reads a string as PeekS does: until a zero or `limit` characters (or bytes with #PB_ByteLength).
// Running off the end of the block is an error: the real program would read memory that is not its own.
static QString ReadString(Runtime& rt, std::uint64_t address, std::int64_t limit, std::int64_t flags, const char* fn)
{
    bool byteLength = false;
    const std::int64_t format = Format(rt, flags, fn, byteLength);
    std::uint64_t available = 0;
    const std::uint8_t* p = rt.Rest(address, available, false);
    const std::uint64_t max = limit < 0 ? UINT64_MAX : std::uint64_t(limit);
    auto overrun = [&]() {
        rt.Fail(QStringLiteral("%1() reads past the end of the block at %2 (no zero before it)")
                    .arg(QLatin1String(fn), HexAddress(address)));
    };
    QString text;
    if (format == kAscii) {
        std::uint64_t i = 0;
        for (; i < max; ++i) {
            if (i >= available)
                overrun();
            if (p[i] == 0)
                break;
            text += QChar(char16_t(p[i]));
        }
        return rt.target.unicode ? BytesToText(rt, text, fn) : text;
    } else if (format == kUnicode) {
        for (std::uint64_t i = 0; i < max; ++i) {
            if (2 * i + 2 > available)
                overrun();
            const char16_t unit = char16_t(p[2 * i] | p[2 * i + 1] << 8);
            if (unit == 0)
                break;
            text += QChar(unit);
        }
    } else {
        // UTF-8: decode one sequence at a time, so a limit in characters is honoured.
        std::uint64_t i = 0;
        std::uint64_t units = 0;
        while (units < max && (!byteLength || i < max)) {
            if (i >= available)
                overrun();
            const std::uint8_t lead = p[i];
            if (lead == 0)
                break;
            const int length = lead < 0x80         ? 1
                               : (lead >> 5) == 6  ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 0;
            if (length == 0 || i + std::uint64_t(length) > available || (byteLength && i + std::uint64_t(length) > max))
                rt.Fail(QStringLiteral("pbrun does not support %1() of invalid or cut UTF-8: the result is not "
                                       "documented")
                            .arg(QLatin1String(fn)));
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString ch = decoder(QByteArrayView(p + i, length));
            if (decoder.hasError())
                rt.Fail(QStringLiteral("pbrun does not support %1() of invalid UTF-8: the result is not documented")
                            .arg(QLatin1String(fn)));
            text += ch;
            units += std::uint64_t(ch.size());
            i += std::uint64_t(length);
        }
    }
    return rt.target.unicode ? text : TextToBytes(rt, text, fn);
}

Value Bi_PeekS(Runtime& rt, std::vector<Value>& a)
{
    Value r;
    r.s = ReadString(rt, std::uint64_t(a[0].i), Arg(a, 1, -1), Arg(a, 2, DefaultFormat(rt)), "PeekS");
    return r;
}

Value Bi_MemoryStringLength(Runtime& rt, std::vector<Value>& a)
{
    const std::int64_t flags = Arg(a, 1, DefaultFormat(rt));
    const QString text = ReadString(rt, std::uint64_t(a[0].i), -1, flags & ~kByteLength, "MemoryStringLength");
    if (flags & kByteLength)
        return Int(text.toUtf8().size());
    return Int(text.size());
}

Value Bi_PokeS(Runtime& rt, std::vector<Value>& a)
{
    bool byteLength = false;
    const std::int64_t format = Format(rt, Arg(a, 3, DefaultFormat(rt)), "PokeS", byteLength);
    if (byteLength)
        rt.Fail(QStringLiteral("PokeS(): #PB_ByteLength is a PeekS() flag"));
    QString text = a[1].s;
    const std::int64_t limit = Arg(a, 2, -1);
    if (limit >= 0 && limit < text.size())
        text.truncate(limit);
    if (!rt.target.unicode && format != kAscii)
        text = BytesToText(rt, text, "PokeS");
    QByteArray bytes;
    if (format == kAscii) {
        for (QChar c : rt.target.unicode ? TextToBytes(rt, text, "PokeS") : text)
            bytes.append(char(c.unicode()));
        bytes.append('\0');
    } else if (format == kUnicode) {
        for (QChar c : text) {
            bytes.append(char(c.unicode() & 0xFF));
            bytes.append(char(c.unicode() >> 8));
        }
        bytes.append(2, '\0');
    } else {
        bytes = text.toUtf8();
        bytes.append('\0');
    }
    std::uint8_t* p = rt.Bytes(std::uint64_t(a[0].i), std::uint64_t(bytes.size()), true);
    std::memcpy(p, bytes.constData(), std::size_t(bytes.size()));
    const int zero = format == kUnicode ? 2 : 1;
    return Int(bytes.size() - zero);
}

// Peek and Poke of numbers: the evaluator wraps the result to the function's type.
static Value PeekInt(Runtime& rt, std::vector<Value>& a, int size)
{
    std::int64_t v = 0;
    std::memcpy(&v, rt.Bytes(std::uint64_t(a[0].i), std::uint64_t(size), false), std::size_t(size));
    return Int(v);
}

static Value PokeInt(Runtime& rt, std::vector<Value>& a, int size)
{
    std::memcpy(rt.Bytes(std::uint64_t(a[0].i), std::uint64_t(size), true), &a[1].i, std::size_t(size));
    return {};
}

Value Bi_PeekA(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, 1);
}
Value Bi_PeekB(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, 1);
}
Value Bi_PeekC(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, rt.target.charSize());
}
Value Bi_PeekW(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, 2);
}
Value Bi_PeekU(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, 2);
}
Value Bi_PeekL(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, 4);
}
Value Bi_PeekI(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, rt.target.pointerSize());
}
Value Bi_PeekQ(Runtime& rt, std::vector<Value>& a)
{
    return PeekInt(rt, a, 8);
}
Value Bi_PokeA(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, 1);
}
Value Bi_PokeB(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, 1);
}
Value Bi_PokeC(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, rt.target.charSize());
}
Value Bi_PokeW(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, 2);
}
Value Bi_PokeU(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, 2);
}
Value Bi_PokeL(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, 4);
}
Value Bi_PokeI(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, rt.target.pointerSize());
}
Value Bi_PokeQ(Runtime& rt, std::vector<Value>& a)
{
    return PokeInt(rt, a, 8);
}

Value Bi_PeekF(Runtime& rt, std::vector<Value>& a)
{
    float f;
    std::memcpy(&f, rt.Bytes(std::uint64_t(a[0].i), 4, false), 4);
    Value r;
    r.d = f;
    return r;
}

Value Bi_PeekD(Runtime& rt, std::vector<Value>& a)
{
    Value r;
    std::memcpy(&r.d, rt.Bytes(std::uint64_t(a[0].i), 8, false), 8);
    return r;
}

Value Bi_PokeF(Runtime& rt, std::vector<Value>& a)
{
    const float f = float(a[1].d);
    std::memcpy(rt.Bytes(std::uint64_t(a[0].i), 4, true), &f, 4);
    return {};
}

Value Bi_PokeD(Runtime& rt, std::vector<Value>& a)
{
    std::memcpy(rt.Bytes(std::uint64_t(a[0].i), 8, true), &a[1].d, 8);
    return {};
}

} // namespace hexaloom::pbrun
