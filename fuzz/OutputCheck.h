#pragma once
// The property every output reader target checks: whatever the bytes, a readable output's entries lie
// inside its data, one after the other for an include; listing and unpacking them neither crashes nor
// reads outside the buffers, and what reads back is what the entry's header promised.
#include "Crc32.h"
#include "OutputContents.h"

#include <cstdint>
#include <cstdlib>

inline void CheckContents(const hexaloom::OutputContents& contents)
{
    using namespace hexaloom;
    if (!contents.error.isEmpty()) {
        if (!contents.files.empty() || contents.catalog.present())
            std::abort(); // a refused output offers nothing to read
        return;
    }
    // The reader allocates the size a header claims; keep the fuzzer's memory bounded.
    auto bounded = [&](const StoredEntry& entry) {
        const Bytes stored = contents.Stored(entry);
        return !HasBlockMagic(stored) || DescribeStored(stored).original <= (1 << 24);
    };
    qsizetype next = 0;
    auto check = [&](const StoredEntry& entry) {
        if (!entry.present())
            return;
        if (entry.offset < 0 || entry.length < 0 || entry.offset + entry.length > contents.dataSize())
            std::abort();
        if (contents.kind != OutputKind::Resource && entry.offset != next)
            std::abort();
        next = entry.offset + entry.length;
        if (!bounded(entry))
            return;
        const Bytes stored = contents.Stored(entry);
        const StoredInfo info = DescribeStored(stored);
        const std::optional<Bytes> bytes = UnpackStored(stored);
        if (bytes) {
            if (static_cast<std::int64_t>(bytes->size()) != info.original ||
                (!bytes->empty() && Crc32(*bytes) != info.crc))
                std::abort(); // what is read back is what the header (or the raw bytes) promised
        }
        // Reading in pieces gives what reading whole gives, or refuses a zip stream that ends before its
        // claim (which the whole read pads with zeros).
        Bytes streamed;
        const bool sound = UnpackEntry(contents, entry, [&](std::span<const std::uint8_t> piece) {
            streamed.insert(streamed.end(), piece.begin(), piece.end());
            return true;
        });
        if (sound && (!bytes || streamed != *bytes))
            std::abort();
        // Checked without a sink (as --verify does, from the CRC-32s a source may keep), the same verdict.
        if (UnpackEntry(contents, entry) != sound)
            std::abort();
        if (!sound && bytes && !(info.block && info.packer == PackerZip))
            std::abort();
        if (DescribeEntry(contents, entry).original != info.original || DescribeEntry(contents, entry).crc != info.crc)
            std::abort();
    };
    for (const StoredEntry& entry : contents.files)
        check(entry);
    check(contents.catalog);
    if (contents.kind != OutputKind::Resource && next != contents.dataSize())
        std::abort();
    if (contents.catalog.present() && !bounded(contents.catalog))
        return;
    const OutputListing listing = ListOutput(contents);
    if (listing.files.size() < contents.files.size())
        std::abort();
    for (const OutputFile& file : listing.files) {
        if (file.present != (file.number <= static_cast<int>(contents.files.size()) &&
                             contents.files[static_cast<std::size_t>(file.number - 1)].present()))
            std::abort();
    }
}
