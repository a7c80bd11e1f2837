#pragma once
// The pictures and fonts every window uses, loaded once at start-up and passed by reference.
#include "OwnResources.h"

#include <QFont>
#include <QIcon>
#include <QPixmap>

#include <array>

namespace hexaloom {

// Image numbers: 0..14 the icons in the store's order, 15 the logo, 16 the donate picture.
enum ImageNumber : int {
    ImageNew = 0,
    ImageOpen,
    ImageSave,
    ImageSaveAs,
    ImageExitDoor,
    ImageFileNew,
    ImageDirNew,
    ImageBook,
    ImageInformation,
    ImageReload,
    ImageGoUp,
    ImageGoDown,
    ImageRefresh,
    ImageDelete,
    ImageRun,
    ImageLogo,
    ImageDonate,
    ImageCount
};

// Fonts: 0 "Arial" 9 point, 1 the same bold, 2 "Courier New" 8 point bold.
enum FontNumber : int { FontNormal = 0, FontBold, FontMono, FontCount };

struct Artwork
{
    std::array<QPixmap, ImageCount> images; // a null pixmap where a picture could not be read
    std::array<QFont, FontCount> fonts;

    QIcon icon(int image) const;
};

// The store index each image is read from.
int ImageStoreIndex(int image);
// Reads images 0..16 from the store (a picture that is missing or unreadable stays null) and makes the fonts.
Artwork LoadArtwork(const ResourceStore& store);

} // namespace hexaloom
