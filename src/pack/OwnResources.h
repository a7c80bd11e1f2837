#pragma once
// Numbered data items compiled into an executable: the platform-neutral stand-in for resources of
// type "VORKEL". Entry i of a store is resource i + 1; an entry without data is an absent resource.
#include "PackedBlock.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace hexaloom {

struct ResourceEntry
{
    const std::uint8_t* data = nullptr; // nullptr: the resource does not exist
    std::size_t size = 0;
};

struct ResourceStore
{
    std::span<const ResourceEntry> entries;
};

// Fetches resource index + 1 of the store, unpacked when it is a block and checked against its CRC.
// Nothing for a negative index, an absent resource, a block that does not unpack or fails its CRC.
std::optional<Bytes> ReadOwnResource(int index, const ResourceStore& store);

} // namespace hexaloom
