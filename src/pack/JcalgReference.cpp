#include "JcalgReference.h"

#include "JcalgEncoder.h"

namespace hexaloom {

namespace {

// Chains of positions by their first two bytes, held in a ring of window + 1 entries: the entry after the
// newest is always free, so the chains hold the window most recent positions.
class RingSearch
{
public:
    bool Init(const std::uint8_t* data, std::uint32_t length, std::uint32_t window, JcAllocate allocate,
              JcRelease release)
    {
        (void)length;
        m_data = data;
        m_release = release;
        m_size = window + 1;
        m_heads = static_cast<std::uint32_t*>(allocate(65536 * sizeof(std::uint32_t)));
        m_entries = m_heads ? static_cast<Entry*>(allocate(std::size_t{m_size} * sizeof(Entry))) : nullptr;
        m_used = m_entries ? static_cast<std::uint8_t*>(allocate(m_size)) : nullptr;
        if (!m_used) {
            Release();
            return false;
        }
        return true;
    }

    void Release()
    {
        if (m_used)
            m_release(m_used);
        if (m_entries)
            m_release(m_entries);
        if (m_heads)
            m_release(m_heads);
        m_used = nullptr;
        m_entries = nullptr;
        m_heads = nullptr;
    }

    void Insert(std::uint32_t position)
    {
        const std::uint32_t key = Key(position);
        Entry& e = m_entries[m_current];
        e.position = position;
        e.key = key;
        e.older = m_heads[key];
        e.newer = 0;
        if (e.older)
            m_entries[e.older - 1].newer = m_current + 1;
        m_heads[key] = m_current + 1;
        m_used[m_current] = 1;
        m_current = (m_current + 1) % m_size;
        if (m_used[m_current]) {
            const Entry& old = m_entries[m_current];
            if (old.newer)
                m_entries[old.newer - 1].older = 0;
            else
                m_heads[old.key] = 0;
            m_used[m_current] = 0;
        }
    }

    jcalg::Match Find(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits, std::uint32_t last)
    {
        // The ring holds the window's positions only, so the walk's window test never ends it early.
        return jcalg::PlainWalk(
            m_data, position, m_size - 1, lmax, indexBits, last, m_heads[Key(position)],
            [this](std::uint32_t link) { return m_entries[link - 1].position; },
            [this](std::uint32_t link) { return m_entries[link - 1].older; });
    }

private:
    struct Entry
    {
        std::uint32_t position;
        std::uint32_t older; // entry index + 1, 0 for none
        std::uint32_t newer;
        std::uint32_t key;
    };

    std::uint32_t Key(std::uint32_t position) const { return m_data[position] | m_data[position + 1] << 8; }

    const std::uint8_t* m_data = nullptr;
    JcRelease m_release = nullptr;
    std::uint32_t m_size = 0;
    std::uint32_t m_current = 0;
    std::uint32_t* m_heads = nullptr;
    Entry* m_entries = nullptr;
    std::uint8_t* m_used = nullptr;
};

} // namespace

std::size_t JcCompressReference(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                                std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                                JcProgress progress, void* progressContext, bool noChecksum)
{
    RingSearch search;
    return jcalg::EncodeStream(search, source, length, destination, capacity, window, allocate, release, progress,
                               progressContext, noChecksum);
}

} // namespace hexaloom
