#pragma once
// Reads a 32-bit resource file back as ResourceWriter writes it: after the empty first entry, the entries
// of type "VORKEL" with numeric names (resource 1 the catalog, k + 1 file k), each padded to 4 bytes.
// Resources of other types or with names may share the file and are passed over.
#include "OutputContents.h"

#include <QByteArray>

#include <memory>

namespace hexaloom {

// A resource file's bytes.
OutputContents ParseResource(QByteArray bytes);
// A resource file where it lies (FileSource): only the entries' headers are read here.
OutputContents ParseResource(std::shared_ptr<const ByteSource> source);

} // namespace hexaloom
