#pragma once
// The packer that gives a file its smallest block, for the window's command and the build road's
// packer word "smallest".
#include "PackedBlock.h"

#include <QString>

#include <atomic>
#include <optional>

namespace hexaloom {

// Where a packer is asked for, the one SmallestPacker chooses for each file.
inline constexpr int kPackerSmallest = -1;

struct SmallestChoice
{
    int packer = 0;  // PackerNone, PackerZip or PackerJcalg1
    qint64 size = 0; // the file's Datasize with that packer (the packed payload, or the file's length)
};

// Packs the file with each packer and takes the smallest block: a packed block carries its header, so
// none wins where packing does not pay. Equal blocks go to the faster decoder: none, then zip, then
// jCalg1. Nothing when the file cannot be read (or is too large to pack), or when `stop` is set. `level`:
// the packing level Create will use.
std::optional<SmallestChoice> SmallestPacker(const QString& path, int level = kPackLevelDefault,
                                             const std::atomic<bool>* stop = nullptr);

} // namespace hexaloom
