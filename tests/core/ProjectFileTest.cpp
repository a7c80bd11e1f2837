#include "ProjectFile.h"
#include "ProjectCommands.h"
#include "AppSettings.h"
#include "Document.h"
#include "ScriptedPlatform.h"

#include "TestFiles.h"
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <QTest>

#include <zlib.h>

using namespace hexaloom;

namespace {
// Each row as "number|packer|size|file name|path".
QStringList Rows(const FileListModel& model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c : {0, 1, 2, 3, -1})
            cells << model.CellText(c, r);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

void AddThreeRows(FileListModel& model)
{
    model.AddFileRow(QStringLiteral("payload/one.bin"), 0, QString());
    model.AddFileRow(QStringLiteral("payload/two.wav"), 1, QStringLiteral("---"));
    model.AddFileRow(QStringLiteral("payload/three.txt"), 2, QStringLiteral("1234567890"));
}

// The call log line of a message box titled "Hexaloom".
QString MessageCall(const QString& text, const QString& icon)
{
    return QStringLiteral("Message(%1, %2, %3)").arg(Quoted(QStringLiteral("Hexaloom")), Quoted(text), icon);
}

QString NotFoundCall(const QStringList& paths)
{
    return MessageCall(QStringLiteral("%1 of the project's files were not found; they were left out:\n")
                               .arg(paths.size()) +
                           paths.join(QLatin1Char('\n')),
                       QStringLiteral("Warning"));
}

QString NotSupportedCall(const QString& file)
{
    return MessageCall(QStringLiteral("Projectformat not supported: ") + file, QStringLiteral("None"));
}

QString DamagedMessage(const QString& file)
{
    return MessageCall(QStringLiteral("The project \"%1\" is damaged and was not loaded.").arg(file),
                       QStringLiteral("Error"));
}
} // namespace

class ProjectFileTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void open_data();
    void open();
    void openAsksWhenNoPathIsGiven();
    void openWithRowsStartsSecondCopy();
    void saveWritesKnownHeaderAndStream();
    void saveNames_data();
    void saveNames();
    void asksBeforeReplacingTheFileANameBecomes_data();
    void asksBeforeReplacingTheFileANameBecomes();
    void textsAreCutToTheirFields_data();
    void textsAreCutToTheirFields();
    void saveRefusals();
    void refusesPathsLongerThanARecord();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void saveOntoAFolderFails();
    void listedFileThatBecameEmptyKeepsItsRow();

private:
    QString m_data;
    QTemporaryDir m_temp;
    QString m_huge;
};

void ProjectFileTest::initTestCase()
{
    // The fixtures list paths relative to their own folder.
    m_data = QStringLiteral(HEXALOOM_TEST_DATA "/project");
    QVERIFY(QDir::setCurrent(m_data));
    m_huge = m_temp.filePath("huge.hxlm");
    QFile huge(m_huge);
    QVERIFY(huge.open(QIODevice::WriteOnly));
    huge.write("HXLM 1.5\r\n");
    QVERIFY(huge.resize(qint64(64) << 20)); // sparse
}

void ProjectFileTest::open_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("messages");

    const QStringList three{"1|none|11|one.bin|payload/one.bin", "2|jCalg1|---|two.wav|payload/two.wav",
                            "3|zip|1234567890|three.txt|payload/three.txt"};
    const QStringList two{"1|zip|64|two.wav|payload/two.wav", "2|none|11|one.bin|payload/one.bin"};
    const int loaded = int(OpenProjectResult::Loaded);
    const int damaged = int(OpenProjectResult::Damaged);
    const int unsupported = int(OpenProjectResult::NotSupported);
    QTest::newRow("1.5 binpack") << "v15_binpack.hxlm" << loaded << 2 << three << QStringList();
    QTest::newRow("1.4 sets the format") << "v14_hexdata.hxlm" << loaded << 1 << two << QStringList();
    QTest::newRow("1.0 leaves the format") << "v10.hxlm" << loaded << 0 << two << QStringList();
    QTest::newRow("magic line ended by LF") << "lf_only.hxlm" << loaded << 1 << two << QStringList();
    QTest::newRow("magic line ended by CR") << "cr_only.hxlm" << loaded << 1 << two << QStringList();
    QTest::newRow("magic line ended by zero") << "zero_end.hxlm" << loaded << 1 << two << QStringList();
    QTest::newRow("empty list") << "empty_list.hxlm" << loaded << 2 << QStringList() << QStringList();
    QTest::newRow("exactly the header") << "header_only.hxlm" << loaded << 2 << QStringList() << QStringList();
    // An empty file is a file: it keeps its row, and the numbers of the rows after it.
    QTest::newRow("missing and folder entries; an empty file is a file")
        << "missing_files.hxlm" << loaded << 1
        << QStringList{"1|none|0|empty.bin|payload/empty.bin", "2|jCalg1|11|one.bin|payload/one.bin"}
        << QStringList{NotFoundCall({"payload/gone.bin", "payload"})};
    QTest::newRow("unknown packer kinds")
        << "unknown_packer.hxlm" << loaded << 0
        << QStringList{"1||11|one.bin|payload/one.bin", "2||11|one.bin|payload/one.bin"} << QStringList();
    QTest::newRow("lower-case magic") << "lowercase_magic.hxlm" << unsupported << 0 << QStringList()
                                      << QStringList{NotSupportedCall("lowercase_magic.hxlm")};
    QTest::newRow("unknown version") << "future_version.hxlm" << unsupported << 0 << QStringList()
                                     << QStringList{NotSupportedCall("future_version.hxlm")};
    for (const char* name :
         {"damaged_stream.hxlm", "truncated_stream.hxlm", "wrong_length_long.hxlm", "wrong_length_short.hxlm",
          "stream_too_short.hxlm", "negative_count.hxlm", "negative_count15.hxlm", "negative_count_whole.hxlm",
          "bad_format.hxlm", "format_one_past.hxlm", "header_cut.hxlm", "magic_only.hxlm"})
        QTest::newRow(name) << name << damaged << 0 << QStringList() << QStringList{DamagedMessage(name)};
    // Larger than any project can be: refused before it is read.
    QTest::newRow("huge file with a valid magic line")
        << m_huge << damaged << 0 << QStringList() << QStringList{DamagedMessage(m_huge)};
    QFile absent(QStringLiteral("nothing_here.hxlm"));
    const QString notFound = absent.open(QIODevice::ReadOnly) ? QString() : absent.errorString(); // the system's words
    QTest::newRow("file that does not exist")
        << "nothing_here.hxlm" << int(OpenProjectResult::Unreadable) << 0 << QStringList()
        << QStringList{MessageCall("The project \"nothing_here.hxlm\" could not be read: " + notFound, "Error")};
}

void ProjectFileTest::open()
{
    QFETCH(QString, fixture);
    QFETCH(int, result);
    QFETCH(QStringList, rows);
    AppSettings settings;
    settings.projectdir = QStringLiteral("/before/");
    settings.projectfile = QStringLiteral("before.hxlm");
    Document document(settings);
    ScriptedPlatform platform;
    QSignalSpy loaded(&document, &Document::projectLoaded);

    const OpenProjectReport report = OpenProject(document, platform, fixture);
    QCOMPARE(int(report.result), result);
    QTEST(document.outputFormat(), "format");
    QCOMPARE(Rows(document.model()), rows);
    QTEST(platform.calls(), "messages");
    if (report.result == OpenProjectResult::Loaded) {
        QCOMPARE(report.added, rows.size());
        QCOMPARE(document.projectFile(), fixture);
        QCOMPARE(document.windowTitle(), QStringLiteral("Hexaloom - ") + fixture.chopped(5));
        QCOMPARE(loaded.count(), 1);
    } else {
        // A refused file changes nothing.
        QCOMPARE(document.projectDir(), QStringLiteral("/before/"));
        QCOMPARE(document.projectFile(), QStringLiteral("before.hxlm"));
        QCOMPARE(document.windowTitle(), QStringLiteral("Hexaloom"));
        QCOMPARE(loaded.count(), 0);
        if (fixture.startsWith(QLatin1String("negative_count"))) // the reason the command line prints
            QCOMPARE(report.reason, QStringLiteral("negative row count"));
    }
}

void ProjectFileTest::openAsksWhenNoPathIsGiven()
{
    AppSettings settings;
    settings.projectdir = QStringLiteral("/projects/");
    Document document(settings);
    ScriptedPlatform platform;
    platform.Answer(QString());
    QCOMPARE(OpenProject(document, platform, QString()).result, OpenProjectResult::Cancelled);
    const QString asked =
        QStringLiteral("OpenFileRequester(\"\", \"/projects/\", \"Hexaloom Projects (*.hxlm)|*hxlm\", 0) -> \"\"");
    QCOMPARE(platform.calls(), QStringList{asked});
    QCOMPARE(document.windowTitle(), QStringLiteral("Hexaloom"));

    platform.Answer(m_data + "/v14_hexdata.hxlm");
    QCOMPARE(OpenProject(document, platform, QString()).result, OpenProjectResult::Loaded);
    QCOMPARE(document.model().rowCount(), 2);
    QCOMPARE(document.projectDir(), m_data + "/");
}

void ProjectFileTest::openWithRowsStartsSecondCopy()
{
    QTemporaryDir dir;
    AppSettings settings;
    settings.portable = true;
    Document document(settings);
    document.setSettingsFilePath(dir.filePath("Hexaloom.prefs"));
    document.setProgramPath(QStringLiteral("/opt/hexaloom/hexaloom"));
    document.setOutputFormat(OutputHexdata);
    document.model().AddFileRow(QStringLiteral("payload/one.bin"), 0, QString());
    ScriptedPlatform platform;

    const QString path = m_data + "/v15_binpack.hxlm";
    QCOMPARE(OpenProject(document, platform, path).result, OpenProjectResult::SecondCopy);
    const QString started = QStringLiteral("StartProgram(\"/opt/hexaloom/hexaloom\", [\"/IGNOREPOS\", %1])");
    QCOMPARE(platform.calls(), QStringList{started.arg(Quoted(path))});
    QCOMPARE(document.model().rowCount(), 1);
    QCOMPARE(document.outputFormat(), int(OutputHexdata));
    QCOMPARE(document.windowTitle(), QStringLiteral("Hexaloom"));
    // The second copy reads the settings at its start, so they were saved first.
    QVERIFY(ReadBytes(dir.filePath("Hexaloom.prefs")).contains("lastoutput = 1\r\n"));
}

void ProjectFileTest::saveWritesKnownHeaderAndStream()
{
    QTemporaryDir dir;
    AppSettings settings;
    Document document(settings);
    AddThreeRows(document.model());
    document.setOutputFormat(OutputBinpack);
    ScriptedPlatform platform;
    const QString path = dir.filePath("three.hxlm");
    QCOMPARE(SaveProject(document, platform, path), SaveProjectResult::Saved);
    QVERIFY(platform.calls().isEmpty());

    const QByteArray bytes = ReadBytes(path);
    QCOMPARE(bytes.left(17), QByteArray("HXLM 1.5\r\n\x03\x00\x02\xBF\x07\x00\x00", 17));
    QByteArray records(1983 + 1, '\0');
    uLongf length = uLongf(records.size());
    QCOMPARE(uncompress(reinterpret_cast<Bytef*>(records.data()), &length,
                        reinterpret_cast<const Bytef*>(bytes.constData() + 17), uLong(bytes.size() - 17)),
             Z_OK);
    QCOMPARE(int(length), 1983);
    // Same rows, same zlib level: the same bytes as the fixture built independently.
    QCOMPARE(bytes, ReadBytes(m_data + "/v15_binpack.hxlm"));
}

void ProjectFileTest::saveNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("title");
    QTest::newRow("no extension") << "Demo"
                                  << "Demo.hxlm"
                                  << "Hexaloom - Demo";
    QTest::newRow("upper-case extension kept") << "Demo.HXLM"
                                               << "Demo.HXLM"
                                               << "Hexaloom - Demo";
    QTest::newRow("other extension") << "demo.txt"
                                     << "demo.txt.hxlm"
                                     << "Hexaloom - demo.txt";
}

void ProjectFileTest::saveNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QTemporaryDir dir;
    AppSettings settings;
    settings.projectdir = dir.path() + "/";
    Document document(settings);
    AddThreeRows(document.model());
    ScriptedPlatform platform;
    platform.Answer(dir.filePath(typed));
    QCOMPARE(SaveProject(document, platform, QString()), SaveProjectResult::Saved);
    const QString asked = QStringLiteral("SaveFileRequester(\"\", %1, \"Hexaloom Projects (*.hxlm)|*hxlm\", 0) -> %2");
    QCOMPARE(platform.calls(), QStringList{asked.arg(Quoted(dir.path() + "/"), Quoted(dir.filePath(typed)))});
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
    QCOMPARE(document.projectFile(), written);
    QCOMPARE(document.projectDir(), dir.path() + "/");
    QTEST(document.windowTitle(), "title");
}

void ProjectFileTest::asksBeforeReplacingTheFileANameBecomes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("saved");
    QTest::newRow("without extension, declined") << "Demo"
                                                 << "no" << true << false;
    QTest::newRow("without extension, accepted") << "Demo"
                                                 << "yes" << true << true;
    // The requester itself asks about the name it was given.
    QTest::newRow("with extension") << "Demo.hxlm"
                                    << "no" << false << true;
}

void ProjectFileTest::asksBeforeReplacingTheFileANameBecomes()
{
    QFETCH(QString, typed);
    QFETCH(QString, answer);
    QFETCH(bool, asked);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QByteArray old = ReadBytes(m_data + "/v14_hexdata.hxlm");
    QVERIFY(WriteBytes(dir.filePath("Demo.hxlm"), old));
    AppSettings settings;
    settings.projectdir = QStringLiteral("/p/");
    Document document(settings);
    AddThreeRows(document.model());
    ScriptedPlatform platform;
    platform.Answer(dir.filePath(typed));
    platform.Answer(answer);
    QCOMPARE(SaveProject(document, platform, QString(), {}, QStringLiteral("Ersetzen?")),
             saved ? SaveProjectResult::Saved : SaveProjectResult::Cancelled);
    QCOMPARE(platform.questionTexts(), asked ? QStringList{"Ersetzen?"} : QStringList());
    QCOMPARE(ReadBytes(dir.filePath("Demo.hxlm")) == old, !saved);
    QCOMPARE(document.projectDir(), saved ? dir.path() + "/" : QStringLiteral("/p/"));
}

void ProjectFileTest::textsAreCutToTheirFields_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("sizeBack");
    QTest::addColumn<QString>("pathBack");
    const QString path320 = "/" + QString(319, QLatin1Char('p'));
    QTest::newRow("10-character size") << "1234567890"
                                       << "/a"
                                       << "1234567890"
                                       << "/a";
    QTest::newRow("11-character size") << "12345678901"
                                       << "/a"
                                       << "1234567890"
                                       << "/a";
    QTest::newRow("320-unit path") << "1" << path320 << "1" << path320;
    QTest::newRow("non-Latin text") << QString::fromUtf8("\xE2\x80\x94") << QString::fromUtf8("/\xE6\x97\xA5.bin")
                                    << QString::fromUtf8("\xE2\x80\x94") << QString::fromUtf8("/\xE6\x97\xA5.bin");
}

void ProjectFileTest::textsAreCutToTheirFields()
{
    QFETCH(QString, size);
    QFETCH(QString, path);
    FileListModel model;
    model.AddFileRow(path, 1, size);
    const ProjectParseResult parsed = ParseProject(EncodeProject(model, OutputHexdata));
    QCOMPARE(parsed.status, ProjectParse::Ok);
    QCOMPARE(parsed.content.records.size(), 1);
    QTEST(parsed.content.records.at(0).size, "sizeBack");
    QTEST(parsed.content.records.at(0).path, "pathBack");
    QCOMPARE(parsed.content.records.at(0).packer, 1);
    QCOMPARE(parsed.content.format, int(OutputHexdata));
}

void ProjectFileTest::saveRefusals()
{
    QTemporaryDir dir;
    AppSettings settings;
    settings.projectdir = QStringLiteral("/p/");
    Document document(settings);
    ScriptedPlatform platform;

    // An empty list is never saved, even after the requester was answered.
    platform.Answer(dir.filePath("empty"));
    QCOMPARE(SaveProject(document, platform, QString()), SaveProjectResult::EmptyList);
    QCOMPARE(platform.callsOf("SaveFileRequester").size(), 1);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    AddThreeRows(document.model());
    platform.clear();
    platform.Answer(QString());
    QCOMPARE(SaveProject(document, platform, QString()), SaveProjectResult::Cancelled);
    QCOMPARE(document.projectDir(), QStringLiteral("/p/"));

    // More rows than the row count field holds: refused before anything is asked or written.
    for (int i = document.model().rowCount(); i <= kProjectMaxRows; ++i)
        document.model().AddFileRow(QStringLiteral("/f"), 0, QStringLiteral("1"));
    platform.clear();
    QCOMPARE(SaveProject(document, platform, dir.filePath("big.hxlm")), SaveProjectResult::TooManyRows);
    QCOMPARE(platform.calls().size(), 1);
    QVERIFY(platform.calls().at(0).startsWith(
        QStringLiteral("Message(\"Hexaloom\", \"The list has 32768 files; a project can hold at most 32767.")));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    QCOMPARE(document.projectDir(), QStringLiteral("/p/"));

    // One row fewer fits.
    document.model().removeRows(0, 1);
    QCOMPARE(SaveProject(document, platform, dir.filePath("big.hxlm")), SaveProjectResult::Saved);
    QCOMPARE(ParseProject(ReadBytes(dir.filePath("big.hxlm"))).content.records.size(), kProjectMaxRows);
}

// Cut, a path would name another file (or half a character): the row would be lost on reopening.
void ProjectFileTest::refusesPathsLongerThanARecord()
{
    QTemporaryDir dir;
    AppSettings settings;
    Document document(settings);
    const QString fits = "/" + QString(319, QLatin1Char('p'));
    const QString cutInAPair = "/" + QString(318, QLatin1Char('p')) + QString::fromUtf8("\xF0\x9F\x98\x80");
    document.model().AddFileRow(fits, 0, QStringLiteral("1"));
    document.model().AddFileRow(cutInAPair, 0, QStringLiteral("1"));
    document.model().AddFileRow(fits + "x", 0, QStringLiteral("1"));
    ScriptedPlatform platform;
    QCOMPARE(SaveProject(document, platform, QString()), SaveProjectResult::PathsTooLong);
    QCOMPARE(platform.calls().size(), 1); // the message; no requester
    const QString message = platform.messageTexts().at(0);
    QVERIFY(message.contains("\n2: " + cutInAPair + "\n3: " + fits + "x"));
    QVERIFY(!message.contains("1: "));
    QVERIFY(EncodeProject(document.model(), 0).isEmpty());

    document.model().removeRows(1, 2);
    QCOMPARE(SaveProject(document, platform, dir.filePath("fits")), SaveProjectResult::Saved);
}

void ProjectFileTest::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<qint64>("failAfter");
    QTest::newRow("at the start") << qint64(0);
    QTest::newRow("after the header") << qint64(17);
    QTest::newRow("inside the stream") << qint64(40);
}

void ProjectFileTest::failedSaveKeepsOldFile()
{
    QFETCH(qint64, failAfter);
    QTemporaryDir dir;
    const QString path = dir.filePath("Demo.hxlm");
    const QByteArray old = ReadBytes(m_data + "/v14_hexdata.hxlm");
    QVERIFY(WriteBytes(path, old));
    AppSettings settings;
    Document document(settings);
    AddThreeRows(document.model());
    document.setWindowTitle(QStringLiteral("Hexaloom - Before"));
    ScriptedPlatform platform;
    const auto failing = [failAfter](QIODevice& device, const QByteArray& bytes) {
        device.write(bytes.left(failAfter));
        return false;
    };
    QCOMPARE(SaveProject(document, platform, path, failing), SaveProjectResult::Failed);
    QCOMPARE(platform.calls(),
             QStringList{MessageCall("The project could not be saved as " + path + ":\nwrite failed", "Error")});
    QCOMPARE(ReadBytes(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Demo.hxlm"});
    // The project keeps the name it had.
    QCOMPARE(document.windowTitle(), QStringLiteral("Hexaloom - Before"));
    QCOMPARE(document.projectFile(), QString());
}

void ProjectFileTest::saveOntoAFolderFails()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("Taken.hxlm")));
    AppSettings settings;
    Document document(settings);
    AddThreeRows(document.model());
    ScriptedPlatform platform;
    QCOMPARE(SaveProject(document, platform, dir.filePath("Taken")), SaveProjectResult::Failed);
    QCOMPARE(platform.messageTexts().size(), 1);
    QVERIFY2(platform.messageTexts()[0].startsWith("The project could not be saved as " + dir.filePath("Taken.hxlm") +
                                                   ":\n") &&
                 !platform.messageTexts()[0].endsWith(":\n"),
             qPrintable(platform.messageTexts()[0]));
    QVERIFY(QFileInfo(dir.filePath("Taken.hxlm")).isDir());
}

void ProjectFileTest::listedFileThatBecameEmptyKeepsItsRow()
{
    QTemporaryDir dir;
    const QString data = dir.filePath("data.bin");
    QVERIFY(WriteBytes(data, "some bytes"));
    AppSettings settings;
    Document document(settings);
    document.model().AddFileRow(data, 2, QString());
    document.model().AddFileRow(QStringLiteral("payload/one.bin"), 0, QString());
    ScriptedPlatform platform;
    const QString project = dir.filePath("p.hxlm");
    QCOMPARE(SaveProject(document, platform, project), SaveProjectResult::Saved);
    QVERIFY(WriteBytes(data, QByteArray()));

    AppSettings other;
    Document reopened(other);
    QCOMPARE(OpenProject(reopened, platform, project).missing, 0);
    QCOMPARE(platform.calls(), QStringList());
    QCOMPARE(Rows(reopened.model()), QStringList({"1|zip|10|data.bin|" + data, "2|none|11|one.bin|payload/one.bin"}));
}

QTEST_GUILESS_MAIN(ProjectFileTest)
#include "ProjectFileTest.moc"
