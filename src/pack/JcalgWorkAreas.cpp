#include "JcalgWorkAreas.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace hexaloom::jcalg {

namespace {

// Work areas handed back by finished compressions, kept for the next ones. Fresh memory costs a page fault
// per 4 KB when first touched (the three-byte slots alone span 4 MB, touched all over), and the allocator
// returns freed areas of this size to the system at once; several files packed one after another on a few
// threads spent a quarter of their time there. A kept area is zeroed again in user space, which is cheaper.
class WorkAreas
{
public:
    WorkAreas() = default;
    WorkAreas(const WorkAreas&) = delete;
    WorkAreas& operator=(const WorkAreas&) = delete;
    ~WorkAreas()
    {
        for (const Area& area : m_kept)
            std::free(area.block);
    }

    void* Take(std::size_t bytes)
    {
        void* block = nullptr;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            for (std::size_t i = m_kept.size(); i-- > 0;) {
                if (m_kept[i].bytes == bytes) {
                    block = m_kept[i].block;
                    m_held -= bytes;
                    m_kept.erase(m_kept.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
            }
        }
        if (block) {
            std::memset(static_cast<std::uint8_t*>(block) + kHeader, 0, bytes);
        } else {
            if (bytes > SIZE_MAX - kHeader)
                return nullptr;
            block = std::calloc(bytes + kHeader, 1);
            if (!block)
                return nullptr;
            // Fresh pages from the system are mapped on first touch. The search reads a table entry before it
            // writes it, so a first read would map the shared zero page and the write right after would fault
            // again, and that second fault flushes the other cores' address caches (on a virtual machine, an
            // interrupt to each). Written once here, each page faults once.
            auto* const fresh = static_cast<volatile std::uint8_t*>(block);
            for (std::size_t i = kHeader; i < bytes + kHeader; i += kPage)
                fresh[i] = 0;
            std::memcpy(block, &bytes, sizeof bytes);
        }
        return static_cast<std::uint8_t*>(block) + kHeader;
    }

    void Give(void* area)
    {
        void* block = static_cast<std::uint8_t*>(area) - kHeader;
        std::size_t bytes;
        std::memcpy(&bytes, block, sizeof bytes);
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (bytes <= kHeldMax - m_held) {
                try {
                    m_kept.push_back({bytes, block});
                    m_held += bytes;
                    return;
                } catch (const std::bad_alloc&) {
                }
            }
        }
        std::free(block);
    }

private:
    struct Area
    {
        std::size_t bytes;
        void* block;
    };
    // The area's size is kept in front of it; the header keeps the alignment malloc gives.
    static constexpr std::size_t kHeader = alignof(std::max_align_t);
    static constexpr std::size_t kPage = 4096;
    // Enough for the areas of a few compressions at once (about 7 MB each at level 9).
    static constexpr std::size_t kHeldMax = std::size_t{64} << 20;
    std::mutex m_mutex;
    std::vector<Area> m_kept;
    std::size_t m_held = 0;
};

WorkAreas& KeptWorkAreas()
{
    static WorkAreas areas;
    return areas;
}

} // namespace

void* TakeWorkArea(std::size_t bytes)
{
    return KeptWorkAreas().Take(bytes);
}

void GiveWorkArea(void* area)
{
    KeptWorkAreas().Give(area);
}

} // namespace hexaloom::jcalg
