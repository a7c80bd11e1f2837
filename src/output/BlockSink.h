#pragma once
// What Create writes its blocks into: an include (hexdata or binpack) or a resource file. Each block is
// begun with its number and size, given its bytes in order (in pieces, each but the last a multiple of
// 40 bytes), and ended; Finish() puts the output in place, Cancel() leaves the old one.
#include "PackedBlock.h"

#include <QString>

#include <cstdint>
#include <span>

namespace hexaloom {

// The largest block and output (kMaxStoredSize) as every message states it: the 2 of "2 GiB - 1", so
// that each language keeps its own unit.
inline constexpr std::int64_t kMaxStoredGiB = (kMaxStoredSize + 1) >> 30;
static_assert(kMaxStoredGiB << 30 == kMaxStoredSize + 1, "the messages count whole GiB");

class BlockSink
{
public:
    virtual ~BlockSink() = default;

    virtual bool BeginBlock(int number, std::int64_t size) = 0;
    virtual bool AppendBlock(std::span<const std::uint8_t> bytes) = 0;
    virtual bool EndBlock() = 0;
    // With keepSame an old output of the same bytes stays as it was; unchanged() then says so.
    virtual bool Finish(bool keepSame = false) = 0;
    virtual void Cancel() = 0;
    virtual QString errorString() const = 0;
    virtual bool unchanged() const = 0;
    // Whether a file that could not be read still takes its number (a block claiming no bytes) or leaves it
    // out. An empty file always takes its number, as a block of no bytes.
    virtual bool keepsMissingNumbers() const = 0;

    // A whole block at once.
    bool WriteBlock(std::span<const std::uint8_t> stored, int number)
    {
        return BeginBlock(number, static_cast<std::int64_t>(stored.size())) && AppendBlock(stored) && EndBlock();
    }
};

} // namespace hexaloom
