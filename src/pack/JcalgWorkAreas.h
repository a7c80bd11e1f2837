#pragma once
// The compressor's work areas as the program obtains them: zero-filled, and kept after a compression for the
// next one instead of going back to the system. Fits JcAllocate and JcRelease.
#include <cstddef>

namespace hexaloom::jcalg {

void* TakeWorkArea(std::size_t bytes);
void GiveWorkArea(void* area);

} // namespace hexaloom::jcalg
