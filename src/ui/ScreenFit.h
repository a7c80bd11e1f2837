#pragma once
// Windows come back where they were, but always wholly on a screen that is there now.
#include <QList>
#include <QMargins>
#include <QRect>

namespace hexaloom {

// Room a window manager's frame takes around a window's contents when it cannot be asked yet (the
// window is not shown): a title bar above, thin borders elsewhere.
inline constexpr QMargins kAssumedFrame{4, 30, 4, 4};

// The frame placed wholly inside one of the available screen areas: the area it overlaps most, or the
// first when it overlaps none. A frame larger than the area shrinks to it; then it moves as little as
// it must. No areas: the frame as it is.
QRect FitOnScreens(const QRect& frame, const QList<QRect>& areas);

// The available areas (without task bars) of the screens now connected.
QList<QRect> AvailableScreenAreas();

// The contents' rectangle (position of the frame, size of the contents, as stored) fitted on the screens
// with kAssumedFrame around it; the result is again the frame's position and the contents' size.
QRect FitStoredGeometry(const QRect& stored);

} // namespace hexaloom
