#include "CommandLine.h"

#include <QDir>
#include <QHash>
#include <QTest>

using namespace hexaloom;

namespace {
// A file system of a few named files: size in bytes, -1 for a folder.
qint64 FakeProbe(const QString& path)
{
    static const QHash<QString, qint64> files{
        {"C:\\p\\demo.hxlm", 100},
        {"C:\\p\\other.hxlm", 50},
        {"/home/u/demo.hxlm", 100},
        {"C:\\p\\empty.hxlm", 0},
        {"C:\\p\\folder.hxlm", -1},
        {"C:\\p\\notes.txt", 10},
        {"C:\\my files\\my project.hxlm", 10},
        {"C:\\p\\Demo.HxLm", 7},
        {"C:\\p\\noext", 9},
        {"demo.hxlm", 100},
    };
    return files.value(path, -1);
}
} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void parse_data();
    void parse();
    void bareProjectNameMeansCurrentFolder();
};

void CommandLineTest::split_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("parameters");
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("spaces only") << "   " << QStringList();
    QTest::newRow("one") << "prog" << QStringList{"prog"};
    QTest::newRow("several spaces separate once") << "a   b  c" << QStringList{"a", "b", "c"};
    QTest::newRow("leading and trailing spaces") << "  a b  " << QStringList{"a", "b"};
    QTest::newRow("tabs do not separate") << "a\tb c" << QStringList{"a\tb", "c"};
    QTest::newRow("quoted with spaces") << "prog \"C:\\my files\\p.hxlm\" x"
                                        << QStringList{"prog", "C:\\my files\\p.hxlm", "x"};
    QTest::newRow("text after closing quote starts the next") << "\"ab\"cd e" << QStringList{"ab", "cd", "e"};
    QTest::newRow("quotes inside an unquoted parameter stay")
        << "/CREATESILENT=\"out.pbi\" p" << QStringList{"/CREATESILENT=\"out.pbi\"", "p"};
    QTest::newRow("whole switch quoted") << "\"/CREATESILENT=C:\\my out\\o.pbi\""
                                         << QStringList{"/CREATESILENT=C:\\my out\\o.pbi"};
    QTest::newRow("unclosed quote runs to the end") << "a \"b c" << QStringList{"a", "b c"};
    QTest::newRow("empty quotes") << "a \"\" b" << QStringList{"a", "", "b"};
    QTest::newRow("quote directly after a quoted parameter") << "\"a\"\"b\"" << QStringList{"a", "b"};
    QTest::newRow("unquoted then quote in the middle") << "ab\"c d\"" << QStringList{"ab\"c", "d\""};
}

void CommandLineTest::split()
{
    QFETCH(QString, line);
    QTEST(SplitCommandLine(line), "parameters");
}

void CommandLineTest::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("portable");
    QTest::addColumn<bool>("ignorepos");
    QTest::addColumn<QString>("silent");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    const QString none;
    QTest::newRow("nothing") << "prog" << false << false << none << none << none;
    QTest::newRow("program path itself is dropped") << "C:\\p\\demo.hxlm" << false << false << none << none << none;
    QTest::newRow("portable") << "prog /PORTABLE" << true << false << none << none << none;
    QTest::newRow("portable lower case") << "prog /portable" << true << false << none << none << none;
    QTest::newRow("portable with more is not it") << "prog /PORTABLEX" << false << false << none << none << none;
    QTest::newRow("portable beyond 13 characters") << "prog /PORTABLE12345" << false << false << none << none << none;
    QTest::newRow("ignorepos mixed case") << "prog /IgnorePos" << false << true << none << none << none;
    QTest::newRow("ignorepos with more is not it") << "prog /IGNOREPOS=1" << false << false << none << none << none;
    QTest::newRow("silent bare") << "prog /CREATESILENT=out.pbi" << false << false << "out.pbi" << none << none;
    QTest::newRow("silent lower case") << "prog /createsilent=C:\\o.pbi" << false << false << "C:\\o.pbi" << none
                                       << none;
    QTest::newRow("silent quoted name") << "prog /CREATESILENT=\"out.pbi\"" << false << false << "out.pbi" << none
                                        << none;
    QTest::newRow("silent with spaces, whole quoted")
        << "prog \"/CREATESILENT=C:\\my out\\o.pbi\"" << false << false << "C:\\my out\\o.pbi" << none << none;
    QTest::newRow("silent name with spaces unquoted is cut")
        << "prog /CREATESILENT=C:\\my out\\o.pbi" << false << false << "C:\\my" << none << none;
    QTest::newRow("silent prefix only") << "prog /CREATESILENTLY.pbi" << false << false << "/CREATESILENTLY.pbi" << none
                                        << none;
    QTest::newRow("every switch text removed")
        << "prog /CreateSilent=a/createsilent=b" << false << false << "ab" << none << none;
    QTest::newRow("silent without a name") << "prog /CREATESILENT=" << false << false << none << none << none;
    QTest::newRow("project") << "prog C:\\p\\demo.hxlm" << false << false << none << "C:\\p\\"
                             << "demo.hxlm";
    QTest::newRow("project with slashes") << "prog /home/u/demo.hxlm" << false << false << none << "/home/u/"
                                          << "demo.hxlm";
    QTest::newRow("project extension in any case") << "prog C:\\p\\Demo.HxLm" << false << false << none << "C:\\p\\"
                                                   << "Demo.HxLm";
    QTest::newRow("project with spaces quoted")
        << "prog \"C:\\my files\\my project.hxlm\"" << false << false << none << "C:\\my files\\"
        << "my project.hxlm";
    QTest::newRow("project with spaces unquoted")
        << "prog C:\\my files\\my project.hxlm" << false << false << none << none << none;
    QTest::newRow("empty project ignored") << "prog C:\\p\\empty.hxlm" << false << false << none << none << none;
    QTest::newRow("folder ignored") << "prog C:\\p\\folder.hxlm" << false << false << none << none << none;
    QTest::newRow("missing ignored") << "prog C:\\p\\gone.hxlm" << false << false << none << none << none;
    QTest::newRow("other extension ignored") << "prog C:\\p\\notes.txt" << false << false << none << none << none;
    QTest::newRow("no extension ignored") << "prog C:\\p\\noext" << false << false << none << none << none;
    QTest::newRow("last existing project wins")
        << "prog C:\\p\\demo.hxlm C:\\p\\other.hxlm C:\\p\\gone.hxlm" << false << false << none << "C:\\p\\"
        << "other.hxlm";
    QTest::newRow("switch before project")
        << "prog /CREATESILENT=out.pbi C:\\p\\demo.hxlm" << false << false << "out.pbi"
        << "C:\\p\\"
        << "demo.hxlm";
    QTest::newRow("switch after project")
        << "prog C:\\p\\demo.hxlm /CREATESILENT=out.pbi" << false << false << "out.pbi"
        << "C:\\p\\"
        << "demo.hxlm";
    QTest::newRow("last silent output wins")
        << "prog /CREATESILENT=a.pbi /CREATESILENT=b.pbi" << false << false << "b.pbi" << none << none;
    QTest::newRow("everything") << "prog /ignorepos C:\\p\\demo.hxlm /Portable \"/CreateSilent=o.res\"" << true << true
                                << "o.res"
                                << "C:\\p\\"
                                << "demo.hxlm";
}

void CommandLineTest::parse()
{
    QFETCH(QString, line);
    const CommandLine result = ParseCommandLine(line, FakeProbe);
    QTEST(result.portable, "portable");
    QTEST(result.ignorepos, "ignorepos");
    QTEST(result.silentoutput, "silent");
    QTEST(result.projectdir, "dir");
    QTEST(result.projectfile, "file");
}

void CommandLineTest::bareProjectNameMeansCurrentFolder()
{
    const CommandLine result = ParseParameters({QStringLiteral("demo.hxlm")}, FakeProbe);
    QString expected = QDir::toNativeSeparators(QDir::currentPath());
    if (!expected.endsWith(QDir::separator()))
        expected += QDir::separator();
    QCOMPARE(result.projectdir, expected);
    QCOMPARE(result.projectfile, QStringLiteral("demo.hxlm"));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
