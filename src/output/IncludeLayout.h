#pragma once
// The fixed lines of the hexdata and binpack includes, spelled once for the writer that puts them down and
// the reader that looks for them. The writer indents the section lines by two spaces; the reader trims.
#include <QLatin1String>

#include <string_view>

namespace hexaloom::include_layout {

// The marker line that follows the access-code template: the prefix, then the format's word.
inline constexpr std::string_view kMarkerPrefix = ";{ Hexaloom - ";
inline constexpr std::string_view kHexdataWord = "HexData";
inline constexpr std::string_view kBinpackWord = "BinPack";

inline constexpr std::string_view kEnumeration = "Enumeration 1; ResNum";
inline constexpr std::string_view kEnumerationEnd = "EndEnumeration";
inline constexpr std::string_view kDataSection = "DataSection";
inline constexpr std::string_view kDataSectionEnd = "EndDataSection";
inline constexpr std::string_view kMarkerEnd = ";}";
// Where the blocks begin, and the size table (block count, then each block's length) after them.
inline constexpr std::string_view kCatchStart = "Vorkel_CatchStart:";
inline constexpr std::string_view kCatchInfo = "Vorkel_CatchInfo:";
// The binpack include's one data line pulls in the pack file with this keyword.
inline constexpr std::string_view kIncludeBinary = "IncludeBinary";
// Data lines: "$" and hex digits separated by ","; the same prefix carries the size table in decimal.
inline constexpr std::string_view kLongs = "Data.l ";
inline constexpr std::string_view kBytes = "Data.b ";
inline constexpr std::string_view kIndent = "  ";

// One of the fixed texts for a Qt message or line.
inline QLatin1String Latin(std::string_view text)
{
    return QLatin1String(text.data(), qsizetype(text.size()));
}

} // namespace hexaloom::include_layout
