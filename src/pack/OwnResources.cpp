#include "OwnResources.h"

namespace hexaloom {

std::optional<Bytes> ReadOwnResource(int index, const ResourceStore& store)
{
    if (index < 0 || static_cast<std::size_t>(index) >= store.entries.size())
        return std::nullopt;
    const ResourceEntry& entry = store.entries[static_cast<std::size_t>(index)];
    if (entry.data == nullptr)
        return std::nullopt;
    return ReadPackedBlock({entry.data, entry.size});
}

} // namespace hexaloom
