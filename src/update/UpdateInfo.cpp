#include "UpdateInfo.h"

#include <QDateTime>
#include <QStringList>

namespace hexaloom {

namespace {
// Reads the block front to back as if it were followed by zero bytes.
class FieldReader
{
public:
    explicit FieldReader(QByteArrayView block) : m_block(block) {}

    QString text() { return QString::fromUtf8(rawText()); }

    // The bytes of the next text, without its 0 byte.
    QByteArrayView rawText()
    {
        const QByteArrayView rest = m_block.sliced(m_at);
        const qsizetype end = rest.indexOf('\0');
        const qsizetype length = end < 0 ? rest.size() : end;
        m_at += std::min(length + 1, rest.size());
        return rest.first(length);
    }

    std::uint64_t number(int bytes)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i, ++m_at)
            if (m_at < m_block.size())
                value |= std::uint64_t(static_cast<std::uint8_t>(m_block[m_at])) << (8 * i);
        m_at = std::min(m_at, m_block.size());
        return value;
    }

    QByteArrayView rest() const { return m_block.sliced(m_at); }

private:
    QByteArrayView m_block;
    qsizetype m_at = 0;
};

void AppendNumber(QByteArray& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>(value >> (8 * i) & 0xFF));
}

void AppendText(QByteArray& out, const QString& text)
{
    // A 0 byte inside would end the field early; the text ends there anyway when read back.
    out.append(text.toUtf8().split('\0').first());
    out.append('\0');
}

// The field right-aligned in `width` characters, "0"-filled; a longer field keeps its leftmost ones.
QString Aligned(const QString& field, int width)
{
    return field.size() >= width ? field.left(width) : QString(width - field.size(), QLatin1Char('0')) + field;
}

// Reads the fields; `signature` (when given) receives where the signature's text lies in the block.
std::optional<UpdateInfo> ReadFields(QByteArrayView block, QByteArrayView* signature)
{
    if (block.size() < 4)
        return std::nullopt;
    FieldReader in(block);
    if (in.number(4) != kUpdateInfoMagic)
        return std::nullopt;
    UpdateInfo info;
    info.Name = in.text();
    info.Version = in.text();
    info.DownloadUrl = in.text();
    info.FileSize = static_cast<std::int64_t>(in.number(8));
    info.ReleaseDate = static_cast<std::uint32_t>(in.number(4));
    info.Fingerprint = in.text();
    info.FileName = in.text();
    info.InfoUrl = in.text();
    for (std::size_t i = 0; i < info.ReservedText.size(); ++i) {
        const QByteArrayView text = in.rawText();
        info.ReservedText[i] = QString::fromUtf8(text);
        if (signature && i == kSignatureField)
            *signature = text;
    }
    for (std::uint32_t& number : info.ReservedNumber)
        number = static_cast<std::uint32_t>(in.number(4));
    info.InfoText = in.rest().toByteArray();
    return info;
}
} // namespace

std::optional<UpdateInfo> ParseUpdateInfo(QByteArrayView block)
{
    return ReadFields(block, nullptr);
}

std::optional<SignedParts> SplitSignature(QByteArrayView block)
{
    QByteArrayView signature;
    if (!ReadFields(block, &signature))
        return std::nullopt;
    const qsizetype at = signature.data() - block.data();
    SignedParts parts;
    parts.signature = signature.toByteArray();
    parts.signatureAt = at;
    parts.message = block.first(at).toByteArray() + block.sliced(at + signature.size()).toByteArray();
    return parts;
}

QByteArray SerializeUpdateInfo(const UpdateInfo& info)
{
    QByteArray out;
    AppendNumber(out, kUpdateInfoMagic, 4);
    AppendText(out, info.Name);
    AppendText(out, info.Version);
    AppendText(out, info.DownloadUrl);
    AppendNumber(out, static_cast<std::uint64_t>(info.FileSize), 8);
    AppendNumber(out, info.ReleaseDate, 4);
    AppendText(out, info.Fingerprint);
    AppendText(out, info.FileName);
    AppendText(out, info.InfoUrl);
    for (const QString& text : info.ReservedText)
        AppendText(out, text);
    for (std::uint32_t number : info.ReservedNumber)
        AppendNumber(out, number, 4);
    out.append(info.InfoText);
    return out;
}

int VersionNumber(const QString& version)
{
    const QStringList fields = version.split(QLatin1Char('.'));
    const auto field = [&fields](int i) { return i < fields.size() ? fields.at(i) : QString(); };
    const QString joined = Aligned(field(0), 2) + Aligned(field(1), 2) + Aligned(field(2), 3);

    // Leading blanks, an optional sign, then digits up to the first other character. At most seven
    // characters, so the number always fits.
    qsizetype at = 0;
    while (at < joined.size() && (joined.at(at) == QLatin1Char(' ') || joined.at(at) == QLatin1Char('\t')))
        ++at;
    int sign = 1;
    if (at < joined.size() && (joined.at(at) == QLatin1Char('-') || joined.at(at) == QLatin1Char('+')))
        sign = joined.at(at++) == QLatin1Char('-') ? -1 : 1;
    int value = 0;
    for (; at < joined.size() && joined.at(at) >= QLatin1Char('0') && joined.at(at) <= QLatin1Char('9'); ++at)
        value = value * 10 + (joined.at(at).unicode() - '0');
    return sign * value;
}

QString FormatByteSize(double size)
{
    if (!(size > 0))
        return QStringLiteral("0");
    static const char* const units[] = {"K", "M", "G", "T"};
    QString unit;
    for (const char* next : units) {
        if (!(size > 1024.0))
            break;
        size /= 1024.0;
        unit = QLatin1String(next);
    }
    return QString::number(size, 'f', 2) + QLatin1Char(' ') + unit + QStringLiteral("Byte");
}

QString FormatReleaseDate(std::uint32_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

bool HasInfoButton(const QString& infoUrl)
{
    return infoUrl.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
}

} // namespace hexaloom
