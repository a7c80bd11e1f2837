#pragma once
// The 32-bit Windows resource file: an empty first entry, then one user resource of type "VORKEL" with a
// numeric name per block, each entry padded to 4 bytes. Written to a temporary place and put in place of
// the old file only when complete.
#include "AtomicFile.h"
#include "BlockSink.h"
#include "ResourceLayout.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <span>

namespace hexaloom {

// Resource 1 is the catalog and the files follow it, up to the largest number.
inline constexpr int kMaxResourceRows = resource_layout::kMaxNumber - 1;

class ResourceWriter : public BlockSink
{
public:
    ~ResourceWriter() override;

    // Creates the file and writes the empty first entry.
    bool Open(const QString& path);
    // Resource `number` (1 to kMaxNumber) holding `stored`, a packed block or raw bytes.
    bool WriteEntry(std::span<const std::uint8_t> stored, int number) { return WriteBlock(stored, number); }
    // The same in pieces: the header of an entry of `size` bytes, its bytes in order, its padding.
    bool BeginBlock(int number, std::int64_t size) override;
    bool AppendBlock(std::span<const std::uint8_t> bytes) override;
    bool EndBlock() override;
    // The file takes the old one's place; with keepSame an old file of the same bytes stays as it was.
    bool Finish(bool keepSame = false) override;
    void Cancel() override;

    QString errorString() const override { return m_error; }
    bool unchanged() const override { return m_unchanged; }
    // An unreadable or empty file leaves its resource number out.
    bool keepsMissingNumbers() const override { return false; }

private:
    bool Fail(const QString& why);

    QString m_path;
    std::unique_ptr<SaveFile> m_file;
    QString m_error;
    std::int64_t m_entrySize = 0;
    std::int64_t m_entryLeft = 0;
    bool m_unchanged = false;
};

} // namespace hexaloom
