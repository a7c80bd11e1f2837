#include "AtomicFile.h"
#include "ConsolePlatform.h"
#include "FailingDevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

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
    QTest::newRow("short name") << "f.txt" << false;
    // The temporary file's name must fit too.
    QTest::newRow("255-character name") << QString(251, QLatin1Char('f')) + ".txt" << false;
    QTest::newRow("through a symbolic link") << "f.txt" << true;
}

void AtomicFileTest::replacesWholeFile()
{
    QFETCH(QString, name);
    QFETCH(bool, throughLink);
#ifdef Q_OS_WIN
    if (throughLink)
        QSKIP("a link made here is a shortcut file, not a symbolic link");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(500, 'o'));
    old.close();
    QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QFile::Permissions permissions = old.permissions();
    QStringList files{name};
    if (throughLink) {
        QVERIFY(QFile::link(path, dir.filePath("link")));
        files.append("link");
    }
    QString error;
    QVERIFY2(WriteFileAtomically(throughLink ? dir.filePath("link") : path, "short", &error), qPrintable(error));
    QVERIFY(error.isEmpty());
    QFile now(path);
    QVERIFY(now.open(QIODevice::ReadOnly));
    QCOMPARE(now.readAll(), QByteArray("short"));
    QCOMPARE(now.permissions(), permissions);
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
