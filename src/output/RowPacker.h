#pragma once
// Reads and packs the rows' files on worker threads, one per core, and hands the results out strictly in
// row order, so the output does not depend on the number of workers. Only a bounded number of rows (and
// of source bytes) is in flight ahead of the writer.
#include "PackedBlock.h"
#include "ParallelFor.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class QFile;

namespace hexaloom {

// A row's file open for reading. Where the system has plain descriptors it is read through one, since
// QFile asks the file system about the file twice more as it opens it; the length comes from the walk
// that found the file (or is asked for once).
class RowFile
{
public:
    RowFile() = default;
    ~RowFile();
    RowFile(const RowFile&) = delete;
    RowFile& operator=(const RowFile&) = delete;

    bool Open(const QString& path);
    // The file's length, asked of the file system.
    qint64 Size() const;
    // Up to `length` bytes into `out`: how many were read, 0 at the end, -1 when reading fails.
    qint64 Read(char* out, qint64 length);
    bool Rewind();

private:
#ifdef Q_OS_WIN
    std::unique_ptr<QFile> m_file;
#else
    int m_fd = -1;
#endif
};

struct RowJob
{
    QString path;
    int kind = PackerNone;
    std::int64_t size = -1; // the file's length when known, else -1
    int level = kPackLevelDefault;
};

struct PackedRow
{
    // Raw: a file of kind none, checked but not read; the writer streams it from `file` (StreamFile) so
    // that its bytes are never held whole and reading overlaps writing. NoMemory: the file could not be
    // held in memory to be packed; like an unreadable one, its row writes nothing.
    enum State { Stored, Raw, Empty, Unreadable, TooBig, NoMemory };
    State state = Unreadable;
    Bytes bytes;                     // the block or raw bytes when Stored
    std::int64_t size = 0;           // the file's length when Raw
    std::shared_ptr<RowFile> file{}; // Raw: the file, open and at its start
};

// The work of one row, with the length the job gives (the file system is asked only when it gives none):
// a packed file is read whole and packed; a raw one only checked and handed on open, unless its first
// bytes would be taken for a block header (then it is read and stored as a block of kind none). Never
// throws: memory that cannot be had gives NoMemory.
PackedRow PackRow(const RowJob& job, const std::atomic<bool>* stop = nullptr);

// Hands `size` bytes of an open file to `sink` in chunks of a multiple of 40 bytes (the last one excepted),
// reading the next chunk on a helper thread meanwhile (or after the sink when no thread can be started).
// False when the file cannot be read to that length or the sink refuses a chunk.
bool StreamFile(RowFile& file, std::int64_t size, const std::function<bool(std::span<const std::uint8_t>)>& sink);

class RowPacker
{
public:
    // threads <= 0: one per core. With one thread (or when no worker can be started) the rows are packed
    // on the caller's thread in Take().
    // `stop`, when given, is the caller's cancel flag: once it is set, packing at the max level gives up, so a
    // row taken then may hold a file stored raw instead of packed; the caller must not write it.
    RowPacker(std::vector<RowJob> jobs, int threads, const std::atomic<bool>* stop = nullptr);
    ~RowPacker();
    RowPacker(const RowPacker&) = delete;
    RowPacker& operator=(const RowPacker&) = delete;

    // The next row's result, in row order; blocks until it is ready.
    PackedRow Take();

private:
    struct Slot
    {
        bool ready = false;
        std::size_t cost = 0;
        PackedRow row;
    };
    void Work();

    std::vector<RowJob> m_jobs;
    std::vector<std::size_t> m_costs; // bytes each row holds until taken (RowCost)
    std::size_t m_window;
    const std::atomic<bool>* m_callerStop;

    std::mutex m_mutex;
    std::condition_variable m_readyChanged;
    std::condition_variable m_roomChanged;
    // A ring: row r waits in slot r % m_window, as at most m_window rows are claimed and not yet taken.
    // Allocated once, so a worker never allocates while it holds the lock.
    std::vector<Slot> m_slots;
    std::size_t m_taken = 0;   // rows handed out
    std::size_t m_claimed = 0; // rows given to a worker
    std::size_t m_inFlight = 0;
    bool m_stop = false;
    // Set with m_stop: a max-level packer that polls it gives up on its row, so that Cancel does not wait
    // for a large file's packing.
    std::atomic<bool> m_stopPacking{false};
    WorkerThreads m_workers;
};

} // namespace hexaloom
