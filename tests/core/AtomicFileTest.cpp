#include "AtomicFile.h"
#include "ConsolePlatform.h"
#include "FailingDevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace hexaloom;

class AtomicFileTest : public QObject
{
    Q_OBJECT
private slots:
    void writeAllReportsShortWrites_data();
    void writeAllReportsShortWrites();
    void replacesWholeFile_data();
    void replacesWholeFile();
    void targetThatIsAFolderFails();
    void savesFromThreadsThatEnd();
    void consoleNeverWaitsForAnAnswer();
};

void AtomicFileTest::writeAllReportsShortWrites_data()
{
    QTest::addColumn<qint64>("room");
    QTest::addColumn<bool>("ok");
    QTest::newRow("full from the start") << qint64(0) << false;
    QTest::newRow("fills midway") << qint64(57) << false;
    QTest::newRow("one byte short") << qint64(99) << false;
    QTest::newRow("exactly enough") << qint64(100) << true;
    QTest::newRow("plenty") << qint64(1000) << true;
}

void AtomicFileTest::writeAllReportsShortWrites()
{
    QFETCH(qint64, room);
    QFETCH(bool, ok);
    FailingDevice device(room);
    QVERIFY(device.open(QIODevice::WriteOnly));
    const QByteArray bytes(100, 'x');
    QCOMPARE(WriteAll(device, bytes), ok);
    QCOMPARE(device.written().size(), std::min<qint64>(room, 100));
}

void AtomicFileTest::replacesWholeFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<int>("permissions");
    const QByteArray old(500, 'o');
    QTest::newRow("short name") << "f.txt" << false << old << 0x0640;
    // The temporary file's name must fit too.
    QTest::newRow("255-character name") << QString(251, QLatin1Char('f')) + ".txt" << false << old << 0x0640;
    QTest::newRow("through a symbolic link") << "f.txt" << true << old << 0x0640;
    QTest::newRow("same length, last byte differs") << "f.txt" << false << QByteArray("shorT") << 0x0640;
    QTest::newRow("executable") << "f.sh" << false << old << 0x0755;
    QTest::newRow("read-only: refused") << "f.txt" << false << old << 0x0444;
}

void AtomicFileTest::replacesWholeFile()
{
    QFETCH(QString, name);
    QFETCH(bool, throughLink);
    QFETCH(QByteArray, old);
    QFETCH(int, permissions);
#ifdef Q_OS_WIN
    if (throughLink)
        QSKIP("a link made here is a shortcut file, not a symbolic link");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile before(path);
    QVERIFY(before.open(QIODevice::WriteOnly));
    before.write(old);
    before.close();
    // Qt's owner and user bits both, from the octal digits: 0x0640 is rw-r-----.
    const auto mode = QFile::Permissions::fromInt((permissions & 0xF00) << 4 | (permissions & 0xF00) | permissions);
    QVERIFY(before.setPermissions(mode));
    QStringList files{name};
    if (throughLink) {
        QVERIFY(QFile::link(path, dir.filePath("link")));
        files.append("link");
        files.sort();
    }
    // Kept only when the bytes are the same.
    SaveFile save(throughLink ? dir.filePath("link") : path);
    if (!(permissions & 0x200)) {
#ifdef Q_OS_WIN
        QSKIP("a read-only file is a POSIX mode here");
#else
        if (::geteuid() == 0)
            QSKIP("root writes every file");
#endif
        QVERIFY(!save.open(QIODevice::WriteOnly));
        QCOMPARE(QFileInfo(path).size(), old.size());
        return;
    }
    QVERIFY(save.open(QIODevice::WriteOnly));
    QCOMPARE(save.write("short"), 5);
    QVERIFY2(save.commit(true), qPrintable(save.errorString()));
    QVERIFY(!save.unchanged());
    QFile now(path);
    QVERIFY(now.open(QIODevice::ReadOnly));
    QCOMPARE(now.readAll(), QByteArray("short"));
#ifndef Q_OS_WIN // POSIX modes
    QCOMPARE(now.permissions(), mode);
#endif
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), files);
    QCOMPARE(QFileInfo(dir.filePath("link")).isSymLink(), throughLink);
}

void AtomicFileTest::targetThatIsAFolderFails()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("taken.hxlm")));
    QString error;
    QVERIFY(!WriteFileAtomically(dir.filePath("taken.hxlm"), "bytes", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(dir.filePath("taken.hxlm")).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Saves run on worker threads that end afterwards; on Windows a thread that leaves per-thread state of
// the wrong kind behind (see RemoveAbandoned) crashes the program as it ends, now and then.
void AtomicFileTest::savesFromThreadsThatEnd()
{
    QTemporaryDir dir;
    for (int round = 0; round < 48; ++round) {
        std::vector<std::thread> savers;
        for (int t = 0; t < 2; ++t) {
            savers.emplace_back([&dir, round, t] {
                WriteFileAtomically(dir.filePath(QStringLiteral("f%1").arg(t)), QByteArray::number(round));
            });
        }
        for (std::thread& saver : savers)
            saver.join();
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList{"f0", "f1"}));
    QFile last(dir.filePath("f1"));
    QVERIFY(last.open(QIODevice::ReadOnly));
    QCOMPARE(last.readAll(), QByteArray("47"));
}

void AtomicFileTest::consoleNeverWaitsForAnAnswer()
{
    // The command-line road has nobody to answer: requesters cancel, questions take their default.
    FILE* out = std::tmpfile();
    QVERIFY(out);
    ConsolePlatform console(out);
    QVERIFY(console.OpenFileRequester("t", "d", "*.hxlm|*hxlm", 0).isEmpty());
    QVERIFY(console.OpenFilesRequester("t", "d", "*.*|*.*", 0).isEmpty());
    QVERIFY(console.SaveFileRequester("t", "d", "*.pbi|*.pbi", 0).isEmpty());
    QVERIFY(console.PathRequester("t", "/").isEmpty());
    QVERIFY(console.AskYesNo("Hexaloom", "Overwrite?", true));
    QVERIFY(!console.AskYesNo("Hexaloom", "Add anyway?", false));
    QVERIFY(!console.EscapePressed());
    console.Message("Hexaloom", "\"a.bin\" not found!\nsecond line", MessageIcon::Error);
    std::rewind(out);
    QByteArray text(4096, '\0');
    text.truncate(qsizetype(std::fread(text.data(), 1, size_t(text.size()), out)));
    std::fclose(out);
    QCOMPARE(text, QByteArray("Hexaloom: Overwrite? [yes]\n"
                              "Hexaloom: Add anyway? [no]\n"
                              "Hexaloom: error: \"a.bin\" not found!\n    second line\n"));
}

QTEST_GUILESS_MAIN(AtomicFileTest)
#include "AtomicFileTest.moc"
