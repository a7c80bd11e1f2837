// The command-line Create end to end: the real program, a project file, /CREATESILENT=, the exit code.
#include "AppSettings.h"
#include "Document.h"
#include "OutputReader.h"
#include "ProjectFile.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef HEXALOOM_EXE
#define HEXALOOM_EXE "" // the program is not part of this build; the suite is disabled
#endif

using namespace hexaloom;
using namespace hexaloom::test;

namespace {

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A project listing `files` (full paths) with the given packers, for `format`.
QByteArray Project(const QStringList& files, const QStringList& packers, int format)
{
    AppSettings settings;
    Document document(settings);
    for (int i = 0; i < files.size(); ++i) {
        const int row = document.model().AddFileRow(files[i], 0, QStringLiteral("1"));
        document.model().SetCellText(FileListModel::PackerColumn, row, packers.value(i));
    }
    return EncodeProject(document.model(), format);
}

} // namespace

class SilentRoadTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

    // Runs a copy of the program kept in `folder` (its own folder is where relative names point), with
    // its settings below a private home.
    int Run(const QString& folder, const QStringList& arguments, QByteArray* errors = nullptr)
    {
        const QString program = folder + QLatin1Char('/') + QFileInfo(QStringLiteral(HEXALOOM_EXE)).fileName();
        if (!QFile::exists(program))
            QFile::copy(QStringLiteral(HEXALOOM_EXE), program);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_home.path());
        environment.insert("XDG_CONFIG_HOME", m_home.path() + "/config");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_home.path()); // not the program's folder: it must not matter
        process.start(program, arguments);
        if (!process.waitForFinished(120000))
            return -1;
        if (errors)
            *errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private slots:
    void writesEachFormat_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("output");  // as given on the command line
        QTest::addColumn<QString>("written"); // the file that must appear
        QTest::newRow("resource, extension added") << int(OutputResource) << "out"
                                                   << "out.res";
        QTest::newRow("hexdata") << int(OutputHexdata) << "out.pbi"
                                 << "out.pbi";
        QTest::newRow("binpack, extension added") << int(OutputBinpack) << "out"
                                                  << "out.pbi";
    }
    void writesEachFormat()
    {
        QFETCH(int, format);
        QFETCH(QString, output);
        QFETCH(QString, written);
        QTemporaryDir dir;
        const QByteArray a(3000, 'a');
        const QByteArray b = QByteArray("binary\x00\x01\x02", 9).repeated(50);
        WriteBytes(dir.filePath("a.txt"), a);
        WriteBytes(dir.filePath("b.bin"), b);
        WriteBytes(dir.filePath("p.hxlm"),
                   Project({dir.filePath("a.txt"), dir.filePath("b.bin")}, {"zip", "jCalg1"}, format));
        WriteBytes(dir.filePath(written), "old output, replaced without a question");
        QByteArray errors;
        QCOMPARE(Run(dir.path(), {"/CREATESILENT=" + dir.filePath(output), dir.filePath("p.hxlm")}, &errors), 0);
        if (format == OutputResource) {
            const ResourceImage image = ReadResourceFile(dir.filePath(written));
            QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
            QCOMPARE(*image.Get(1), Bytes(a.begin(), a.end()));
            QCOMPARE(*image.Get(2), Bytes(b.begin(), b.end()));
        } else {
            const IncludeImage image = ReadInclude(dir.filePath(written));
            QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
            QCOMPARE(image.kindLine, format == OutputHexdata ? ";{ Hexaloom - HexData" : ";{ Hexaloom - BinPack");
            QCOMPARE(*image.Get(1), Bytes(a.begin(), a.end()));
            QCOMPARE(*image.Get(2), Bytes(b.begin(), b.end()));
        }
    }

    // Relative names, the project's and the output's, are taken in the program's own folder.
    void relativeNamesMeanTheProgramsFolder()
    {
        QTemporaryDir dir;
        WriteBytes(dir.filePath("a.txt"), "some text");
        WriteBytes(dir.filePath("rel.hxlm"), Project({dir.filePath("a.txt")}, {"none"}, OutputHexdata));
        QCOMPARE(Run(dir.path(), {"rel.hxlm", "/CREATESILENT=rel_out.pbi"}), 0);
        QVERIFY(ReadInclude(dir.filePath("rel_out.pbi")).error.isEmpty());
        QVERIFY(!QFile::exists(m_home.filePath("rel_out.pbi")));
    }

    void failsWhenTheOutputLacksAFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("listed file gone") << "gone";
        QTest::newRow("output cannot be written") << "unwritable";
        QTest::newRow("project damaged") << "damaged";
        QTest::newRow("a \",\" in a file name") << "comma";
#ifndef _WIN32 // where every name a file can have is one --extract writes back
        QTest::newRow("a name --extract would not write back") << "colon";
#endif
    }
    void failsWhenTheOutputLacksAFile()
    {
        QFETCH(QString, what);
        QTemporaryDir dir;
        WriteBytes(dir.filePath("a.txt"), "present");
        QStringList files{dir.filePath("a.txt")};
        if (what == "gone")
            files.append(dir.filePath("gone.txt")); // listed, never there
        const QString odd = dir.filePath(what == "comma" ? "a,b.txt" : "c:d.txt");
        if (what == "comma" || what == "colon") {
            WriteBytes(odd, what.toUtf8());
            files.append(odd);
        }
        QByteArray project = Project(files, {"zip", "zip"}, OutputHexdata);
        if (what == "damaged")
            project.truncate(project.size() - 3);
        WriteBytes(dir.filePath("p.hxlm"), project);
        if (what == "unwritable")
            QVERIFY(QDir(dir.path()).mkdir("out.pbi"));
        QByteArray errors;
        QCOMPARE(Run(dir.path(), {"/CREATESILENT=" + dir.filePath("out.pbi"), dir.filePath("p.hxlm")}, &errors), 1);
        QVERIFY2(!errors.isEmpty(), "the reason goes to stderr");
        if (what == "damaged" || what == "comma" || what == "colon")
            QVERIFY(!QFile::exists(dir.filePath("out.pbi")));
        if (what == "comma" || what == "colon")
            QVERIFY2(errors.contains(odd.toUtf8()), errors.constData());
        if (what == "gone")
            QVERIFY(ReadInclude(dir.filePath("out.pbi")).error.isEmpty()); // written with what was there
    }
};

QTEST_GUILESS_MAIN(SilentRoadTest)
#include "SilentRoadTest.moc"
