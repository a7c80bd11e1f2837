#pragma once
// The jCalg1 stream's numbers, named once for the encoder (JcalgEncoder.h, the searches) and the decoder
// (JcalgDecoder.cpp). The stream is read by the access code in users' programs, so none of the format's
// numbers may change; the compressor's strategy numbers fix which stream it writes, so they may not either.
#include "LittleEndian.h"

#include <cstdint>

namespace hexaloom::jcalg {

// ---- The header: magic "JC", the unpacked size, the checksum (0: none), all little-endian.
constexpr std::uint8_t kMagic0 = 0x4A;
constexpr std::uint8_t kMagic1 = 0x43;
constexpr std::uint32_t kHeaderSize = 10;

// ---- Tokens.
// The short match token holds a 7-bit distance and a 2-bit length - 2: distances 1 .. 127 and lengths
// 2 .. 5 (distance 0 marks the end and the index-bit command instead).
constexpr std::uint32_t kShortDistanceMax = 127;
constexpr std::uint32_t kShortLengthMax = 5;
// The near-byte token's 4-bit field codes a copy from 1 .. 14 bytes back (values 2 .. 15; 1 is the zero byte).
constexpr std::uint32_t kNearByteMax = 14;
// Index bits (the low part of a new distance sent as a plain field) start at 8; the stream switches to 9 once
// distances beyond 49152 may occur, to 10 beyond 65536, and never back.
constexpr std::uint32_t kFirstIndexBits = 8;
constexpr std::uint32_t kIndexBits9From = 49152;
constexpr std::uint32_t kIndexBits10From = 65536;
// A raw run is 256 bytes of 8 bits each.
constexpr std::uint32_t kRawRun = 256;

// ---- adjust(D): lengths a new distance codes are biased by what is useless at that distance. Near
// distances (the short token's range) need 4 more, the next band none; from these bounds on one more each.
constexpr std::uint32_t kAdjustBand1 = 128;   // 1 .. 127: +4
constexpr std::uint32_t kAdjustBand2 = 639;   // 128 .. 638: 0
constexpr std::uint32_t kAdjustBand3 = 14335; // 639 .. 14334: +1
constexpr std::uint32_t kAdjustBand4 = 65536; // 14335 .. 65535: +2, beyond: +3

inline std::uint32_t Adjust(std::uint64_t distance)
{
    if (distance < kAdjustBand1)
        return 4;
    if (distance < kAdjustBand2)
        return 0;
    if (distance < kAdjustBand3)
        return 1;
    if (distance < kAdjustBand4)
        return 2;
    return 3;
}

// ---- The compressor's strategy.
// Windows: the largest the stream's distances may use, the smallest the levels offer; the program packs with
// the largest level's.
constexpr std::uint32_t kMaxWindow = 268435454;
constexpr std::uint32_t kMinWindow = 1024;
constexpr std::uint32_t kLevelWindows[] = {1024, 2048, 4096, 8192, 16384, 32768, 40960, 57344};
constexpr std::uint32_t kDefaultWindow = 65536;
// Bytes coded between two literal-span analyses, and the stretch each analysis looks at.
constexpr std::uint32_t kAnalysisStretch = 1024;
// Tokens between two progress reports.
constexpr std::uint32_t kProgressTokens = 96;
// Bits a candidate is charged: the short token costs 9; a new distance 10 plus its gamma codes.
constexpr std::int32_t kShortTokenCost = 9;
constexpr std::int32_t kNewDistanceCost = 10;
// What the lazy step takes off the next position's gain: a match found one byte later must beat the one here
// by more than the single byte spent to reach it.
constexpr std::int32_t kLazyPenalty = 3;
// A search ends at once on a run: a best candidate at distance 1 longer than this cannot be beaten.
constexpr std::uint32_t kRunStop = 64;

} // namespace hexaloom::jcalg
