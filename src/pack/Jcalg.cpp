// jCalg1's interface: the checksum, the compressor's entry points and the window per level. The search lives
// in JcalgSearch.cpp, the stream's strategy in JcalgEncoder.h, the decoder in JcalgDecoder.cpp.
#include "Jcalg.h"

#include "JcalgFormat.h"
#include "JcalgSearch.h"
#include "JcalgWorkAreas.h"

#include <algorithm>
#include <bit>
#include <iterator>

namespace hexaloom {

std::uint32_t JcChecksum(const std::uint8_t* data, std::size_t length)
{
    if (!data || length < 4)
        return 0;
    std::uint32_t sum = 0;
    auto add = [&sum](std::uint32_t w) { sum = (sum + w) ^ (std::rotl(w, 1) + 1); };
    std::size_t offset = 0;
    for (; offset + 4 <= length; offset += 4)
        add(ReadLe32(data + offset));
    if (offset < length)
        add(ReadLe32(data + length - 4));
    return sum;
}

std::size_t JcCompress(const std::uint8_t* source, std::size_t length, std::uint8_t* destination, std::size_t capacity,
                       std::uint32_t window, JcAllocate allocate, JcRelease release, JcProgress progress,
                       void* progressContext, bool noChecksum)
{
    const std::size_t effective =
        std::min<std::size_t>(std::max(std::min(window, jcalg::kMaxWindow), jcalg::kMinWindow), length);
    return jcalg::EncodeWithFastSearch(source, length, destination, capacity, window, allocate, release, progress,
                                       progressContext, noChecksum, effective <= jcalg::kNarrowLinkWindow);
}

std::size_t JcPackLevel(const std::uint8_t* source, std::uint8_t* destination, std::size_t length, int level,
                        std::size_t capacity)
{
    if (!source || !destination || length == 0)
        return 0;
    const std::uint32_t window = level >= 0 && level < static_cast<int>(std::size(jcalg::kLevelWindows))
                                     ? jcalg::kLevelWindows[level]
                                     : jcalg::kDefaultWindow;
    return JcCompress(source, length, destination, capacity, window, jcalg::TakeWorkArea, jcalg::GiveWorkArea, nullptr,
                      nullptr, false);
}

} // namespace hexaloom
