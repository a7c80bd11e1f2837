#include "OutputContents.h"

#include "AtomicFile.h"
#include "Crc32.h"
#include "FileListModel.h"
#include "OutputNames.h"
#include "Paths.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <thread>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace hexaloom {

namespace {

std::uint32_t Le32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(u[0]) | std::uint32_t(u[1]) << 8 | std::uint32_t(u[2]) << 16 | std::uint32_t(u[3]) << 24;
}

std::uint16_t Le16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(u[0] | u[1] << 8);
}

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

// The value of eight hexadecimal digits; false when one is no digit.
bool EightHexDigits(const char* digits, std::uint32_t& value)
{
    const auto* u = reinterpret_cast<const unsigned char*>(digits);
    const signed char* t = kHexDigits.value;
    const int d[8] = {t[u[0]], t[u[1]], t[u[2]], t[u[3]], t[u[4]], t[u[5]], t[u[6]], t[u[7]]};
    if ((d[0] | d[1] | d[2] | d[3] | d[4] | d[5] | d[6] | d[7]) < 0)
        return false;
    value =
        std::uint32_t(d[0] << 28 | d[1] << 24 | d[2] << 20 | d[3] << 16 | d[4] << 12 | d[5] << 8 | d[6] << 4 | d[7]);
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
                out[0] = static_cast<char>(v);
                out[1] = static_cast<char>(v >> 8);
                out[2] = static_cast<char>(v >> 16);
                out[3] = static_cast<char>(v >> 24);
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
        for (int b = 0; b < width; ++b)
            *out++ = static_cast<char>(v >> (8 * b));
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
    if (!StartsWith(line, "Data.l "))
        return false;
    const std::string_view digits = Trimmed(line.substr(7));
    if (digits.empty() || digits.size() > 10)
        return false;
    value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value <= std::numeric_limits<std::int32_t>::max();
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
};

Section ReadSection(std::string_view text, bool hexdata)
{
    Section section;
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
    while (lines.NextFilled(line)) {
        if (hexdata && (StartsWith(line, "Data.l ") || StartsWith(line, "Data.b "))) {
            const qsizetype most = used + 2 * qsizetype(line.size());
            if (most > section.data.size())
                section.data.resize(std::max(most, section.data.size() * 2));
            char* at = section.data.data() + used;
            const bool decoded = DecodeDataValues(line.substr(7), line[5] == 'l' ? 4 : 1, at);
            used = at - section.data.constData();
            if (!decoded)
                return bad(QStringLiteral("%1 holds a value that is no hexadecimal %2")
                               .arg(Quote(line), line[5] == 'l' ? QStringLiteral("long") : QStringLiteral("byte")));
        } else if (!hexdata && line.find("IncludeBinary") != std::string_view::npos) {
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
    constexpr std::string_view prefix(";{ Hexaloom - ");
    for (std::size_t at = text.find(prefix); at != std::string_view::npos; at = text.find(prefix, at + 1)) {
        if (at > 0 && text[at - 1] != '\n')
            continue;
        const std::string_view rest =
            Trimmed(text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size()));
        if (rest == "HexData" || rest == "BinPack") {
            kind = rest == "HexData" ? OutputKind::Hexdata : OutputKind::Binpack;
            return qsizetype(at);
        }
    }
    return -1;
}

class MemoryBytes : public ByteSource
{
public:
    explicit MemoryBytes(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    qint64 size() const override { return m_bytes.size(); }
    bool Read(qint64 offset, std::uint8_t* out, qint64 length) const override
    {
        if (offset < 0 || length < 0 || offset + length > m_bytes.size())
            return false;
        std::memcpy(out, m_bytes.constData() + offset, static_cast<std::size_t>(length));
        return true;
    }

private:
    QByteArray m_bytes;
};

class FileBytes : public ByteSource
{
public:
    bool Open(const QString& path, qint64 cap, QString* why)
    {
        if (!OpenRegularFile(m_file, path, cap, why))
            return false;
        m_size = m_file.size();
        return true;
    }
    qint64 size() const override { return m_size; }
    bool Read(qint64 offset, std::uint8_t* out, qint64 length) const override
    {
        if (offset < 0 || length < 0 || offset + length > m_size)
            return false;
#ifdef Q_OS_WIN
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& file = const_cast<QFile&>(m_file);
        return file.seek(offset) && file.read(reinterpret_cast<char*>(out), length) == length;
#else
        // pread keeps no shared position, so every core may read at once.
        while (length > 0) {
            const ssize_t n = ::pread(m_file.handle(), out, static_cast<std::size_t>(length), offset);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return false;
            }
            out += n;
            offset += n;
            length -= n;
        }
        return true;
#endif
    }

private:
    QFile m_file;
    qint64 m_size = 0;
#ifdef Q_OS_WIN
    mutable std::mutex m_mutex;
#endif
};

// An include's text: a file mapped into memory, or a copy.
struct IncludeText
{
    QFile file;
    QByteArray copy;
    const char* text = nullptr;
    qsizetype size = 0;

    std::string_view view() const { return {text, std::size_t(size)}; }
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
// pieces of whole lines, and each piece knows where its bytes begin.
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
        : m_text(std::move(text)), m_pieces(std::move(pieces)), m_size(size), m_id(++s_sources)
    {
    }
    qint64 size() const override { return m_size; }
    bool Read(qint64 offset, std::uint8_t* out, qint64 length) const override;
    bool Crc(qint64 offset, qint64 length, std::uint32_t& crc) const override;

private:
    std::shared_ptr<const IncludeText> m_text;
    std::vector<Piece> m_pieces;
    qint64 m_size;
    std::uint64_t m_id; // never reused, unlike an address, so a cached piece is never another source's
    static inline std::atomic<std::uint64_t> s_sources{0};
};

OutputContents Failed(OutputContents contents, const QString& why)
{
    contents.error = why;
    contents.data.reset();
    contents.files.clear();
    contents.catalog = {};
    return contents;
}

// Where the line "Vorkel_CatchInfo:" (the last one; only the size table follows it) begins, at or after
// `from`; npos when there is none.
std::size_t FindCatchInfo(std::string_view text, std::size_t from)
{
    constexpr std::string_view info("Vorkel_CatchInfo:");
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
// bytes counted and their CRC-32 taken (and, for a hex section, dropped again: they are decoded once more
// when read, but a CRC-32 over whole pieces needs no second decoding).
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
    std::vector<qint64> counts(pieces.size(), 0);
    std::vector<std::uint32_t> crcs(pieces.size(), 0);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        QByteArray buffer;
        for (std::size_t k = next++; k < pieces.size(); k = next++) {
            read[k] = ReadSection(text.Piece(pieces[k], buffer), hexdata);
            counts[k] = read[k].data.size();
            crcs[k] = std::uint32_t(Crc32Of(read[k].data.constData(), counts[k]));
            read[k].data = QByteArray();
        }
    };
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < std::min(cores, pieces.size()); ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    Section& whole = result.summary;
    for (std::size_t k = 0; k < read.size(); ++k) {
        if (read[k].badLine != 0) {
            whole.badLine = whole.lines + read[k].badLine;
            whole.why = read[k].why;
            return result;
        }
        whole.lines += read[k].lines;
        if (hexdata) {
            result.pieces.push_back({pieces[k], result.size, counts[k], crcs[k]});
            result.size += counts[k];
        } else {
            whole.packName = read[k].packName;
        }
    }
    return result;
}

} // namespace

bool HexBytes::Read(qint64 offset, std::uint8_t* out, qint64 length) const
{
    if (offset < 0 || length < 0 || offset + length > m_size)
        return false;
    // The piece last decoded on this thread: reads come in order, a few pieces each.
    thread_local std::uint64_t cachedSource = 0;
    thread_local std::size_t cachedPiece = 0;
    thread_local QByteArray cached;
    while (length > 0) {
        const auto after = std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                                            [](qint64 at, const Piece& piece) { return at < piece.start; });
        const std::size_t k = std::size_t(after - m_pieces.begin()) - 1;
        if (cachedSource != m_id || cachedPiece != k) {
            cachedSource = 0;
            thread_local QByteArray buffer;
            cached = ReadSection(m_text->Piece(m_pieces[k].text, buffer), true).data;
            cachedSource = m_id;
            cachedPiece = k;
        }
        const qint64 inside = offset - m_pieces[k].start;
        const qint64 n = std::min<qint64>(length, cached.size() - inside);
        if (n <= 0)
            return false;
        std::memcpy(out, cached.constData() + inside, std::size_t(n));
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
            sum = crc32_combine(sum, at->crc, z_off_t(at->size)); // a piece is a few hundred KB
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

bool ByteSource::Crc(qint64 offset, qint64 length, std::uint32_t& crc) const
{
    constexpr qint64 kPiece = 256 << 10;
    Bytes buffer(std::size_t(std::min(kPiece, std::max<qint64>(length, 0))));
    uLong sum = crc32(0, nullptr, 0);
    for (qint64 done = 0; done < length;) {
        const qint64 n = std::min(kPiece, length - done);
        if (!Read(offset + done, buffer.data(), n))
            return false;
        sum = crc32(sum, buffer.data(), uInt(n));
        done += n;
    }
    crc = std::uint32_t(sum);
    return true;
}

std::shared_ptr<const ByteSource> MemorySource(QByteArray bytes)
{
    return std::make_shared<MemoryBytes>(std::move(bytes));
}

std::shared_ptr<const ByteSource> FileSource(const QString& path, qint64 cap, QString* why)
{
    auto source = std::make_shared<FileBytes>();
    if (!source->Open(path, cap, why))
        return nullptr;
    return source;
}

Bytes OutputContents::Stored(const StoredEntry& entry) const
{
    Bytes bytes;
    if (!entry.present() || !data || entry.offset + entry.length > data->size())
        return bytes;
    bytes.resize(std::size_t(entry.length));
    if (!data->Read(entry.offset, bytes.data(), entry.length))
        bytes.clear();
    return bytes;
}

namespace {

OutputContents ParseIncludeText(const std::shared_ptr<const IncludeText>& source, const PackLoader& loadPack)
{
    OutputContents out;
    const QByteArrayView text(source->text, source->size);
    // The generated part begins after the access-code template, at its marker line.
    const qsizetype marker = FindMarker(text, out.kind);
    if (marker < 0)
        return Failed(out, QStringLiteral("no Hexaloom include: the line \";{ Hexaloom - HexData\" or "
                                          "\";{ Hexaloom - BinPack\" is missing"));
    const bool hexdata = out.kind == OutputKind::Hexdata;
    Lines lines(text, marker);
    std::string_view line;
    lines.Next(line);
    auto unexpected = [&](const char* wanted) {
        return Failed(out, QStringLiteral("line %1: %2 where %3 belongs")
                               .arg(lines.number())
                               .arg(line.empty() ? QStringLiteral("the end") : Quote(line), QLatin1String(wanted)));
    };

    if (!lines.NextFilled(line) || !StartsWith(line, "Enumeration"))
        return unexpected("\"Enumeration 1; ResNum\"");
    while (lines.NextFilled(line) && line != "EndEnumeration") {
        if (line.front() != '#')
            return unexpected("a constant");
        ++out.constantCount;
    }
    if (line != "EndEnumeration")
        return unexpected("\"EndEnumeration\"");
    if (!lines.NextFilled(line) || line != "DataSection")
        return unexpected("\"DataSection\"");
    if (!lines.NextFilled(line) || line != "Vorkel_CatchStart:")
        return unexpected("\"Vorkel_CatchStart:\"");

    const std::string_view all = source->view();
    const std::size_t end = FindCatchInfo(all, std::size_t(lines.position()));
    if (end == std::string_view::npos) {
        line = {};
        lines.MoveTo(text.size(), static_cast<int>(std::count(all.begin(), all.end(), '\n')) + 1);
        return unexpected("\"Vorkel_CatchInfo:\"");
    }
    const std::size_t from = std::size_t(lines.position());
    const SectionPieces section = ReadPieces(*source, all.substr(from, end - from), hexdata);
    if (section.summary.badLine != 0)
        return Failed(
            out, QStringLiteral("line %1: %2").arg(lines.number() + section.summary.badLine).arg(section.summary.why));
    out.packName = section.summary.packName;
    const bool included = !out.packName.isEmpty();
    lines.MoveTo(qsizetype(end), lines.number() + section.summary.lines);
    lines.Next(line); // "Vorkel_CatchInfo:"
    std::int64_t count = 0;
    if (!lines.NextFilled(line) || !SizeLine(line, count))
        return unexpected("the number of blocks");
    std::vector<std::int64_t> sizes;
    std::int64_t total = 0;
    for (std::int64_t k = 0; k < count; ++k) {
        std::int64_t size = 0;
        if (!lines.NextFilled(line) || !SizeLine(line, size))
            return unexpected("a block length");
        sizes.push_back(size);
        total += size;
    }
    if (!lines.NextFilled(line) || line != "EndDataSection")
        return unexpected("\"EndDataSection\"");
    if (count == 0)
        return Failed(out, QStringLiteral("the size table lists no block, not even the catalog"));

    if (hexdata) {
        out.data = std::make_shared<HexBytes>(source, section.pieces, section.size);
    } else if (included) {
        out.data = loadPack ? loadPack(out.packName) : nullptr;
        if (!out.data)
            return Failed(out, QStringLiteral("the pack file \"%1\" cannot be read").arg(out.packName));
    } else if (total > 0) {
        return Failed(
            out, QStringLiteral("the blocks hold %1 bytes but no IncludeBinary line names a pack file").arg(total));
    } else {
        out.data = MemorySource({});
    }
    if (total != out.data->size()) {
        const QString where = hexdata ? QStringLiteral("the data lines hold")
                                      : QStringLiteral("the pack file \"%1\" holds").arg(out.packName);
        return Failed(out, QStringLiteral("%1 %2 bytes, the size table %3 bytes%4")
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

// An entry's type and name fields lie in its header; more than this is no header we write or read.
constexpr qint64 kMaxHeaderRead = 1 << 16;

OutputContents ParseResourceSource(std::shared_ptr<const ByteSource> source)
{
    OutputContents out;
    out.kind = OutputKind::Resource;
    static const unsigned char first[32] = {0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    unsigned char head[32];
    const qint64 size = source->size();
    if (size < 32 || !source->Read(0, head, 32) || std::memcmp(head, first, sizeof first) != 0)
        return Failed(out, QStringLiteral("no 32-bit resource file: it does not begin with the empty entry"));
    std::set<int> seen;
    QByteArray header;
    for (qint64 at = 32; at < size;) {
        auto damaged = [&](const QString& what) {
            return Failed(out, QStringLiteral("the entry at byte %1 %2").arg(at).arg(what));
        };
        if (size - at < 32)
            return damaged(QStringLiteral("is cut short"));
        char sizes[8];
        if (!source->Read(at, reinterpret_cast<std::uint8_t*>(sizes), 8))
            return damaged(QStringLiteral("cannot be read"));
        const std::uint32_t dataSize = Le32(sizes);
        const std::uint32_t headerSize = Le32(sizes + 4);
        if (headerSize < 32 || headerSize % 4 != 0 || headerSize > size - at)
            return damaged(QStringLiteral("has a header size of %1").arg(headerSize));
        // Type and name: 0xFFFF and a number, or a zero-terminated UTF-16 text, both inside the header.
        const qint64 fieldsLength = std::min<qint64>(headerSize - 8 - 16, kMaxHeaderRead);
        header.resize(qsizetype(fieldsLength));
        if (!source->Read(at + 8, reinterpret_cast<std::uint8_t*>(header.data()), fieldsLength))
            return damaged(QStringLiteral("cannot be read"));
        const char* all = header.constData();
        const qsizetype headerEnd = header.size();
        qsizetype field = 0;
        auto readField = [&](int& number, QString& name) {
            if (field + 4 > headerEnd)
                return false;
            if (Le16(all + field) == 0xFFFF) {
                number = Le16(all + field + 2);
                field += 4;
                return true;
            }
            for (; field + 2 <= headerEnd; field += 2) {
                const std::uint16_t unit = Le16(all + field);
                if (unit == 0) {
                    field += 2;
                    return true;
                }
                name += QChar(unit);
            }
            return false;
        };
        int typeNumber = -1;
        int number = -1;
        QString type;
        QString name;
        if (!readField(typeNumber, type) || !readField(number, name))
            return damaged(QStringLiteral("has a type or name that overruns its header"));
        const qint64 padded = (static_cast<qint64>(dataSize) + 3) / 4 * 4;
        if (padded > size - at - headerSize)
            return damaged(QStringLiteral("claims %1 bytes of data; the file ends before").arg(dataSize));
        const StoredEntry entry{qsizetype(at + headerSize), static_cast<qsizetype>(dataSize)};
        at += headerSize + padded;
        // Resources of other types or with names may share the file; only ours are read.
        if (type != QLatin1String("VORKEL") || number < 1)
            continue;
        if (!seen.insert(number).second)
            return Failed(out, QStringLiteral("resource %1 is there twice").arg(number));
        if (number == 1) {
            out.catalog = entry;
        } else {
            if (out.files.size() < static_cast<std::size_t>(number - 1))
                out.files.resize(static_cast<std::size_t>(number - 1));
            out.files[static_cast<std::size_t>(number - 2)] = entry;
        }
    }
    out.data = std::move(source);
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

OutputContents ParseResource(QByteArray bytes)
{
    return ParseResourceSource(MemorySource(std::move(bytes)));
}

OutputContents ReadOutput(const QString& path)
{
    QString why;
    auto unreadable = [&why] {
        OutputContents out;
        out.error = QStringLiteral("cannot be read: %1").arg(why);
        return out;
    };
    // A device or FIFO is no output: it would be read forever.
    if (path.right(4).compare(QLatin1String(".res"), Qt::CaseInsensitive) == 0) {
        std::shared_ptr<const ByteSource> file = FileSource(path, std::numeric_limits<qint64>::max(), &why);
        return file ? ParseResourceSource(std::move(file)) : unreadable();
    }
    // An include's text is only looked through, so it is mapped rather than copied.
    auto text = std::make_shared<IncludeText>();
    if (!OpenRegularFile(text->file, path, std::numeric_limits<qint64>::max(), &why))
        return unreadable();
    const qint64 size = text->file.size();
    const uchar* mapped = size > 0 ? text->file.map(0, size) : nullptr;
    if (mapped) {
        text->text = reinterpret_cast<const char*>(mapped);
        text->size = qsizetype(size);
    } else {
        text->copy = text->file.readAll();
        why = text->file.errorString();
        if (text->file.error() != QFileDevice::NoError)
            return unreadable();
        text->text = text->copy.constData();
        text->size = text->copy.size();
    }
    const QString folder = FolderPart(path);
    return ParseIncludeText(text, [&folder](const QString& name) {
        QString ignored;
        return FileSource(folder + name, std::numeric_limits<std::int32_t>::max(), &ignored);
    });
}

StoredInfo DescribeStored(std::span<const std::uint8_t> stored)
{
    StoredInfo info;
    if (HasBlockMagic(stored)) {
        const char* p = reinterpret_cast<const char*>(stored.data());
        info.block = true;
        info.packer = static_cast<std::int8_t>(stored[16]);
        info.original = static_cast<std::int32_t>(Le32(p));
        info.crc = Le32(p + 8);
    } else {
        info.original = static_cast<std::int64_t>(stored.size());
        info.crc = stored.empty() ? 0 : Crc32(stored);
    }
    return info;
}

CatalogText ReadCatalog(const OutputContents& contents)
{
    CatalogText catalog;
    int held = 0;
    for (std::size_t k = 0; k < contents.files.size(); ++k) {
        if (contents.files[k].present())
            held = static_cast<int>(k) + 1;
    }
    if (!contents.catalog.present()) {
        catalog.problem = QStringLiteral("the catalog (resource 1) is missing");
        return catalog;
    }
    // The catalog's text is read whole; one that claims more than any catalog holds is damaged.
    constexpr std::size_t kMaxCatalog = std::size_t(64) << 20;
    std::optional<Bytes> text = Bytes();
    if (DescribeEntry(contents, contents.catalog).original > std::int64_t(kMaxCatalog) ||
        !UnpackEntry(contents, contents.catalog, [&text](std::span<const std::uint8_t> piece) {
            text->insert(text->end(), piece.begin(), piece.end());
            return true;
        }))
        text.reset();
    if (!text) {
        catalog.problem = QStringLiteral("the catalog is damaged: ") + EntryDamageText(contents, contents.catalog);
        return catalog;
    }
    const auto zero = std::find(text->begin(), text->end(), std::uint8_t(0));
    const QStringList fields =
        QString::fromUtf8(reinterpret_cast<const char*>(text->data()), zero - text->begin()).split(QLatin1Char(','));
    bool isNumber = false;
    catalog.count = fields.first().toInt(&isNumber);
    if (!isNumber || catalog.count < 0)
        catalog.count = -1;
    catalog.names = fields.mid(1);
    const bool exact = contents.kind != OutputKind::Resource;
    if (zero == text->end())
        catalog.problem = QStringLiteral("the catalog does not end with a zero byte");
    else if (catalog.count < 0)
        catalog.problem = QStringLiteral("the catalog does not begin with the number of files");
    else if (catalog.names.size() != catalog.count) {
        catalog.problem = QStringLiteral("the catalog cannot be read name by name: it counts %1 files but its names "
                                         "split into %2 at \",\" (a file name holds a \",\"); the files are shown "
                                         "by number")
                              .arg(catalog.count)
                              .arg(catalog.names.size());
        catalog.notByName = true;
        catalog.names.clear();
    } else if (exact ? catalog.count != static_cast<int>(contents.files.size()) : catalog.count < held)
        catalog.problem = QStringLiteral("the catalog counts %1 files, the output holds %2")
                              .arg(catalog.count)
                              .arg(exact ? contents.files.size() : held);
    else if (contents.kind != OutputKind::Resource && contents.constantCount != catalog.count)
        catalog.problem = QStringLiteral("the enumeration declares %1 constants for %2 files")
                              .arg(contents.constantCount)
                              .arg(catalog.count);
    return catalog;
}

OutputListing ListOutput(const OutputContents& contents)
{
    OutputListing listing;
    listing.catalog = ReadCatalog(contents);
    const QStringList constants = ConstantNames(listing.catalog.names);
    const int count = std::max(static_cast<int>(contents.files.size()),
                               contents.kind == OutputKind::Resource ? listing.catalog.count : 0);
    for (int k = 1; k <= count; ++k) {
        OutputFile file;
        file.number = k;
        file.name = listing.catalog.names.value(k - 1);
        file.constant = constants.value(k - 1);
        if (k <= static_cast<int>(contents.files.size()) && contents.files[k - 1].present()) {
            file.present = true;
            file.stored = contents.files[k - 1].length;
            file.info = DescribeEntry(contents, contents.files[k - 1]);
        }
        listing.files.push_back(file);
    }
    return listing;
}

namespace {

constexpr qint64 kReadPiece = 256 << 10;

// Reads an entry's bytes from `from` on in pieces of kReadPiece.
class EntryReader
{
public:
    EntryReader(const OutputContents& contents, const StoredEntry& entry, qint64 from)
        : m_source(contents.data.get()), m_at(entry.offset + from), m_end(entry.offset + entry.length)
    {
    }
    // The next piece; empty at the end; false when the source fails.
    bool Next(std::span<const std::uint8_t>& piece)
    {
        const qint64 n = std::min(kReadPiece, m_end - m_at);
        if (n <= 0) {
            piece = {};
            return true;
        }
        m_buffer.resize(std::size_t(n));
        if (!m_source || !m_source->Read(m_at, m_buffer.data(), n))
            return false;
        m_at += n;
        piece = m_buffer;
        return true;
    }

private:
    const ByteSource* m_source;
    qint64 m_at;
    qint64 m_end;
    Bytes m_buffer;
};

bool ReadHeader(const OutputContents& contents, const StoredEntry& entry, std::uint8_t (&header)[kBlockHeaderSize])
{
    return entry.present() && contents.data && entry.length >= qsizetype(kBlockHeaderSize) &&
           contents.data->Read(entry.offset, header, qint64(kBlockHeaderSize)) &&
           HasBlockMagic(std::span<const std::uint8_t>(header, kBlockHeaderSize));
}

} // namespace

bool UnpackEntry(const OutputContents& contents, const StoredEntry& entry,
                 const std::function<bool(std::span<const std::uint8_t>)>& sink)
{
    if (!entry.present() || !contents.data)
        return false;
    std::uint8_t header[kBlockHeaderSize];
    std::span<const std::uint8_t> piece;
    if (!ReadHeader(contents, entry, header)) {
        // Raw bytes come back as they are; with nowhere to go they need only be readable.
        std::uint32_t ignored = 0;
        if (!sink)
            return contents.data->Crc(entry.offset, entry.length, ignored);
        EntryReader reader(contents, entry, 0);
        for (;;) {
            if (!reader.Next(piece))
                return false;
            if (piece.empty())
                return true;
            if (sink && !sink(piece))
                return false;
        }
    }
    const StoredInfo info = DescribeStored(std::span<const std::uint8_t>(header, kBlockHeaderSize));
    const std::int64_t payload = entry.length - qsizetype(kBlockHeaderSize);
    if (info.original <= 0)
        return false;
    EntryReader reader(contents, entry, qint64(kBlockHeaderSize));
    uLong crc = crc32(0, nullptr, 0);
    std::int64_t produced = 0;
    auto give = [&](const std::uint8_t* bytes, std::size_t n) {
        crc = crc32(crc, bytes, uInt(n));
        produced += std::int64_t(n);
        return !sink || sink(std::span<const std::uint8_t>(bytes, n));
    };
    if (info.packer == PackerNone) {
        if (payload != info.original)
            return false;
        // Checked without being read again where the source keeps CRC-32s of its pieces.
        std::uint32_t sum = 0;
        if (!sink)
            return contents.data->Crc(entry.offset + qsizetype(kBlockHeaderSize), payload, sum) && sum == info.crc;
        for (;;) {
            if (!reader.Next(piece))
                return false;
            if (piece.empty())
                break;
            if (!give(piece.data(), piece.size()))
                return false;
        }
    } else if (info.packer == PackerZip) {
        // Inflated in pieces: a stream that ends early, runs past its claim or breaks stops at once.
        z_stream stream{};
        if (inflateInit(&stream) != Z_OK)
            return false;
        Bytes out(static_cast<std::size_t>(kReadPiece));
        int status = Z_OK;
        bool ok = true;
        while (ok && status != Z_STREAM_END) {
            if (!reader.Next(piece) || piece.empty()) {
                ok = false;
                break;
            }
            stream.next_in = const_cast<Bytef*>(piece.data());
            stream.avail_in = uInt(piece.size());
            while (ok && stream.avail_in > 0 && status != Z_STREAM_END) {
                stream.next_out = out.data();
                stream.avail_out = uInt(out.size());
                status = inflate(&stream, Z_NO_FLUSH);
                const std::size_t n = out.size() - stream.avail_out;
                if ((status != Z_OK && status != Z_STREAM_END) || produced + std::int64_t(n) > info.original)
                    ok = false;
                else if (n > 0)
                    ok = give(out.data(), n);
            }
        }
        inflateEnd(&stream);
        if (!ok || produced != info.original)
            return false;
    } else if (info.packer == PackerJcalg1) {
        // The decoder needs the whole stream and its whole output; the output buffer is committed by the
        // system only as far as the stream really writes, so a claim the stream cannot fill costs nothing.
        Bytes packed;
        packed.reserve(std::size_t(payload));
        for (;;) {
            if (!reader.Next(piece))
                return false;
            if (piece.empty())
                break;
            packed.insert(packed.end(), piece.begin(), piece.end());
        }
        std::unique_ptr<std::uint8_t, void (*)(void*)> unpacked(
            static_cast<std::uint8_t*>(std::calloc(std::size_t(info.original), 1)), std::free);
        if (!unpacked ||
            UnpackPayload(packed.data(), packed.size(), unpacked.get(), std::size_t(info.original), PackerJcalg1) == 0)
            return false;
        Bytes().swap(packed);
        for (std::int64_t at = 0; at < info.original; at += kReadPiece) {
            if (!give(unpacked.get() + at, std::size_t(std::min<std::int64_t>(kReadPiece, info.original - at))))
                return false;
        }
    } else {
        return false;
    }
    return std::uint32_t(crc) == info.crc;
}

bool HoldsNoData(const OutputContents& contents, int number)
{
    if (number < 1 || number > static_cast<int>(contents.files.size()))
        return true;
    const StoredEntry& entry = contents.files[std::size_t(number - 1)];
    std::uint8_t header[kBlockHeaderSize];
    return !entry.present() || (ReadHeader(contents, entry, header) &&
                                DescribeStored(std::span<const std::uint8_t>(header, kBlockHeaderSize)).original == 0);
}

StoredInfo DescribeEntry(const OutputContents& contents, const StoredEntry& entry)
{
    std::uint8_t header[kBlockHeaderSize];
    if (ReadHeader(contents, entry, header))
        return DescribeStored(std::span<const std::uint8_t>(header, kBlockHeaderSize));
    StoredInfo info;
    info.original = entry.length;
    std::uint32_t crc = 0;
    if (entry.present() && contents.data && entry.length > 0)
        contents.data->Crc(entry.offset, entry.length, crc);
    info.crc = crc;
    return info;
}

QString EntryDamageText(const OutputContents& contents, const StoredEntry& entry)
{
    std::uint8_t header[kBlockHeaderSize];
    const bool block = ReadHeader(contents, entry, header);
    const StoredInfo info =
        block ? DescribeStored(std::span<const std::uint8_t>(header, kBlockHeaderSize)) : StoredInfo{};
    QString packer = PackerText(info.packer);
    if (packer.isEmpty())
        packer = QStringLiteral("kind %1").arg(info.packer);
    if (!block)
        return QStringLiteral("its %1 bytes cannot be read").arg(entry.length);
    return QStringLiteral("its %1 block of %2 bytes does not unpack to the %3 bytes with CRC-32 %4 it claims")
        .arg(packer)
        .arg(entry.length)
        .arg(info.original)
        .arg(CrcText(info.crc));
}

std::optional<Bytes> UnpackStored(std::span<const std::uint8_t> stored)
{
    try {
        return ReadPackedBlock(stored);
    } catch (const std::bad_alloc&) {
        return std::nullopt; // a damaged header may claim up to 2 GiB
    }
}

QString DamageText(std::span<const std::uint8_t> stored)
{
    const StoredInfo info = DescribeStored(stored);
    QString packer = PackerText(info.packer);
    if (packer.isEmpty())
        packer = QStringLiteral("kind %1").arg(info.packer);
    return QStringLiteral("its %1 block of %2 bytes does not unpack to the %3 bytes with CRC-32 %4 it claims")
        .arg(packer)
        .arg(stored.size())
        .arg(info.original)
        .arg(CrcText(info.crc));
}

QString CrcText(std::uint32_t crc)
{
    return QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

bool IsSafeFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20 ||
            c.unicode() == 0x7F)
            return false;
    }
    return true;
}

} // namespace hexaloom
