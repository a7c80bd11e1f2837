// The folder walk: what it visits and in which order (by name, as on every road), that a linked folder
// is walked once however it is reached, and what is no file.
#include "AtomicFile.h"
#include "FolderScan.h"
#include "Paths.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace hexaloom;

class FolderScanTest : public QObject
{
    Q_OBJECT
private slots:
    void walks_data()
    {
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<QString>("links"); // "loop": sub/back links to the root; "diamond": two links to sub
        QTest::addColumn<QStringList>("visited");
        const QStringList top{"F .hexaloom-mynotes1.tmp", "F A.txt", "F a.txt", "D sub", "F z.txt"};
        const QStringList deep{"F .hexaloom-mynotes1.tmp", "F A.txt", "F a.txt", "D sub", "F sub/b.txt", "D sub/deeper", "F sub/deeper/c.txt",
                               "F z.txt"};
        QTest::newRow("this level only") << false << "" << top;
        QTest::newRow("depth first, by name") << true << "" << deep;
        QTest::newRow("a link back to the root is listed, not entered")
            << true << "loop"
            << QStringList{
                   "F .hexaloom-mynotes1.tmp", "F A.txt", "F a.txt", "D sub", "F sub/b.txt", "D sub/back", "D sub/deeper", "F sub/deeper/c.txt",
                   "F z.txt"};
        QTest::newRow("a folder reached twice is walked once")
            << true << "diamond" << QStringList{"F .hexaloom-mynotes1.tmp", "F A.txt",           "F a.txt", "D l1",  "F l1/b.txt", "D l1/deeper",
                                                "F l1/deeper/c.txt", "D l2",    "D sub", "F z.txt"};
        QTest::newRow("no files: FIFO and dangling link")
            << false << "special" << QStringList{"F .hexaloom-mynotes1.tmp", "F A.txt", "F a.txt", "S dangling", "S fifo", "D sub", "F z.txt"};
    }
    void walks()
    {
#ifdef _WIN32
        QSKIP("names apart only in letter case, links and FIFOs are POSIX here");
#else
        QFETCH(bool, recursive);
        QFETCH(QString, links);
        QTemporaryDir dir;
        for (const char* name : {"a.txt", "A.txt", "sub/b.txt", "sub/deeper/c.txt", "z.txt"})
            QVERIFY(WriteBytes(dir.filePath(name), name));
        // A save running in the folder: its temporary file is left out, and its cleaner leaves alone a
        // file of the user's that merely looks like one.
        QVERIFY(WriteBytes(dir.filePath(".hexaloom-mynotes1.tmp"), "the user's"));
        SaveFile running(dir.filePath("running.txt"));
        QVERIFY(running.open(QIODevice::WriteOnly));
        if (links == "loop")
            QVERIFY(QFile::link(dir.path(), dir.filePath("sub/back")));
        if (links == "diamond") {
            QVERIFY(
                QFile::rename(dir.filePath("sub"), dir.filePath("../") + QFileInfo(dir.path()).fileName() + "-sub"));
            QVERIFY(QFile::link(dir.path() + "-sub", dir.filePath("l1")));
            QVERIFY(QFile::link(dir.path() + "-sub", dir.filePath("l2")));
            QVERIFY(QDir().mkpath(dir.filePath("sub")));
        }
        if (links == "special") {
            QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("dangling")));
            QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        }
        const QString root = WithSeparator(dir.path());
        QStringList seen;
        QVERIFY(ScanDirectory(dir.path(), recursive, [&](const ScanEntry& entry) {
            const char* kinds[] = {"", "F ", "D ", "S ", "U "};
            QString line = kinds[entry.kind] + entry.path.mid(root.size());
            line.replace('\\', '/');
            if (entry.kind == ScanEntry::File && entry.size != QFileInfo(entry.path).size())
                line += " (wrong size)";
            seen << line;
            return true;
        }));
        if (links == "diamond")
            QVERIFY(QDir(dir.path() + "-sub").removeRecursively());
        QTEST(seen, "visited");
#endif
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
