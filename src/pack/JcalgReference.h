#pragma once
// The compressor with the straightforward search: it walks each two-byte chain of a ring of window + 1
// linked entries from newest to oldest, comparing every candidate. Slow, and kept only as the reference
// whose output the fast search must reproduce byte for byte.
#include "Jcalg.h"

namespace hexaloom {

std::size_t JcCompressReference(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                                std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                                JcProgress progress, void* progressContext, bool noChecksum);

} // namespace hexaloom
