#include "Artwork.h"

namespace hexaloom {

QIcon Artwork::icon(int image) const
{
    if (image < 0 || image >= ImageCount || images[static_cast<std::size_t>(image)].isNull())
        return {};
    return QIcon(images[static_cast<std::size_t>(image)]);
}

int ImageStoreIndex(int image)
{
    // The icons and the logo follow each other in the store; the donate picture comes after the
    // templates and the About page.
    return image == ImageDonate ? 22 : image + 1;
}

Artwork LoadArtwork(const ResourceStore& store)
{
    Artwork art;
    for (int image = 0; image < ImageCount; ++image) {
        const auto bytes = ReadOwnResource(ImageStoreIndex(image), store);
        if (bytes && !bytes->empty())
            art.images[static_cast<std::size_t>(image)].loadFromData(bytes->data(), static_cast<uint>(bytes->size()));
    }
    QFont normal(QStringLiteral("Arial"), 9);
    QFont bold = normal;
    bold.setBold(true);
    QFont number(QStringLiteral("Courier New"), 8);
    number.setBold(true);
    number.setStyleHint(QFont::Monospace);
    art.fonts = {normal, bold, number};
    return art;
}

} // namespace hexaloom
