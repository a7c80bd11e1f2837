#include "OutputReader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace hexaloom::test {

namespace {

std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Parses "$" and `digits` upper-case hexadecimal digits.
bool ParseHex(const QByteArray& text, int digits, std::uint32_t& value)
{
    if (text.size() != digits + 1 || text[0] != '$')
        return false;
    value = 0;
    for (int i = 1; i <= digits; ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return true;
}

} // namespace

Bytes ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return Bytes(all.begin(), all.end());
}

std::optional<Bytes> IncludeImage::Get(int number) const
{
    if (number < 1 || number > count())
        return std::nullopt;
    std::int64_t offset = 0;
    for (int j = 1; j < number; ++j)
        offset += sizes[static_cast<std::size_t>(j - 1)];
    const std::int32_t length = sizes[static_cast<std::size_t>(number - 1)];
    // AllocateMemory(0) fails, so an empty block reads as nothing; data past the section is not there.
    if (length <= 0 || offset + length > static_cast<std::int64_t>(data.size()))
        return std::nullopt;
    return ReadPackedBlock(std::span<const std::uint8_t>(data.data() + offset, static_cast<std::size_t>(length)));
}

QString IncludeImage::FileName(int number) const
{
    const std::optional<Bytes> catalog = Get(count());
    if (!catalog)
        return {};
    return CatalogFields(*catalog).value(number);
}

QStringList CatalogFields(const Bytes& catalog)
{
    auto end = std::find(catalog.begin(), catalog.end(), std::uint8_t(0));
    return QString::fromUtf8(reinterpret_cast<const char*>(catalog.data()), end - catalog.begin())
        .split(QLatin1Char(','));
}

IncludeImage ReadInclude(const QString& path)
{
    IncludeImage image;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        image.error = QStringLiteral("cannot open ") + path;
        return image;
    }
    const QByteArray all = file.readAll();
    const qsizetype marker = std::max(all.lastIndexOf("\r\n;{ Hexaloom - HexData\r\n"),
                                      all.lastIndexOf("\r\n;{ Hexaloom - BinPack\r\n"));
    if (marker < 0) {
        image.error = QStringLiteral("no generated part");
        return image;
    }
    image.code = all.left(marker);
    const QByteArray generated = all.mid(marker);
    if (!generated.endsWith("\r\n")) {
        image.error = QStringLiteral("the last line has no CR LF");
        return image;
    }
    QList<QByteArray> lines = generated.left(generated.size() - 2).split('\n');
    for (QByteArray& line : lines) {
        if (!line.endsWith('\r') && &line != &lines.last()) {
            image.error = QStringLiteral("a line ends without CR LF");
            return image;
        }
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\r')) {
            image.error = QStringLiteral("stray CR");
            return image;
        }
    }
    // The template ends with its own line end, so the generated part starts with an empty line.
    qsizetype i = 0;
    auto next = [&]() -> QByteArray { return i < lines.size() ? lines[i++] : QByteArray("\x01<end>"); };
    auto expect = [&](const char* text) {
        const QByteArray got = next();
        if (got != text && image.error.isEmpty())
            image.error = QStringLiteral("line %1: expected '%2', got '%3'")
                              .arg(i)
                              .arg(QString::fromUtf8(text), QString::fromUtf8(got));
        return got == text;
    };
    expect("");
    image.kindLine = QString::fromUtf8(next());
    const bool binpack = image.kindLine.endsWith(QLatin1String("BinPack"));
    if (!expect("Enumeration 1; ResNum"))
        return image;
    for (QByteArray line = next(); line != "EndEnumeration"; line = next()) {
        if (!line.startsWith("  #HXL_") || i > lines.size()) {
            image.error = QStringLiteral("bad enumeration line '%1'").arg(QString::fromUtf8(line));
            return image;
        }
        image.constants.append(QString::fromUtf8(line.mid(2)));
    }
    if (!expect("") || !expect("DataSection") || !expect("  Vorkel_CatchStart:"))
        return image;
    static const QRegularExpression labelPattern(QStringLiteral("^  \\S.*\\d+_(Start|End):$"));
    for (QByteArray line = next();; line = next()) {
        if (i > lines.size()) {
            image.error = QStringLiteral("no Vorkel_CatchInfo");
            return image;
        }
        if (line == "  Vorkel_CatchInfo:")
            break;
        if (line.isEmpty())
            continue;
        if (line.startsWith("  Data.l ") || line.startsWith("  Data.b ")) {
            const bool longs = line[7] == 'l';
            const QList<QByteArray> values = line.mid(9).split(',');
            if ((longs && values.size() > 10) || (!longs && values.size() > 3)) {
                image.error = QStringLiteral("too many values: ") + QString::fromUtf8(line);
                return image;
            }
            for (const QByteArray& text : values) {
                std::uint32_t v = 0;
                if (!ParseHex(text, longs ? 8 : 2, v)) {
                    image.error = QStringLiteral("bad value: ") + QString::fromUtf8(line);
                    return image;
                }
                for (int b = 0; b < (longs ? 4 : 1); ++b)
                    image.data.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
            }
        } else if (binpack && line == "  CompilerIf #PB_Compiler_Version < 430") {
            // The pack file by its name (read from the main source's folder before 4.30), else beside the include.
            const QByteArray plain = next();
            const QByteArray otherwise = next();
            const QByteArray beside = next();
            image.includeBinary = QString::fromUtf8(plain.mid(19, plain.size() - 20));
            if (!plain.startsWith("    IncludeBinary \"") || !plain.endsWith('"') || otherwise != "  CompilerElse" ||
                beside != "    IncludeBinary #PB_Compiler_FilePath + \"" + plain.mid(19) ||
                next() != "  CompilerEndIf") {
                image.error = QStringLiteral("bad IncludeBinary block");
                return image;
            }
            const Bytes bytes = ReadAll(QFileInfo(path).absolutePath() + QLatin1Char('/') + image.includeBinary);
            image.data.insert(image.data.end(), bytes.begin(), bytes.end());
        } else if (!binpack && labelPattern.match(QString::fromUtf8(line)).hasMatch()) {
            image.labels.append(QString::fromUtf8(line.mid(2)));
        } else {
            image.error = QStringLiteral("unexpected line: ") + QString::fromUtf8(line);
            return image;
        }
    }
    auto readLong = [&](std::int64_t& value) {
        const QByteArray line = next();
        bool ok = false;
        value = line.startsWith("  Data.l ") ? line.mid(9).toLongLong(&ok) : 0;
        if (!ok && image.error.isEmpty())
            image.error = QStringLiteral("bad size line '%1'").arg(QString::fromUtf8(line));
        return ok;
    };
    std::int64_t count = 0;
    if (!readLong(count))
        return image;
    for (std::int64_t k = 0; k < count; ++k) {
        std::int64_t size = 0;
        if (!readLong(size))
            return image;
        image.sizes.push_back(static_cast<std::int32_t>(size));
    }
    if (!expect("") || !expect("EndDataSection") || !expect(";}") || !expect(""))
        return image;
    if (i != lines.size())
        image.error = QStringLiteral("text after the end");
    return image;
}

std::optional<Bytes> ResourceImage::Get(int number) const
{
    const auto it = resources.find(number + 1);
    if (it == resources.end() || it->empty())
        return std::nullopt;
    return ReadPackedBlock(*it);
}

ResourceImage ReadResourceFile(const QString& path)
{
    ResourceImage image;
    const Bytes all = ReadAll(path);
    static const std::uint8_t first[32] = {0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    if (all.size() < 32 || !std::equal(all.begin(), all.begin() + 32, first)) {
        image.error = QStringLiteral("no empty first entry");
        return image;
    }
    static const std::uint8_t type[14] = {'V', 0, 'O', 0, 'R', 0, 'K', 0, 'E', 0, 'L', 0, 0, 0};
    std::size_t at = 32;
    while (at < all.size()) {
        if (all.size() - at < 44 || at % 4 != 0) {
            image.error = QStringLiteral("truncated entry at %1").arg(at);
            return image;
        }
        const std::uint8_t* h = all.data() + at;
        const std::uint32_t size = Le32(h);
        const bool zeros = std::all_of(h + 26, h + 44, [](std::uint8_t b) { return b == 0; });
        if (Le32(h + 4) != 44 || !std::equal(type, type + 14, h + 8) || Le16(h + 22) != 0xFFFF || !zeros) {
            image.error = QStringLiteral("bad header at %1").arg(at);
            return image;
        }
        const int number = Le16(h + 24);
        const std::size_t padded = (size + 3) / 4 * 4;
        if (all.size() - at - 44 < padded) {
            image.error = QStringLiteral("truncated data at %1").arg(at);
            return image;
        }
        const std::uint8_t* d = h + 44;
        if (!std::all_of(d + size, d + padded, [](std::uint8_t b) { return b == 0; })) {
            image.error = QStringLiteral("padding is not zero at %1").arg(at);
            return image;
        }
        if (image.resources.contains(number)) {
            image.error = QStringLiteral("resource %1 twice").arg(number);
            return image;
        }
        image.order.append(number);
        image.resources.insert(number, Bytes(d, d + size));
        at += 44 + padded;
    }
    return image;
}

} // namespace hexaloom::test
