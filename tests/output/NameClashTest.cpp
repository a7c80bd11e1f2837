// Two rows with the same file name apart from letter case: found, and told through the seam by Create on
// every road, naming both paths; the output itself is what it would be without the warning.
#include "AppSettings.h"
#include "CreateOutput.h"
#include "Document.h"
#include "OutputNames.h"
#include "ScriptedPlatform.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;

using Pairs = QList<QPair<int, int>>;

class NameClashTest : public QObject
{
    Q_OBJECT

private slots:
    void findsClashes_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<Pairs>("clashes");
        QTest::newRow("none") << QStringList{"a.png", "b.png", "a.pn"} << Pairs{};
        QTest::newRow("same name") << QStringList{"a.png", "b.png", "a.png"} << Pairs{{0, 2}};
        QTest::newRow("letter case") << QStringList{"Logo.PNG", "logo.png"} << Pairs{{0, 1}};
        QTest::newRow("non-ASCII letter case")
            << QStringList{QString::fromUtf8("Ärger.txt"), QString::fromUtf8("ÄRGER.TXT")} << Pairs{{0, 1}};
        QTest::newRow("three alike pair with the first") << QStringList{"x", "y", "X", "x"} << Pairs{{0, 2}, {0, 3}};
        QTest::newRow("same constant, other name") << QStringList{"1.png", "2.png"} << Pairs{};
    }
    void findsClashes()
    {
        QFETCH(QStringList, names);
        QFETCH(Pairs, clashes);
        Pairs found;
        for (const auto& [first, later] : NameClashes(names))
            found.append({first, later});
        QCOMPARE(found, clashes);
    }

    // The warning groups the files by name and tells equal names from names that differ in letter case.
    void warningGroupsByName_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("lines"); // after the first
        QTest::newRow("equal names") << QStringList{"a/x.png", "b/x.png"}
                                     << QStringList{"The same name:", "  x.png: a/x.png and b/x.png"};
        QTest::newRow("letter case") << QStringList{"a/Logo.png", "b/logo.PNG"}
                                     << QStringList{"The same name apart from letter case:",
                                                    "  Logo.png: a/Logo.png and b/logo.PNG"};
        QTest::newRow("three files of one name, each once")
            << QStringList{"a/x", "q", "b/x", "c/x"} << QStringList{"The same name:", "  x: a/x, b/x and c/x"};
        QTest::newRow("both kinds") << QStringList{"a/X", "b/x", "c/y", "d/y"}
                                    << QStringList{"The same name:", "  y: c/y and d/y",
                                                   "The same name apart from letter case:", "  X: a/X and b/x"};
        QTest::newRow("one file listed twice") << QStringList{"a/x", "a/x"} << QStringList();
    }
    void warningGroupsByName()
    {
        QFETCH(QStringList, paths);
        QStringList names;
        for (const QString& path : paths)
            names << path.section('/', -1);
        const QStringList lines = NameClashWarning(paths, names, nullptr).split('\n', Qt::SkipEmptyParts);
        QTEST(lines.mid(1), "lines");
    }

    void createWarnsAndWritesBoth()
    {
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        // The same file twice is no clash: whichever row is found holds the same bytes.
        const QStringList paths{dir.filePath("a/Logo.png"), dir.filePath("other.txt"), dir.filePath("b/logo.PNG"),
                                dir.filePath("other.txt")};
        for (const QString& path : paths) {
            WriteBytes(path, path.toUtf8());
            document.model().AddFileRow(path, PackerNone, QString());
        }
        ScriptedPlatform platform;
        const CreateResult result = CreateOutput(document, platform, dir.filePath("out.pbi"));
        QCOMPARE(int(result.status), int(CreateStatus::Written));
        QCOMPARE(platform.callsOf("WarnProceed").size(), 1);
        const QString warning = platform.questionTexts().value(0);
        QVERIFY2(warning.contains("Logo.png: " + paths[0] + " and " + paths[2]), qPrintable(warning));
        QVERIFY(!warning.contains(paths[1]));
        // Both rows are in the output, in their places.
        const QByteArray include = ReadBytes(dir.filePath("out.pbi"));
        QVERIFY(include.contains("out3_Start:"));
    }
};

QTEST_GUILESS_MAIN(NameClashTest)
#include "NameClashTest.moc"
