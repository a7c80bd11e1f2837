#include "IncludeReader.h"

#include "AtomicFile.h"
#include "IncludeLayout.h"
#include "LittleEndian.h"
#include "PackedBlock.h"
#include "ParallelFor.h"
#include "Paths.h"
#include "Reasons.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#ifndef Q_OS_WIN
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#endif

namespace hexaloom {

namespace layout = include_layout;
using include_layout::Latin;

namespace {

std::string_view Trimmed(std::string_view line)
{
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

QString Quote(std::string_view line)
{
    constexpr std::size_t kShown = 60;
    const QString text = QString::fromUtf8(line.data(), qsizetype(std::min(line.size(), kShown)));
    return QLatin1Char('"') + text + (line.size() > kShown ? QStringLiteral("...\"") : QStringLiteral("\""));
}

std::uint32_t Crc32Of(const char* bytes, qint64 length)
{
    uLong crc = crc32(0, nullptr, 0);
    for (qint64 done = 0; done < length;) {
        const qint64 n = std::min<qint64>(length - done, qint64(1) << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes + done), uInt(n));
        done += n;
    }
    return std::uint32_t(crc);
}

// The include's lines from a position on, trimmed, with their line numbers.
class Lines
{
public:
    Lines(QByteArrayView text, qsizetype from)
        : m_text(text.constData()), m_size(text.size()), m_pos(from),
          m_number(static_cast<int>(std::count(text.constData(), text.constData() + from, '\n')))
    {
    }
    // Lines of a piece of text, numbered from 1.
    explicit Lines(std::string_view piece)
        : m_text(piece.data()), m_size(qsizetype(piece.size())), m_pos(0), m_number(0)
    {
    }
    bool Next(std::string_view& line)
    {
        if (m_pos >= m_size)
            return false;
        const char* start = m_text + m_pos;
        const void* found = std::memchr(start, '\n', static_cast<std::size_t>(m_size - m_pos));
        const qsizetype end = found ? static_cast<const char*>(found) - m_text : m_size;
        line = Trimmed(std::string_view(start, static_cast<std::size_t>(end - m_pos)));
        m_pos = end + 1;
        ++m_number;
        return true;
    }
    // The next line that is not empty.
    bool NextFilled(std::string_view& line)
    {
        while (Next(line)) {
            if (!line.empty())
                return true;
        }
        return false;
    }
    int number() const { return m_number; }
    qsizetype position() const { return m_pos; }
    void MoveTo(qsizetype position, int number)
    {
        m_pos = position;
        m_number = number;
    }

private:
    const char* m_text;
    qsizetype m_size;
    qsizetype m_pos;
    int m_number;
};

// Hexadecimal digit values by character, -1 for any other character.
struct HexDigits
{
    signed char value[256];
    constexpr HexDigits() : value()
    {
        for (int c = 0; c < 256; ++c)
            value[c] = c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                              : -1;
    }
};
constexpr HexDigits kHexDigits;

// The byte two hexadecimal digits spell, by the two characters as the machine loads them from memory as
// one 16-bit number; -1 where either is no digit. 128 KiB, so that a long takes four lookups.
struct HexPairs
{
    std::int16_t value[1 << 16];
    HexPairs()
    {
        for (int first = 0; first < 256; ++first) {
            for (int second = 0; second < 256; ++second) {
                const int high = kHexDigits.value[first];
                const int low = kHexDigits.value[second];
                const int key = std::endian::native == std::endian::little ? first | second << 8 : first << 8 | second;
                value[key] = static_cast<std::int16_t>(high < 0 || low < 0 ? -1 : high << 4 | low);
            }
        }
    }
};

// The value of eight hexadecimal digits; false when one is no digit.
bool EightHexDigits(const char* digits, std::uint32_t& value)
{
    static const HexPairs pairs;
    std::uint16_t keys[4];
    std::memcpy(keys, digits, sizeof keys);
    const int b0 = pairs.value[keys[0]];
    const int b1 = pairs.value[keys[1]];
    const int b2 = pairs.value[keys[2]];
    const int b3 = pairs.value[keys[3]];
    if ((b0 | b1 | b2 | b3) < 0)
        return false;
    value = std::uint32_t(b0) << 24 | std::uint32_t(b1) << 16 | std::uint32_t(b2) << 8 | std::uint32_t(b3);
    return true;
}

// The values of one "Data.l" or "Data.b" line ("$" and hex digits, separated by ","), written
// little-endian at `out` as the program holds them; `out` moves past them. False when a value is no
// such number or does not fit. A line of n characters yields at most 2n bytes.
bool DecodeDataValues(std::string_view values, int width, char*& out)
{
    const char* p = values.data();
    const char* const end = p + values.size();
    const int maxDigits = width * 2;
    auto blanks = [&] {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
    };
    for (;;) {
        // The writer's own spelling, "$" and eight digits, decoded without a loop; the last value of a line
        // has no "," after it.
        if (width == 4 && end - p >= 9 && p[0] == '$' && (end - p == 9 || p[9] == ',')) {
            std::uint32_t v = 0;
            if (EightHexDigits(p + 1, v)) {
                WriteLe32(reinterpret_cast<std::uint8_t*>(out), v);
                out += 4;
                p += 9;
                if (p == end)
                    return true;
                ++p;
                continue;
            }
        }
        blanks();
        if (p == end || *p != '$')
            return false;
        ++p;
        std::uint32_t v = 0;
        int digits = 0;
        for (int d; p < end && (d = kHexDigits.value[static_cast<unsigned char>(*p)]) >= 0; ++p, ++digits)
            v = v << 4 | static_cast<std::uint32_t>(d);
        if (digits == 0 || digits > maxDigits)
            return false;
        WriteLe(reinterpret_cast<std::uint8_t*>(out), v, std::size_t(width));
        out += width;
        blanks();
        if (p == end)
            return true;
        if (*p++ != ',')
            return false;
    }
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// A decimal "Data.l" value of the size table.
bool SizeLine(std::string_view line, std::int64_t& value)
{
    if (!StartsWith(line, layout::kLongs))
        return false;
    const std::string_view digits = Trimmed(line.substr(layout::kLongs.size()));
    if (digits.empty() || digits.size() > 10)
        return false;
    value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value <= kMaxStoredSize;
}

// The last double-quoted text of an IncludeBinary line, reduced to its file name: the pack file lies beside
// the include, however the line spells its folder.
QString IncludedName(std::string_view line)
{
    const std::size_t close = line.rfind('"');
    if (close == std::string_view::npos || close == 0)
        return {};
    const std::size_t open = line.rfind('"', close - 1);
    if (open == std::string_view::npos)
        return {};
    return FileNamePart(QString::fromUtf8(line.data() + open + 1, qsizetype(close - open - 1)));
}

// What the lines of a data section hold: the decoded hex data, or the pack file's name; or the first line
// that belongs to neither (`badLine` counted from 1 within the section, 0 when none).
struct Section
{
    QByteArray data;
    QString packName;
    int lines = 0;
    int badLine = 0;
    QString why;
    // Hex lines: where a line begins (in the text, in the data) about every kMarkBytes of data after the
    // first, so that the data can be decoded again in small pieces.
    std::vector<std::pair<qsizetype, qsizetype>> marks{};
};

constexpr qsizetype kMarkBytes = 32 << 10;

Section ReadSection(std::string_view text, bool hexdata, bool mark = false)
{
    Section section;
    qsizetype marked = 0;
    // Hex lines hold 0.4 bytes per character as the writer spells them; other spellings may need more.
    qsizetype used = 0;
    if (hexdata)
        section.data.resize(qsizetype(text.size()) / 5 * 2 + 64);
    Lines lines(text);
    std::string_view line;
    auto bad = [&](const QString& why) {
        section.badLine = lines.number();
        section.why = why;
        return section;
    };
    for (qsizetype lineStart = 0; lines.NextFilled(line); lineStart = lines.position()) {
        if (hexdata && (StartsWith(line, layout::kLongs) || StartsWith(line, layout::kBytes))) {
            if (mark && used - marked >= kMarkBytes) {
                section.marks.emplace_back(lineStart, used);
                marked = used;
            }
            const qsizetype most = used + 2 * qsizetype(line.size());
            if (most > section.data.size())
                section.data.resize(std::max(most, section.data.size() * 2));
            char* at = section.data.data() + used;
            const bool longs = StartsWith(line, layout::kLongs);
            const bool decoded = DecodeDataValues(line.substr(layout::kLongs.size()), longs ? 4 : 1, at);
            used = at - section.data.constData();
            if (!decoded)
                return bad(QStringLiteral("%1 holds a value that is no hexadecimal %2")
                               .arg(Quote(line), longs ? QStringLiteral("long") : QStringLiteral("byte")));
        } else if (!hexdata && line.find(layout::kIncludeBinary) != std::string_view::npos) {
            const QString name = IncludedName(line);
            if (name.isEmpty() || (!section.packName.isEmpty() && name != section.packName))
                return bad(Quote(line) + QStringLiteral(" where one IncludeBinary line naming the pack file belongs"));
            section.packName = name;
        } else if (!StartsWith(line, "Compiler") &&
                   (line.back() != ':' || line.find_first_of(" \t") != std::string_view::npos)) {
            // Block labels and version branches are markers for the reader of the source only; all else is wrong.
            return bad(Quote(line) + (hexdata ? QStringLiteral(" where data lines belong")
                                              : QStringLiteral(" where the IncludeBinary line belongs")));
        }
    }
    section.data.resize(used);
    section.lines = lines.number();
    return section;
}

// The first line that reads ";{ Hexaloom - HexData" or ";{ Hexaloom - BinPack": it follows the template,
// near the start, while the data section after it may be long.
qsizetype FindMarker(QByteArrayView all, OutputKind& kind)
{
    const std::string_view text(all.constData(), std::size_t(all.size()));
    constexpr std::string_view prefix = layout::kMarkerPrefix;
    for (std::size_t at = text.find(prefix); at != std::string_view::npos; at = text.find(prefix, at + 1)) {
        if (at > 0 && text[at - 1] != '\n')
            continue;
        const std::string_view rest =
            Trimmed(text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size()));
        if (rest == layout::kHexdataWord || rest == layout::kBinpackWord) {
            kind = rest == layout::kHexdataWord ? OutputKind::Hexdata : OutputKind::Binpack;
            return qsizetype(at);
        }
    }
    return -1;
}

#ifndef Q_OS_WIN
// A file mapped into memory that gets shorter (another program truncates it) makes every touch of the
// pages past its new end a SIGBUS. Those pages of our mappings are replaced with zeros instead, and the
// reader is told that the file changed; a SIGBUS anywhere else ends the program as before.
struct MappingGuard
{
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0}; // the end of the mapping's last page
    std::atomic<bool> hit{false};
};
MappingGuard g_guards[32];
std::uintptr_t g_pageSize = 4096;

extern "C" void ZeroTheShrunkenMapping(int, siginfo_t* info, void*)
{
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (MappingGuard& guard : g_guards) {
        const std::uintptr_t start = guard.start.load();
        const std::uintptr_t end = guard.end.load();
        if (start == 0 || at < start || at >= end)
            continue;
        const std::uintptr_t from = at & ~(g_pageSize - 1);
        if (::mmap(reinterpret_cast<void*>(from), end - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                   0) != MAP_FAILED) {
            guard.hit.store(true);
            return;
        }
    }
    std::signal(SIGBUS, SIG_DFL); // not ours: the touch happens again and ends the program
}

// A slot watching `size` bytes mapped at `start`; -1 when all are taken (the mapping is then not used).
int GuardMapping(const uchar* start, qint64 size)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        g_pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = ZeroTheShrunkenMapping;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
    const auto from = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t end = (from + std::uintptr_t(size) + g_pageSize - 1) & ~(g_pageSize - 1);
    for (int i = 0; i < 32; ++i) {
        std::uintptr_t expected = 0;
        if (g_guards[i].start.compare_exchange_strong(expected, 1)) { // taken, not yet watching
            g_guards[i].hit.store(false);
            g_guards[i].end.store(end);
            g_guards[i].start.store(from);
            return i;
        }
    }
    return -1;
}
#endif

// An include's text: a file mapped into memory, or a copy.
struct IncludeText
{
    QFile file;
    QByteArray copy;
    const char* text = nullptr;
    qsizetype size = 0;
    int guard = -1;                          // the mapping's watch for a file that shrinks
    mutable std::atomic<bool> shrunk{false}; // a read found the file shorter than when it was mapped

    ~IncludeText()
    {
#ifndef Q_OS_WIN
        if (guard >= 0) {
            file.unmap(reinterpret_cast<uchar*>(const_cast<char*>(text)));
            g_guards[guard].end.store(0);
            g_guards[guard].start.store(0);
        }
#endif
    }
    bool changed() const
    {
#ifndef Q_OS_WIN
        return shrunk.load() || (guard >= 0 && g_guards[guard].hit.load());
#else
        return false;
#endif
    }

    std::string_view view() const
    {
        return {text, std::size_t(size)};
    }
    // A piece of the text as bytes of its own: a mapped file is read with pread, so that the pieces of a
    // long data section never become part of this process's memory (the mapping serves the few lines
    // at the start and end that are looked through).
    std::string_view Piece(std::string_view range, QByteArray& buffer) const
    {
#ifndef Q_OS_WIN
        if (copy.isEmpty() && !range.empty()) {
            buffer.resize(qsizetype(range.size()));
            qint64 offset = range.data() - text;
            char* out = buffer.data();
            std::size_t left = range.size();
            while (left > 0) {
                const ssize_t n = ::pread(file.handle(), out, left, offset);
                if (n <= 0) {
                    if (n < 0 && errno == EINTR)
                        continue;
                    shrunk.store(n == 0);
                    return range; // unreadable now: the mapping says the same
                }
                out += n;
                offset += n;
                left -= std::size_t(n);
            }
            return {buffer.constData(), range.size()};
        }
#else
        Q_UNUSED(buffer);
#endif
        return range;
    }
};

// The hex lines of a data section, decoded again piece by piece when read: the section is split into
// pieces of whole lines, and each piece knows where its bytes begin, how many there are and their CRC-32.
class HexBytes : public ByteSource
{
public:
    struct Piece
    {
        std::string_view text;
        qint64 start = 0;      // the offset of its first byte in the decoded data
        qint64 size = 0;       // its decoded bytes
        std::uint32_t crc = 0; // their CRC-32
    };
    HexBytes(std::shared_ptr<const IncludeText> text, std::vector<Piece> pieces, qint64 size)
        : m_text(std::move(text)), m_pieces(std::move(pieces)), m_size(size)
    {
    }
    qint64 size() const override { return m_size; }
    bool Read(qint64 offset, std::uint8_t* out, qint64 length) const override;
    bool Crc(qint64 offset, qint64 length, std::uint32_t& crc) const override;
    bool Changed() const override { return m_text->changed(); }

private:
    // The piece a thread decoded last: reads come in order, a few pieces each. Kept here rather than in
    // thread_local storage, which a MinGW program frees before the destructors run when a thread ends.
    struct Decoded
    {
        std::size_t piece = std::numeric_limits<std::size_t>::max();
        QByteArray bytes;
        QByteArray buffer;
    };
    Decoded& ThisThreadsPiece() const;

    std::shared_ptr<const IncludeText> m_text;
    std::vector<Piece> m_pieces;
    qint64 m_size;
    mutable std::mutex m_decodedMutex;
    mutable std::map<std::thread::id, std::unique_ptr<Decoded>> m_decoded;
};

// Where the line "Vorkel_CatchInfo:" (the last one; only the size table follows it) begins, at or after
// `from`; npos when there is none.
std::size_t FindCatchInfo(std::string_view text, std::size_t from)
{
    constexpr std::string_view info = layout::kCatchInfo;
    std::size_t end = text.rfind(info);
    for (; end != std::string_view::npos && end >= from;
         end = end == 0 ? std::string_view::npos : text.rfind(info, end - 1)) {
        const std::size_t lineStart = text.find_last_of('\n', end) + 1; // npos + 1 is 0
        const std::size_t lineEnd = std::min(text.find('\n', end), text.size());
        if (Trimmed(text.substr(lineStart, lineEnd - lineStart)) == info && lineStart >= from)
            return lineStart;
    }
    return std::string_view::npos;
}

// The data section `all` in pieces of whole lines, each read on one of the cores: its lines checked, its
// bytes counted and, in parts of about kMarkBytes, their CRC-32 taken; then, for a hex section, dropped
// again. They are decoded once more where they are read, a part at a time (so that reading a block
// decodes little beyond it), but a CRC-32 over whole parts needs no second decoding.
struct SectionPieces
{
    std::vector<HexBytes::Piece> pieces;
    qint64 size = 0;
    Section summary; // packName, lines, badLine and why
};

SectionPieces ReadPieces(const IncludeText& text, std::string_view all, bool hexdata)
{
    constexpr std::size_t kPiece = 1 << 20;
    SectionPieces result;
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start < all.size() || pieces.empty();) {
        std::size_t stop = all.size();
        if (hexdata && all.size() - start > kPiece) {
            // Looked for through Piece as well: one touch of a mapping may bring megabytes with it.
            QByteArray window;
            std::size_t newline = std::string_view::npos;
            for (std::size_t at = start + kPiece; at < all.size() && newline == std::string_view::npos; at += 4096) {
                const std::string_view part = text.Piece(all.substr(at, 4096), window);
                const std::size_t found = part.find('\n');
                if (found != std::string_view::npos)
                    newline = at + found;
            }
            stop = newline == std::string_view::npos ? all.size() : newline + 1;
        }
        pieces.push_back(all.substr(start, stop - start));
        start = stop;
    }
    std::vector<Section> read(pieces.size());
    std::vector<std::vector<HexBytes::Piece>> parts(pieces.size()); // each piece's parts, counted from it
    ParallelFor(pieces.size(), [&](std::size_t k) {
        QByteArray buffer;
        read[k] = ReadSection(text.Piece(pieces[k], buffer), hexdata, true);
        // Parts from mark to mark, each with its bytes' CRC-32.
        const Section& section = read[k];
        std::pair<qsizetype, qsizetype> from{0, 0};
        for (std::size_t m = 0; m <= section.marks.size(); ++m) {
            const auto to = m < section.marks.size()
                                ? section.marks[m]
                                : std::pair<qsizetype, qsizetype>(qsizetype(pieces[k].size()), section.data.size());
            parts[k].push_back({pieces[k].substr(std::size_t(from.first), std::size_t(to.first - from.first)),
                                from.second, to.second - from.second,
                                Crc32Of(section.data.constData() + from.second, to.second - from.second)});
            from = to;
        }
        read[k].data = QByteArray();
        read[k].marks = {};
    });
    Section& whole = result.summary;
    for (std::size_t k = 0; k < read.size(); ++k) {
        if (read[k].badLine != 0) {
            whole.badLine = whole.lines + read[k].badLine;
            whole.why = read[k].why;
            return result;
        }
        whole.lines += read[k].lines;
        if (hexdata) {
            for (HexBytes::Piece& part : parts[k]) {
                part.start += result.size;
                result.pieces.push_back(part);
            }
            result.size = result.pieces.back().start + result.pieces.back().size;
        } else {
            whole.packName = read[k].packName;
        }
    }
    return result;
}

} // namespace

HexBytes::Decoded& HexBytes::ThisThreadsPiece() const
{
    const std::lock_guard lock(m_decodedMutex);
    std::unique_ptr<Decoded>& slot = m_decoded[std::this_thread::get_id()];
    if (!slot)
        slot = std::make_unique<Decoded>();
    return *slot;
}

bool HexBytes::Read(qint64 offset, std::uint8_t* out, qint64 length) const
{
    if (offset < 0 || length < 0 || offset + length > m_size)
        return false;
    Decoded& decoded = ThisThreadsPiece();
    while (length > 0) {
        const auto after = std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                                            [](qint64 at, const Piece& piece) { return at < piece.start; });
        const std::size_t k = std::size_t(after - m_pieces.begin()) - 1;
        if (decoded.piece != k) {
            decoded.piece = std::numeric_limits<std::size_t>::max();
            decoded.bytes = ReadSection(m_text->Piece(m_pieces[k].text, decoded.buffer), true).data;
            decoded.piece = k;
        }
        const qint64 inside = offset - m_pieces[k].start;
        const qint64 n = std::min<qint64>(length, decoded.bytes.size() - inside);
        if (n <= 0)
            return false;
        std::memcpy(out, decoded.bytes.constData() + inside, std::size_t(n));
        out += n;
        offset += n;
        length -= n;
    }
    return true;
}

bool HexBytes::Crc(qint64 offset, qint64 length, std::uint32_t& crc) const
{
    if (offset < 0 || length < 0 || offset + length > m_size)
        return false;
    crc = 0;
    if (length == 0)
        return true;
    // Whole pieces give the CRC-32 the first reading took; only the pieces the range cuts are decoded.
    uLong sum = crc32(0, nullptr, 0);
    const qint64 end = offset + length;
    auto at = std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                               [](qint64 position, const Piece& piece) { return position < piece.start; });
    for (--at; offset < end; ++at) {
        const qint64 pieceEnd = at->start + at->size;
        if (at->start == offset && pieceEnd <= end) {
            sum = crc32_combine(sum, at->crc, z_off_t(at->size)); // a part is some 32 KiB
            offset = pieceEnd;
            continue;
        }
        Bytes part(std::size_t(std::min(end, pieceEnd) - offset));
        if (!Read(offset, part.data(), qint64(part.size())))
            return false;
        sum = crc32(sum, part.data(), uInt(part.size()));
        offset += qint64(part.size());
    }
    crc = std::uint32_t(sum);
    return true;
}

namespace {

OutputContents ParseIncludeText(const std::shared_ptr<const IncludeText>& source, const PackLoader& loadPack)
{
    OutputContents out;
    const QByteArrayView text(source->text, source->size);
    // The generated part begins after the access-code template, at its marker line.
    const qsizetype marker = FindMarker(text, out.kind);
    if (marker < 0)
        return Unreadable(
            out, QStringLiteral("no Hexaloom include: the line \"%1%2\" or \"%1%3\" is missing")
                     .arg(Latin(layout::kMarkerPrefix), Latin(layout::kHexdataWord), Latin(layout::kBinpackWord)));
    const bool hexdata = out.kind == OutputKind::Hexdata;
    Lines lines(text, marker);
    std::string_view line;
    lines.Next(line);
    auto unexpected = [&](const QString& wanted) {
        return Unreadable(out, QStringLiteral("line %1: %2 where %3 belongs")
                                   .arg(lines.number())
                                   .arg(line.empty() ? QStringLiteral("the end") : Quote(line), wanted));
    };
    auto named = [](std::string_view fixed) { return QLatin1Char('"') + Latin(fixed) + QLatin1Char('"'); };

    if (!lines.NextFilled(line) || !StartsWith(line, layout::kEnumeration.substr(0, layout::kEnumeration.find(' '))))
        return unexpected(named(layout::kEnumeration));
    while (lines.NextFilled(line) && line != layout::kEnumerationEnd) {
        if (line.front() != '#')
            return unexpected(QStringLiteral("a constant"));
        ++out.constantCount;
    }
    if (line != layout::kEnumerationEnd)
        return unexpected(named(layout::kEnumerationEnd));
    if (!lines.NextFilled(line) || line != layout::kDataSection)
        return unexpected(named(layout::kDataSection));
    if (!lines.NextFilled(line) || line != layout::kCatchStart)
        return unexpected(named(layout::kCatchStart));

    const std::string_view all = source->view();
    const std::size_t end = FindCatchInfo(all, std::size_t(lines.position()));
    if (end == std::string_view::npos) {
        line = {};
        lines.MoveTo(text.size(), static_cast<int>(std::count(all.begin(), all.end(), '\n')) + 1);
        return unexpected(named(layout::kCatchInfo));
    }
    const std::size_t from = std::size_t(lines.position());
    const SectionPieces section = ReadPieces(*source, all.substr(from, end - from), hexdata);
    if (section.summary.badLine != 0)
        return Unreadable(
            out, QStringLiteral("line %1: %2").arg(lines.number() + section.summary.badLine).arg(section.summary.why));
    out.packName = section.summary.packName;
    const bool included = !out.packName.isEmpty();
    lines.MoveTo(qsizetype(end), lines.number() + section.summary.lines);
    lines.Next(line); // the size table's label
    std::int64_t count = 0;
    if (!lines.NextFilled(line) || !SizeLine(line, count))
        return unexpected(QStringLiteral("the number of blocks"));
    std::vector<std::int64_t> sizes;
    std::int64_t total = 0;
    for (std::int64_t k = 0; k < count; ++k) {
        std::int64_t size = 0;
        if (!lines.NextFilled(line) || !SizeLine(line, size))
            return unexpected(QStringLiteral("a block length"));
        sizes.push_back(size);
        total += size;
    }
    if (!lines.NextFilled(line) || line != layout::kDataSectionEnd)
        return unexpected(named(layout::kDataSectionEnd));
    if (count == 0)
        return Unreadable(out, QStringLiteral("the size table lists no block, not even the catalog"));

    if (hexdata) {
        out.data = std::make_shared<HexBytes>(source, section.pieces, section.size);
    } else if (included) {
        out.data = loadPack ? loadPack(out.packName) : nullptr;
        if (!out.data)
            return Unreadable(out, QStringLiteral("the pack file \"%1\" cannot be read").arg(out.packName));
    } else if (total > 0) {
        return Unreadable(
            out, QStringLiteral("the blocks hold %1 bytes but no IncludeBinary line names a pack file").arg(total));
    } else {
        out.data = MemorySource({});
    }
    if (total != out.data->size()) {
        const QString where = hexdata ? QStringLiteral("the data lines hold")
                                      : QStringLiteral("the pack file \"%1\" holds").arg(out.packName);
        return Unreadable(out, QStringLiteral("%1 %2 bytes, the size table %3 bytes%4")
                                   .arg(where)
                                   .arg(out.data->size())
                                   .arg(total)
                                   .arg(total > out.data->size() ? QStringLiteral(" (cut short?)") : QString()));
    }
    qsizetype offset = 0;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const StoredEntry entry{offset, static_cast<qsizetype>(sizes[k])};
        offset += entry.length;
        if (k + 1 == sizes.size())
            out.catalog = entry;
        else
            out.files.push_back(entry);
    }
    return out;
}

} // namespace

OutputContents ParseInclude(QByteArrayView text, const PackLoader& loadPack)
{
    auto source = std::make_shared<IncludeText>();
    source->copy = text.toByteArray();
    source->text = source->copy.constData();
    source->size = source->copy.size();
    return ParseIncludeText(source, loadPack);
}

std::optional<OutputContents> ReadInclude(const QString& path, QString* why)
{
    // An include's text is only looked through, so it is mapped rather than copied.
    auto text = std::make_shared<IncludeText>();
    if (!OpenRegularFile(text->file, path, std::numeric_limits<qint64>::max(), why))
        return std::nullopt;
    const qint64 size = text->file.size();
    uchar* mapped = size > 0 ? text->file.map(0, size) : nullptr;
#ifndef Q_OS_WIN
    // Only a watched mapping is read: another program may truncate the file meanwhile.
    if (mapped && (text->guard = GuardMapping(mapped, size)) < 0) {
        text->file.unmap(mapped);
        mapped = nullptr;
    }
#endif
    if (mapped) {
        text->text = reinterpret_cast<const char*>(mapped);
        text->size = qsizetype(size);
        PauseForTests("HEXALOOM_TEST_READ_PAUSE_MS");
    } else {
        text->copy = text->file.readAll();
        if (text->file.error() != QFileDevice::NoError) {
            if (why)
                *why = text->file.errorString();
            return std::nullopt;
        }
        text->text = text->copy.constData();
        text->size = text->copy.size();
    }
    // The pack file lies beside the include itself, when a link leads to it.
    const QString folder = FolderPart(ThroughLinks(path));
    OutputContents contents = ParseIncludeText(text, [&folder](const QString& name) {
        QString ignored;
        return FileSource(folder + name, kMaxStoredSize, &ignored);
    });
    if (text->changed()) {
        if (why)
            *why = QString::fromLatin1(reason::kChangedWhileRead);
        return std::nullopt;
    }
    return contents;
}

} // namespace hexaloom
