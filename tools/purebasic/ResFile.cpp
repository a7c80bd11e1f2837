#include "ResFile.h"

#include <cstdint>

namespace hexaloom::pbrun {

namespace {

std::uint32_t U32(const QByteArray& b, qsizetype at)
{
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

std::uint16_t U16(const QByteArray& b, qsizetype at)
{
    return std::uint16_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8);
}

// A type or name field at `at` inside a header ending at `end`: 0xFFFF and a number, or a zero-ended
// UTF-16 text. Advances `at`; false when the field runs past the header.
bool NameField(const QByteArray& b, qsizetype& at, qsizetype end, bool& isNumber, int& number, QString& text)
{
    if (at + 2 > end)
        return false;
    if (U16(b, at) == 0xFFFF) {
        if (at + 4 > end)
            return false;
        isNumber = true;
        number = U16(b, at + 2);
        at += 4;
        return true;
    }
    isNumber = false;
    while (true) {
        if (at + 2 > end)
            return false;
        const std::uint16_t unit = U16(b, at);
        at += 2;
        if (unit == 0)
            break;
        text += QChar(unit);
    }
    text = text.toUpper();
    return true;
}

} // namespace

std::vector<ResEntry> ReadResFile(const QByteArray& bytes, QString* error)
{
    std::vector<ResEntry> entries;
    auto fail = [&](const QString& why, qsizetype at) {
        if (error)
            *error = QStringLiteral("not a valid .res file: %1 at offset %2").arg(why).arg(at);
        return std::vector<ResEntry>();
    };
    if (error)
        error->clear();
    qsizetype at = 0;
    bool first = true;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8)
            return fail(QStringLiteral("a truncated entry header"), at);
        const std::uint32_t dataSize = U32(bytes, at);
        const std::uint32_t headerSize = U32(bytes, at + 4);
        if (headerSize < 16 + 8 || headerSize % 4 != 0 || headerSize > std::uint32_t(bytes.size() - at))
            return fail(QStringLiteral("a header size of %1").arg(headerSize), at);
        if (dataSize > std::uint32_t(bytes.size() - at - headerSize))
            return fail(QStringLiteral("data of %1 bytes past the end of the file").arg(dataSize), at);
        const qsizetype headerEnd = at + headerSize;
        ResEntry e;
        qsizetype p = at + 8;
        if (!NameField(bytes, p, headerEnd, e.typeIsNumber, e.typeNumber, e.typeName) ||
            !NameField(bytes, p, headerEnd, e.nameIsNumber, e.nameNumber, e.name))
            return fail(QStringLiteral("a type or name running past its header"), at);
        p = (p + 3) / 4 * 4;
        if (p + 16 > headerEnd)
            return fail(QStringLiteral("a header too short for its fields"), at);
        e.language = U16(bytes, p + 6);
        const bool empty = dataSize == 0 && e.typeIsNumber && e.typeNumber == 0 && e.nameIsNumber && e.nameNumber == 0;
        if (first && !empty)
            return fail(QStringLiteral("no empty first entry (not a 32-bit resource file)"), at);
        if (!first) {
            e.data = bytes.mid(headerEnd, dataSize);
            entries.push_back(std::move(e));
        }
        first = false;
        const qsizetype next = (headerEnd + qsizetype(dataSize) + 3) / 4 * 4;
        if (next > bytes.size() && headerEnd + qsizetype(dataSize) < bytes.size())
            return fail(QStringLiteral("padding past the end of the file"), at);
        at = next;
    }
    if (first)
        return fail(QStringLiteral("an empty file"), 0);
    return entries;
}

} // namespace hexaloom::pbrun
