#include "ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace hexaloom {

QRect FitOnScreens(const QRect& frame, const QList<QRect>& areas)
{
    if (areas.isEmpty())
        return frame;
    QRect area = areas.front();
    qint64 best = 0;
    for (const QRect& candidate : areas) {
        const QRect common = candidate.intersected(frame);
        const qint64 overlap = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (overlap > best) {
            best = overlap;
            area = candidate;
        }
    }
    QRect fitted(frame.topLeft(), frame.size().boundedTo(area.size()));
    fitted.moveLeft(std::clamp(fitted.left(), area.left(), area.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), area.top(), area.bottom() - fitted.height() + 1));
    return fitted;
}

QList<QRect> AvailableScreenAreas()
{
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

QRect FitStoredGeometry(const QRect& stored)
{
    const QMargins& m = kAssumedFrame;
    const QRect frame(stored.topLeft(), stored.size().grownBy(m));
    const QRect fitted = FitOnScreens(frame, AvailableScreenAreas());
    return QRect(fitted.topLeft(), fitted.size().shrunkBy(m));
}

} // namespace hexaloom
