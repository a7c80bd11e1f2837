#include "ResourceWriter.h"

#include "LittleEndian.h"
#include "ResourceLayout.h"

#include <array>
#include <limits>

namespace hexaloom {

ResourceWriter::~ResourceWriter()
{
    Cancel();
}

bool ResourceWriter::Fail(const QString& why)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1: %2").arg(m_path, why);
    Cancel();
    return false;
}

bool ResourceWriter::Open(const QString& path)
{
    Cancel();
    m_error.clear();
    m_path = path;
    m_unchanged = false;
    m_file = std::make_unique<SaveFile>(path);
    if (!m_file->open(QIODevice::WriteOnly))
        return Fail(m_file->errorString());
    const auto& first = resource_layout::kEmptyEntry;
    if (m_file->write(reinterpret_cast<const char*>(first.data()), first.size()) != qint64(first.size()))
        return Fail(m_file->errorString());
    return true;
}

bool ResourceWriter::BeginBlock(int number, std::int64_t size)
{
    if (!m_file || number < 1 || number > resource_layout::kMaxNumber || size < 0)
        return false;
    if (size > kMaxStoredSize)
        return Fail(QStringLiteral("resource %1 is larger than %2 GiB - 1 bytes").arg(number).arg(kMaxStoredGiB));
    using namespace resource_layout;
    std::array<std::uint8_t, kEntryHeader> header{};
    WriteLe32(header.data(), static_cast<std::uint32_t>(size));
    WriteLe32(header.data() + 4, kEntryHeader);
    for (std::size_t i = 0; kType[i] != 0; ++i)
        WriteLe16(header.data() + kTypeOffset + 2 * i, kType[i]);
    WriteLe16(header.data() + kNameOffset, kNumericMarker);
    WriteLe16(header.data() + kNameOffset + 2, static_cast<std::uint16_t>(number));
    m_entrySize = m_entryLeft = size;
    if (m_file->write(reinterpret_cast<const char*>(header.data()), header.size()) != qint64(header.size()))
        return Fail(m_file->errorString());
    return true;
}

bool ResourceWriter::AppendBlock(std::span<const std::uint8_t> bytes)
{
    if (!m_file || static_cast<std::int64_t>(bytes.size()) > m_entryLeft)
        return false;
    m_entryLeft -= static_cast<std::int64_t>(bytes.size());
    if (m_file->write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size()))
        return Fail(m_file->errorString());
    return true;
}

bool ResourceWriter::EndBlock()
{
    if (!m_file || m_entryLeft != 0)
        return false;
    static const char padding[3] = {0, 0, 0};
    using resource_layout::kAlignment;
    const qint64 pad = (kAlignment - m_entrySize % kAlignment) % kAlignment;
    if (m_file->write(padding, pad) != pad)
        return Fail(m_file->errorString());
    return true;
}

bool ResourceWriter::Finish(bool keepSame)
{
    if (!m_file)
        return false;
    if (!m_file->commit(keepSame))
        return Fail(m_file->errorString());
    m_unchanged = m_file->unchanged();
    m_file.reset();
    return true;
}

void ResourceWriter::Cancel()
{
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
}

} // namespace hexaloom
