#pragma once
// Reads a hexdata or binpack include back as IncludeWriter writes it: the marker line after the
// access-code template, the enumeration, the data section (hex lines, or one IncludeBinary line naming the
// pack file) and the table of block lengths. A hex section is checked in pieces of whole lines on every
// core, which keep the CRC-32 of their bytes, and decoded again piece by piece only where it is read.
#include "OutputContents.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace hexaloom {

// Gives the pack file an include names (its file name only), or nothing when it cannot be read.
using PackLoader = std::function<std::shared_ptr<const ByteSource>(const QString& name)>;

// An include's text; the pack file of a binpack include comes from `loadPack`.
OutputContents ParseInclude(QByteArrayView text, const PackLoader& loadPack);
// The include at `path`, a regular file, mapped rather than copied where it can be; its pack file is looked
// for beside it. Nothing (with the reason in `why`) when the file cannot be read.
std::optional<OutputContents> ReadInclude(const QString& path, QString* why);

} // namespace hexaloom
