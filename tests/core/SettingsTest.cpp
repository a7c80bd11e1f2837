#include "Settings.h"
#include "AppSettings.h"
#include "FileListModel.h"
#include "PrefsFile.h"

#include "TestFiles.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QTest>

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

using namespace hexaloom;

namespace {
QString Data(const QString& name)
{
    return QStringLiteral(HEXALOOM_TEST_DATA "/settings/") + name;
}
} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstRunWritesTheKnownFile();
    void handEditedFileKeepsItsShape_data();
    void handEditedFileKeepsItsShape();
    void numbersParse_data();
    void numbersParse();
    void byteFieldsRoundTrip_data();
    void byteFieldsRoundTrip();
    void lineRules_data();
    void lineRules();
    void lineBreakInAFolderIsNotStored_data();
    void lineBreakInAFolderIsNotStored();
    void singleDisplayResetsFarPositions_data();
    void singleDisplayResetsFarPositions();
    void portableStaysBesideTheProgram();
    void projectNamedOnCommandLineKeepsItsFolder();
    void failedWriteLeavesOldFile_data();
    void failedWriteLeavesOldFile();
    void unchangedStoreDoesNotTouchTheFile();
    void settingsFileThatIsNoFile_data();
    void settingsFileThatIsNoFile();

private:
    QTemporaryDir m_config;
};

void SettingsTest::initTestCase()
{
    // Keep the per-user folder of the test run away from the real one.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void SettingsTest::firstRunWritesTheKnownFile()
{
    QTemporaryDir program;
    AppSettings settings;
    const QString path = SettingsFilePath(settings, program.path());
#ifdef Q_OS_WIN
    QSKIP("the per-user folder is the system's here; the Windows test checks where the program puts it");
#endif
    QCOMPARE(path, QDir::toNativeSeparators(m_config.path() + "/Brannock/Hexaloom/Hexaloom.prefs"));
    QFile::remove(path);

    LoadSettings(settings, path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(settings.frmMain_x, kUnsetPosition);
    QCOMPARE(settings.frmMain_w, 640);
    QCOMPARE(settings.frmMain_h, 480);
    QCOMPARE(settings.frmHelp_w, 800);
    const QString documents = DocumentsFolder();
    QVERIFY(!documents.isEmpty());
    QVERIFY(documents.endsWith(QDir::separator()));
    QCOMPARE(settings.lastdir, documents);
    QCOMPARE(settings.projectdir, documents);

    settings.frmMain_x = 120;
    settings.frmMain_y = 80;
    settings.lastoutput = 1;
    QVERIFY(SaveSettings(settings, path));
    const QByteArray expected = QByteArray("\xEF\xBB\xBF\r\n"
                                           "[Position]\r\n"
                                           "frmMain_s = 0\r\n"
                                           "frmMain_x = 120\r\n"
                                           "frmMain_y = 80\r\n"
                                           "frmMain_w = 640\r\n"
                                           "frmMain_h = 480\r\n"
                                           "frmHelp_x = -65535\r\n"
                                           "frmHelp_y = -65535\r\n"
                                           "frmHelp_w = 800\r\n"
                                           "frmHelp_h = 580\r\n"
                                           "[Language]\r\n"
                                           "language = \r\n"
                                           "[Settings]\r\n"
                                           "calcsize = 0\r\n"
                                           "ontop = 0\r\n"
                                           "packmax = 0\r\n"
                                           "lastdir = ") +
                                documents.toUtf8() + "\r\nlastoutput = 1\r\nprojectdir = " + documents.toUtf8() +
                                "\r\n";
    QCOMPARE(ReadBytes(path), expected);
}

void SettingsTest::handEditedFileKeepsItsShape_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::newRow("Latin-1") << "handedited.prefs";
    QTest::newRow("UTF-8 with mark") << "handedited.utf8.prefs";
}

void SettingsTest::handEditedFileKeepsItsShape()
{
    QFETCH(QString, fixture);
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    QVERIFY(QFile::copy(Data(fixture), path));
    AppSettings settings;
    settings.portable = true;
    LoadSettings(settings, path);
    QCOMPARE(settings.frmMain_w, 1024);
    QCOMPARE(settings.frmMain_h, 700);
    QCOMPARE(settings.frmMain_x, kUnsetPosition);
    QCOMPARE(settings.lastdir, QString::fromUtf8("C:\\Users\\J\xC3\xBCrgen\\Daten\\"));
    QCOMPARE(settings.projectdir, QStringLiteral("D:\\proj\\"));
    QCOMPARE(settings.language, QStringLiteral("Deutsch"));
    // Read for the update check, and kept as it stands (never written).
    QCOMPARE(settings.updateurl, QStringLiteral("http://127.0.0.1:8080/u_versions/hexaloom.dat"));

    settings.frmMain_w = 800;
    settings.updateurl = QStringLiteral("https://elsewhere/");
    QVERIFY(SaveSettings(settings, path));
    QCOMPARE(ReadBytes(path), ReadBytes(Data("handedited.saved.prefs")));
}

void SettingsTest::numbersParse_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << QByteArray("[G]\nk = 640\n") << 640;
    QTest::newRow("no digits") << QByteArray("[G]\nk = abc\n") << 0;
    QTest::newRow("empty value") << QByteArray("[G]\nk =\n") << 0;
    QTest::newRow("digits then text") << QByteArray("[G]\nk = 12px\n") << 12;
    QTest::newRow("negative") << QByteArray("[G]\nk = -65535\n") << -65535;
    QTest::newRow("plus sign") << QByteArray("[G]\nk = +7\n") << 7;
    QTest::newRow("sign alone") << QByteArray("[G]\nk = -\n") << 0;
    QTest::newRow("largest") << QByteArray("[G]\nk = 2147483647\n") << 2147483647;
    QTest::newRow("one past the largest") << QByteArray("[G]\nk = 2147483648\n") << 2147483647;
    QTest::newRow("smallest") << QByteArray("[G]\nk = -2147483648\n") << int(-2147483647 - 1);
    QTest::newRow("one past the smallest") << QByteArray("[G]\nk = -2147483649\n") << int(-2147483647 - 1);
    QTest::newRow("too big is clamped") << QByteArray("[G]\nk = 99999999999999999999\n") << 2147483647;
    QTest::newRow("too small is clamped") << QByteArray("[G]\nk = -99999999999\n") << int(-2147483647 - 1);
    QTest::newRow("key in capitals") << QByteArray("[g]\nK = 5\n") << 5;
    QTest::newRow("missing key") << QByteArray("[G]\nother = 5\n") << 33;
    QTest::newRow("key in another group") << QByteArray("[H]\nk = 5\n[G]\n") << 33;
    QTest::newRow("missing group") << QByteArray("k = 5\n") << 33;
    QTest::newRow("comment is no entry") << QByteArray("[G]\n;k = 5\n") << 33;
    QTest::newRow("first of two entries") << QByteArray("[G]\nk = 1\nk = 2\n") << 1;
}

void SettingsTest::numbersParse()
{
    QFETCH(QByteArray, file);
    PrefsFile prefs;
    prefs.Parse(file);
    prefs.Group(QStringLiteral("G"));
    QTEST(int(prefs.ReadLong(QStringLiteral("k"), 33)), "expected");
}

// The 8-bit fields keep the low byte of what is stored and are written back sign-extended; the output
// format reads as 0 unless it names one of the three.
void SettingsTest::byteFieldsRoundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("written");
    QTest::newRow("calcsize 1") << "calcsize"
                                << "1" << 1 << "1";
    QTest::newRow("calcsize 255") << "calcsize"
                                  << "255" << 255 << "-1";
    QTest::newRow("ontop 256") << "ontop"
                               << "256" << 0 << "0";
    QTest::newRow("ontop -1") << "ontop"
                              << "-1" << 255 << "-1";
    QTest::newRow("packmax 1") << "packmax"
                               << "1" << 1 << "1";
    // The output format: only the chooser's three entries, anything else is the first.
    QTest::newRow("lastoutput 2") << "lastoutput"
                                  << "2" << 2 << "2";
    QTest::newRow("lastoutput 3") << "lastoutput"
                                  << "3" << 0 << "0";
    QTest::newRow("lastoutput -1") << "lastoutput"
                                   << "-1" << 0 << "0";
    QTest::newRow("lastoutput 258") << "lastoutput"
                                    << "258" << 0 << "0";
}

void SettingsTest::byteFieldsRoundTrip()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, written);
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    QVERIFY(WriteBytes(path, QStringLiteral("[Settings]\r\n%1 = %2\r\n").arg(key, stored).toUtf8()));
    AppSettings settings;
    settings.portable = true;
    LoadSettings(settings, path);
    const int field = key == QLatin1String("calcsize") ? settings.calcsize
                      : key == QLatin1String("ontop")  ? settings.ontop
                      : key == QLatin1String("packmax") ? settings.packmax
                                                       : settings.lastoutput;
    QTEST(field, "field");
    QVERIFY(SaveSettings(settings, path));
    const QByteArray line = QStringLiteral("\r\n%1 = %2\r\n").arg(key, written).toUtf8();
    QVERIFY2(ReadBytes(path).contains(line), ReadBytes(path).constData());
}

void SettingsTest::lineRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray mark("\xEF\xBB\xBF\r\n");
    QTest::newRow("new entry after the last line of its group")
        << QByteArray("[A]\na = 1\n; about B\n[B]\nb = 2\n") << "a"
        << "n"
        << "x" << mark + "[A]\r\na = 1\r\n; about B\r\nn = x\r\n[B]\r\nb = 2\r\n";
    QTest::newRow("new group appended at the end") << QByteArray("[A]\na = 1\n") << "C"
                                                   << "c"
                                                   << "3" << mark + "[A]\r\na = 1\r\n[C]\r\nc = 3\r\n";
    QTest::newRow("value replaced in place, key keeps its spelling")
        << QByteArray("[A]\nKEY   =   old  \nz = 1\n") << "a"
        << "key"
        << "new" << mark + "[A]\r\nKEY = new\r\nz = 1\r\n";
    QTest::newRow("entries before the first group") << QByteArray("top = 1\n[A]\n") << ""
                                                    << "more"
                                                    << "2" << mark + "top = 1\r\nmore = 2\r\n[A]\r\n";
    QTest::newRow("group line without bracket, text after bracket dropped")
        << QByteArray("[Open\n[Closed] trailing\n") << "Open"
        << "k"
        << "v" << mark + "[Open]\r\nk = v\r\n[Closed]\r\n";
    QTest::newRow("comments: one space is not part of the text") << QByteArray(";tight\n;  two\n") << ""
                                                                 << "k"
                                                                 << "v" << mark + "; tight\r\n;  two\r\nk = v\r\n";
    QTest::newRow("line without bracket or equals kept as it was")
        << QByteArray("[A]\n   just words\t\n") << "A"
        << "k"
        << "v" << mark + "[A]\r\n   just words\t\r\nk = v\r\n";
    QTest::newRow("CR only and blank lines") << QByteArray("[A]\r\r\ra = 1\r \t\r") << "A"
                                             << "b"
                                             << "2" << mark + "[A]\r\na = 1\r\nb = 2\r\n";
    QTest::newRow("mark read, not doubled") << QByteArray("\xEF\xBB\xBF[A]\r\n") << "A"
                                            << "b"
                                            << "2" << mark + "[A]\r\nb = 2\r\n";
    QTest::newRow("equals inside the value") << QByteArray("[A]\nk = a=b\n") << "A"
                                             << "j"
                                             << "" << mark + "[A]\r\nk = a=b\r\nj = \r\n";
    QTest::newRow("group names compare ASCII letters only without case")
        << QByteArray("[\xC4rger]\n") << QString::fromUtf8("\xC3\xA4rger") << "k"
        << "v" << mark + "[\xC3\x84rger]\r\n[\xC3\xA4rger]\r\nk = v\r\n";
}

void SettingsTest::lineRules()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, group);
    QFETCH(QString, key);
    QFETCH(QString, value);
    PrefsFile prefs;
    prefs.Parse(file);
    prefs.Group(group);
    prefs.WriteString(key, value);
    QCOMPARE(prefs.ReadString(key, QStringLiteral("missing")), value);
    QTEST(prefs.Serialize(), "expected");
}

// Folder names may hold CR and LF on Linux; stored as they are, they would split their line.
void SettingsTest::lineBreakInAFolderIsNotStored_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("LF") << "/a\nb/";
    QTest::newRow("CR") << "/a\rb/";
    QTest::newRow("a group line after CR LF") << "/a\r\n[Other]\r\n/";
}

void SettingsTest::lineBreakInAFolderIsNotStored()
{
    QFETCH(QString, folder);
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    AppSettings settings;
    settings.portable = true;
    settings.lastdir = QStringLiteral("/old/");
    settings.projectdir = QStringLiteral("/projects/");
    QVERIFY(SaveSettings(settings, path));
    settings.lastdir = folder;
    settings.projectdir = folder;
    settings.lastoutput = OutputBinpack;
    QVERIFY(SaveSettings(settings, path));

    AppSettings loaded;
    loaded.portable = true;
    LoadSettings(loaded, path);
    QCOMPARE(loaded.lastdir, QStringLiteral("/old/"));
    QCOMPARE(loaded.projectdir, QStringLiteral("/projects/"));
    QCOMPARE(int(loaded.lastoutput), int(OutputBinpack));
}

void SettingsTest::singleDisplayResetsFarPositions_data()
{
    QTest::addColumn<int>("displays");
    QTest::addColumn<int>("storedX");
    QTest::addColumn<int>("expectedX");
    QTest::newRow("one display, beyond its width") << 1 << 5000 << kUnsetPosition;
    QTest::newRow("one display, at its width") << 1 << 1920 << 1920;
    QTest::newRow("one display, negative kept") << 1 << -300 << -300;
    QTest::newRow("two displays") << 2 << 5000 << 5000;
    QTest::newRow("no display known") << 0 << 5000 << 5000;
}

void SettingsTest::singleDisplayResetsFarPositions()
{
    QFETCH(int, displays);
    QFETCH(int, storedX);
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    QVERIFY(WriteBytes(path, QStringLiteral("[Position]\r\nfrmMain_x = %1\r\nfrmMain_y = 9000\r\nfrmHelp_x = %1\r\n")
                                 .arg(storedX)
                                 .toLatin1()));
    AppSettings settings;
    settings.portable = true;
    LoadSettings(settings, path, DisplayInfo{displays, 1920});
    QTEST(int(settings.frmMain_x), "expectedX");
    QTEST(int(settings.frmHelp_x), "expectedX");
    QCOMPARE(settings.frmMain_y, 9000); // vertical positions are never checked
}

void SettingsTest::portableStaysBesideTheProgram()
{
    QTemporaryDir program;
    AppSettings settings;
    settings.portable = true;
    const QString path = SettingsFilePath(settings, program.path());
    QCOMPARE(path, QDir::toNativeSeparators(program.path() + "/Hexaloom.prefs"));
    QDir(m_config.path()).removeRecursively();
    LoadSettings(settings, path);
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFileInfo::exists(m_config.path() + "/Brannock"));
}

void SettingsTest::projectNamedOnCommandLineKeepsItsFolder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    QVERIFY(WriteBytes(path, "[Settings]\r\nlastdir = /l/\r\nprojectdir = /stored/\r\n"));
    AppSettings named;
    named.portable = true;
    named.projectdir = QStringLiteral("/given/");
    LoadSettings(named, path);
    QCOMPARE(named.projectdir, QStringLiteral("/given/"));
    AppSettings unnamed;
    unnamed.portable = true;
    LoadSettings(unnamed, path);
    QCOMPARE(unnamed.projectdir, QStringLiteral("/stored/"));
    QCOMPARE(unnamed.lastdir, QStringLiteral("/l/"));
}

void SettingsTest::failedWriteLeavesOldFile_data()
{
    QTest::addColumn<qint64>("failAfter");
    QTest::newRow("nothing written") << qint64(0);
    QTest::newRow("midway") << qint64(40);
}

void SettingsTest::failedWriteLeavesOldFile()
{
    QFETCH(qint64, failAfter);
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    const QByteArray old = ReadBytes(Data("handedited.prefs"));
    QVERIFY(WriteBytes(path, old));
    AppSettings settings;
    settings.portable = true;
    settings.frmMain_w = 1;
    const auto failing = [failAfter](QIODevice& device, const QByteArray& bytes) {
        device.write(bytes.left(failAfter));
        return false;
    };
    QVERIFY(!SaveSettings(settings, path, failing));
    QCOMPARE(ReadBytes(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Hexaloom.prefs"});
}

void SettingsTest::unchangedStoreDoesNotTouchTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("plain.prefs");
    const QByteArray old("[A]\nk=1\n\n");
    QVERIFY(WriteBytes(path, old));
    {
        PrefsFile prefs;
        QVERIFY(prefs.Open(path));
        prefs.Group(QStringLiteral("a"));
        QCOMPARE(prefs.ReadLong(QStringLiteral("K"), 0), 1);
        QVERIFY(prefs.Close());
    }
    QCOMPARE(ReadBytes(path), old);
    // A store whose file could not be opened creates it when written.
    const QString fresh = dir.filePath("fresh.prefs");
    PrefsFile prefs;
    QVERIFY(!prefs.Open(fresh));
    prefs.Group(QStringLiteral("N"));
    prefs.WriteLong(QStringLiteral("k"), -1);
    QVERIFY(prefs.Close());
    QCOMPARE(ReadBytes(fresh), QByteArray("\xEF\xBB\xBF\r\n[N]\r\nk = -1\r\n"));
}

#ifndef _WIN32
// A device that reads as endless zeros. As root a save that wrongly went through the link would replace
// /dev/zero itself, so root gets a device node of its own in `folder`.
static QString ZeroDevice(const QString& folder)
{
    const QString own = folder + "/zero";
    if (::geteuid() == 0 && ::mknod(QFile::encodeName(own).constData(), S_IFCHR | 0666, makedev(1, 5)) == 0)
        return own;
    return QStringLiteral("/dev/zero");
}
#endif

// A FIFO must not hang the start-up, nor a device fill the memory: defaults, and nothing written there.
void SettingsTest::settingsFileThatIsNoFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
}

void SettingsTest::settingsFileThatIsNoFile()
{
    QFETCH(QString, kind);
#ifdef _WIN32
    QSKIP("FIFOs and /dev/zero are POSIX here");
#else
    QTemporaryDir dir;
    const QString path = dir.filePath("Hexaloom.prefs");
    if (kind == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    else
        QVERIFY(QFile::link(ZeroDevice(dir.path()), path));
    AppSettings settings;
    QString error;
    QVERIFY(!LoadSettings(settings, path, DisplayInfo{}, &error));
    QVERIFY2(error.contains("not a regular file"), qPrintable(error));
    QCOMPARE(settings.frmMain_w, 640);
    settings.frmMain_w = 700;
    QVERIFY(!SaveSettings(settings, path));
#endif
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
