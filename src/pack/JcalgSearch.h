#pragma once
// The compressor with the fast search; internal to the packing library (JcCompress is its interface).
#include "Jcalg.h"

namespace hexaloom::jcalg {

// The largest window whose distances 16-bit chain links hold.
constexpr std::uint32_t kNarrowLinkWindow = 65536;

// JcCompress's stream. `narrowLinks` keeps the chains' links in 16 bits, which halves their memory and holds
// every distance of a window up to 65536.
std::size_t EncodeWithFastSearch(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                                 std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                                 JcProgress progress, void* progressContext, bool noChecksum, bool narrowLinks);

} // namespace hexaloom::jcalg
