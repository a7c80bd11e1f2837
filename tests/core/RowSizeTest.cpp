// The Datasize the size calculation shows: a packed row's payload without the block header.
#include "RowSize.h"
#include "PackedBlock.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;

class RowSizeTest : public QObject
{
    Q_OBJECT
private slots:
    void sizes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("size"); // -1: the payload of PackBlock; -2: nothing (unreadable)
        const QByteArray text = QByteArray("packed rows show their payload ").repeated(400);
        QTest::newRow("none: the file's length") << text << int(PackerNone) << qint64(text.size());
        QTest::newRow("unknown kind: the file's length") << text << 7 << qint64(text.size());
        QTest::newRow("zip") << text << int(PackerZip) << qint64(-1);
        QTest::newRow("jCalg1") << text << int(PackerJcalg1) << qint64(-1);
        QTest::newRow("one byte, zip: a block longer than the file") << QByteArray("x") << int(PackerZip) << qint64(-1);
        QTest::newRow("jCalg1 that cannot pack: the length") << QByteArray("xy") << int(PackerJcalg1) << qint64(2);
        QTest::newRow("empty file, zip: stored raw") << QByteArray() << int(PackerZip) << qint64(0);
        QTest::newRow("missing file") << QByteArray() << int(PackerZip) << qint64(-2);
    }
    void sizes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QFETCH(qint64, size);
        QTemporaryDir dir;
        const QString path = dir.filePath("f.bin");
        if (size != -2)
            QVERIFY(WriteBytes(path, bytes));
        if (size == -1) {
            const Bytes block = PackBlock(Bytes(bytes.begin(), bytes.end()), kind);
            QVERIFY(HasBlockMagic(block));
            size = qint64(block.size() - kBlockHeaderSize);
        }
        const std::optional<qint64> shown = RowDataSize(path, kind);
        QCOMPARE(shown.has_value(), size != -2);
        if (shown)
            QCOMPARE(*shown, size);
    }
};

QTEST_GUILESS_MAIN(RowSizeTest)
#include "RowSizeTest.moc"
