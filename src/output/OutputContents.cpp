#include "OutputContents.h"

#include "AtomicFile.h"
#include "Crc32.h"
#include "FileListModel.h"
#include "OutputNames.h"
#include "Paths.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <set>
#include <string_view>
#include <thread>

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
        // The writer's own spelling, "$" and eight digits, decoded without a loop.
        if (width == 4 && end - p >= 10 && p[0] == '$' && p[9] == ',') {
            const auto* u = reinterpret_cast<const unsigned char*>(p + 1);
            const signed char* t = kHexDigits.value;
            const int d[8] = {t[u[0]], t[u[1]], t[u[2]], t[u[3]], t[u[4]], t[u[5]], t[u[6]], t[u[7]]};
            if ((d[0] | d[1] | d[2] | d[3] | d[4] | d[5] | d[6] | d[7]) >= 0) {
                out[3] = static_cast<char>(d[0] << 4 | d[1]);
                out[2] = static_cast<char>(d[2] << 4 | d[3]);
                out[1] = static_cast<char>(d[4] << 4 | d[5]);
                out[0] = static_cast<char>(d[6] << 4 | d[7]);
                out += 4;
                p += 10;
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

// The data section from `from` to the line "Vorkel_CatchInfo:" (the last one; only the size table follows
// it), its hex lines read in pieces on every core. Nothing when there is no such line.
std::optional<Section> ReadDataSection(std::string_view text, std::size_t from, bool hexdata, std::size_t& end)
{
    constexpr std::string_view info("Vorkel_CatchInfo:");
    for (end = text.rfind(info); end != std::string_view::npos && end >= from; end = text.rfind(info, end - 1)) {
        const std::size_t lineStart = text.find_last_of('\n', end) + 1; // npos + 1 is 0
        const std::size_t lineEnd = std::min(text.find('\n', end), text.size());
        if (Trimmed(text.substr(lineStart, lineEnd - lineStart)) == info && lineStart >= from) {
            end = lineStart;
            break;
        }
        if (end == 0)
            end = std::string_view::npos;
    }
    if (end == std::string_view::npos || end < from)
        return std::nullopt;
    const std::string_view all = text.substr(from, end - from);
    constexpr std::size_t kPiece = 1 << 20;
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t count = hexdata ? std::clamp<std::size_t>(all.size() / kPiece, 1, cores) : 1;
    std::vector<std::string_view> pieces; // whole lines each
    std::size_t start = 0;
    for (std::size_t k = 1; k <= count; ++k) {
        std::size_t stop = all.size();
        if (k < count) {
            const std::size_t newline = all.find('\n', std::max(start, all.size() * k / count));
            stop = newline == std::string_view::npos ? all.size() : newline + 1;
        }
        pieces.push_back(all.substr(start, stop - start));
        start = stop;
    }
    std::vector<Section> read(pieces.size());
    std::vector<std::thread> helpers;
    for (std::size_t k = 1; k < pieces.size(); ++k)
        helpers.emplace_back([&, k] { read[k] = ReadSection(pieces[k], hexdata); });
    read[0] = ReadSection(pieces[0], hexdata);
    for (std::thread& helper : helpers)
        helper.join();
    Section whole = std::move(read[0]);
    qsizetype size = 0;
    for (const Section& piece : read)
        size += piece.data.size();
    whole.data.reserve(size);
    for (std::size_t k = 1; k < read.size() && whole.badLine == 0; ++k) {
        if (read[k].badLine != 0) {
            whole.badLine = whole.lines + read[k].badLine;
            whole.why = read[k].why;
        }
        whole.lines += read[k].lines;
        whole.data += read[k].data;
    }
    return whole;
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

OutputContents Failed(OutputContents contents, const QString& why)
{
    contents.error = why;
    contents.data.clear();
    contents.files.clear();
    contents.catalog = {};
    return contents;
}

} // namespace

std::span<const std::uint8_t> OutputContents::Stored(const StoredEntry& entry) const
{
    if (!entry.present() || entry.offset + entry.length > data.size())
        return {};
    return {reinterpret_cast<const std::uint8_t*>(data.constData()) + entry.offset,
            static_cast<std::size_t>(entry.length)};
}

OutputContents ParseInclude(QByteArrayView text, const PackLoader& loadPack)
{
    OutputContents out;
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

    const std::string_view all(text.constData(), std::size_t(text.size()));
    std::size_t end = 0;
    std::optional<Section> section = ReadDataSection(all, std::size_t(lines.position()), hexdata, end);
    if (!section) {
        line = {};
        lines.MoveTo(text.size(), static_cast<int>(std::count(all.begin(), all.end(), '\n')) + 1);
        return unexpected("\"Vorkel_CatchInfo:\"");
    }
    if (section->badLine != 0)
        return Failed(out, QStringLiteral("line %1: %2").arg(lines.number() + section->badLine).arg(section->why));
    out.data = std::move(section->data);
    out.packName = section->packName;
    const bool included = !out.packName.isEmpty();
    lines.MoveTo(qsizetype(end), lines.number() + section->lines);
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

    if (!hexdata && included) {
        std::optional<QByteArray> pack = loadPack ? loadPack(out.packName) : std::nullopt;
        if (!pack)
            return Failed(out, QStringLiteral("the pack file \"%1\" cannot be read").arg(out.packName));
        out.data = std::move(*pack);
    } else if (!hexdata && total > 0) {
        return Failed(
            out, QStringLiteral("the blocks hold %1 bytes but no IncludeBinary line names a pack file").arg(total));
    }
    if (total != out.data.size()) {
        const QString where = hexdata ? QStringLiteral("the data lines hold")
                                      : QStringLiteral("the pack file \"%1\" holds").arg(out.packName);
        return Failed(out, QStringLiteral("%1 %2 bytes, the size table %3 bytes%4")
                               .arg(where)
                               .arg(out.data.size())
                               .arg(total)
                               .arg(total > out.data.size() ? QStringLiteral(" (cut short?)") : QString()));
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

OutputContents ParseResource(QByteArray bytes)
{
    OutputContents out;
    out.kind = OutputKind::Resource;
    static const unsigned char first[32] = {0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    if (bytes.size() < 32 || std::memcmp(bytes.constData(), first, sizeof first) != 0)
        return Failed(out, QStringLiteral("no 32-bit resource file: it does not begin with the empty entry"));
    const char* all = bytes.constData();
    const qsizetype size = bytes.size();
    std::set<int> seen;
    for (qsizetype at = 32; at < size;) {
        auto damaged = [&](const QString& what) {
            return Failed(out, QStringLiteral("the entry at byte %1 %2").arg(at).arg(what));
        };
        if (size - at < 32)
            return damaged(QStringLiteral("is cut short"));
        const std::uint32_t dataSize = Le32(all + at);
        const std::uint32_t headerSize = Le32(all + at + 4);
        if (headerSize < 32 || headerSize % 4 != 0 || headerSize > size - at)
            return damaged(QStringLiteral("has a header size of %1").arg(headerSize));
        // Type and name: 0xFFFF and a number, or a zero-terminated UTF-16 text, both inside the header.
        const qsizetype headerEnd = at + headerSize - 16;
        qsizetype field = at + 8;
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
        const qsizetype padded = (static_cast<qsizetype>(dataSize) + 3) / 4 * 4;
        if (padded > size - at - headerSize)
            return damaged(QStringLiteral("claims %1 bytes of data; the file ends before").arg(dataSize));
        const StoredEntry entry{at + headerSize, static_cast<qsizetype>(dataSize)};
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
    out.data = std::move(bytes);
    return out;
}

OutputContents ReadOutput(const QString& path)
{
    QFile file;
    QString why;
    auto unreadable = [&why] {
        OutputContents out;
        out.error = QStringLiteral("cannot be read: %1").arg(why);
        return out;
    };
    // A device or FIFO is no output: it would be read forever.
    if (!OpenRegularFile(file, path, std::numeric_limits<qint64>::max(), &why))
        return unreadable();
    if (path.right(4).compare(QLatin1String(".res"), Qt::CaseInsensitive) == 0) {
        QByteArray bytes = file.readAll();
        why = file.errorString();
        return file.error() == QFileDevice::NoError ? ParseResource(std::move(bytes)) : unreadable();
    }
    // An include's text is only looked through, so it is mapped rather than copied.
    const qint64 size = file.size();
    const uchar* mapped = size > 0 ? file.map(0, size) : nullptr;
    QByteArray copy;
    if (!mapped) {
        copy = file.readAll();
        why = file.errorString();
        if (file.error() != QFileDevice::NoError)
            return unreadable();
    }
    const QByteArrayView text = mapped ? QByteArrayView(mapped, size) : QByteArrayView(copy);
    const QString folder = FolderPart(path);
    return ParseInclude(text, [&folder](const QString& name) -> std::optional<QByteArray> {
        QString ignored;
        return ReadRegularFile(folder + name, std::numeric_limits<std::int32_t>::max(), &ignored);
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
    const std::optional<Bytes> text = UnpackStored(contents.Stored(contents.catalog));
    if (!text) {
        catalog.problem = QStringLiteral("the catalog is damaged: ") + DamageText(contents.Stored(contents.catalog));
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
    else if (catalog.names.size() != catalog.count)
        catalog.problem = QStringLiteral("the catalog counts %1 files but names %2 (a name with a \",\"?)")
                              .arg(catalog.count)
                              .arg(catalog.names.size());
    else if (exact ? catalog.count != static_cast<int>(contents.files.size()) : catalog.count < held)
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
            const std::span<const std::uint8_t> stored = contents.Stored(contents.files[k - 1]);
            file.present = true;
            file.stored = static_cast<std::int64_t>(stored.size());
            file.info = DescribeStored(stored);
        }
        listing.files.push_back(file);
    }
    return listing;
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
