#include "OutputContents.h"

#include "AtomicFile.h"
#include "Crc32.h"
#include "FileListModel.h"
#include "IncludeReader.h"
#include "LittleEndian.h"
#include "OutputNames.h"
#include "ResourceReader.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX // std::min and std::max, not the macros
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif
#ifdef Q_OS_MACOS
#include <sys/sysctl.h>
#endif

namespace hexaloom {

namespace {

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
                if (n == 0)
                    m_changed = true; // within the length it had when it was opened
                return false;
            }
            out += n;
            offset += n;
            length -= n;
        }
        return true;
#endif
    }

    bool Changed() const override { return m_changed; }

private:
    QFile m_file;
    qint64 m_size = 0;
    mutable std::atomic<bool> m_changed{false};
#ifdef Q_OS_WIN
    mutable std::mutex m_mutex;
#endif
};

qint64 PhysicalMemory()
{
#ifdef Q_OS_WIN
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? qint64(status.ullTotalPhys) : 0;
#elif defined(Q_OS_MACOS)
    std::int64_t bytes = 0;
    std::size_t length = sizeof bytes;
    return ::sysctlbyname("hw.memsize", &bytes, &length, nullptr, 0) == 0 ? qint64(bytes) : 0;
#else
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? qint64(pages) * page : 0;
#endif
}

} // namespace

qint64 DecodingBudgetBytes()
{
    const qint64 megabytes = qEnvironmentVariableIntValue("HEXALOOM_MEMORY_MB");
    if (megabytes > 0)
        return megabytes << 20;
    const qint64 physical = PhysicalMemory();
    return physical > 0 ? physical / 2 : qint64(1) << 30;
}

MemoryBudget& DecodingBudget()
{
    static MemoryBudget budget(DecodingBudgetBytes());
    return budget;
}

MemoryBudget::Share::Share(MemoryBudget& budget, qint64 bytes) : m_budget(budget), m_bytes(bytes)
{
    std::unique_lock lock(m_budget.m_mutex);
    // Alone, a share larger than the whole budget is granted: the block needs it, and waiting would not help.
    m_budget.m_freed.wait(lock, [&] { return m_budget.m_used == 0 || m_budget.m_used + m_bytes <= m_budget.m_limit; });
    m_budget.m_used += m_bytes;
}

MemoryBudget::Share::~Share()
{
    {
        const std::lock_guard lock(m_budget.m_mutex);
        m_budget.m_used -= m_bytes;
    }
    m_budget.m_freed.notify_all();
}

OutputContents Unreadable(OutputContents contents, const QString& why)
{
    contents.error = why;
    contents.data.reset();
    contents.files.clear();
    contents.catalog = {};
    return contents;
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

OutputContents ReadOutput(const QString& path)
{
    // Only regular files are read: a device or FIFO would be read forever.
    QString why;
    std::optional<OutputContents> contents;
    if (OutputFormatOfName(path) == OutputResource) {
        if (std::shared_ptr<const ByteSource> file = FileSource(path, std::numeric_limits<qint64>::max(), &why))
            contents = ParseResource(std::move(file));
    } else {
        contents = ReadInclude(path, &why);
        // A run killed between the pair's two renames: the pack file is new, the include is not, and its
        // size table would read the new blocks as the old ones.
        const QFileInfo include(ThroughLinks(path));
        if (contents && contents->kind == OutputKind::Binpack &&
            SplitPairs(include.absolutePath(), false).contains(include.absoluteFilePath()))
            return Unreadable(std::move(*contents),
                              QStringLiteral("its pack file was replaced by a newer one but the include was not (a run "
                                             "was ended between the two); the next --create in its folder puts "
                                             "them together"));
    }
    if (contents)
        return std::move(*contents);
    OutputContents out;
    out.error = QStringLiteral("cannot be read: %1").arg(why);
    return out;
}

StoredInfo DescribeStored(std::span<const std::uint8_t> stored)
{
    StoredInfo info;
    if (HasBlockMagic(stored)) {
        info.block = true;
        info.packer = static_cast<std::int8_t>(stored[kBlockPackerOffset]);
        info.original = static_cast<std::int32_t>(ReadLe32(stored.data() + kBlockSizeOffset));
        info.crc = ReadLe32(stored.data() + kBlockCrcOffset);
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
        // Blocks decoded at once on several cores share one budget, so the cores do not multiply it.
        const MemoryBudget::Share share(DecodingBudget(), payload + info.original);
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
        return std::nullopt; // a damaged header may claim up to kMaxStoredSize
    }
}

QString CrcText(std::uint32_t crc)
{
    return QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

bool IsSafeFileName(const QString& name)
{
    // Names of dots only are the folder itself, the one above, or (on Windows) nothing at all; ".." inside
    // a name ("a..b.txt") leads nowhere.
    if (name.isEmpty() || std::all_of(name.begin(), name.end(), [](QChar c) { return c == QLatin1Char('.'); }))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20 ||
            c.unicode() == 0x7F)
            return false;
    }
    return true;
}

} // namespace hexaloom
