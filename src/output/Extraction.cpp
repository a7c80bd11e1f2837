#include "Extraction.h"

#include "AtomicFile.h"

#include <QHash>

#include <algorithm>

namespace hexaloom {

namespace {

// A name as the file system compares it.
QString AsCompared(const QString& name)
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return name.toCaseFolded();
#else
    return name;
#endif
}

} // namespace

std::vector<ExtractChoice> ChooseExtracted(const OutputContents& contents, const CatalogText& catalog)
{
    std::vector<ExtractChoice> choices;
    QHash<QString, int> taken;
    const int count = static_cast<int>(contents.files.size());
    for (int k = 1; k <= std::max(count, catalog.count); ++k) {
        ExtractChoice choice;
        choice.number = k;
        choice.name = catalog.names.value(k - 1);
        if (HoldsNoData(contents, k)) {
            choice.verdict = ExtractChoice::NoData;
        } else if (!IsSafeFileName(choice.name)) {
            choice.verdict = ExtractChoice::UnsafeName;
        } else if (const auto earlier = taken.constFind(AsCompared(choice.name)); earlier != taken.constEnd()) {
            choice.verdict = ExtractChoice::SameName;
            choice.sameAs = *earlier;
        } else {
            taken.insert(AsCompared(choice.name), k);
        }
        choices.push_back(choice);
    }
    return choices;
}

QString ExtractFile(const OutputContents& contents, int number, const QString& path)
{
    const StoredEntry& entry = contents.files[std::size_t(number - 1)];
    SaveFile file(path, SaveFile::RefuseLinks);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot be written: ") + file.errorString();
    bool writeFailed = false;
    const bool sound = UnpackEntry(contents, entry, [&](std::span<const std::uint8_t> piece) {
        writeFailed = file.write(reinterpret_cast<const char*>(piece.data()), qint64(piece.size())) != qint64(piece.size());
        return !writeFailed;
    });
    if (writeFailed)
        return QStringLiteral("cannot be written: ") + file.errorString();
    if (!sound)
        return EntryDamageText(contents, entry) + QStringLiteral("; not written");
    if (!file.commit())
        return QStringLiteral("cannot be written: ") + file.errorString();
    return QString();
}

} // namespace hexaloom
