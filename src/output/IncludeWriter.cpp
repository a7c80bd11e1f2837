#include "IncludeWriter.h"

#include "IncludeLayout.h"
#include "OutputNames.h"
#include "OwnResourceStore.h"

#include <limits>

namespace hexaloom {

namespace layout = include_layout;
using include_layout::Latin;

TemplateSource OwnTemplates()
{
    return [](int index) { return ReadOwnResource(index, OwnResourceStore()); };
}

int TemplateIndex(bool jcalg1, bool zip)
{
    if (jcalg1 && zip)
        return 17;
    if (jcalg1)
        return 19;
    if (zip)
        return 20;
    return 18;
}

IncludeWriter::IncludeWriter(IncludeFormat format, TemplateSource templates)
    : m_format(format), m_templates(std::move(templates))
{
}

IncludeWriter::~IncludeWriter()
{
    Cancel();
}

bool IncludeWriter::Fail(const QString& file, const QString& why)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1: %2").arg(file, why);
    Cancel();
    return false;
}

bool IncludeWriter::Open(const QString& path, bool jcalg1, bool zip, const QStringList& fileNames)
{
    Cancel();
    m_error.clear();
    m_sizes.clear();
    m_packLength = 0;
    m_packReplaced = false;
    m_includeUnchanged = false;
    m_packUnchanged = false;
    m_path = path;
    m_base = LabelBase(OutputBase(path)).toUtf8();
    m_include = std::make_unique<SaveFile>(path);
    if (!m_include->open(QIODevice::WriteOnly))
        return Fail(path, m_include->errorString());
    if (m_format == IncludeFormat::Binpack) {
        // Beside the include itself, where its IncludeBinary line looks, when a link leads to it.
        m_packPath = PackFilePath(m_include->target());
        m_pack = std::make_unique<SaveFile>(m_packPath);
        if (!m_pack->open(QIODevice::WriteOnly))
            return Fail(m_packPath, m_pack->errorString());
    } else {
        m_packPath.clear();
    }
    m_sink = std::make_unique<LineSink>(*m_include);

    // A template that cannot be read leaves its place empty; the rest of the include is still written.
    if (m_templates) {
        if (const std::optional<Bytes> code = m_templates(TemplateIndex(jcalg1, zip)))
            m_sink->Raw(*code);
    }
    m_sink->Line(std::string_view());
    m_sink->Line(std::string(layout::kMarkerPrefix)
                     .append(m_format == IncludeFormat::Hexdata ? layout::kHexdataWord : layout::kBinpackWord));
    m_sink->Line(layout::kEnumeration);
    for (const QString& constant : ConstantNames(fileNames))
        m_sink->Line(Latin(layout::kIndent) + constant);
    m_sink->Line(layout::kEnumerationEnd);
    m_sink->Line(std::string_view());
    m_sink->Line(layout::kDataSection);
    m_sink->Line(std::string(layout::kIndent).append(layout::kCatchStart));
    if (!m_sink->ok())
        return Fail(path, m_include->errorString());
    return true;
}

bool IncludeWriter::BeginBlock(int number, std::int64_t size)
{
    if (!m_include || number < 1 || size < 0)
        return false;
    if (size > kMaxStoredSize)
        return Fail(m_path, QStringLiteral("block %1 is larger than %2 GiB - 1 bytes").arg(number).arg(kMaxStoredGiB));
    m_sizes.push_back(static_cast<std::int32_t>(size));
    m_blockLeft = size;
    if (m_format == IncludeFormat::Binpack) {
        m_packLength += size;
        if (m_packLength > kMaxStoredSize)
            return Fail(m_packPath, QStringLiteral("the pack file would exceed %1 GiB - 1 bytes").arg(kMaxStoredGiB));
        return true;
    }
    m_label =
        QByteArray(layout::kIndent.data(), qsizetype(layout::kIndent.size())) + m_base + QByteArray::number(number);
    m_sink->Line(std::string_view((m_label + "_Start:").constData()));
    return true;
}

bool IncludeWriter::AppendBlock(std::span<const std::uint8_t> bytes)
{
    if (!m_include || static_cast<std::int64_t>(bytes.size()) > m_blockLeft)
        return false;
    m_blockLeft -= static_cast<std::int64_t>(bytes.size());
    if (m_format == IncludeFormat::Binpack) {
        if (!bytes.empty() && m_pack->write(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<qint64>(bytes.size())) != qint64(bytes.size()))
            return Fail(m_packPath, m_pack->errorString());
        return true;
    }
    m_sink->DataLines(bytes);
    if (!m_sink->ok())
        return Fail(m_path, m_include->errorString());
    return true;
}

bool IncludeWriter::EndBlock()
{
    if (!m_include || m_blockLeft != 0)
        return false;
    if (m_format == IncludeFormat::Hexdata) {
        m_sink->Line(std::string_view((m_label + "_End:").constData()));
        m_sink->Line(std::string_view());
        if (!m_sink->ok())
            return Fail(m_path, m_include->errorString());
    }
    return true;
}

bool IncludeWriter::Finish(bool keepSame)
{
    if (!m_include)
        return false;
    if (m_format == IncludeFormat::Binpack && m_packLength > 0) {
        // Before 5.30 PureBasic looks for a relative IncludeBinary file beside the main source, so from 4.30
        // (the first with #PB_Compiler_FilePath) the pack file is named beside this include itself.
        const QString packName = OutputFileName(m_packPath);
        m_sink->Line(std::string_view("  CompilerIf #PB_Compiler_Version < 430"));
        m_sink->Line(QStringLiteral("    %1 \"%2\"").arg(Latin(layout::kIncludeBinary), packName));
        m_sink->Line(std::string_view("  CompilerElse"));
        m_sink->Line(
            QStringLiteral("    %1 #PB_Compiler_FilePath + \"%2\"").arg(Latin(layout::kIncludeBinary), packName));
        m_sink->Line(std::string_view("  CompilerEndIf"));
    }
    const std::string sizeLine = std::string(layout::kIndent).append(layout::kLongs);
    m_sink->Line(std::string(layout::kIndent).append(layout::kCatchInfo));
    m_sink->Line(sizeLine + std::to_string(m_sizes.size()));
    for (const std::int32_t size : m_sizes)
        m_sink->Line(sizeLine + std::to_string(size));
    m_sink->Line(std::string_view());
    m_sink->Line(layout::kDataSectionEnd);
    m_sink->Line(layout::kMarkerEnd);
    m_sink->Line(std::string_view());
    if (!m_sink->Flush())
        return Fail(m_path, m_include->errorString());
    // Both files complete and on the disk before either replaces its old one, so a write failure leaves
    // both old files; then the pack file goes first, as the include is what names it, and comes back when
    // the include cannot follow.
    if (m_pack && !m_pack->finishWriting())
        return Fail(m_packPath, m_pack->errorString());
    if (!m_include->finishWriting())
        return Fail(m_path, m_include->errorString());
    // A signal that ends the program waits until both have been replaced (and the old pack file's second
    // name is gone); a kill that cannot wait leaves the journal, by which the next run completes the pair.
    const HeldSignals held;
    PairJournal journal;
    if (m_pack && !journal.Begin(*m_pack, *m_include))
        return Fail(m_path, QStringLiteral("the journal of the pair cannot be written beside it"));
    if (m_pack && !m_pack->commitKeepingOld(keepSame))
        return Fail(m_packPath, m_pack->errorString());
    if (m_pack)
        PauseForTests("HEXALOOM_TEST_PAIR_PAUSE_MS");
    if (!m_include->commit(keepSame)) {
        const QString why = m_include->errorString();
        m_packReplaced = m_pack && !m_pack->restoreOld();
        return Fail(m_path, why);
    }
    journal.End();
    m_includeUnchanged = m_include->unchanged();
    m_packUnchanged = m_pack && m_pack->unchanged();
    m_sink.reset();
    m_pack.reset();
    m_include.reset();
    return true;
}

void IncludeWriter::Cancel()
{
    m_sink.reset();
    if (m_pack)
        m_pack->cancelWriting();
    if (m_include)
        m_include->cancelWriting();
    m_pack.reset();
    m_include.reset();
}

} // namespace hexaloom
