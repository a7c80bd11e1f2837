#pragma once
// The Datasize of one row, as the size calculation shows it. Touches no model, so it runs on any thread.
#include "PackedBlock.h"

#include <QString>

#include <atomic>
#include <optional>

namespace hexaloom {

// Packer none (and any unknown kind): the file's length. jCalg1 or zip: the packed payload length,
// without the 23-byte block header, or the file's length when packing fails. Nothing when the file
// cannot be read, or is too large to be packed in memory; the row then keeps its size text. `level` is
// the packing level Create uses (kPackLevelDefault or kPackLevelMax); `stop`, when given and set, gives up (nothing).
std::optional<qint64> RowDataSize(const QString& path, int kind, int level = kPackLevelDefault,
                                  const std::atomic<bool>* stop = nullptr);

} // namespace hexaloom
