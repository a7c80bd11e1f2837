// The command line for build scripts: the option parser as a table; --create from a folder tree against
// the same list created through a project, byte for byte; outputs left alone when unchanged; the clash
// warning; list, verify and extract on every format, damaged outputs and hostile catalog names; the real
// program without a display and without settings.
#include "BuildRoad.h"
#include "AtomicFile.h"
#include "BuildOptions.h"
#include "FileListModel.h"
#include "IncludeWriter.h"
#include "InputFiles.h"
#include "PackedBlock.h"
#include "ProjectFile.h"
#include "ResourceWriter.h"
#include "TestFiles.h"
#include "UpdateInfo.h"
#include "Version.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace hexaloom;

namespace {

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

QString ReadBack(std::FILE* file)
{
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, qsizetype(n));
    std::fclose(file);
    return QString::fromLocal8Bit(bytes);
}

// The road in this process, with the current folder set to `folder`.
Result Hexaloom(const QString& folder, const QStringList& parameters, ProgressLine progress = ProgressLine::None)
{
    const QString before = QDir::currentPath();
    QDir::setCurrent(folder);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Result result;
    result.code = RunBuildCommand(parameters, out, err, progress);
    result.out = ReadBack(out);
    result.err = ReadBack(err);
    QDir::setCurrent(before);
    return result;
}

// The lines a terminal shows of `text`: "\r" goes back to the start of the line, "\033[K" clears the rest.
QStringList OnTerminal(const QString& text)
{
    QStringList lines{QString()};
    qsizetype column = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QString& line = lines.last();
        if (text.mid(i, 3) == QLatin1String("\033[K")) {
            line.truncate(column);
            i += 2;
        } else if (text[i] == '\r') {
            column = 0;
        } else if (text[i] == '\n') {
            lines.append(QString());
            column = 0;
        } else {
            line.insert(column, text[i]);
            line.remove(++column, 1);
        }
    }
    for (QString& line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    return lines;
}

// A one-line picture of parsed options for the table.
QString Describe(const BuildOptions& o)
{
    static const char* commands[] = {"create", "list", "verify", "extract", "help", "version"};
    QStringList parts{QString::fromLatin1(commands[int(o.command)])};
    if (!o.output.isEmpty())
        parts << "out=" + o.output;
    if (!o.folder.isEmpty())
        parts << "dir=" + o.folder;
    if (o.format >= 0)
        parts << QStringLiteral("format=%1").arg(o.format);
    if (o.packer != PackerNone)
        parts << QStringLiteral("packer=%1").arg(o.packer);
    if (o.level != kPackLevelDefault)
        parts << QStringLiteral("level=%1").arg(o.level);
    for (const PackRule& rule : o.packRules)
        parts << QStringLiteral("pack=%1:%2").arg(rule.glob).arg(rule.packer);
    for (const QString& glob : o.includes)
        parts << "include=" + glob;
    for (const QString& glob : o.excludes)
        parts << "exclude=" + glob;
    if (!o.project.isEmpty())
        parts << "project=" + o.project;
    if (!o.saveProject.isEmpty())
        parts << "save=" + o.saveProject;
    if (!o.inputs.isEmpty())
        parts << "inputs=" + o.inputs.join(',');
    if (!o.against.isEmpty())
        parts << "against=" + o.against.join(',');
    for (const auto& [flag, name] : {std::pair{o.force, "force"}, {o.strict, "strict"}, {o.quiet, "quiet"}}) {
        if (flag)
            parts << name;
    }
    return parts.join(' ');
}

// The program itself, started in `folder`, with the test's environment.
[[maybe_unused]] QProcess* Start(const QString& folder, const QStringList& parameters)
{
    auto* process = new QProcess;
    process->setWorkingDirectory(folder);
    process->start(QStringLiteral(HEXALOOM_EXECUTABLE), parameters);
    return process;
}

// `program` (the program itself when empty) started in `folder` with `variable` set in its environment.
[[maybe_unused]] void StartWith(QProcess& process, const QString& folder, const QString& variable, const QString& value,
                                const QStringList& parameters, const QString& program = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variable, value);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(program.isEmpty() ? QStringLiteral(HEXALOOM_EXECUTABLE) : program, parameters);
}

// The temporary files of running saves in `folder`.
[[maybe_unused]] QStringList Temporaries(const QString& folder)
{
    return QDir(folder).entryList({".hexaloom-*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
}

QByteArray Text(int lines, int seed)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "line " + QByteArray::number(i * seed) + " of a file that packs well\n";
    return text;
}

} // namespace

class BuildRoadTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesOptions_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<QString>("expected"); // Describe() of the options, or "error: " and part of the message
        QTest::newRow("help") << QStringList{"--help"} << "help";
        QTest::newRow("version, quiet") << QStringList{"--version", "--quiet"} << "version quiet";
        QTest::newRow("create a folder") << QStringList{"--create", "o.pbi", "assets"}
                                         << "create out=o.pbi inputs=assets";
        QTest::newRow("every create option")
            << QStringList{"--create=o.res",
                           "--format",
                           "BinPack",
                           "--packer=jCalg1",
                           "--pack",
                           "*.png=none",
                           "--pack=a=b=zip",
                           "--include",
                           "*.txt",
                           "--exclude=x/**",
                           "--save-project",
                           "p.hxlm",
                           "--force",
                           "--strict",
                           "a",
                           "b"}
            << "create out=o.res format=2 packer=1 pack=*.png:0 pack=a=b:2 include=*.txt exclude=x/** save=p.hxlm "
               "inputs=a,b force strict";
        QTest::newRow("inputs around options")
            << QStringList{"--create", "o", "a", "--quiet", "b"} << "create out=o inputs=a,b quiet";
        QTest::newRow("-- ends the options")
            << QStringList{"--create", "o", "--", "--odd", "-x"} << "create out=o inputs=--odd,-x";
        QTest::newRow("project") << QStringList{"--create", "o", "--project", "p.hxlm", "--format", "res"}
                                 << "create out=o format=0 project=p.hxlm";
        QTest::newRow("list") << QStringList{"--list", "o.pbi"} << "list out=o.pbi";
        QTest::newRow("verify") << QStringList{"--verify=o.res"} << "verify out=o.res";
        QTest::newRow("extract") << QStringList{"--extract", "o.pbi", "dir"} << "extract out=o.pbi dir=dir";

        QTest::newRow("level max")
            << QStringList{"--create", "o", "--level", "MAX", "a"} << "create out=o level=10 inputs=a";
        QTest::newRow("level 9") << QStringList{"--create", "o", "--level=9", "a"} << "create out=o inputs=a";
        QTest::newRow("level with a project")
            << QStringList{"--create", "o", "--project", "p", "--level", "max"} << "create out=o level=10 project=p";
        QTest::newRow("bad level") << QStringList{"--create", "o", "--level", "8", "a"}
                                   << "error: --level 8: use 9 or max";
        QTest::newRow("level with list")
            << QStringList{"--list", "o", "--level", "max"} << "error: --level goes with --create only";
        QTest::newRow("no command") << QStringList{"--quiet"} << "error: no command";
        QTest::newRow("unknown option") << QStringList{"--create", "o", "--fast", "a"}
                                        << "error: unknown option --fast";
        QTest::newRow("two commands") << QStringList{"--list", "a", "--verify", "b"} << "error: only one command";
        QTest::newRow("create without output") << QStringList{"--create"} << "error: --create needs the output";
        QTest::newRow("output looks like an option")
            << QStringList{"--create", "--packer", "zip"} << "error: --create needs the output";
        QTest::newRow("create without inputs") << QStringList{"--create", "o"} << "error: needs INPUT";
        QTest::newRow("bad format") << QStringList{"--create", "o", "--format", "zip", "a"}
                                    << "error: --format zip: use hexdata";
        QTest::newRow("bad packer") << QStringList{"--create", "o", "--packer", "lzma", "a"}
                                    << "error: --packer lzma: use none";
        QTest::newRow("pack without packer")
            << QStringList{"--create", "o", "--pack", "*.png", "a"} << "error: use GLOB=PACKER";
        QTest::newRow("pack with empty glob")
            << QStringList{"--create", "o", "--pack", "=zip", "a"} << "error: use GLOB=PACKER";
        QTest::newRow("value missing at the end")
            << QStringList{"--create", "o", "a", "--include"} << "error: --include needs a value";
        QTest::newRow("empty value") << QStringList{"--create", "o", "--exclude=", "a"}
                                     << "error: --exclude needs a value";
        QTest::newRow("flag with a value")
            << QStringList{"--create", "o", "--force=yes", "a"} << "error: --force takes no value";
        QTest::newRow("create option with list")
            << QStringList{"--list", "o", "--packer", "zip"} << "error: --packer goes with --create only";
        QTest::newRow("input after list") << QStringList{"--list", "o", "a"} << "error: unexpected \"a\"";
        QTest::newRow("verify against folders")
            << QStringList{"--verify", "o", "--against", "a", "b", "--quiet"} << "verify out=o against=a,b quiet";
        QTest::newRow("against with list")
            << QStringList{"--list", "o", "--against", "a"} << "error: --against goes with --verify only";
        QTest::newRow("extract without folder")
            << QStringList{"--extract", "o"} << "error: needs the output file and a folder";
        QTest::newRow("project and inputs")
            << QStringList{"--create", "o", "--project", "p", "a"} << "error: no INPUT as well";
        QTest::newRow("project and pack rules") << QStringList{"--create", "o", "--project", "p", "--pack", "*=zip"}
                                                << "error: --pack does not go with --project";
        QTest::newRow("project and exclude") << QStringList{"--create", "o", "--project", "p", "--exclude", "*.psd"}
                                             << "error: --exclude does not go with --project";
        QTest::newRow("help with a value") << QStringList{"--help=me"} << "error: --help takes no value";
        QTest::newRow("extract folder looks like an option")
            << QStringList{"--extract", "o", "--quiet"} << "error: needs the output file and a folder";
        QTest::newRow("project and save-project")
            << QStringList{"--create", "o", "--project", "p", "--save-project", "q"}
            << "error: --save-project does not go with --project";
        QTest::newRow("extract into an empty folder name")
            << QStringList{"--extract", "o", ""} << "error: needs the output file and a folder";
    }
    void parsesOptions()
    {
        QFETCH(QStringList, parameters);
        QFETCH(QString, expected);
        const ParsedBuildOptions parsed = ParseBuildOptions(parameters);
        if (expected.startsWith("error: ")) {
            QVERIFY2(parsed.error.contains(expected.mid(7)), qPrintable(parsed.error));
            QVERIFY(!parsed.error.contains('\n'));
            QTemporaryDir dir;
            const Result run = Hexaloom(dir.path(), parameters);
            QCOMPARE(run.code, kExitUsage);
            QCOMPARE(run.err.count('\n'), 1);
            return;
        }
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(Describe(parsed.options), expected);
    }

    // cmd hands "C:\out dir\" over as C:\out dir" (\" is a quote mark by the Windows rules).
    void windowsQuotes_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<QString>("expected"); // as in parsesOptions
        QTest::newRow("extract into a quoted folder")
            << QStringList{"--extract", "data.res", "C:\\out dir\""} << "extract out=data.res dir=C:\\out dir\\";
        QTest::newRow("quoted folder as an INPUT")
            << QStringList{"--create", "o.pbi", "C:\\my assets\"", "b"} << "create out=o.pbi inputs=C:\\my assets\\,b";
        QTest::newRow("the rest of the line went into it")
            << QStringList{"--extract", "data.res", "C:\\out dir\" --quiet"}
            << "error: a double quote in C:\\out dir\" --quiet: a quoted name ending in \\ keeps its closing quote";
        QTest::newRow("quote inside a glob") << QStringList{"--create", "o.pbi", "--exclude", "a\"b", "x"}
                                             << "error: a double quote in a\"b";
        QTest::newRow("an empty parameter") << QStringList{"--create", "o.pbi", "", "b"} << "as elsewhere";
    }
    void windowsQuotes()
    {
        QFETCH(QStringList, parameters);
        QFETCH(QString, expected);
        const ParsedBuildOptions parsed = ParseBuildOptions(parameters, true);
        if (expected == "as elsewhere") {
            const ParsedBuildOptions elsewhere = ParseBuildOptions(parameters, false);
            QCOMPARE(parsed.error + Describe(parsed.options), elsewhere.error + Describe(elsewhere.options));
            return;
        }
        if (expected.startsWith("error: "))
            QVERIFY2(parsed.error.startsWith(expected.mid(7)), qPrintable(parsed.error));
        else
            QCOMPARE(Describe(parsed.options), expected);
        // Elsewhere a double quote is a letter like any other in a name.
        QCOMPARE(ParseBuildOptions(parameters, false).error, QString());
    }
    void helpQuotesAsTheShell()
    {
        QVERIFY(BuildUsage(false).contains("--pack '*.png=none' --exclude '*.psd' assets"));
        QVERIFY(BuildUsage(true).contains("--pack \"*.png=none\" --exclude \"*.psd\" assets"));
        QVERIFY(BuildUsage(true).contains("The program's own command line"));
    }

    // However the progress line is drawn, nothing of it is left on the screen once the run ends.
    void progressLineLeavesNothing_data()
    {
        QTest::addColumn<int>("progress");
        QTest::newRow("a terminal") << int(ProgressLine::Escapes);
        QTest::newRow("a console without escape sequences") << int(ProgressLine::Plain);
    }
    void progressLineLeavesNothing()
    {
        QFETCH(int, progress);
        QTemporaryDir dir;
        for (int i = 1; i <= 12; ++i)
            QVERIFY(WriteBytes(dir.filePath(QStringLiteral("in/%1.txt").arg(i)), Text(200, i)));
        const Result run = Hexaloom(dir.path(), {"--create", "o.pbi", "in"}, ProgressLine(progress));
        QCOMPARE(run.code, kExitOk);
        QVERIFY2(run.err.contains("packing 12 of 12"), qPrintable(run.err));
        QCOMPARE(run.err.contains('\033'), progress == int(ProgressLine::Escapes));
        QCOMPARE(OnTerminal(run.err), QStringList());
    }

    void matchesGlobs_data()
    {
        QTest::addColumn<QString>("glob");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("matches");
        QTest::newRow("name anywhere") << "*.png"
                                       << "a/b/logo.PNG" << true;
        QTest::newRow("* stays in a folder") << "a/*.png"
                                             << "a/b/logo.png" << false;
        QTest::newRow("** crosses folders") << "a/**.png"
                                            << "a/b/logo.png" << true;
        QTest::newRow("**/ may be no folder") << "**/logo.png"
                                              << "logo.png" << true;
        QTest::newRow("? is one character") << "f?.dat"
                                            << "f10.dat" << false;
        QTest::newRow("set") << "f[13579].dat"
                             << "f3.dat" << true;
        QTest::newRow("negated set") << "f[!13579].dat"
                                     << "f3.dat" << false;
        QTest::newRow("negated set stays in a folder") << "a[!x]b/c.txt"
                                                       << "a/b/c.txt" << false;
        QTest::newRow("regex characters are plain") << "a+(b).txt"
                                                    << "a+(b).txt" << true;
        QTest::newRow("unclosed bracket is plain") << "[ab"
                                                   << "[ab" << true;
    }
    void matchesGlobs()
    {
        QFETCH(QString, glob);
        QFETCH(QString, path);
        QTEST(Glob(glob).Matches(path), "matches");
    }

    // Every file of a walked folder is in the output or the run says why: names the system cannot spell,
    // and names --extract would not write back, are refused by name; harmless ones go and come back.
    void accountsForEveryInput_data()
    {
        QTest::addColumn<QByteArray>("name"); // the file's name as bytes
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("name not valid in the system's encoding")
            << QByteArray("\xE9t\xE9.txt") << QStringList() << int(kExitFailed)
            << "\\xe9t\\xe9.txt\": its name is not valid in the system's encoding";
        QTest::newRow("backslash") << QByteArray("back\\slash.txt") << QStringList() << int(kExitFailed)
                                   << "back\\slash.txt";
        QTest::newRow("control character") << QByteArray("a\tb.txt") << QStringList() << int(kExitFailed)
                                           << "could not write these file names back";
        QTest::newRow("colon") << QByteArray("c:d.txt") << QStringList() << int(kExitFailed)
                               << "could not write these file names back";
        QTest::newRow("only dots") << QByteArray("...") << QStringList() << int(kExitFailed)
                                   << "could not write these file names back";
        QTest::newRow("two dots inside a name") << QByteArray("a..b.txt") << QStringList() << int(kExitOk) << "";
        QTest::newRow("--pack rule with an unclosed [") << QByteArray("a.txt") << QStringList{"--pack", "[=zip"}
                                                        << int(kExitOk) << "\"[\" has no \"]\"";
        QTest::newRow("--pack rule matching nothing") << QByteArray("a.txt") << QStringList{"--pack", "*.png=none"}
                                                      << int(kExitOk) << "--pack \"*.png=...\" matches no file";
    }
    void accountsForEveryInput()
    {
#ifdef _WIN32
        QSKIP("names of bytes are POSIX's");
#else
        QFETCH(QByteArray, name);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/z.txt"), "z"));
        const QByteArray path = QFile::encodeName(dir.filePath("in/")) + name;
        std::FILE* file = std::fopen(path.constData(), "wb");
        QVERIFY(file && std::fputs("bytes", file) >= 0 && std::fclose(file) == 0);
        const Result run = Hexaloom(dir.path(), QStringList{"--create", "out.pbi", "in"} + options);
        ::unlink(path.constData()); // a name Qt cannot remove
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        if (code != kExitOk) {
            QVERIFY(!QFile::exists(dir.filePath("out.pbi")));
            return;
        }
        QCOMPARE(Hexaloom(dir.path(), {"--extract", "out.pbi", "back"}).code, kExitOk);
        QCOMPARE(ReadBytes(QFile::decodeName(QFile::encodeName(dir.filePath("back/")) + name)), QByteArray("bytes"));
#endif
    }

    // A tree with include, exclude and pack rules gives the list a project would hold, and the output that
    // project gives, byte for byte.
    void createsFromATreeAsFromAProject_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("hexdata") << "hexdata";
        QTest::newRow("binpack") << "binpack";
        QTest::newRow("res") << "res";
    }
    void createsFromATreeAsFromAProject()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        const QList<QPair<QString, QByteArray>> tree{
            {"tree/b.txt", Text(40, 1)},     {"tree/A.png", QByteArray(3000, 'p')}, {"tree/.hidden", Text(3, 2)},
            {"tree/sub/x.wav", Text(90, 3)}, {"tree/sub/deep/y.txt", Text(9, 4)},   {"tree/skip/z.txt", Text(5, 5)},
            {"tree/notes.psd", "layers"},    {"extra/named.psd", "named directly"}, {"tree/empty.txt", ""}};
        for (const auto& [path, bytes] : tree)
            QVERIFY(WriteBytes(dir.filePath(path), bytes));
        QVERIFY(QDir(dir.path()).mkpath("tree/empty folder"));
        QVERIFY(QDir(dir.path()).mkpath("a"));
        const Result run =
            Hexaloom(dir.path(), {"--create", "a/out",         "--format",        format,           "--packer",
                                  "zip",      "--pack",        "*.png=none",      "--pack",         "sub/**=jcalg1",
                                  "--pack",   "**/y.txt=none", "--exclude",       "*.psd",          "--exclude",
                                  "skip/*",   "tree",          "extra/named.psd", "--save-project", "a/list.hxlm"});
        QVERIFY2(run.code == kExitOk && run.err.isEmpty(), qPrintable(run.err));

        // Sorted by name, code unit by code unit, every subfolder where its name sorts; the last rule wins.
        FileListModel expected;
        for (const auto& [path, packer] : QList<QPair<QString, int>>{{"tree/.hidden", PackerZip},
                                                                     {"tree/A.png", PackerNone},
                                                                     {"tree/b.txt", PackerZip},
                                                                     {"tree/empty.txt", PackerZip},
                                                                     {"tree/sub/deep/y.txt", PackerNone},
                                                                     {"tree/sub/x.wav", PackerJcalg1},
                                                                     {"extra/named.psd", PackerZip}})
            expected.AddFileRow(QDir::toNativeSeparators(dir.filePath(path)), packer, QString());
        const int formatIndex = format == "res" ? OutputResource : format == "hexdata" ? OutputHexdata : OutputBinpack;
        QCOMPARE(ReadBytes(dir.filePath("a/list.hxlm")), EncodeProject(expected, formatIndex));

        QVERIFY(WriteBytes(dir.filePath("b/expected.hxlm"), EncodeProject(expected, formatIndex)));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "b/out", "--project", "b/expected.hxlm"}).code, kExitOk);
        const QString name = format == "res" ? "out.res" : "out.pbi";
        QCOMPARE(ReadBytes(dir.filePath("a/" + name)), ReadBytes(dir.filePath("b/" + name)));
        QCOMPARE(ReadBytes(dir.filePath("a/out.binpack")), ReadBytes(dir.filePath("b/out.binpack")));
        QVERIFY(QDir(dir.filePath("a")).entryList(QDir::Hidden | QDir::NoDotAndDotDot | QDir::AllEntries).size() ==
                (format == "binpack" ? 3 : 2)); // no staging folder left behind
    }

    // --level max writes smaller blocks that --verify (the program's decoders) reads back.
    void packsAtTheMaxLevel()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(3000, 7)));
        for (const char* packer : {"jcalg1", "zip"}) {
            const QStringList create{"--create", "out.pbi", "--packer", packer, "--quiet", "in"};
            QCOMPARE(Hexaloom(dir.path(), create).code, kExitOk);
            const qint64 level9 = QFileInfo(dir.filePath("out.pbi")).size();
            QCOMPARE(Hexaloom(dir.path(), create + QStringList{"--level", "max"}).code, kExitOk);
            QVERIFY2(QFileInfo(dir.filePath("out.pbi")).size() < level9, packer);
            QCOMPARE(Hexaloom(dir.path(), {"--verify", "out.pbi", "--against", "in", "--quiet"}).code, kExitOk);
        }
    }

    void leavesAnUnchangedOutputAlone()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(50, 1)));
        QVERIFY(WriteBytes(dir.filePath("in/b.txt"), Text(60, 2)));
        // The output inside its INPUT folder is not taken as an input again.
        const QStringList create{"--create", "in/out.pbi", "--format", "binpack", "in"};
        QCOMPARE(Hexaloom(dir.path(), create).out, "written in/out.binpack\nwritten in/out.pbi\n");
        const QDateTime old = QDateTime::currentDateTime().addDays(-3);
        for (const char* name : {"in/out.pbi", "in/out.binpack"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        auto stamp = [&](const char* name) { return QFileInfo(dir.filePath(name)).lastModified(); };

        QCOMPARE(Hexaloom(dir.path(), create).out, "unchanged in/out.binpack\nunchanged in/out.pbi\n");
        QCOMPARE(stamp("in/out.pbi"), old);
        QCOMPARE(stamp("in/out.binpack"), old);
        // New bytes in one file of the same length: the pack file changes, the include does not.
        QVERIFY(WriteBytes(dir.filePath("in/b.txt"), Text(60, 2).replace("line 0 ", "line X ")));
        QCOMPARE(Hexaloom(dir.path(), create).out, "written in/out.binpack\nunchanged in/out.pbi\n");
        QVERIFY(stamp("in/out.binpack") > old);
        QCOMPARE(stamp("in/out.pbi"), old);
        QCOMPARE(Hexaloom(dir.path(), create + QStringList{"--force"}).out,
                 "written in/out.binpack\nwritten in/out.pbi\n");
        QVERIFY(stamp("in/out.pbi") > old);
        QVERIFY(Hexaloom(dir.path(), create + QStringList{"--quiet"}).out.isEmpty());
    }

    void warnsAboutClashes_data()
    {
        QTest::addColumn<bool>("strict");
        QTest::newRow("warning") << false;
        QTest::newRow("--strict") << true;
    }
    void warnsAboutClashes()
    {
        QFETCH(bool, strict);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("a/Logo.png"), "one"));
        QVERIFY(WriteBytes(dir.filePath("b/logo.PNG"), "two"));
        QStringList parameters{"--create", "out.res", "a", "b"};
        if (strict)
            parameters << "--strict";
        const Result run = Hexaloom(dir.path(), parameters);
        QCOMPARE(run.code, strict ? kExitFailed : kExitOk);
        QVERIFY2(run.err.contains(QDir::toNativeSeparators(dir.filePath("a/Logo.png")) + " and " +
                                  QDir::toNativeSeparators(dir.filePath("b/logo.PNG"))),
                 qPrintable(run.err));
        QCOMPARE(QFile::exists(dir.filePath("out.res")), !strict);
    }

    // Every format and packer reads back; a damaged output is caught by --verify and --list names it.
    void listsVerifiesAndExtracts_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("packer");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("verdict"); // what --verify must say on stderr; empty for a sound output
        for (const char* format : {"hexdata", "binpack", "res"}) {
            for (const char* packer : {"none", "jcalg1", "zip"})
                QTest::newRow(QByteArray(format) + ", " + packer) << format << packer << ""
                                                                  << "";
        }
        QTest::newRow("hexdata, flipped digit") << "hexdata"
                                                << "zip"
                                                << "flip"
                                                << "file 1 (a.txt): its zip block";
        // A raw file has no checksum: only the comparison with its source sees the change.
        QTest::newRow("hexdata, raw file flipped") << "hexdata"
                                                   << "none"
                                                   << "raw flip"
                                                   << "file 1 (a.txt): differs from in/a.txt";
        QTest::newRow("hexdata, source grew since")
            << "hexdata" << "none" << "source grew" << "file 1 (a.txt): differs from in/a.txt";
        QTest::newRow("binpack, pack file cut") << "binpack"
                                                << "jcalg1"
                                                << "cut pack"
                                                << "(cut short?)";
        QTest::newRow("binpack, flipped byte") << "binpack"
                                               << "jcalg1"
                                               << "flip"
                                               << "file 1 (a.txt): its jCalg1 block";
        QTest::newRow("res, wrong header") << "res"
                                           << "zip"
                                           << "header"
                                           << "no 32-bit resource file";
        QTest::newRow("res, type name flipped") << "res"
                                                << "zip"
                                                << "type"
                                                << "file 1 (a.txt): no data";
        QTest::newRow("res, last type name flipped") << "res"
                                                     << "zip"
                                                     << "last type"
                                                     << "file 2 (b.bin): no data";
        QTest::newRow("binpack, catalog count") << "binpack"
                                                << "none"
                                                << "catalog"
                                                << "the catalog counts 3 files";
        QTest::newRow("res, flipped byte") << "res"
                                           << "zip"
                                           << "flip"
                                           << "file 1 (a.txt): its zip block";
        // An empty file is sound and comes back empty; a file that could not be read has no data.
        for (const char* format : {"hexdata", "binpack", "res"})
            QTest::newRow(QByteArray(format) + ", last file empty") << format << "zip"
                                                                    << "empty"
                                                                    << "";
        for (const char* format : {"hexdata", "binpack"})
            QTest::newRow(QByteArray(format) + ", file gone when written") << format << "zip"
                                                                           << "gone"
                                                                           << "file 1 (a.txt): no data";
        QTest::newRow("hexdata, header of packer none without its bytes") << "hexdata"
                                                                          << "zip"
                                                                          << "hollow"
                                                                          << "file 1 (a.txt): its none block";
        // A packer-none block whose hex lines span several of the pieces the reader checks them in.
        QTest::newRow("hexdata, long none block") << "hexdata"
                                                  << "zip"
                                                  << "long none"
                                                  << "";
        QTest::newRow("hexdata, long none block, flipped digit") << "hexdata"
                                                                 << "zip"
                                                                 << "long none flip"
                                                                 << "file 1 (a.txt): its none block";
    }
    void listsVerifiesAndExtracts()
    {
        QFETCH(QString, format);
        QFETCH(QString, packer);
        QFETCH(QString, damage);
        QFETCH(QString, verdict);
        QTemporaryDir dir;
        QByteArray a = Text(80, 7);
        const QByteArray b = QByteArray("\x00\x01\x02\xFF", 4).repeated(300);
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), a));
        QVERIFY(WriteBytes(dir.filePath("in/b.bin"), b));
        if (damage == "empty")
            QVERIFY(WriteBytes(dir.filePath("in/c.txt"), QByteArray()));
        const QString out = format == "res" ? "out.res" : "out.pbi";
        QCOMPARE(Hexaloom(dir.path(), {"--create", out, "--format", format, "--packer", packer, "in"}).code, kExitOk);
        if (damage == "gone" || damage == "hollow" || damage.startsWith("long none")) {
            // As the window writes a file deleted before Create: a block header claiming no bytes (or, damaged,
            // claiming five bytes whose CRC-32 is that of none).
            IncludeWriter writer(format == "hexdata" ? IncludeFormat::Hexdata : IncludeFormat::Binpack, {});
            QVERIFY(writer.Open(dir.filePath(out), false, false, {"a.txt", "b.bin"}));
            Bytes none(kBlockHeaderSize, 0);
            std::copy(std::begin(kBlockMagic), std::end(kBlockMagic), none.begin() + kBlockMagicOffset);
            none[0] = damage == "hollow" ? 5 : 0;
            if (damage.startsWith("long none")) {
                // Bytes that look like a block are stored as a block of packer none, with a CRC-32.
                a = QByteArray(3 << 20, 0x5A);
                std::copy(std::begin(kBlockMagic), std::end(kBlockMagic), a.begin() + kBlockMagicOffset);
                none = PackBlock(Bytes(a.begin(), a.end()), PackerNone);
            }
            const QByteArray catalog("2,a.txt,b.bin", 14);
            QVERIFY(writer.WriteBlock(none, 1) && writer.WriteBlock(Bytes(b.begin(), b.end()), 2) &&
                    writer.WriteBlock(Bytes(catalog.begin(), catalog.end()), 3) && writer.Finish());
            QVERIFY(WriteBytes(dir.filePath("in/a.txt"), a)); // what it was made from
        }

        const QString damaged =
            damage.isEmpty() || damage == "empty" || damage == "gone" || damage == "hollow" || damage == "long none"
                ? QString()
            : damage == "long none flip" ? out
            : format == "binpack"        ? "out.binpack"
                                         : out;
        QByteArray bytes = ReadBytes(dir.filePath(damaged));
        if (damage == "raw flip") {
            const qsizetype digit = bytes.indexOf("Data.l $", bytes.indexOf("out1_Start:")) + 8;
            bytes[digit] = bytes[digit] == '1' ? '2' : '1';
        } else if (damage == "flip" && format == "hexdata") {
            const qsizetype digit = bytes.indexOf("Data.l $", bytes.indexOf("out1_Start:")) + 7 + 8 * 10 + 4;
            bytes[digit] = bytes[digit] == '0' ? '1' : '0';
        } else if (damage == "long none flip") {
            const qsizetype digit = bytes.indexOf("$5A5A5A5A", bytes.size() / 2) + 3;
            bytes[digit] = 'B';
        } else if (damage == "flip") {
            const qsizetype at = bytes.indexOf("VORKEL") + 20;
            bytes[at] = char(bytes[at] ^ 0x10);
        } else if (damage == "type") {
            const QByteArray type("V\0O\0R\0K\0E\0L\0", 12);
            const qsizetype at = bytes.indexOf(type, bytes.indexOf(type) + 1) + 2;
            bytes[at] = char(bytes[at] ^ 0x20);
        } else if (damage == "last type") {
            const qsizetype at = bytes.lastIndexOf(QByteArray("V\0O\0R\0K\0E\0L\0", 12));
            bytes[at] = char(bytes[at] ^ 0x20);
        } else if (damage == "catalog") {
            bytes.replace("2,a.txt,b.bin", "3,a.txt,b,bin");
        } else if (damage == "cut pack") {
            bytes.chop(1);
        } else if (damage == "header") {
            bytes[4] = 33;
        }
        if (!damaged.isEmpty())
            QVERIFY(WriteBytes(dir.filePath(damaged), bytes));
        if (damage == "source grew")
            QVERIFY(WriteBytes(dir.filePath("in/a.txt"), a + "!"));

        const Result verify = Hexaloom(dir.path(), {"--verify", out, "--against", "in"});
        const Result list = Hexaloom(dir.path(), {"--list", out});
        const Result extract = Hexaloom(dir.path(), {"--extract", out, "back"});
        if (!verdict.isEmpty()) {
            QCOMPARE(verify.code, kExitFailed);
            QVERIFY2(verify.err.contains(QDir::toNativeSeparators(verdict)), qPrintable(verify.err)); // the system's separators
            // Nothing in the output tells a raw file's damage, nor a source that changed since.
            const bool outputSound = damage == "raw flip" || damage == "source grew";
            QCOMPARE(extract.code, outputSound ? kExitOk : kExitFailed);
            // Sound files are written all the same.
            QCOMPARE(QFile::exists(dir.filePath("back/a.txt")),
                     damage == "last type" || damage == "catalog" || outputSound);
            if (damage == "catalog")
                QCOMPARE(list.code, kExitFailed);
            return;
        }
        QCOMPARE(verify.code, kExitOk);
        QVERIFY2(verify.out.startsWith("ok out."), qPrintable(verify.out));
        QCOMPARE(list.code, kExitOk);
        const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
        if (packer == "none" && damage.isEmpty()) { // raw files: no checksum, and both commands say so
            QVERIFY2(verify.out.endsWith("\n2 files stored raw carry no checksum\n"), qPrintable(verify.out));
            QVERIFY2(lines[1].contains(" unchecked ") && lines[2].contains(" unchecked "), qPrintable(list.out));
        }
        QCOMPARE(lines.size(), damage == "empty" ? 4 : 3);
        QVERIFY2(lines[1].contains("#HXL_A_TXT") && lines[1].endsWith("a.txt") &&
                     lines[1].contains(QString::number(a.size())),
                 qPrintable(lines[1]));
        QCOMPARE(extract.code, kExitOk);
        QCOMPARE(ReadBytes(dir.filePath("back/a.txt")), a);
        QCOMPARE(ReadBytes(dir.filePath("back/b.bin")), b);
        QCOMPARE(QFileInfo::exists(dir.filePath("back/c.txt")), damage == "empty");
    }

    // A catalog may name anything: extract writes inside DIR only, and each name once, as the file system
    // tells names apart.
    void extractStaysInsideTheFolder_data()
    {
        QTest::addColumn<QString>("bad");     // the second file's catalog name
        QTest::addColumn<QString>("message"); // empty: both files are written
        QTest::newRow("climbs out") << "../evil.txt"
                                    << "does not stay inside";
        QTest::newRow("absolute") << "/tmp/evil.txt"
                                  << "does not stay inside";
        QTest::newRow("backslash") << "..\\evil.txt"
                                   << "does not stay inside";
        QTest::newRow("same name twice") << "ok.txt"
                                         << "file 1 has the same name";
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
        QTest::newRow("same name in other letters' case") << "OK.txt"
                                                          << "file 1 has the same name";
#else
        QTest::newRow("other letters' case: a name of its own") << "OK.txt" << QString();
#endif
    }
    void extractStaysInsideTheFolder()
    {
        QFETCH(QString, bad);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QByteArray catalog = ("2,ok.txt," + bad).toUtf8() + '\0';
        ResourceWriter writer;
        QVERIFY(writer.Open(dir.filePath("out.res")));
        QVERIFY(writer.WriteEntry(
            std::span(reinterpret_cast<const std::uint8_t*>(catalog.constData()), std::size_t(catalog.size())), 1));
        for (const int number : {2, 3}) {
            const QByteArray data = "contents of resource " + QByteArray::number(number);
            QVERIFY(writer.WriteEntry(
                std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size())), number));
        }
        QVERIFY(writer.Finish());
        const Result run = Hexaloom(dir.path(), {"--extract", "out.res", "inside/here"});
        QCOMPARE(run.code, message.isEmpty() ? kExitOk : kExitFailed);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(ReadBytes(dir.filePath("inside/here/ok.txt")), QByteArray("contents of resource 2"));
        const QStringList written = message.isEmpty() ? QStringList{bad, "ok.txt"} : QStringList{"ok.txt"};
        QCOMPARE(QDir(dir.filePath("inside/here")).entryList(QDir::Files, QDir::Name), written);
        QVERIFY(!QFile::exists(dir.filePath("inside/evil.txt")));
    }

#ifndef _WIN32 // links, signals, locks, FIFOs and limits of a POSIX system
    // A link standing at a name in DIR is never written through, whether it leads to a file or nowhere.
    void extractNeverFollowsLinks()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QVERIFY(WriteBytes(dir.filePath("in/b.txt"), Text(30, 2)));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "out.pbi", "in"}).code, kExitOk);
        QVERIFY(WriteBytes(dir.filePath("victim.txt"), "precious"));
        QVERIFY(QDir(dir.path()).mkpath("back"));
        QVERIFY(QFile::link("../victim.txt", dir.filePath("back/a.txt")));
        QVERIFY(QFile::link("../created.txt", dir.filePath("back/b.txt")));
        const Result run = Hexaloom(dir.path(), {"--extract", "out.pbi", "back"});
        QCOMPARE(run.code, kExitFailed);
        QVERIFY2(run.err.contains("file 1 (a.txt): cannot be written: a link stands there"), qPrintable(run.err));
        QVERIFY2(run.err.contains("file 2 (b.txt)"), qPrintable(run.err));
        QCOMPARE(ReadBytes(dir.filePath("victim.txt")), QByteArray("precious"));
        QVERIFY(!QFileInfo::exists(dir.filePath("created.txt")));
        QVERIFY(QFileInfo(dir.filePath("back/a.txt")).isSymLink());
    }

    // A FIFO standing at any output's name stays a FIFO: the run is refused and says why.
    void specialFilesAreNeverReplaced_data()
    {
        QTest::addColumn<QString>("fifo");
        QTest::addColumn<QStringList>("command");
        QTest::newRow("include") << "myfifo.pbi" << QStringList{"--create", "myfifo.pbi", "in"};
        QTest::newRow("resource file") << "x.res" << QStringList{"--create", "x.res", "in"};
        QTest::newRow("pack file") << "out.binpack" << QStringList{"--create", "out.pbi", "--format", "binpack", "in"};
        QTest::newRow("project") << "p.hxlm" << QStringList{"--create", "o.pbi", "in", "--save-project", "p.hxlm"};
        QTest::newRow("extract target") << "back/a.txt" << QStringList{"--extract", "made.pbi", "back"};
    }
    void specialFilesAreNeverReplaced()
    {
        QFETCH(QString, fifo);
        QFETCH(QStringList, command);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "made.pbi", "in"}).code, kExitOk);
        QVERIFY(QDir(dir.path()).mkpath("back"));
        const QByteArray local = QFile::encodeName(dir.filePath(fifo));
        QVERIFY(::mkfifo(local.constData(), 0600) == 0);
        const Result run = Hexaloom(dir.path(), command);
        QCOMPARE(run.code, kExitFailed);
        QVERIFY2(run.err.contains("not a regular file"), qPrintable(run.err));
        struct stat info;
        QVERIFY(::lstat(local.constData(), &info) == 0 && S_ISFIFO(info.st_mode));
        QCOMPARE(Temporaries(dir.path()), QStringList());
    }

    // A signal between the pair's two renames waits for the second; a kill that cannot wait leaves a split
    // pair that --verify reports and the next run in the folder puts together.
    void pairSurvivesASignalBetweenItsRenames_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGKILL") << true;
    }
    void pairSurvivesASignalBetweenItsRenames()
    {
        QFETCH(bool, kill);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        const QStringList create{"--create", "out.pbi", "--format", "binpack", "in"};
        QCOMPARE(Hexaloom(dir.path(), create).code, kExitOk);
        const QByteArray oldInclude = ReadBytes(dir.filePath("out.pbi"));
        const QByteArray oldPack = ReadBytes(dir.filePath("out.binpack"));
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(40, 2)));
        QProcess run;
        StartWith(run, dir.path(), "HEXALOOM_TEST_PAIR_PAUSE_MS", "4000", create);
        QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(dir.filePath("out.binpack")) != oldPack, 20000);
        if (kill)
            run.kill();
        else
            run.terminate();
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);
        if (kill) {
            QCOMPARE(ReadBytes(dir.filePath("out.pbi")), oldInclude);
            const Result split = Hexaloom(dir.path(), {"--verify", "out.pbi"});
            QCOMPARE(split.code, kExitFailed);
            QVERIFY2(split.err.contains("was ended between the two"), qPrintable(split.err));
            QCOMPARE(Hexaloom(dir.path(), {"--create", "other.res", "in"}).code, kExitOk);
        }
        QVERIFY(ReadBytes(dir.filePath("out.pbi")) != oldInclude);
        const Result verify = Hexaloom(dir.path(), {"--verify", "out.pbi"});
        QVERIFY2(verify.code == kExitOk, qPrintable(verify.err));
        QCOMPARE(Temporaries(dir.path()), QStringList());
    }

    // A binpack include reached through a link gets its pack file beside itself, where IncludeBinary
    // looks; a waiting run names the output the other run writes.
    void linkedIncludeAndTheRunWaitedFor()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QVERIFY(WriteBytes(dir.filePath("real/out.pbi"), "old"));
        QVERIFY(QFile::link(dir.filePath("real/out.pbi"), dir.filePath("link.pbi")));
        const Result linked = Hexaloom(dir.path(), {"--create", "link.pbi", "--format", "binpack", "in"});
        QVERIFY2(linked.code == kExitOk, qPrintable(linked.err));
        QVERIFY(QFile::exists(dir.filePath("real/out.binpack")));
        QVERIFY(!QFile::exists(dir.filePath("link.binpack")));
        QCOMPARE(Hexaloom(dir.path(), {"--verify", "link.pbi"}).code, kExitOk);

        QProcess first;
        StartWith(first, dir.path(), "HEXALOOM_TEST_PAIR_PAUSE_MS", "3000",
                  {"--create", "other.pbi", "--format", "binpack", "in"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("other.binpack")), 20000);
        const Result second = Hexaloom(dir.path(), {"--create", "out.res", "in"});
        QVERIFY(first.waitForFinished(20000));
        QCOMPARE(second.code, kExitOk);
        QVERIFY2(second.err.contains("another run is writing " + QDir::toNativeSeparators(dir.filePath("other.pbi"))),
                 qPrintable(second.err));
    }

    // A file truncated while --verify reads it (here between its mapping and its reading): no SIGBUS, but
    // the word that it changed, and exit code 1.
    void readerSurvivesATruncation()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/big.bin"), Pattern(4 << 20, 7, false)));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "big.pbi", "in"}).code, kExitOk);
        const QString include = dir.filePath("big.pbi");
        QProcess verify;
        StartWith(verify, dir.path(), "HEXALOOM_TEST_READ_PAUSE_MS", "3000", {"--verify", "big.pbi"});
        QVERIFY(verify.waitForStarted());
        const QString maps = QStringLiteral("/proc/%1/maps").arg(verify.processId());
        QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(maps).contains(QFile::encodeName(include)), 20000);
        QVERIFY(QFile::resize(include, QFileInfo(include).size() / 3));
        QVERIFY(verify.waitForFinished(20000));
        QCOMPARE(verify.exitStatus(), QProcess::NormalExit);
        QCOMPARE(verify.exitCode(), kExitFailed);
        QVERIFY2(verify.readAllStandardError().contains("changed while it was read"), "no word of the change");
    }

    // Names and messages: a control character in OUT, a project's format that OUT's name contradicts, a
    // read-only file system, an existing read-only file extracted over.
    void namesAndMessages_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("newline in OUT") << "newline" << int(kExitFailed) << "cannot hold a control character";
        QTest::newRow("project makes a resource file, OUT an include")
            << "res project" << int(kExitFailed) << "but x.pbi names a PureBasic include";
        QTest::newRow("project makes an include, OUT a resource file")
            << "pbi project" << int(kExitFailed) << "but x.res names a resource file";
        QTest::newRow("1.0 project stores no format, OUT's name decides") << "v10 project" << int(kExitOk) << "";
        QTest::newRow("read-only file system") << "read-only" << int(kExitFailed) << "Read-only file system";
        QTest::newRow("read-only file extracted over") << "extract" << int(kExitOk) << "";
    }
    void namesAndMessages()
    {
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QStringList command{"--create", "out.pbi", "in"};
        if (fault == "newline") {
            command = {"--create", "a\nb.pbi", "--format", "binpack", "in"};
        } else if (fault.endsWith("project")) {
            const bool res = !fault.startsWith("pbi");
            QCOMPARE(Hexaloom(dir.path(), {"--create", res ? "p.res" : "p.pbi", "in", "--save-project", "p"}).code,
                     kExitOk);
            command = {"--create", res ? "x.pbi" : "x.res", "--project", "p.hxlm"};
            if (fault.startsWith("v10")) { // p.res's project as version 1.0 wrote it: a one-byte count, no format
                const QByteArray saved = ReadBytes(dir.filePath("p.hxlm"));
                QVERIFY(WriteBytes(dir.filePath("p.hxlm"), QByteArray(saved).replace(0, 8, "HXLM 1.0").remove(11, 2)));
                command = {"--create", "x.pbi", "--project", "p.hxlm"};
            }
        } else if (fault == "read-only") {
            QCOMPARE(Hexaloom(dir.path(), {"--create", "ro/out.pbi", "in"}).code, kExitFailed); // no folder yet
            QVERIFY(QDir(dir.path()).mkpath("ro"));
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", dir.filePath("ro")}) != 0)
                QSKIP("no file system to mount here");
            const bool written = Hexaloom(dir.path(), {"--create", "ro/out.pbi", "in"}).code == kExitOk;
            const bool readOnly = QProcess::execute("mount", {"-o", "remount,ro", dir.filePath("ro")}) == 0;
            QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(30, 2)));
            const Result run = Hexaloom(dir.path(), {"--create", "ro/out.pbi", "in"});
            QProcess::execute("umount", {dir.filePath("ro")});
            QVERIFY(written && readOnly);
            QCOMPARE(run.code, code);
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
            return;
        } else if (fault == "extract") {
            QVERIFY(WriteBytes(dir.filePath("back/a.txt"), "kept read-only"));
            QVERIFY(QFile::setPermissions(dir.filePath("back/a.txt"), QFile::ReadOwner | QFile::ReadGroup));
            command = {"--extract", "made.pbi", "back"};
        }
        QCOMPARE(Hexaloom(dir.path(), {"--create", "made.pbi", "in"}).code, kExitOk);
        const Result run = Hexaloom(dir.path(), command);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        if (fault == "extract") {
            struct stat info;
            QVERIFY(::stat(QFile::encodeName(dir.filePath("back/a.txt")).constData(), &info) == 0);
            QCOMPARE(info.st_mode & 0777, 0440u);
            return;
        }
        QCOMPARE(QDir(dir.path()).entryList({"x*", "a*"}, QDir::Files | QDir::Hidden),
                 code == kExitOk ? QStringList{"x.pbi"} : QStringList());
    }

    // A run ended by a signal leaves no temporary file the next run could pack: SIGTERM removes its own,
    // and the one a SIGKILL leaves is removed by the next run that writes there.
    void killedRunLeavesNothingToPack_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGKILL") << true;
    }
    void killedRunLeavesNothingToPack()
    {
        QFETCH(bool, kill);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QVERIFY(WriteBytes(dir.filePath("in/big.bin"), Pattern(48 << 20, 3, false)));
        // OUT inside its INPUT folder, as the help allows.
        std::unique_ptr<QProcess> run(Start(dir.path(), {"--create", "in/out.pbi", "--packer", "zip", "in"}));
        QVERIFY(run->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!Temporaries(dir.filePath("in")).isEmpty(), 20000);
        if (kill)
            run->kill();
        else
            run->terminate();
        QVERIFY(run->waitForFinished(20000));
        QCOMPARE(run->exitStatus(), QProcess::CrashExit);
        QVERIFY(!QFile::exists(dir.filePath("in/out.pbi")));
        QCOMPARE(Temporaries(dir.filePath("in")).size(), kill ? 2 : 0); // the output's and the lock's note

        QVERIFY(QFile::remove(dir.filePath("in/big.bin")));
        QVERIFY(WriteBytes(dir.filePath("in/.hexaloom-notes.tmp"), "the user's")); // named like ours, is not
        const Result again = Hexaloom(dir.path(), {"--create", "in/out.pbi", "in"});
        QVERIFY2(again.code == kExitOk, qPrintable(again.err));
        QCOMPARE(Temporaries(dir.filePath("in")), QStringList{".hexaloom-notes.tmp"});
        const Result list = Hexaloom(dir.path(), {"--list", "in/out.pbi"});
        QCOMPARE(list.out.count('\n'), 3); // the title, the user's notes and a.txt
    }

    // On this road a run that cannot read every file writes nothing: the old output stays for make.
    void failedBuildKeepsTheOutput_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("project lists a deleted file") << "deleted";
        QTest::newRow("file unreadable in a folder") << "unreadable";
        QTest::newRow("file too large for the memory limit") << "memory";
    }
    void failedBuildKeepsTheOutput()
    {
        QFETCH(QString, fault);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QVERIFY(WriteBytes(dir.filePath("in/b.txt"), Text(30, 2)));
        const QStringList create = fault == "deleted" ? QStringList{"--create", "out.pbi", "--project", "p.hxlm"}
                                                      : QStringList{"--create", "out.pbi", "in"};
        QCOMPARE(Hexaloom(dir.path(), {"--create", "out.pbi", "in", "--save-project", "p.hxlm"}).code, kExitOk);
        const QByteArray before = ReadBytes(dir.filePath("out.pbi"));
        if (fault == "deleted")
            QVERIFY(QFile::remove(dir.filePath("in/b.txt")));
        else if (fault == "memory")
            QVERIFY(WriteBytes(dir.filePath("in/b.txt"), Pattern(200 << 20, 5, false)));
        else if (::geteuid() == 0)
            QSKIP("root reads every file");
        else
            QVERIFY(QFile::setPermissions(dir.filePath("in/b.txt"), QFile::WriteOwner));
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(25, 1)));
        Result run;
        if (fault == "memory") {
            // A child whose memory cannot hold the file and its packed copy at once.
            QProcess limited;
            limited.setWorkingDirectory(dir.path());
            limited.start("/bin/sh", QStringList{"-c", "ulimit -v 180000; exec \"$0\" \"$@\"",
                                                 QStringLiteral(HEXALOOM_EXECUTABLE)} +
                                         create + QStringList{"--packer", "zip"});
            QVERIFY(limited.waitForFinished(60000));
            run = {limited.exitCode(), QString(), QString::fromLocal8Bit(limited.readAllStandardError())};
        } else {
            run = Hexaloom(dir.path(), create);
        }
        QCOMPARE(run.code, kExitFailed);
        QVERIFY2(run.err.contains("b.txt") &&
                     (run.err.contains("nothing was written") || run.err.contains("the old files were left")),
                 qPrintable(run.err));
        QCOMPARE(ReadBytes(dir.filePath("out.pbi")), before);
    }

    // Outputs, projects and folders hold files only: devices and FIFOs are refused or left out with a
    // word, and a folder reached through two links is walked once.
    void devicesFifosAndLinkWebs()
    {
        QTemporaryDir dir;
        const Result zero = Hexaloom(dir.path(), {"--verify", "/dev/zero"});
        QCOMPARE(zero.code, kExitFailed);
        QVERIFY2(zero.err.contains("not a regular file"), qPrintable(zero.err));
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo.hxlm")).constData(), 0600) == 0);
        const Result project = Hexaloom(dir.path(), {"--create", "o.pbi", "--project", "fifo.hxlm"});
        QCOMPARE(project.code, kExitFailed);

        QVERIFY(WriteBytes(dir.filePath("in/shared/x.txt"), "x"));
        QVERIFY(QDir(dir.path()).mkpath("in/web"));
        // Two links to one folder at each of 12 levels would give 4,096 copies of x.txt if followed twice.
        QString level = dir.filePath("in/shared");
        for (int k = 0; k < 12; ++k) {
            const QString next = dir.filePath(QStringLiteral("in/web/%1").arg(k));
            QVERIFY(QDir().mkpath(next));
            QVERIFY(QFile::link(level, next + "/l"));
            QVERIFY(QFile::link(level, next + "/r"));
            level = next;
        }
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("in/pipe")).constData(), 0600) == 0);
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("in/dangling")));
        const Result run = Hexaloom(dir.path(), {"--create", "o.pbi", "in", "--save-project", "o.hxlm"});
        QVERIFY2(run.code == kExitOk, qPrintable(run.err));
        QVERIFY2(run.err.contains("in/pipe\" is no regular file; left out") &&
                     run.err.contains("in/dangling\" is a link to nothing; left out"),
                 qPrintable(run.err));
        const Result list = Hexaloom(dir.path(), {"--list", "o.pbi"});
        QCOMPARE(list.out.count("x.txt"), 1);
    }

    // The readers unpack in bounded pieces: a sound 256 MiB file verifies and extracts under a limit far
    // below its size, and blocks whose headers claim 2 GiB - 1 cost neither time nor memory.
    void readsInBoundedMemory()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/zeros.bin"), QByteArray(256 << 20, '\0')));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "big.res", "--packer", "zip", "in"}).code, kExitOk);
        QVERIFY(QFile::remove(dir.filePath("in/zeros.bin")));
        // Twenty 34-byte zip blocks that claim 2 GiB - 1 bytes each.
        Bytes lie = PackBlock(Bytes(4000, 7), PackerZip);
        lie.resize(34);
        lie[0] = lie[1] = lie[2] = 0xFF;
        lie[3] = 0x7F;
        QByteArray catalog = "20";
        for (int k = 1; k <= 20; ++k)
            catalog += QByteArray(",f") + QByteArray::number(k);
        catalog += '\0';
        ResourceWriter writer;
        QVERIFY(writer.Open(dir.filePath("lies.res")));
        QVERIFY(writer.WriteEntry(ToBytes(catalog), 1));
        for (int k = 2; k <= 21; ++k)
            QVERIFY(writer.WriteEntry(lie, k));
        QVERIFY(writer.Finish());
        for (const QStringList& command :
             {QStringList{"--verify", "big.res"}, QStringList{"--extract", "big.res", "x"}, QStringList {
                  "--verify",
                  "lies.res"
              }}) {
            QProcess limited;
            limited.setWorkingDirectory(dir.path());
            limited.start("/bin/sh", QStringList{"-c", "ulimit -v 300000; exec \"$0\" \"$@\"",
                                                 QStringLiteral(HEXALOOM_EXECUTABLE)} +
                                         command);
            QVERIFY(limited.waitForFinished(30000));
            const QString error = QString::fromLocal8Bit(limited.readAllStandardError());
            if (command.last() == "lies.res") {
                QCOMPARE(limited.exitCode(), kExitFailed);
                QCOMPARE(error.count("does not unpack to the 2147483647 bytes"), 20);
            } else {
                QVERIFY2(limited.exitCode() == kExitOk, qPrintable(error));
            }
        }
        QCOMPARE(QFileInfo(dir.filePath("x/zeros.bin")).size(), qint64(256) << 20);
    }

    // jCalg1 blocks, decoded whole, share one memory budget however many cores decode: six blocks of
    // 96 MiB verify in a child whose address space holds one of them at a time, not two.
    void decodesWithinAMemoryBudget()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("in"));
        for (int k = 0; k < 6; ++k) {
            QFile file(dir.filePath(QStringLiteral("in/%1.bin").arg(k)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(96 << 20)); // zeros, without writing them
        }
        QCOMPARE(Hexaloom(dir.path(), {"--create", "big.res", "--packer", "jcalg1", "in"}).code, kExitOk);
        QProcess limited;
        StartWith(limited, dir.path(), "HEXALOOM_MEMORY_MB", "150",
                  {"-c", "ulimit -v 280000; exec \"$0\" --verify big.res", QStringLiteral(HEXALOOM_EXECUTABLE)},
                  "/bin/sh");
        QVERIFY(limited.waitForFinished(60000));
        QVERIFY2(limited.exitCode() == kExitOk, limited.readAllStandardError().constData());
    }

    // A "," in a file name is refused before anything is written; an output whose catalog cannot be read
    // name by name is said to be so, not damaged.
    void commaInAFileName()
    {
        QTemporaryDir dir;
        for (const char* name : {"in/a,b.txt", "in/c.txt", "in/z.txt"})
            QVERIFY(WriteBytes(dir.filePath(name), name));
        const Result create = Hexaloom(dir.path(), {"--create", "out.res", "in", "--save-project", "p.hxlm"});
        QCOMPARE(create.code, kExitFailed);
        QVERIFY2(create.err.contains(QDir::toNativeSeparators(dir.filePath("in/a,b.txt"))), qPrintable(create.err));
        QVERIFY(!QFile::exists(dir.filePath("out.res")));
        QVERIFY(!QFile::exists(dir.filePath("p.hxlm")));
        // The catalog holds file names only: a "," in a folder's name is fine.
        QVERIFY(WriteBytes(dir.filePath("in,folder/c.txt"), "c"));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "fine.res", "in,folder"}).code, kExitOk);

        // As an older program wrote it: the catalog's names split into four.
        const QByteArray catalog("3,a,b.txt,c.txt,z.txt\0", 22);
        ResourceWriter writer;
        QVERIFY(writer.Open(dir.filePath("old.res")));
        QVERIFY(writer.WriteEntry(ToBytes(catalog), 1));
        for (int k = 2; k <= 4; ++k)
            QVERIFY(writer.WriteEntry(ToBytes("data " + QByteArray::number(k)), k));
        QVERIFY(writer.Finish());
        const Result verify = Hexaloom(dir.path(), {"--verify", "old.res"});
        QCOMPARE(verify.code, kExitFailed);
        QVERIFY2(verify.err.contains("cannot be read name by name"), qPrintable(verify.err));
        QVERIFY2(verify.out.contains("unreadable by name old.res") && !verify.out.contains("damaged"),
                 qPrintable(verify.out));
        const Result list = Hexaloom(dir.path(), {"--list", "old.res"});
        QVERIFY2(list.err.contains("cannot be read name by name") && !list.out.contains("c.txt"), qPrintable(list.out));
    }

    // Messages name the cause: the system's reason, never "Unknown error" or only what failed.
    void messagesNameTheCause()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        QCOMPARE(Hexaloom(dir.path(), {"--create", "out.pbi", "in"}).code, kExitOk);
        QVERIFY(WriteBytes(dir.filePath("file"), "a file, not a folder"));
        const Result run = Hexaloom(dir.path(), {"--extract", "out.pbi", "file/sub"});
        QCOMPARE(run.code, kExitFailed);
        QVERIFY2(run.err.contains("cannot be made: Not a directory"), qPrintable(run.err));

        // A file that cannot grow (here the process's file size limit; a full disk alike) says why.
        QVERIFY(WriteBytes(dir.filePath("in/big.bin"), Pattern(1 << 20, 1, false)));
        QProcess limited;
        limited.setWorkingDirectory(dir.path());
        limited.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 200; exec \"$0\" --create full.pbi in",
                                  QStringLiteral(HEXALOOM_EXECUTABLE)});
        QVERIFY(limited.waitForFinished(30000));
        QCOMPARE(limited.exitCode(), kExitFailed);
        const QString error = QString::fromLocal8Bit(limited.readAllStandardError());
        QVERIFY2(error.contains("full.pbi: File too large"), qPrintable(error));
        QCOMPARE(Temporaries(dir.path()), QStringList());
    }

#endif

    // A second run on the same output waits for the first: the include and its pack file stay a pair.
    void binpackPairStaysTogether()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(20, 1)));
        const QStringList create{"--create", "out.pbi", "--format", "binpack", "in"};
        QCOMPARE(Hexaloom(dir.path(), create).code, kExitOk);
        const QByteArray oldPack = ReadBytes(dir.filePath("out.binpack"));
        QVERIFY(WriteBytes(dir.filePath("in/a.txt"), Text(40, 2)));

        // While the first run holds the output, a second one says so and waits.
#ifdef Q_OS_WIN
        auto held = std::make_unique<OutputLock>();
        QVERIFY(held->Lock(dir.filePath("OUT.pbi"))); // the same folder, whatever its letter case
#else
        const int folder = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0 && ::flock(folder, LOCK_EX) == 0);
#endif
        std::unique_ptr<QProcess> second(Start(dir.path(), create));
        QVERIFY(!second->waitForFinished(1500));
        QCOMPARE(ReadBytes(dir.filePath("out.binpack")), oldPack);
#ifdef Q_OS_WIN
        held.reset();
#else
        ::close(folder);
#endif
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), kExitOk);
        QVERIFY(second->readAllStandardError().contains("another run is writing in the folder of out.pbi; waiting"));
        const QByteArray newPack = ReadBytes(dir.filePath("out.binpack"));
        QVERIFY(newPack != oldPack);

        QCOMPARE(Temporaries(dir.path()), QStringList());
    }

    // The program itself on this road: no display, no settings read or written, relative names from the
    // folder it is started in.
    void versionIsToldOnce()
    {
        // --version and About show kAppVersion, the update check compares with kOwnVersion: one version.
        QProcess process;
        process.start(QStringLiteral(HEXALOOM_EXECUTABLE), {"--version"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
                 QStringLiteral("hexaloom ") + QLatin1String(kAppVersion));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d{3}$")).match(QLatin1String(kAppVersion)).hasMatch());
        QCOMPARE(VersionNumber(QLatin1String(kAppVersion)), VersionNumber(QLatin1String(kOwnVersion)));
    }

    void runsWithoutDisplayOrSettings()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("work/in.txt"), Text(10, 1)));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("HOME", dir.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.filePath("work"));
        process.start(QStringLiteral(HEXALOOM_EXECUTABLE), {"--create", "out.pbi", "in.txt"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), kExitOk);
#ifdef Q_OS_WIN
        const QByteArray lineEnd = "\r\n"; // the console's text mode
#else
        const QByteArray lineEnd = "\n";
#endif
        QCOMPARE(process.readAllStandardOutput(), "written out.pbi" + lineEnd);
        QVERIFY(QFile::exists(dir.filePath("work/out.pbi")));
        QVERIFY(!QDir(dir.filePath("config")).exists());
        QVERIFY(!QDir(dir.filePath("home")).exists());
    }
};

QTEST_GUILESS_MAIN(BuildRoadTest)
#include "BuildRoadTest.moc"
