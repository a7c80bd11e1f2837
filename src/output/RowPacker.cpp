#include "RowPacker.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <future>
#include <new>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hexaloom {

#ifdef Q_OS_WIN
RowFile::~RowFile() = default;

bool RowFile::Open(const QString& path)
{
    m_file = std::make_unique<QFile>(path);
    return m_file->open(QIODevice::ReadOnly);
}

qint64 RowFile::Size() const
{
    return m_file->size();
}

qint64 RowFile::Read(char* out, qint64 length)
{
    return m_file->read(out, length);
}

bool RowFile::Rewind()
{
    return m_file->seek(0);
}
#else
RowFile::~RowFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RowFile::Open(const QString& path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    return m_fd >= 0;
}

qint64 RowFile::Size() const
{
    struct stat info;
    return ::fstat(m_fd, &info) == 0 ? qint64(info.st_size) : 0;
}

qint64 RowFile::Read(char* out, qint64 length)
{
    for (;;) {
        const ssize_t n = ::read(m_fd, out, std::size_t(length));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool RowFile::Rewind()
{
    return ::lseek(m_fd, 0, SEEK_SET) == 0;
}
#endif

namespace {

// The bytes read or packed rows may hold at once before the writer takes them; a larger row still goes,
// alone.
constexpr std::size_t kByteBudget = std::size_t(256) << 20;

// What a row holds in memory until the writer takes it: a packed file is read whole, a raw one is
// streamed later and holds nothing.
std::size_t RowCost(const RowJob& job)
{
    if (job.kind == PackerNone)
        return 0;
    const qint64 size = job.size >= 0 ? job.size : QFileInfo(job.path).size();
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

PackedRow PackRowOrThrow(const RowJob& job, const std::atomic<bool>* stop)
{
    PackedRow row;
    auto file = std::make_shared<RowFile>();
    if (!file->Open(job.path)) {
        row.state = PackedRow::Unreadable;
        return row;
    }
    const qint64 size = job.size >= 0 ? job.size : file->Size();
    if (size > kMaxStoredSize) {
        row.state = PackedRow::TooBig;
        return row;
    }
    if (job.kind == PackerNone) {
        // Only a file that would be taken for a packed block is read here (and stored as a block); any
        // other is handed on open, to be streamed from its start.
        char head[kBlockHeaderSize];
        qint64 got = 0;
        for (qint64 n = 1; got < qint64(sizeof head) && n > 0; got += n) {
            n = file->Read(head + got, qint64(sizeof head) - got);
            if (n < 0) { // a folder, say, opens but cannot be read
                row.state = PackedRow::Unreadable;
                return row;
            }
        }
        const bool looksPacked =
            HasBlockMagic({reinterpret_cast<const std::uint8_t*>(head), static_cast<std::size_t>(got)});
        if (!file->Rewind()) {
            row.state = PackedRow::Unreadable;
            return row;
        }
        if (!looksPacked) {
            row.state = size > 0 ? PackedRow::Raw : PackedRow::Empty;
            row.size = size;
            if (size > 0)
                row.file = std::move(file);
            return row;
        }
    }
    Bytes data(static_cast<std::size_t>(size));
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file->Read(reinterpret_cast<char*>(data.data()) + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    // A file that shrank while being read, or a read error: the bytes are not the file's.
    if (got != size) {
        row.state = PackedRow::Unreadable;
        return row;
    }
    if (data.empty()) {
        row.state = PackedRow::Empty;
        return row;
    }
    row.bytes = PackBlock(std::move(data), job.kind, job.level, stop);
    row.state = row.bytes.size() > static_cast<std::size_t>(kMaxStoredSize) ? PackedRow::TooBig : PackedRow::Stored;
    if (row.state == PackedRow::TooBig)
        Bytes().swap(row.bytes);
    return row;
}

} // namespace

PackedRow PackRow(const RowJob& job, const std::atomic<bool>* stop)
{
    // Runs on workers too, where an exception would end the program.
    PackedRow row;
    try {
        return PackRowOrThrow(job, stop);
    } catch (const std::bad_alloc&) {
        row.state = PackedRow::NoMemory;
    } catch (...) {
        row.state = PackedRow::Unreadable;
    }
    return row;
}

bool StreamFile(RowFile& file, std::int64_t size, const std::function<bool(std::span<const std::uint8_t>)>& sink)
{
    constexpr qint64 kChunk = 40 << 16; // 2.5 MiB, whole lines of ten longs
    Bytes buffers[2] = {Bytes(static_cast<std::size_t>(std::min<qint64>(kChunk, size))),
                        Bytes(static_cast<std::size_t>(std::min<qint64>(kChunk, size)))};
    auto readChunk = [&file](Bytes& buffer, qint64 want) {
        qint64 got = 0;
        while (got < want) {
            const qint64 n = file.Read(reinterpret_cast<char*>(buffer.data()) + got, want - got);
            if (n <= 0)
                break;
            got += n;
        }
        return got == want;
    };
    qint64 done = 0;
    int current = 0;
    qint64 want = std::min<qint64>(kChunk, size);
    if (!readChunk(buffers[current], want))
        return false;
    for (;;) {
        const qint64 next = std::min<qint64>(kChunk, size - done - want);
        std::future<bool> ahead;
        if (next > 0) {
            try {
                ahead = std::async(std::launch::async, readChunk, std::ref(buffers[current ^ 1]), next);
            } catch (const std::exception&) {
                // No thread to spare: the next chunk is read after this one is taken.
            }
        }
        const bool taken = sink(std::span<const std::uint8_t>(buffers[current].data(), static_cast<std::size_t>(want)));
        const bool read = next <= 0 || (ahead.valid() ? ahead.get() : taken && readChunk(buffers[current ^ 1], next));
        if (!taken || !read)
            return false;
        done += want;
        if (next <= 0)
            return done == size;
        want = next;
        current ^= 1;
    }
}

RowPacker::RowPacker(std::vector<RowJob> jobs, int threads, const std::atomic<bool>* stop)
    : m_jobs(std::move(jobs)), m_callerStop(stop)
{
    const std::size_t wanted = ThreadsFor(m_jobs.size(), threads);
    m_window = wanted * 2;
    m_slots.resize(m_window);
    m_costs.reserve(m_jobs.size());
    for (const RowJob& job : m_jobs)
        m_costs.push_back(RowCost(job));
    // Fewer workers may start than asked for; with none, Take() packs the rows itself.
    if (wanted > 1)
        m_workers.Start(wanted, [this] { Work(); });
}

RowPacker::~RowPacker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_stopPacking = true;
    }
    m_roomChanged.notify_all();
    m_workers.Join();
}

void RowPacker::Work()
{
    for (;;) {
        std::size_t index = 0;
        std::size_t cost = 0;
        {
            std::unique_lock lock(m_mutex);
            // A row may start when it is within the window and the bytes in flight leave room for it;
            // the row the writer waits for next always may, so a large file cannot stall the run.
            m_roomChanged.wait(lock, [&] {
                if (m_stop || m_claimed >= m_jobs.size())
                    return true;
                if (m_claimed - m_taken >= m_window)
                    return false;
                return m_claimed == m_taken || m_inFlight + m_costs[m_claimed] <= kByteBudget;
            });
            if (m_stop || m_claimed >= m_jobs.size())
                return;
            index = m_claimed++;
            cost = m_costs[index];
            m_inFlight += cost;
            Slot& slot = m_slots[index % m_window];
            slot.ready = false;
            slot.cost = cost;
        }
        PackedRow row = PackRow(m_jobs[index], &m_stopPacking);
        {
            std::lock_guard lock(m_mutex);
            Slot& slot = m_slots[index % m_window];
            slot.row = std::move(row);
            slot.ready = true;
        }
        m_readyChanged.notify_all();
    }
}

PackedRow RowPacker::Take()
{
    if (m_workers.empty()) {
        if (m_taken >= m_jobs.size())
            return {};
        return PackRow(m_jobs[m_taken++], m_callerStop);
    }
    std::unique_lock lock(m_mutex);
    if (m_taken >= m_jobs.size())
        return {};
    Slot& slot = m_slots[m_taken % m_window];
    // The caller's cancel flag is passed on to the workers' packers while the row is awaited.
    while (!m_readyChanged.wait_for(lock, std::chrono::milliseconds(50),
                                    [&] { return m_taken < m_claimed && slot.ready; })) {
        if (m_callerStop && m_callerStop->load())
            m_stopPacking = true;
    }
    PackedRow row = std::move(slot.row);
    slot.ready = false;
    m_inFlight -= slot.cost;
    ++m_taken;
    lock.unlock();
    m_roomChanged.notify_all();
    return row;
}

} // namespace hexaloom
