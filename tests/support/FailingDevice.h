#pragma once
// A write-only device that accepts a given number of bytes and then reports a write error, standing in
// for a full disk or a vanished drive.
#include <QByteArray>
#include <QIODevice>

namespace hexaloom {

class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 failAfter) : m_failAfter(failAfter) {}
    const QByteArray& written() const { return m_written; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override;

private:
    qint64 m_failAfter;
    QByteArray m_written;
};

} // namespace hexaloom
