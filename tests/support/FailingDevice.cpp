#include "FailingDevice.h"

#include <algorithm>

namespace hexaloom {

qint64 FailingDevice::writeData(const char* data, qint64 length)
{
    const qint64 room = m_failAfter - m_written.size();
    if (room <= 0) {
        setErrorString(QStringLiteral("device full"));
        return -1;
    }
    const qint64 taken = std::min(room, length);
    m_written.append(data, taken);
    return taken;
}

} // namespace hexaloom
