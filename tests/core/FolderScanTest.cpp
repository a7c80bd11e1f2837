// The folder walk: what it visits and in which order, and that a linked folder cannot trap it.
#include "FolderScan.h"
#include "Paths.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;

class FolderScanTest : public QObject
{
    Q_OBJECT
private slots:
    void walks_data()
    {
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<bool>("loop"); // sub/back links to the root
        QTest::addColumn<QStringList>("visited");
        const QStringList top{"F a.txt", "D sub", "F z.txt"};
        const QStringList deep{"F a.txt", "D sub", "F sub/b.txt", "D sub/deeper", "F sub/deeper/c.txt", "F z.txt"};
        QTest::newRow("this level only") << false << false << top;
        QTest::newRow("depth first") << true << false << deep;
        QTest::newRow("a link back to the root is listed, not entered")
            << true << true << deep + QStringList{"D sub/back"};
    }
    void walks()
    {
        QFETCH(bool, recursive);
        QFETCH(bool, loop);
        QTemporaryDir dir;
        for (const char* name : {"a.txt", "sub/b.txt", "sub/deeper/c.txt", "z.txt"})
            QVERIFY(WriteBytes(dir.filePath(name), name));
        if (loop)
            QVERIFY(QFile::link(dir.path(), dir.filePath("sub/back")));
        const QString root = WithSeparator(dir.path());
        QStringList seen;
        QVERIFY(ScanDirectory(dir.path(), recursive, [&](const ScanEntry& entry) {
            QString line = (entry.kind == ScanEntry::File ? "F " : "D ") + entry.path.mid(root.size());
            line.replace('\\', '/');
            if (entry.kind == ScanEntry::File && entry.size != QFileInfo(entry.path).size())
                line += " (wrong size)";
            seen << line;
            return true;
        }));
        // The listing order is the file system's own; depth first means that whatever lies inside a
        // folder comes right after it, all together.
        for (int k = 0; k < seen.size(); ++k) {
            if (!seen[k].startsWith("D "))
                continue;
            const QString inside = seen[k].mid(2) + '/';
            int last = k;
            while (last + 1 < seen.size() && seen[last + 1].mid(2).startsWith(inside))
                ++last;
            for (int i = last + 1; i < seen.size(); ++i)
                QVERIFY2(!seen[i].mid(2).startsWith(inside), qPrintable(seen.join(", ")));
        }
        seen.sort();
        QFETCH(QStringList, visited);
        visited.sort();
        QCOMPARE(seen, visited);
    }

    void stopsWhenTold()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 5; ++i)
            QVERIFY(WriteBytes(dir.filePath(QString("d%1/f.txt").arg(i)), "x"));
        int seen = 0;
        QVERIFY(!ScanDirectory(dir.path(), true, [&](const ScanEntry&) { return ++seen < 3; }));
        QCOMPARE(seen, 3);
        QVERIFY(ScanDirectory(dir.filePath("missing"), true, [](const ScanEntry&) { return false; }));
    }
};

QTEST_GUILESS_MAIN(FolderScanTest)
#include "FolderScanTest.moc"
