#pragma once
// The 32-bit Windows resource file as the writer puts it down and the reader checks it, spelled once.
#include <array>
#include <cstddef>
#include <cstdint>

namespace hexaloom::resource_layout {

// The smallest entry header: two sizes, numeric type and name, and sixteen bytes of fields after them.
inline constexpr std::uint32_t kSmallestHeader = 32;
// A type or name field that starts with this unit holds a 16-bit number; otherwise it is a UTF-16 text.
inline constexpr std::uint16_t kNumericMarker = 0xFFFF;
// The largest numeric name: the 16-bit field's largest value (65535).
inline constexpr int kMaxNumber = 0xFFFF;

// The empty entry that opens every 32-bit resource file: data size 0, numeric type 0, numeric name 0.
inline constexpr std::array<std::uint8_t, kSmallestHeader> kEmptyEntry = {
    0, 0, 0, 0, kSmallestHeader, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};

// Our entries: the type as a text, the number as a numeric name, and the fixed fields after it zero.
inline constexpr char16_t kType[] = u"VORKEL";
inline constexpr std::size_t kTypeOffset = 8;
inline constexpr std::size_t kNameOffset = kTypeOffset + sizeof kType;
inline constexpr std::uint32_t kEntryHeader = 44;

// Every entry's data is padded with zero bytes to this.
inline constexpr std::int64_t kAlignment = 4;

} // namespace hexaloom::resource_layout
