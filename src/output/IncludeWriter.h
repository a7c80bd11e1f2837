#pragma once
// The hexdata and binpack includes: the access-code template, the enumeration of the files, the data
// section (hex lines, or one IncludeBinary line pulling in the pack file) and the table of block lengths.
// Both files are written to temporary places and replace the old ones only when everything was written.
#include "AtomicFile.h"
#include "BlockSink.h"
#include "LineSink.h"
#include "PackedBlock.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace hexaloom {

// Fetches an own resource by index; the writers take their templates (indexes 17 to 20) from it.
using TemplateSource = std::function<std::optional<Bytes>(int index)>;
// The tool's own store.
TemplateSource OwnTemplates();

// The template for the packers in use: 17 both, 18 none, 19 jCalg1 only, 20 zip only.
int TemplateIndex(bool jcalg1, bool zip);

enum class IncludeFormat { Hexdata, Binpack };

class IncludeWriter : public BlockSink
{
public:
    IncludeWriter(IncludeFormat format, TemplateSource templates);
    ~IncludeWriter() override;

    // The header: template, enumeration of `fileNames` (one constant per row), start of the data section.
    bool Open(const QString& path, bool jcalg1, bool zip, const QStringList& fileNames);
    // Block `number` holding `stored` (a packed block or raw bytes). An empty span records an empty block:
    // a size-table entry 0 and, in hexdata, its two labels; the numbering of later blocks is kept.
    // (WriteBlock, or in pieces: every piece but the last a multiple of 40 bytes, so the lines come out
    // as for the whole block.)
    bool BeginBlock(int number, std::int64_t size) override;
    bool AppendBlock(std::span<const std::uint8_t> bytes) override;
    bool EndBlock() override;
    // The footer; then both files take the place of the old ones, once both are complete on the disk.
    // When the include cannot replace its old one, the old pack file is put back; only when that fails
    // too does packReplaced() say so. With keepSame a file whose bytes did not change is left as it was.
    bool Finish(bool keepSame = false) override;
    // Drops everything written; the old files stay as they were.
    void Cancel() override;

    QString errorString() const override { return m_error; }
    bool unchanged() const override { return m_includeUnchanged; }
    bool keepsMissingNumbers() const override { return true; }
    QString packPath() const { return m_packPath; }
    bool packReplaced() const { return m_packReplaced; }
    bool includeUnchanged() const { return m_includeUnchanged; }
    bool packUnchanged() const { return m_packUnchanged; }
    const std::vector<std::int32_t>& sizeTable() const { return m_sizes; }

private:
    bool Fail(const QString& file, const QString& why);

    IncludeFormat m_format;
    TemplateSource m_templates;
    QString m_path;
    QString m_packPath;
    QByteArray m_base;
    std::unique_ptr<SaveFile> m_include;
    std::unique_ptr<SaveFile> m_pack;
    std::unique_ptr<LineSink> m_sink;
    std::vector<std::int32_t> m_sizes;
    std::int64_t m_packLength = 0;
    bool m_packReplaced = false;
    bool m_includeUnchanged = false;
    bool m_packUnchanged = false;
    QByteArray m_label;           // "  <Base><number>" of the open block
    std::int64_t m_blockLeft = 0; // bytes the open block still expects
    QString m_error;
};

} // namespace hexaloom
