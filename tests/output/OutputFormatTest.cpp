// The layouts byte for byte: names, extension rules, hex lines, the whole hexdata example, the resource
// entries and what a real resource tool reads from them.
#include "AppSettings.h"
#include "CreateOutput.h"
#include "Document.h"
#include "LineSink.h"
#include "OutputNames.h"
#include "OutputReader.h"
#include "ScriptedPlatform.h"
#include "TestFiles.h"

#include <QBuffer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;
using namespace hexaloom::test;

namespace {

Bytes B(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

// A template source whose text names the index it was asked for.
TemplateSource NamedTemplates()
{
    return [](int index) {
        const QByteArray text = "\xEF\xBB\xBF; template " + QByteArray::number(index) + "\r\n";
        return std::optional<Bytes>(Bytes(text.begin(), text.end()));
    };
}

QByteArray CrLf(const QStringList& lines)
{
    QByteArray out;
    for (const QString& line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

} // namespace

class OutputFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void settlesExtension_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("settled");
        QTest::newRow("res kept upper") << int(OutputResource) << "C:/x/DATA.RES"
                                        << "C:/x/DATA.RES";
        QTest::newRow("res kept mixed") << int(OutputResource) << "out.Res"
                                        << "out.Res";
        QTest::newRow("rc gets res") << int(OutputResource) << "out.rc"
                                     << "out.rc.res";
        QTest::newRow("bin gets res") << int(OutputResource) << "data.bin"
                                      << "data.bin.res";
        QTest::newRow("bare res name") << int(OutputResource) << "res"
                                       << "res.res";
        QTest::newRow("inc gets pbi") << int(OutputHexdata) << "/p/inc"
                                      << "/p/inc.pbi";
        QTest::newRow("pb kept") << int(OutputHexdata) << "/p/inc.pb"
                                 << "/p/inc.pb";
        QTest::newRow("any extension kept") << int(OutputBinpack) << "/p/inc.txt"
                                            << "/p/inc.txt";
        QTest::newRow("trailing dot") << int(OutputBinpack) << "/p/inc."
                                      << "/p/inc..pbi";
        QTest::newRow("dot in folder only") << int(OutputHexdata) << "/p.d/inc"
                                            << "/p.d/inc.pbi";
#ifdef Q_OS_WIN
        QTest::newRow("dot in backslash folder") << int(OutputHexdata) << "C:\\p.d\\inc"
                                                 << "C:\\p.d\\inc.pbi";
#else
        // "\\" is part of a file name here: the dot is in the name, so it has an extension.
        QTest::newRow("dot before a backslash") << int(OutputHexdata) << "/p/a.d\\inc"
                                                << "/p/a.d\\inc";
#endif
    }
    void settlesExtension()
    {
        QFETCH(int, format);
        QFETCH(QString, path);
        QFETCH(QString, settled);
        QCOMPARE(SettleOutputExtension(path, format), settled);
    }

    void namesConstants_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("constant");
        QTest::newRow("plain") << "New.ico"
                               << "#HXL_NEW_ICO";
        QTest::newRow("leading digit and blank") << "1st tune.mod"
                                                 << "#HXL_STTUNE_MOD";
        QTest::newRow("dash") << "my-logo.png"
                              << "#HXL_MYLOGO_PNG";
        QTest::newRow("leading dot keeps underscore") << ".hidden"
                                                      << "#HXL__HIDDEN";
        QTest::newRow("nothing usable") << "1-2 3"
                                        << "#HXL_";
        QTest::newRow("non-ASCII dropped whatever its case") << QString::fromUtf8("Grüße.txt") << "#HXL_GRE_TXT";
        QTest::newRow("digits after start") << "a1b2.c3"
                                            << "#HXL_A1B2_C3";
    }
    void namesConstants()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, constant);
        QCOMPARE(ConstantName(fileName), constant);
    }

    // Two rows with the same constant would not compile; a list without clashes keeps its names.
    void makesConstantsUnique_data()
    {
        QTest::addColumn<QStringList>("fileNames");
        QTest::addColumn<QStringList>("constants");
        QTest::newRow("no clash") << QStringList{"a.png", "b.png"} << QStringList{"#HXL_A_PNG", "#HXL_B_PNG"};
        QTest::newRow("leading digits") << QStringList{"1.png", "2.png", "3.png"}
                                        << QStringList{"#HXL__PNG", "#HXL__PNG_2", "#HXL__PNG_3"};
        QTest::newRow("non-ASCII names") << QStringList{QString::fromUtf8("файл.txt"),
                                                        QString::fromUtf8("документ.txt")}
                                         << QStringList{"#HXL__TXT", "#HXL__TXT_2"};
        QTest::newRow("same name twice, case apart")
            << QStringList{"x.bin", "X.BIN"} << QStringList{"#HXL_X_BIN", "#HXL_X_BIN_2"};
        QTest::newRow("suffix owned by a later row")
            << QStringList{"a.txt", "a.txt", "a.txt.2"} << QStringList{"#HXL_A_TXT", "#HXL_A_TXT_3", "#HXL_A_TXT_2"};
        QTest::newRow("suffix owned by an earlier row")
            << QStringList{"a.txt.2", "a.txt", "a.txt", "a.txt.2"}
            << QStringList{"#HXL_A_TXT_2", "#HXL_A_TXT", "#HXL_A_TXT_3", "#HXL_A_TXT_2_2"};
        QTest::newRow("many of one name around an owned suffix")
            << QStringList{"a.txt", "a.txt", "a.txt.3", "a.txt", "a.txt"}
            << QStringList{"#HXL_A_TXT", "#HXL_A_TXT_2", "#HXL_A_TXT_3", "#HXL_A_TXT_4", "#HXL_A_TXT_5"};
        QTest::newRow("nothing usable") << QStringList{"1", "2"} << QStringList{"#HXL_", "#HXL__2"};
    }
    void makesConstantsUnique()
    {
        QFETCH(QStringList, fileNames);
        QFETCH(QStringList, constants);
        QCOMPARE(ConstantNames(fileNames), constants);
    }

    // The label base must compile: names that are no valid label are mended, valid ones stay as they are.
    void derivesBaseLabelAndPackFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("pack");
#ifdef Q_OS_WIN
        QTest::newRow("plain") << "C:\\out\\MyData.pbi"
                               << "MyData"
                               << "MyData"
                               << "C:\\out\\MyData.binpack";
        QTest::newRow("backslash separates") << "C:\\o\\back\\slash.pbi"
                                             << "slash"
                                             << "slash"
                                             << "C:\\o\\back\\slash.binpack";
#else
        QTest::newRow("plain") << "/out/MyData.pbi"
                               << "MyData"
                               << "MyData"
                               << "/out/MyData.binpack";
        QTest::newRow("backslash is a character") << "/o/back\\slash.pbi"
                                                  << "back\\slash"
                                                  << "back_slash"
                                                  << "/o/back\\slash.binpack";
        QTest::newRow("backslash after the dot") << "/o/a.b\\c"
                                                 << "a"
                                                 << "a"
                                                 << "/o/a.binpack";
#endif
        QTest::newRow("folder named like the extension") << "/pbi/x.pbi"
                                                         << "x"
                                                         << "x"
                                                         << "/pbi/x.binpack";
        QTest::newRow("underscores and digits") << "/o/my_data_2.pbi"
                                                << "my_data_2"
                                                << "my_data_2"
                                                << "/o/my_data_2.binpack";
        QTest::newRow("blanks kept, label mended") << "/o/my data.v2.pb"
                                                   << "my data.v2"
                                                   << "my_data_v2"
                                                   << "/o/my data.v2.binpack";
        QTest::newRow("hyphen") << "/o/game-data.pbi"
                                << "game-data"
                                << "game_data"
                                << "/o/game-data.binpack";
        QTest::newRow("leading digit") << "/o/2nd.pbi"
                                       << "2nd"
                                       << "_2nd"
                                       << "/o/2nd.binpack";
        QTest::newRow("non-ASCII letter")
            << QString::fromUtf8("/o/Gr\u00fc\u00dfe.pbi") << QString::fromUtf8("Gr\u00fc\u00dfe") << "Gr__e"
            << QString::fromUtf8("/o/Gr\u00fc\u00dfe.binpack");
        QTest::newRow("empty: the number would lead") << "/o/.pbi"
                                                      << ""
                                                      << "_"
                                                      << "/o/.binpack";
    }
    void derivesBaseLabelAndPackFile()
    {
        QFETCH(QString, path);
        QFETCH(QString, base);
        QFETCH(QString, label);
        QFETCH(QString, pack);
        QCOMPARE(OutputBase(path), base);
        QCOMPARE(LabelBase(base), label);
        QCOMPARE(PackFilePath(path), pack);
    }

    void inheritsPackerKinds_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<int>>("kinds");
        QTest::newRow("known") << QStringList{"none", "jCalg1", "zip"} << QList<int>{0, 1, 2};
        QTest::newRow("first unknown is none") << QStringList{"", "zip"} << QList<int>{0, 2};
        QTest::newRow("unknown takes the row above")
            << QStringList{"zip", "ZIP", "x", "jCalg1", "jcalg1", "none", "?"} << QList<int>{2, 2, 2, 1, 1, 0, 0};
    }
    void inheritsPackerKinds()
    {
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, kinds);
        const std::vector<int> got = RowPackerKinds(texts);
        QCOMPARE(QList<int>(got.begin(), got.end()), kinds);
    }

    void spellsDataLines_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << 0 << QStringList{};
        QTest::newRow("one long") << 4 << QStringList{"  Data.l $03020100"};
        QTest::newRow("forty") << 40
                               << QStringList{"  Data.l $03020100,$07060504,$0B0A0908,$0F0E0D0C,$13121110,"
                                              "$17161514,$1B1A1918,$1F1E1D1C,$23222120,$27262524"};
        QTest::newRow("forty-one") << 41
                                   << QStringList{"  Data.l $03020100,$07060504,$0B0A0908,$0F0E0D0C,$13121110,"
                                                  "$17161514,$1B1A1918,$1F1E1D1C,$23222120,$27262524",
                                                  "  Data.b $28"};
        QTest::newRow("forty-seven") << 47
                                     << QStringList{"  Data.l $03020100,$07060504,$0B0A0908,$0F0E0D0C,$13121110,"
                                                    "$17161514,$1B1A1918,$1F1E1D1C,$23222120,$27262524",
                                                    "  Data.l $2B2A2928", "  Data.b $2C,$2D,$2E"};
        QTest::newRow("three bytes") << 3 << QStringList{"  Data.b $00,$01,$02"};
    }
    void spellsDataLines()
    {
        QFETCH(int, length);
        QFETCH(QStringList, lines);
        Bytes bytes(static_cast<std::size_t>(length));
        for (int i = 0; i < length; ++i)
            bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        LineSink sink(buffer, 300); // small, so lines cross buffer flushes
        sink.DataLines(bytes);
        QVERIFY(sink.Flush());
        QCOMPARE(buffer.data(), CrLf(lines));
    }

    void spellsHighBytesInUpperCase()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        LineSink sink(buffer);
        sink.DataLines(B({0xFF, 0xAB, 0x0C, 0xD0, 0xEF, 0x80}));
        QVERIFY(sink.Flush());
        QCOMPARE(buffer.data(), CrLf({"  Data.l $D00CABFF", "  Data.b $EF,$80"}));
    }

    // The example of one five-byte file in MyData.pbi: the template of no packer, then 26 lines.
    void writesTheWholeHexdataExample_data()
    {
        QTest::addColumn<bool>("ownTemplates");
        QTest::newRow("the tool's own template") << true;
        QTest::newRow("a template naming its index") << false;
    }
    void writesTheWholeHexdataExample()
    {
        QFETCH(bool, ownTemplates);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("abc.bin"), QByteArray("\x01\x02\x03\x04\x05", 5)));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        document.model().AddFileRow(dir.filePath("abc.bin"), PackerNone, QString());
        ScriptedPlatform platform;
        CreateOptions options;
        if (!ownTemplates)
            options.templates = NamedTemplates();
        const CreateResult result = CreateOutput(document, platform, dir.filePath("MyData.pbi"), options);
        QCOMPARE(int(result.status), int(CreateStatus::Written));
        QVERIFY(platform.messageTexts().isEmpty());
        const std::optional<Bytes> code = OwnTemplates()(18);
        QVERIFY(code && code->size() > 100);
        const QByteArray expected =
            (ownTemplates ? QByteArray(reinterpret_cast<const char*>(code->data()), qsizetype(code->size()))
                          : QByteArray("\xEF\xBB\xBF; template 18\r\n")) +
            CrLf({"",
                  ";{ Hexaloom - HexData",
                  "Enumeration 1; ResNum",
                  "  #HXL_ABC_BIN",
                  "EndEnumeration",
                  "",
                  "DataSection",
                  "  Vorkel_CatchStart:",
                  "  MyData1_Start:",
                  "  Data.l $04030201",
                  "  Data.b $05",
                  "  MyData1_End:",
                  "",
                  "  MyData2_Start:",
                  "  Data.l $62612C31,$69622E63",
                  "  Data.b $6E,$00",
                  "  MyData2_End:",
                  "",
                  "  Vorkel_CatchInfo:",
                  "  Data.l 2",
                  "  Data.l 5",
                  "  Data.l 10",
                  "",
                  "EndDataSection",
                  ";}",
                  ""});
        const Bytes got = ReadAll(dir.filePath("MyData.pbi"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), qsizetype(got.size())), expected);
    }

    // An output whose name is no valid label still gets labels that compile; its pack file keeps the name.
    void labelsOfAnOddlyNamedOutput()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("abc.bin"), QByteArray("\x01\x02\x03\x04\x05", 5)));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        document.model().AddFileRow(dir.filePath("abc.bin"), PackerNone, QString());
        ScriptedPlatform platform;
        CreateOptions options;
        options.templates = NamedTemplates();
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("3rd my-data.pbi"), options).status),
                 int(CreateStatus::Written));
        const Bytes got = ReadAll(dir.filePath("3rd my-data.pbi"));
        const QByteArray text(reinterpret_cast<const char*>(got.data()), qsizetype(got.size()));
        for (const char* label : {"\r\n  _3rd_my_data1_Start:\r\n", "\r\n  _3rd_my_data1_End:\r\n",
                                  "\r\n  _3rd_my_data2_Start:\r\n", "\r\n  _3rd_my_data2_End:\r\n"})
            QVERIFY2(text.contains(label), label);
    }

    // The include names the pack file that was written, whatever characters its name holds; a name
    // a PureBasic string cannot hold is refused.
    void binpackNamesItsPackFile_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("pack"); // empty: refused
        QTest::newRow("plain") << "o.pbi"
                               << "o.binpack";
        QTest::newRow("blanks and dots") << "my data.v2.pb"
                                         << "my data.v2.binpack";
#ifndef Q_OS_WIN
        QTest::newRow("backslash") << "back\\slash.pbi"
                                   << "back\\slash.binpack";
        QTest::newRow("double quote") << "say \"hi\".pbi" << QString();
#endif
    }
    void binpackNamesItsPackFile()
    {
        QFETCH(QString, output);
        QFETCH(QString, pack);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("abc.bin"), QByteArray("\x01\x02\x03\x04\x05", 5)));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputBinpack);
        document.model().AddFileRow(dir.filePath("abc.bin"), PackerNone, QString());
        ScriptedPlatform platform;
        const CreateResult result = CreateOutput(document, platform, dir.filePath(output));
        if (pack.isEmpty()) {
            QCOMPARE(int(result.status), int(CreateStatus::Refused));
            QCOMPARE(platform.messageTexts().size(), 1);
            QVERIFY(platform.messageTexts().first().contains(QLatin1String("double quote")));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"abc.bin"});
            return;
        }
        QCOMPARE(int(result.status), int(CreateStatus::Written));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(QSet<QString>(files.begin(), files.end()), (QSet<QString>{"abc.bin", output, pack}));
        const IncludeImage image = ReadInclude(dir.filePath(output));
        QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
        QCOMPARE(image.includeBinary, pack);
        QCOMPARE(image.Get(1), std::optional<Bytes>(B({1, 2, 3, 4, 5})));
    }

    void picksTheTemplateForThePackersInUse_data()
    {
        QTest::addColumn<QStringList>("packers");
        QTest::addColumn<int>("index");
        QTest::newRow("none") << QStringList{"none", "none"} << 18;
        QTest::newRow("empty list") << QStringList{} << 18;
        QTest::newRow("jCalg1 only") << QStringList{"none", "jCalg1"} << 19;
        QTest::newRow("zip only") << QStringList{"zip", "none"} << 20;
        QTest::newRow("both") << QStringList{"zip", "jCalg1"} << 17;
        QTest::newRow("unknown text sets no flag") << QStringList{"Zip", "JCALG1"} << 18;
    }
    void picksTheTemplateForThePackersInUse()
    {
        QFETCH(QStringList, packers);
        QFETCH(int, index);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("f.bin"), QByteArray(100, 'x')));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputBinpack);
        for (const QString& packer : packers) {
            const int row = document.model().AddFileRow(dir.filePath("f.bin"), PackerNone, QString());
            document.model().SetCellText(FileListModel::PackerColumn, row, packer);
        }
        ScriptedPlatform platform;
        CreateOptions options;
        options.templates = NamedTemplates();
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("o.pbi"), options).status),
                 int(CreateStatus::Written));
        const IncludeImage image = ReadInclude(dir.filePath("o.pbi"));
        QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
        QCOMPARE(image.code, "\xEF\xBB\xBF; template " + QByteArray::number(index) + "\r\n");
    }

    void padsResourceEntries_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("padding");
        QTest::newRow("4") << 4 << 0;
        QTest::newRow("5") << 5 << 3;
        QTest::newRow("6") << 6 << 2;
        QTest::newRow("7") << 7 << 1;
    }
    void padsResourceEntries()
    {
        QFETCH(int, length);
        QFETCH(int, padding);
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("f"), QByteArray(length, '\x7F')));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputResource);
        document.model().AddFileRow(dir.filePath("f"), PackerNone, QString());
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("o.res")).status), int(CreateStatus::Written));
        const Bytes all = ReadAll(dir.filePath("o.res"));
        // First entry, the catalog "1,f\0" (4 bytes, no padding), then the file's entry.
        QCOMPARE(all.size(), std::size_t(32 + 44 + 4 + 44 + length + padding));
        const std::size_t at = 32 + 44 + 4;
        QCOMPARE(int(all[at] | all[at + 1] << 8), length);
        QCOMPARE(int(all[at + 24]), 2);
        QVERIFY(std::all_of(all.end() - padding, all.end(), [](std::uint8_t b) { return b == 0; }));
        QVERIFY(ReadResourceFile(dir.filePath("o.res")).error.isEmpty());
    }

    void writesTheEmptyResourceFile()
    {
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputResource);
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("empty.res")).status), int(CreateStatus::Written));
        const Bytes expected = B({0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0, 0,
                                  // the catalog's header: two data bytes, VORKEL, name 1
                                  2, 0, 0, 0, 44, 0, 0, 0, 'V', 0, 'O', 0, 'R', 0, 'K', 0, 'E', 0, 'L', 0, 0, 0, 0xFF,
                                  0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '0', 0, 0, 0});
        QCOMPARE(ReadAll(dir.filePath("empty.res")), expected);
        QCOMPARE(expected.size(), std::size_t(80));
    }

    // A real resource compiler reads the file back: same entries, same bytes.
    void resourceToolListsTheEntries()
    {
        const QString windres = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-windres"));
        if (windres.isEmpty())
            QSKIP("x86_64-w64-mingw32-windres is not installed (scripts/install-deps installs it)");
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("a.txt"), QByteArray("hello, resource\n")));
        QVERIFY(WriteBytes(dir.filePath("b.bin"), QByteArray(1000, 'b')));
        QVERIFY(WriteBytes(dir.filePath("c.bin"), QByteArray("\x00\x01\x02", 3)));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputResource);
        document.model().AddFileRow(dir.filePath("a.txt"), PackerNone, QString());
        document.model().AddFileRow(dir.filePath("b.bin"), PackerZip, QString());
        document.model().AddFileRow(dir.filePath("c.bin"), PackerNone, QString());
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("o.res")).status), int(CreateStatus::Written));
        const ResourceImage image = ReadResourceFile(dir.filePath("o.res"));
        QVERIFY2(image.error.isEmpty(), qPrintable(image.error));

        QProcess tool;
        tool.start(windres, {"-J", "res", "-O", "rc", "-i", dir.filePath("o.res"), "-o", dir.filePath("o.rc")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        QFile rc(dir.filePath("o.rc"));
        QVERIFY(rc.open(QIODevice::ReadOnly));
        const QMap<int, Bytes> listed = ParseRcUserData(QString::fromLatin1(rc.readAll()));
        QCOMPARE(listed.keys(), (QList<int>{1, 2, 3, 4}));
        for (auto it = listed.begin(); it != listed.end(); ++it)
            QCOMPARE(it.value(), image.resources.value(it.key()));
    }

private:
    // The user-data resources of windres' rc output: "<n> VORKEL" followed by BEGIN, string or number
    // items, END. Numbers are 16-bit words (suffix L for 32-bit), strings C-escaped.
    static QMap<int, Bytes> ParseRcUserData(const QString& rc);
};

QMap<int, Bytes> OutputFormatTest::ParseRcUserData(const QString& rc)
{
    QMap<int, Bytes> out;
    const QStringList lines = rc.split(QLatin1Char('\n'));
    static const QRegularExpression head(QStringLiteral("^(\\d+) \"VORKEL\"$"));
    auto put = [](Bytes& data, quint32 v, int width) {
        for (int b = 0; b < width; ++b)
            data.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = head.match(lines[i].trimmed());
        if (!m.hasMatch())
            continue;
        Bytes data;
        for (++i; i < lines.size() && lines[i].trimmed() != QLatin1String("END"); ++i) {
            const QString line = lines[i].trimmed();
            if (line == QLatin1String("BEGIN"))
                continue;
            qsizetype p = 0;
            while (p < line.size()) {
                const QChar c = line[p];
                const bool wide = c == QLatin1Char('L') && p + 1 < line.size() && line[p + 1] == QLatin1Char('"');
                if (c == QLatin1Char(',') || c.isSpace()) {
                    ++p;
                } else if (c == QLatin1Char('"') || wide) {
                    // A string: each character one byte, or one 16-bit unit in a wide string.
                    const int width = wide ? 2 : 1;
                    for (p += wide ? 2 : 1; p < line.size() && line[p] != QLatin1Char('"'); ++p) {
                        if (line[p] != QLatin1Char('\\')) {
                            put(data, line[p].unicode(), width);
                            continue;
                        }
                        const QChar e = line[++p];
                        const QString simple = QStringLiteral("nrtabfv");
                        const char simpleValues[] = {'\n', '\r', '\t', '\a', '\b', '\f', '\v'};
                        if (simple.contains(e)) {
                            put(data, static_cast<quint32>(simpleValues[simple.indexOf(e)]), width);
                        } else if (e == QLatin1Char('x') || (e >= QLatin1Char('0') && e <= QLatin1Char('7'))) {
                            const bool hex = e == QLatin1Char('x');
                            const QString digits =
                                hex ? QStringLiteral("0123456789abcdef") : QStringLiteral("01234567");
                            if (!hex)
                                --p;
                            quint32 v = 0;
                            int k = 0;
                            while (k < (hex ? 2 * width : 3) && p + 1 < line.size() &&
                                   digits.contains(line[p + 1].toLower())) {
                                v = v * (hex ? 16 : 8) + static_cast<quint32>(digits.indexOf(line[++p].toLower()));
                                ++k;
                            }
                            put(data, v, width);
                        } else {
                            put(data, e.unicode(), width);
                        }
                    }
                    ++p;
                } else {
                    qsizetype q = p;
                    while (q < line.size() && line[q] != QLatin1Char(',') && !line[q].isSpace())
                        ++q;
                    QString token = line.mid(p, q - p);
                    p = q;
                    const bool isLong = token.endsWith(QLatin1Char('L'));
                    if (isLong)
                        token.chop(1);
                    bool ok = false;
                    const quint32 v = token.toUInt(&ok, 0);
                    if (ok)
                        put(data, v, isLong ? 4 : 2);
                }
            }
        }
        out.insert(m.captured(1).toInt(), data);
    }
    return out;
}

QTEST_GUILESS_MAIN(OutputFormatTest)
#include "OutputFormatTest.moc"
