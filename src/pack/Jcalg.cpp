#include "Jcalg.h"

#include "JcalgEncoder.h"

#include <cstdlib>

namespace hexaloom {

namespace {

std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::uint32_t RotateLeft1(std::uint32_t w)
{
    return w << 1 | w >> 31;
}

// Two-byte chains as a head table plus, per position, the previous position with the same two bytes.
class ChainSearch {
public:
    bool Init(const std::uint8_t* data, std::uint32_t length, std::uint32_t window, JcAllocate allocate,
              JcRelease release)
    {
        m_data = data;
        m_window = window;
        m_release = release;
        m_heads = static_cast<std::uint32_t*>(allocate(65536 * sizeof(std::uint32_t)));
        m_previous = m_heads ? static_cast<std::uint32_t*>(allocate((std::size_t{length} + 1) * 4)) : nullptr;
        if (!m_previous) {
            Release();
            return false;
        }
        return true;
    }

    void Release()
    {
        if (m_previous)
            m_release(m_previous);
        if (m_heads)
            m_release(m_heads);
        m_previous = nullptr;
        m_heads = nullptr;
    }

    // Positions are stored + 1 so that 0 ends a chain.
    void Insert(std::uint32_t position)
    {
        const std::uint32_t key = Key(position);
        m_previous[position] = m_heads[key];
        m_heads[key] = position + 1;
    }

    jcalg::Match Find(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits, std::uint32_t last)
    {
        const std::uint8_t* here = m_data + position;
        jcalg::Match best;
        std::uint32_t need = 2;
        for (std::uint32_t link = m_heads[Key(position)]; link; link = m_previous[link - 1]) {
            const std::uint32_t candidate = link - 1;
            if (candidate >= position)
                continue;
            const std::uint32_t distance = position - candidate;
            if (distance >= m_window)
                break;
            const std::uint8_t* there = m_data + candidate;
            if (std::memcmp(there, here, need) != 0)
                continue;
            std::uint32_t length = need;
            if (lmax >= 4) {
                while (length < lmax - 4 && std::memcmp(there + length, here + length, 4) == 0)
                    length += 4;
                if (length < lmax - 4)
                    while (length < lmax && there[length] == here[length])
                        ++length;
            }
            const std::int32_t gain = jcalg::Gain(distance, length, last, indexBits);
            if (gain > best.gain) {
                best = {distance, length, gain};
                if (distance <= 1 && length > 64)
                    break;
            }
            need = length;
        }
        return best;
    }

private:
    std::uint32_t Key(std::uint32_t position) const { return m_data[position] | m_data[position + 1] << 8; }

    const std::uint8_t* m_data = nullptr;
    std::uint32_t m_window = 0;
    JcRelease m_release = nullptr;
    std::uint32_t* m_heads = nullptr;
    std::uint32_t* m_previous = nullptr;
};

void* ZeroAllocate(std::size_t bytes)
{
    return std::calloc(bytes, 1);
}

void Free(void* block)
{
    std::free(block);
}

} // namespace

std::uint32_t JcChecksum(const std::uint8_t* data, std::size_t length)
{
    if (!data || length < 4)
        return 0;
    std::uint32_t sum = 0;
    auto add = [&sum](std::uint32_t w) { sum = (sum + w) ^ (RotateLeft1(w) + 1); };
    std::size_t offset = 0;
    for (; offset + 4 <= length; offset += 4)
        add(ReadLe32(data + offset));
    if (offset < length)
        add(ReadLe32(data + length - 4));
    return sum;
}

std::size_t JcCompress(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                       std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                       JcProgress progress, void* progressContext, bool noChecksum)
{
    ChainSearch search;
    return jcalg::EncodeStream(search, source, length, destination, capacity, window, allocate, release, progress,
                               progressContext, noChecksum);
}

std::size_t JcPackLevel(const std::uint8_t* source, std::uint8_t* destination, std::size_t length, int level,
                        std::size_t capacity)
{
    if (!source || !destination || length == 0)
        return 0;
    static constexpr std::uint32_t kWindows[] = {1024, 2048, 4096, 8192, 16384, 32768, 40960, 57344};
    const std::uint32_t window = level >= 0 && level <= 7 ? kWindows[level] : 65536;
    return JcCompress(source, length, destination, capacity, window, ZeroAllocate, Free, nullptr, nullptr, false);
}

} // namespace hexaloom
