#include "Startup.h"
#include "WindowsStart.h"
#include "Document.h"
#include "ProjectFile.h"
#include "ScriptedPlatform.h"

#include "TestFiles.h"
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace hexaloom;

namespace {
// A project in `dir` listing two files of that folder (absolute paths) and, optionally, one that is gone.
QString MakeProject(const QString& dir, const QString& name, bool withMissing, int format = OutputHexdata)
{
    WriteBytes(dir + "/a.bin", "alpha");
    WriteBytes(dir + "/b.wav", "bravo bravo");
    FileListModel model;
    model.AddFileRow(dir + "/a.bin", 0, QString());
    if (withMissing)
        model.AddFileRow(dir + "/gone.bin", 0, QStringLiteral("3"));
    model.AddFileRow(dir + "/b.wav", 2, QStringLiteral("---"));
    const QString path = dir + "/" + name;
    WriteBytes(path, EncodeProject(model, format));
    return path;
}

#ifdef Q_OS_UNIX
// Makes `file` in `folder` unreadable for this process while it lives, as a file of another user with
// write permission only would be. Root is not bound by permissions, so it acts as "nobody" meanwhile
// (owner of the file, in a folder anyone may write in).
class UnreadableFile
{
public:
    UnreadableFile(const QString& folder, const QString& file)
    {
        const QByteArray path = QFile::encodeName(folder + "/" + file);
        if (geteuid() == 0) {
            m_ok = ::chmod(QFile::encodeName(folder).constData(), 0777) == 0 &&
                   ::chown(path.constData(), kNobody, kNobody) == 0 && ::chmod(path.constData(), 0200) == 0 &&
                   ::seteuid(kNobody) == 0;
            m_switched = m_ok;
        } else {
            m_ok = ::chmod(path.constData(), 0200) == 0;
        }
    }
    ~UnreadableFile()
    {
        if (m_switched)
            (void)::seteuid(0);
    }
    bool ok() const { return m_ok; }

private:
    static constexpr uid_t kNobody = 65534;
    bool m_ok = false;
    bool m_switched = false;
};
#endif
} // namespace

class StartupTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void prepareReadsSettingsLanguageAndNames();
    void noLanguageFolderMeansEnglish();
    void findsTheLanguagesWhereItIsInstalled();
    void unreadableSettingsFileIsKeptAndToldOnce();
    void silentRoad_data();
    void silentRoad();
    void strayStoredFormatWritesAResourceFile();
    void executableLoadsProjectHeadless();
    void executableWithoutProjectStops();
    void windowsVersions_data();
    void windowsVersions();

private:
    QTemporaryDir m_config;
    QString m_startDir;
};

void StartupTest::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    m_startDir = QDir::currentPath();
}

void StartupTest::cleanup()
{
    QDir::setCurrent(m_startDir);
}

void StartupTest::prepareReadsSettingsLanguageAndNames()
{
    QTemporaryDir program;
    const QByteArray prefs("[Position]\r\nfrmMain_x = 100\r\nfrmMain_y = 50\r\nfrmHelp_x = 30\r\nfrmHelp_y = 20\r\n"
                           "[Language]\r\nlanguage = Deutsch\r\n");
    QVERIFY(WriteBytes(program.filePath("Hexaloom.prefs"), prefs));
    QVERIFY(WriteBytes(program.filePath("lang/Deutsch.lng"), "[Buttons]\r\nbtnCreate = Erstellen...\r\n"));
    QVERIFY(WriteBytes(program.filePath("lang/Zulu.lng"), "[Grid]\r\n"));
    QVERIFY(WriteBytes(program.filePath("lang/readme.txt"), "not a language"));
    QVERIFY(WriteBytes(program.filePath("lang/Upper.LNG"), "[Grid]\r\n"));
    QVERIFY(WriteBytes(program.filePath("lang/.lng"), "[Grid]\r\n"));
    QVERIFY(QDir().mkpath(program.filePath("lang/Folder.lng")));

    StartupState state;
    PrepareStartup(state, program.filePath("hexaloom"), {"/portable", "/IGNOREPOS"});
    QCOMPARE(QDir::currentPath(), QDir(program.path()).canonicalPath());
    QVERIFY(state.settings.portable);
    QCOMPARE(state.settingsPath, QDir::toNativeSeparators(program.filePath("Hexaloom.prefs")));
    QCOMPARE(state.settings.frmMain_x, kUnsetPosition);
    QCOMPARE(state.settings.frmMain_y, kUnsetPosition);
    QCOMPARE(state.settings.frmHelp_x, 30);
    QCOMPARE(state.settings.frmHelp_y, 20);
    QCOMPARE(state.language.LanguageText("Buttons", "btnCreate"), QStringLiteral("Erstellen..."));
    QCOMPARE(state.language.LanguageText("Buttons", "btnUp"), QStringLiteral("Move selected row up"));
    QCOMPARE(state.languageNames, (QStringList{"Deutsch", "Zulu"}));
    // Start-up reads the settings; only the end of an interactive run writes them.
    QCOMPARE(ReadBytes(program.filePath("Hexaloom.prefs")), prefs);
    QVERIFY(!QFileInfo::exists(m_config.path() + "/Brannock"));
}

void StartupTest::noLanguageFolderMeansEnglish()
{
    QTemporaryDir program;
    QVERIFY(WriteBytes(program.filePath("Hexaloom.prefs"), "[Language]\r\nlanguage = Gone\r\n"));
    StartupState state;
    PrepareStartup(state, program.filePath("hexaloom"), {"/PORTABLE"});
    QVERIFY(state.languageNames.isEmpty());
    QCOMPARE(state.language.LanguageText("Buttons", "btnCreate"), QStringLiteral("Create..."));
    QCOMPARE(LanguageFilePath(program.path(), QString()), QString());
}

// Installed as prefix/bin/hexaloom the languages are in prefix/share/hexaloom/lang; a lang/ folder beside
// the program (a copied or portable one) comes first.
void StartupTest::findsTheLanguagesWhereItIsInstalled()
{
    QTemporaryDir prefix;
    QVERIFY(
        WriteBytes(prefix.filePath("share/hexaloom/lang/Deutsch.lng"), "[Buttons]\r\nbtnCreate = Erstellen...\r\n"));
    QVERIFY(QDir(prefix.path()).mkpath("bin"));
    const QString bin = prefix.filePath("bin");
    QCOMPARE(ListLanguageNames(bin), QStringList{"Deutsch"});
    QCOMPARE(LanguageFilePath(bin, "Deutsch"),
             QDir::toNativeSeparators(prefix.filePath("share/hexaloom/lang/Deutsch.lng")));
    QVERIFY(WriteBytes(prefix.filePath("bin/lang/Portable.lng"), "[Grid]\r\n"));
    QCOMPARE(ListLanguageNames(bin), QStringList{"Portable"});
}

void StartupTest::unreadableSettingsFileIsKeptAndToldOnce()
{
#ifdef Q_OS_UNIX
    QTemporaryDir program;
    const QByteArray prefs("\xEF\xBB\xBF\r\n[Position]\r\nfrmMain_w = 1000\r\n; kept\r\n");
    QVERIFY(WriteBytes(program.filePath("Hexaloom.prefs"), prefs));
    StartupState state;
    bool savedAtExit = true;
    {
        const UnreadableFile unreadable(program.path(), "Hexaloom.prefs");
        if (!unreadable.ok())
            QSKIP("cannot make a file unreadable here");
        PrepareStartup(state, program.filePath("hexaloom"), {"/PORTABLE"});
        savedAtExit = SaveSettings(state.settings, state.settingsPath);
    }
    QVERIFY(!savedAtExit);
    QCOMPARE(ReadBytes(program.filePath("Hexaloom.prefs")), prefs);
    QCOMPARE(state.settings.frmMain_w, 640);
    ScriptedPlatform platform;
    TellStartupProblems(state, platform);
    TellStartupProblems(state, platform);
    QCOMPARE(platform.messageTexts().size(), 1);
    QVERIFY(platform.messageTexts().at(0).contains("Hexaloom.prefs\" could not be read"));
#else
    QSKIP("file permissions are POSIX here");
#endif
}

void StartupTest::silentRoad_data()
{
    QTest::addColumn<QStringList>("parameters");
    QTest::addColumn<bool>("withMissing");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("reason"); // why the project was not loaded
    QTest::newRow("relative names, switch first")
        << QStringList{"/CREATESILENT=out.pbi", "demo.hxlm"} << false << true << 0 << 2 << QString();
    QTest::newRow("relative names, switch last")
        << QStringList{"demo.HXLM", "/CREATESILENT=\"out.pbi\""} << false << true << 0 << 2 << QString();
    QTest::newRow("a listed file is gone")
        << QStringList{"/CREATESILENT=out.pbi", "demo.hxlm"} << true << true << 1 << 2 << QString();
    QTest::newRow("damaged project") << QStringList{"/CREATESILENT=out.pbi", "broken.hxlm"} << false << true << 1 << 0
                                     << "record area length disagrees with the row count";
    QTest::newRow("project gone before it is read") << QStringList{"/CREATESILENT=out.pbi", "vanishing.hxlm"} << false
                                                    << true << 1 << 0 << "No such file or directory";
    // Said on the console, never a window a build script would wait for.
    QTest::newRow("no project") << QStringList{"/CREATESILENT=out.pbi"} << false << true << 1 << 0
                                << "none was named";
    QTest::newRow("project that does not exist") << QStringList{"/CREATESILENT=out.pbi", "none.hxlm"} << false << true
                                                 << 1 << 0 << "No such file or directory";
    QTest::newRow("no output named") << QStringList{"demo.hxlm"} << false << false << -1 << 0 << QString();
}

void StartupTest::silentRoad()
{
    QFETCH(QStringList, parameters);
    QFETCH(bool, withMissing);
    QFETCH(bool, silent);
    QTemporaryDir program;
    MakeProject(program.path(), QStringLiteral("demo.HXLM"), withMissing);
    QFile::copy(program.filePath("demo.HXLM"), program.filePath("demo.hxlm"));
    QVERIFY(WriteBytes(program.filePath("broken.hxlm"), QByteArray("HXLM 1.5\r\n\x02\x00\x01\x00\x00\x00\x00", 17)));

    StartupState state;
    QFile::copy(program.filePath("demo.hxlm"), program.filePath("vanishing.hxlm"));
    PrepareStartup(state, program.filePath("hexaloom"), QStringList{"/PORTABLE"} + parameters);
    QFile::remove(program.filePath("vanishing.hxlm"));
    QCOMPARE(WantsSilentRoad(state), silent);
    if (!silent)
        return;
    if (!state.commandLine.projectfile.isEmpty())
        QCOMPARE(state.settings.projectdir, QDir::toNativeSeparators(QDir(program.path()).canonicalPath() + "/"));
    ScriptedPlatform platform;
    QTEST(RunSilent(state, platform), "exitCode");
    QFETCH(int, rows);
    const QStringList messages = platform.callsOf("Message");
    QCOMPARE(messages.size(), platform.calls().size()); // nothing but messages: no requester, no question
    if (rows > 0) {
        QVERIFY(
            messages.filter(QStringLiteral("%1 file(s), hexdata include, output \\\"out.pbi\\\"").arg(rows)).size() ==
            1);
        QCOMPARE(messages.filter("a.bin").size(), 1);
        QCOMPARE(messages.filter("b.wav").size(), 1);
    } else {
        QFETCH(QString, reason);
#ifdef Q_OS_WIN
        reason.clear(); // the system's own words
#endif
        // Each said once: the project, in the system's separators, why, and that nothing was written.
        const QStringList texts = platform.messageTexts();
        QCOMPARE(texts.filter(reason).size(), reason.isEmpty() ? texts.size() : 1);
        QCOMPARE(texts.filter("nothing was written").size(), 1);
        const QString named = parameters.filter(".hxlm").value(0);
        if (!named.isEmpty()) {
            const QString path = QDir::toNativeSeparators(QDir(program.path()).absoluteFilePath(named));
            QCOMPARE(texts.join('\n').count(path), 1);
        }
    }
    QCOMPARE(messages.filter("were not found").filter("gone.bin").size(), withMissing ? 1 : 0);
    // The silent road never saves the settings.
    QCOMPARE(QFileInfo(program.filePath("Hexaloom.prefs")).size(), 0);
}

// A version 1.0 project stores no format, so the settings' one is used; one that names none of the three
// is the resource file, not a run that writes nothing.
void StartupTest::strayStoredFormatWritesAResourceFile()
{
    QTemporaryDir program;
    QVERIFY(WriteBytes(program.filePath("Hexaloom.prefs"), "[Settings]\r\nlastoutput = 3\r\n"));
    QVERIFY(WriteBytes(program.filePath("a.bin"), "alpha"));
    FileListModel model;
    model.AddFileRow(program.filePath("a.bin"), 2, QString());
    const QByteArray records = EncodeRecords(model);
    QVERIFY(WriteBytes(program.filePath("old.hxlm"),
                       QByteArray("HXLM 1.0\r\n\x01\x95\x02\x00\x00", 15) + qCompress(records, 9).mid(4)));

    StartupState state;
    PrepareStartup(state, program.filePath("hexaloom"), {"/PORTABLE", "/CREATESILENT=out", "old.hxlm"});
    ScriptedPlatform platform;
    QCOMPARE(RunSilent(state, platform), 0);
    QCOMPARE(platform.messageTexts().filter("1 file(s), resource file").size(), 1);
    QVERIFY(QFileInfo(program.filePath("out.res")).size() > 0);
}

void StartupTest::executableLoadsProjectHeadless()
{
#ifdef Q_OS_WIN
    QSKIP("the settings folder is set through XDG_CONFIG_HOME here; the Windows test runs the program itself");
#endif
    QTemporaryDir work;
    const QString project = MakeProject(work.path(), QStringLiteral("demo.hxlm"), false, OutputBinpack);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", work.filePath("config"));
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(HEXALOOM_EXECUTABLE), {"/CREATESILENT=" + work.filePath("x.pbi"), project});
    QVERIFY(process.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, qPrintable(err));
    QVERIFY2(err.contains("2 file(s), binpack include"), qPrintable(err));
    QVERIFY2(err.contains(work.filePath("a.bin")) && err.contains(work.filePath("b.wav")), qPrintable(err));
    // The settings file is created empty on the way in and never written on this road.
    const QString prefs = work.filePath("config/Brannock/Hexaloom/Hexaloom.prefs");
    QVERIFY(QFileInfo::exists(prefs));
    QCOMPARE(QFileInfo(prefs).size(), 0);
}

void StartupTest::executableWithoutProjectStops()
{
    QTemporaryDir work;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", work.path());
    // Without a display the silent road that was asked for names its missing project, not the display.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(HEXALOOM_EXECUTABLE), {"/CREATESILENT=x.pbi", work.filePath("missing.hxlm")});
    QVERIFY(process.waitForFinished(60000));
    QVERIFY(process.exitCode() != 0);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    const QString project = QDir::toNativeSeparators(work.filePath("missing.hxlm"));
    QVERIFY2(error.contains("The project \"" + project + "\" could not be read") && error.count(project) == 1 &&
                 error.contains("nothing was written"),
             qPrintable(error));
    QVERIFY(!QFileInfo::exists(work.filePath("x.pbi")));
}

void StartupTest::windowsVersions_data()
{
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<uint>("build");
    QTest::addColumn<bool>("supported");
    QTest::newRow("Windows 7") << 6u << 1u << 7601u << false;
    QTest::newRow("Windows 8.1") << 6u << 3u << 9600u << false;
    QTest::newRow("Windows 10 1803") << 10u << 0u << 17134u << false;
    QTest::newRow("Windows 10 1809") << 10u << 0u << 17763u << true;
    QTest::newRow("Windows 11") << 10u << 0u << 22631u << true;
    QTest::newRow("a later Windows") << 11u << 0u << 0u << true;
}

void StartupTest::windowsVersions()
{
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(uint, build);
    QTEST(WindowsVersionSupported(major, minor, build), "supported");
}

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
