// Images, sounds, sprites, music, windows and the console, without a screen: each Catch function checks
// the format header the real loader needs, records the bytes it was given and returns non-zero only for
// bytes its format accepts. The libraries' own preconditions (InitSound(), InitSprite() and a screen)
// are enforced as the debugger does.
#include "Builtins.h"

#include <cstring>

namespace hexaloom::pbrun {

namespace {

std::uint32_t U32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint32_t U32Big(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

std::uint16_t U16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

enum class Format { Unknown, Bmp, Ico, Png, Jpeg, Wav, Mod, Xm, S3m, It };

// The length a loader reads when it is given no size: what the header says, or 0 when it cannot tell.
// `data` holds `available` bytes up to the end of the block.
std::uint64_t ImageLength(Format f, const std::uint8_t* data, std::uint64_t available)
{
    switch (f) {
    case Format::Bmp:
        return available >= 6 ? U32(data + 2) : 0;
    case Format::Ico: {
        if (available < 6)
            return 0;
        const std::uint64_t count = U16(data + 4);
        if (available < 6 + 16 * count)
            return 0;
        std::uint64_t end = 6 + 16 * count;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* e = data + 6 + 16 * i;
            end = std::max<std::uint64_t>(end, std::uint64_t(U32(e + 12)) + U32(e + 8));
        }
        return end;
    }
    case Format::Png: {
        std::uint64_t at = 8;
        while (at + 12 <= available) {
            const std::uint64_t length = U32Big(data + at);
            const bool end = std::memcmp(data + at + 4, "IEND", 4) == 0;
            at += 12 + length;
            if (end)
                return at;
        }
        return 0;
    }
    case Format::Wav:
        return available >= 8 ? std::uint64_t(U32(data + 4)) + 8 : 0;
    default:
        return 0;
    }
}

Format Sniff(const std::uint8_t* p, std::uint64_t n)
{
    auto starts = [&](const char* magic, std::uint64_t at = 0) {
        const std::size_t len = std::strlen(magic);
        return n >= at + len && std::memcmp(p + at, magic, len) == 0;
    };
    if (starts("BM"))
        return Format::Bmp;
    if (n >= 6 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0 && U16(p + 4) > 0)
        return Format::Ico;
    if (starts("\x89PNG\r\n\x1a\n"))
        return Format::Png;
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return Format::Jpeg;
    if (starts("RIFF") && starts("WAVE", 8))
        return Format::Wav;
    if (starts("Extended Module: "))
        return Format::Xm;
    if (starts("SCRM", 44))
        return Format::S3m;
    if (starts("IMPM"))
        return Format::It;
    for (const char* tag : {"M.K.", "M!K!", "FLT4", "FLT8", "4CHN", "6CHN", "8CHN"})
        if (starts(tag, 1080))
            return Format::Mod;
    return Format::Unknown;
}

// A bitmap whose header is sound: file size, pixel offset and DIB header inside the bytes.
bool BmpValid(const std::uint8_t* p, std::uint64_t n)
{
    if (n < 26 || U32(p + 2) > n)
        return false;
    const std::uint32_t dib = U32(p + 14);
    if (dib != 12 && dib != 40 && dib != 52 && dib != 56 && dib != 108 && dib != 124)
        return false;
    return U32(p + 10) >= 14 + dib && U32(p + 10) <= n;
}

bool IcoValid(const std::uint8_t* p, std::uint64_t n)
{
    const std::uint64_t count = U16(p + 4);
    if (n < 6 + 16 * count)
        return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* e = p + 6 + 16 * i;
        if (std::uint64_t(U32(e + 12)) + U32(e + 8) > n || U32(e + 8) == 0)
            return false;
    }
    return true;
}

// A PCM wave (and, from 6.12, 32-bit float).
bool WavValid(const std::uint8_t* p, std::uint64_t n, int version)
{
    bool format = false;
    bool data = false;
    for (std::uint64_t at = 12; at + 8 <= n;) {
        const std::uint64_t size = U32(p + at + 4);
        if (at + 8 + size > n)
            return false;
        if (std::memcmp(p + at, "fmt ", 4) == 0 && size >= 16) {
            const int tag = U16(p + at + 8);
            format = tag == 1 || (tag == 3 && version >= Since::FloatWav);
        }
        if (std::memcmp(p + at, "data", 4) == 0)
            data = true;
        at += 8 + size + (size & 1);
    }
    return format && data;
}

struct Loaded
{
    const std::uint8_t* bytes = nullptr;
    std::uint64_t length = 0;
    Format format = Format::Unknown;
};

// The bytes a loader takes: `size` when given (all must be in one block), else what the header says.
Loaded Take(Runtime& rt, std::uint64_t address, const std::int64_t* size, const char* function)
{
    Loaded l;
    if (size) {
        if (*size <= 0)
            rt.Fail(QStringLiteral("pbrun does not support %1() with a size of %2")
                        .arg(QLatin1String(function))
                        .arg(*size));
        l.bytes = rt.Bytes(address, std::uint64_t(*size), false);
        l.length = std::uint64_t(*size);
        l.format = Sniff(l.bytes, l.length);
        return l;
    }
    std::uint64_t available = 0;
    const std::uint8_t* p = rt.Rest(address, available, false);
    l.format = Sniff(p, available);
    const std::uint64_t length = ImageLength(l.format, p, available);
    if (length == 0) {
        // No format the loader knows: it gives up after the header, and records no bytes.
        l.bytes = p;
        l.format = Format::Unknown;
        return l;
    }
    l.bytes = rt.Bytes(address, length, false);
    l.length = length;
    return l;
}

Value Record(Runtime& rt, const char* function, std::int64_t object, const Loaded& l, bool accepted)
{
    CatchRecord r;
    r.function = QLatin1String(function);
    r.object = object;
    r.bytes = QByteArray(reinterpret_cast<const char*>(l.bytes), qsizetype(l.length));
    r.result = accepted ? rt.ObjectResult(object) : 0;
    r.where = rt.Where();
    rt.catches.push_back(r);
    return Int(r.result);
}

bool ImageAccepted(const Runtime& rt, const Loaded& l)
{
    switch (l.format) {
    case Format::Bmp:
        return BmpValid(l.bytes, l.length);
    case Format::Ico:
        return IcoValid(l.bytes, l.length);
    case Format::Png:
        return rt.pngDecoder;
    case Format::Jpeg:
        return rt.jpegDecoder;
    default:
        return false;
    }
}

} // namespace

Value Bi_UsePNGImageDecoder(Runtime& rt, std::vector<Value>&)
{
    rt.pngDecoder = true;
    return {};
}

Value Bi_UseJPEGImageDecoder(Runtime& rt, std::vector<Value>&)
{
    rt.jpegDecoder = true;
    return {};
}

Value Bi_CatchImage(Runtime& rt, std::vector<Value>& a)
{
    rt.CheckObjectNumber(a[0].i, "CatchImage");
    const Loaded l = Take(rt, std::uint64_t(a[1].i), a.size() > 2 ? &a[2].i : nullptr, "CatchImage");
    return Record(rt, "CatchImage", a[0].i, l, ImageAccepted(rt, l));
}

Value Bi_CatchSprite(Runtime& rt, std::vector<Value>& a)
{
    rt.CheckObjectNumber(a[0].i, "CatchSprite");
    if (!rt.spriteReady || !rt.screenOpen)
        rt.Fail(QStringLiteral("CatchSprite(): InitSprite() and OpenScreen() or OpenWindowedScreen() must come first"));
    const Loaded l = Take(rt, std::uint64_t(a[1].i), nullptr, "CatchSprite");
    return Record(rt, "CatchSprite", a[0].i, l, ImageAccepted(rt, l) && l.format != Format::Ico);
}

Value Bi_CatchSound(Runtime& rt, std::vector<Value>& a)
{
    rt.CheckObjectNumber(a[0].i, "CatchSound");
    // The manual: InitSound() "must be always called before any other sound command".
    if (!rt.soundReady)
        rt.Fail(QStringLiteral("CatchSound(): InitSound() must be called first"));
    const Loaded l = Take(rt, std::uint64_t(a[1].i), a.size() > 2 ? &a[2].i : nullptr, "CatchSound");
    return Record(rt, "CatchSound", a[0].i, l,
                  l.format == Format::Wav && WavValid(l.bytes, l.length, rt.target.version));
}

static Value CatchTracker(Runtime& rt, std::vector<Value>& a, const char* function)
{
    rt.CheckObjectNumber(a[0].i, function);
    const Loaded l = Take(rt, std::uint64_t(a[1].i), &a[2].i, function);
    const bool accepted = (l.format == Format::Mod && l.length >= 1084) || l.format == Format::Xm ||
                          l.format == Format::S3m || l.format == Format::It;
    return Record(rt, function, a[0].i, l, accepted);
}

Value Bi_CatchModule(Runtime& rt, std::vector<Value>& a)
{
    if (!rt.moduleReady)
        rt.Fail(QStringLiteral("CatchModule(): InitModule() must be called first"));
    return CatchTracker(rt, a, "CatchModule");
}

Value Bi_CatchMusic(Runtime& rt, std::vector<Value>& a)
{
    // The Music manual: "The command InitSound has to be called successfully before using any of the music
    // related functions."
    if (!rt.soundReady)
        rt.Fail(QStringLiteral("CatchMusic(): InitSound() must be called first"));
    return CatchTracker(rt, a, "CatchMusic");
}

Value Bi_InitSound(Runtime& rt, std::vector<Value>& a)
{
    if (!a.empty() && (a[0].i < 1 || a[0].i > 254)) // 6.10: "Range from 1 to 254"
        rt.Fail(QStringLiteral("pbrun does not know InitSound(%1): the manual's range is 1 to 254").arg(a[0].i));
    rt.soundReady = true;
    return Int(1);
}

Value Bi_InitSprite(Runtime& rt, std::vector<Value>&)
{
    rt.spriteReady = true;
    return Int(1);
}

Value Bi_InitModule(Runtime& rt, std::vector<Value>&)
{
    rt.moduleReady = true;
    return Int(1);
}

Value Bi_OpenScreen(Runtime& rt, std::vector<Value>&)
{
    if (!rt.spriteReady)
        rt.Fail(QStringLiteral("OpenScreen(): InitSprite() must be called first"));
    rt.screenOpen = true;
    return Int(1);
}

Value Bi_OpenWindowedScreen(Runtime& rt, std::vector<Value>& a)
{
    if (!rt.spriteReady)
        rt.Fail(QStringLiteral("OpenWindowedScreen(): InitSprite() must be called first"));
    if (!rt.windowOpen || a[0].i == 0)
        rt.Fail(QStringLiteral("OpenWindowedScreen(): no window with that WindowID()"));
    rt.screenOpen = true;
    return Int(1);
}

Value Bi_OpenWindow(Runtime& rt, std::vector<Value>& a)
{
    rt.CheckObjectNumber(a[0].i, "OpenWindow");
    ProgramText(rt, a[5].s, "OpenWindow");
    rt.windowOpen = true;
    return Int(rt.ObjectResult(a[0].i));
}

Value Bi_WindowID(Runtime& rt, std::vector<Value>& a)
{
    if (!rt.windowOpen)
        rt.Fail(QStringLiteral("WindowID(): the window #%1 is not open").arg(a[0].i));
    return Int(0x00050000 + a[0].i);
}

Value Bi_OpenConsole(Runtime&, std::vector<Value>&)
{
    return Int(1);
}

Value Bi_CloseConsole(Runtime&, std::vector<Value>&)
{
    return {};
}

Value Bi_Print(Runtime& rt, std::vector<Value>& a)
{
    rt.output += ProgramText(rt, a[0].s, "Print");
    return {};
}

Value Bi_PrintN(Runtime& rt, std::vector<Value>& a)
{
    rt.output += ProgramText(rt, a[0].s, "PrintN") + QLatin1Char('\n');
    return {};
}

Value Bi_Input(Runtime& rt, std::vector<Value>&)
{
    Value r;
    if (!rt.input.isEmpty())
        r.s = rt.target.unicode ? rt.input.takeFirst() : TextToBytes(rt, rt.input.takeFirst(), "Input");
    return r;
}

} // namespace hexaloom::pbrun
