#pragma once
// An existing output read back: a hexdata include, a binpack include with its pack file, or a resource
// file (IncludeReader, ResourceReader), each as its stored entries (packed blocks or raw bytes) and its
// catalog; and what every format shares: listing, unpacking and checking the entries. The entries stay
// where they are (the file, or the include's hex lines, decoded piece by piece when read), and are
// unpacked in bounded pieces as they are read, so neither a large output nor a header that claims more
// than its block holds costs more memory than a few pieces. Used to list, verify and extract outputs.
#include "PackedBlock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace hexaloom {

enum class OutputKind { Hexdata, Binpack, Resource };

// Where one stored entry lies in OutputContents::data; absent for a resource number the file lacks.
struct StoredEntry
{
    qsizetype offset = -1;
    qsizetype length = 0;
    bool present() const { return offset >= 0; }
};

// Where the stored bytes are: the decoded data section, the pack file, or the whole resource file.
// Read() may be called from several threads at once.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual qint64 size() const = 0;
    // Copies `length` bytes from `offset`; false when they cannot be read.
    virtual bool Read(qint64 offset, std::uint8_t* out, qint64 length) const = 0;
    // The CRC-32 of `length` bytes from `offset`; false when they cannot be read. Read in pieces, unless
    // the source knows better (a hexdata include keeps the CRC-32 of every piece it decoded).
    virtual bool Crc(qint64 offset, qint64 length, std::uint32_t& crc) const;
    // The file the bytes are read from got shorter while it was read: what was read is not what it held.
    virtual bool Changed() const { return false; }
};
// Bytes held in memory.
std::shared_ptr<const ByteSource> MemorySource(QByteArray bytes);
// A regular file, read where it lies; nothing (with the reason) when it cannot be opened.
std::shared_ptr<const ByteSource> FileSource(const QString& path, qint64 cap, QString* why);

struct OutputContents
{
    OutputKind kind = OutputKind::Hexdata;
    QString error;                          // why the output cannot be read; empty when it could
    QString packName;                       // binpack: the pack file named by IncludeBinary; empty when none
    std::shared_ptr<const ByteSource> data; // the stored entries' bytes; empty when the output cannot be read
    StoredEntry catalog;                    // the last block of an include, resource 1 of a resource file
    std::vector<StoredEntry> files;         // files[k - 1] is file k: block k, or resource k + 1
    int constantCount = 0;                  // the constants the include's enumeration declares

    // A copy of a stored entry's bytes (for small entries: the catalog, tests); empty when unreadable.
    Bytes Stored(const StoredEntry& entry) const;
    qint64 dataSize() const { return data ? data->size() : 0; }
};

// `contents` with nothing to offer, and why it cannot be read: what a reader gives for an output it refuses.
OutputContents Unreadable(OutputContents contents, const QString& why);

// The output at `path`: a resource file when its name ends in ".res" (any case), else an include whose
// pack file is looked for beside it. Only regular files are read.
OutputContents ReadOutput(const QString& path);

// What a stored entry's header says, without unpacking it: raw bytes give packer none, their own length
// and their own CRC-32.
struct StoredInfo
{
    bool block = false; // carries the block magic
    int packer = PackerNone;
    std::int64_t original = 0; // the unpacked length
    std::uint32_t crc = 0;
};
StoredInfo DescribeStored(std::span<const std::uint8_t> stored);

// Memory shared by the threads that decode at once: each takes its share before it allocates, and waits
// while the others hold too much of it.
class MemoryBudget
{
public:
    explicit MemoryBudget(qint64 limit) : m_limit(limit) {}

    class Share
    {
    public:
        Share(MemoryBudget& budget, qint64 bytes);
        ~Share();
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

    private:
        MemoryBudget& m_budget;
        qint64 m_bytes;
    };

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    qint64 m_limit;
    qint64 m_used = 0;
};
// The budget of the blocks that are decoded whole (jCalg1): HEXALOOM_MEMORY_MB megabytes when that is
// set, else half the machine's physical memory, however many cores decode.
qint64 DecodingBudgetBytes();
MemoryBudget& DecodingBudget();

// Unpacks a stored entry as ReadPackedBlock does, reading it in pieces and handing the unpacked bytes to
// `sink` in pieces (none when `sink` is empty): the CRC is checked as the bytes come, and the first sign
// that the block cannot deliver what its header claims ends it. A zip block must end exactly at the
// size its header states. False when the entry is damaged or `sink` refused a piece.
bool UnpackEntry(const OutputContents& contents, const StoredEntry& entry,
                 const std::function<bool(std::span<const std::uint8_t>)>& sink = {});
// What an entry's header says (raw bytes: their length and CRC, read in pieces).
StoredInfo DescribeEntry(const OutputContents& contents, const StoredEntry& entry);
// Whether file `number` holds no data: its number left out (a resource file) or past the entries, or a block
// header claiming no bytes (what stands for a file that could not be read when the output was written). An
// empty file is an entry of no bytes at all, and holds data: none.
bool HoldsNoData(const OutputContents& contents, int number);
// Why an entry that UnpackEntry refused does not read back, with what its header claims.
QString EntryDamageText(const OutputContents& contents, const StoredEntry& entry);

// The catalog as the access code reads it: field k + 1 of the zero-terminated text is file k's name.
struct CatalogText
{
    int count = -1;    // the number in field 1; -1 when it is none
    QStringList names; // fields 2 onwards
    QString problem;   // what is wrong with it for an output of `files` files; empty when nothing
    // Its names do not split into the count it gives (a file name held a ","): which name belongs to which
    // file cannot be told, so `names` is left empty. The files' data may still be sound.
    bool notByName = false;
};
// The catalog checked against the entries the output holds (a resource file may lack its last numbers,
// so its catalog may count more).
CatalogText ReadCatalog(const OutputContents& contents);

// One file of an output as a listing shows it.
struct OutputFile
{
    int number = 0;
    QString name;     // from the catalog; empty when it has none for this number
    QString constant; // the enumeration constant of that name
    bool present = false;
    std::int64_t stored = 0;
    StoredInfo info;
};

struct OutputListing
{
    CatalogText catalog;
    std::vector<OutputFile> files;
};
// Every file of a readable output: the numbers the catalog counts, and any stored beyond them.
OutputListing ListOutput(const OutputContents& contents);

// ReadPackedBlock, with a block that claims more bytes than memory holds read as damaged.
std::optional<Bytes> UnpackStored(std::span<const std::uint8_t> stored);
// Eight upper-case hexadecimal digits.
QString CrcText(std::uint32_t crc);

// A catalog name that can be written as a file inside a folder on every system: not empty, not only dots,
// no "/" or "\", no ":" and no control character. Extract writes only such names, and Create refuses
// files whose names are not such, on every road.
bool IsSafeFileName(const QString& name);

} // namespace hexaloom
