// Static checks of the PureBasic access code the tool ships: the four include templates, the companion
// include for .res outputs and the example programs, read the way a careful reviewer would: bytes,
// block structure, the declared items and their order, and that they are what their generator writes.
// What each PureBasic version offers is pbrun's to check: AccessCodeTest compiles every branch of this
// code for every compiler family, against the one table of version facts (tools/purebasic/VersionTable).

#include "PureBasicCheck.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using hexaloom::test::PureBasicCheck;

namespace {

QByteArray readSource(const QString& relative)
{
    QFile file(QStringLiteral(HEXALOOM_SOURCE_DIR "/") + relative);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// PureBasic text as the tool writes it: byte-order mark, CR LF after every line.
QByteArray pb(const QStringList& lines)
{
    QByteArray out("\xEF\xBB\xBF");
    for (const QString& line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

QString joined(const QStringList& tokens)
{
    return tokens.join(u' ');
}

bool insideCondition(const PureBasicCheck::Statement& s, const QString& condition, int branch)
{
    for (const auto& b : s.compilerBranches) {
        if (joined(b.condition).compare(condition, Qt::CaseInsensitive) == 0 && b.branch == branch)
            return true;
    }
    return false;
}

const QStringList accessProcedures = {
    QStringLiteral("Get"),         QStringLiteral("GetFileName"), QStringLiteral("GetResNumber"),
    QStringLiteral("Save"),        QStringLiteral("CatchSound"),  QStringLiteral("CatchImage"),
    QStringLiteral("CatchSprite"), QStringLiteral("CatchModule"),
};

QStringList prefixed(const QString& prefix)
{
    QStringList names;
    for (const QString& name : accessProcedures)
        names << prefix + u'_' + name;
    return names;
}

// What the include writers put after the template for one five-byte file (kind none) in MyData.pbi.
QStringList generatedTail()
{
    return {
        QString(),
        QStringLiteral(";{ Hexaloom - HexData"),
        QStringLiteral("Enumeration 1; ResNum"),
        QStringLiteral("  #HXL_ABC_BIN"),
        QStringLiteral("EndEnumeration"),
        QString(),
        QStringLiteral("DataSection"),
        QStringLiteral("  Vorkel_CatchStart:"),
        QStringLiteral("  MyData1_Start:"),
        QStringLiteral("  Data.l $04030201"),
        QStringLiteral("  Data.b $05"),
        QStringLiteral("  MyData1_End:"),
        QString(),
        QStringLiteral("  MyData2_Start:"),
        QStringLiteral("  Data.l $62612C31,$69622E63"),
        QStringLiteral("  Data.b $6E,$00"),
        QStringLiteral("  MyData2_End:"),
        QString(),
        QStringLiteral("  Vorkel_CatchInfo:"),
        QStringLiteral("  Data.l 2"),
        QStringLiteral("  Data.l 5"),
        QStringLiteral("  Data.l 10"),
        QString(),
        QStringLiteral("EndDataSection"),
        QStringLiteral(";}"),
        QString(),
    };
}

} // namespace

class TemplateCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void checkerFindsFaults_data();
    void checkerFindsFaults();
    void queriesSkipStringsAndComments_data();
    void queriesSkipStringsAndComments();
    void sourcesAreClean_data();
    void sourcesAreClean();
    void templateDeclaresItemsInOrder_data();
    void templateDeclaresItemsInOrder();
    void templateWithGeneratedDataIsComplete_data();
    void templateWithGeneratedDataIsComplete();
    void saveFetchesBeforeCreating_data();
    void saveFetchesBeforeCreating();
    void companionReadsResources();
    void examplesUseEveryProcedure();
    void filesMatchTheirGenerator();
};

void TemplateCheckTest::checkerFindsFaults_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("expected"); // a problem containing this text; empty: no problem at all

    const QByteArray bom("\xEF\xBB\xBF");
    QTest::newRow("clean procedure") << pb({"Procedure A(x)", "  If x : ProcedureReturn 1 : EndIf", "EndProcedure"})
                                     << QString();
    QTest::newRow("unclosed If") << pb({"If a", "  b = 1"}) << "line 3: EndIf expected (If at line 1)";
    QTest::newRow("EndProcedure alone") << pb({"x = 1", "EndProcedure"})
                                        << "line 2: EndProcedure without its opening keyword";
    QTest::newRow("Next alone") << pb({"Next"}) << "line 1: Next without its opening keyword";
    QTest::newRow("crossed blocks") << pb({"If a", "For i = 0 To 1", "EndIf", "Next"})
                                    << "line 3: Next expected (For at line 2), found EndIf";
    QTest::newRow("wrong closer") << pb({"Structure S", "  a.l", "EndEnumeration"})
                                  << "line 3: endstructure expected (Structure at line 1), found EndEnumeration";
    QTest::newRow("lone LF") << bom + "a = 1\nb = 2\r\n"
                             << "line 1: line ends with a lone LF";
    QTest::newRow("lone CR") << bom + "a = 1\r\nb = 2\rc = 3\r\n"
                             << "line 2: line ends with a lone CR";
    QTest::newRow("no final line end") << bom + "a = 1\r\nb = 2"
                                       << "line 2: no line end after the last line";
    QTest::newRow("no byte-order mark") << QByteArray("a = 1\r\n") << "line 1: no UTF-8 byte-order mark";
    QTest::newRow("invalid UTF-8") << bom + "a$ = \"\xFF\"\r\n"
                                   << "not valid UTF-8";
    QTest::newRow("duplicate procedure") << pb({"Procedure A()", "EndProcedure", "Procedure.s a(x)", "EndProcedure"})
                                         << "line 3: procedure a is already defined on line 1";
    QTest::newRow("same procedure in exclusive branches")
        << pb({"CompilerIf #X", "  Procedure A()", "  EndProcedure", "CompilerElse", "  Procedure A()",
               "  EndProcedure", "CompilerEndIf"})
        << QString();
    QTest::newRow("same procedure in CompilerSelect cases")
        << pb({"CompilerSelect #PB_Compiler_OS", "  CompilerCase #PB_OS_Linux", "    Procedure A()", "    EndProcedure",
               "  CompilerDefault", "    Procedure A()", "    EndProcedure", "CompilerEndSelect"})
        << QString();
    QTest::newRow("same procedure twice in one branch") << pb({"CompilerIf #X", "  Procedure A()", "  EndProcedure",
                                                               "  Procedure A()", "  EndProcedure", "CompilerEndIf"})
                                                        << "line 4: procedure A is already defined on line 2";
    QTest::newRow("same procedure in two CompilerIf blocks")
        << pb({"CompilerIf #X", "  Procedure A()", "  EndProcedure", "CompilerEndIf", "CompilerIf #Y",
               "  Procedure A()", "  EndProcedure", "CompilerEndIf"})
        << "line 6: procedure A is already defined on line 2";
    QTest::newRow("Else twice") << pb({"If a", "Else", "Else", "EndIf"})
                                << "line 3: EndIf expected (If at line 1), found Else";
    QTest::newRow("ElseIf after Else") << pb({"If a", "Else", "ElseIf b", "EndIf"})
                                       << "line 3: EndIf expected (If at line 1), found ElseIf";
    QTest::newRow("CompilerCase after CompilerDefault")
        << pb({"CompilerSelect #A", "CompilerDefault", "CompilerCase 1", "CompilerEndSelect"})
        << "Syntax error: CompilerCase after CompilerDefault";
    QTest::newRow("Case outside Select") << pb({"If a", "Case 1", "EndIf"})
                                         << "line 2: EndIf expected (If at line 1), found Case";
    QTest::newRow("keyword as a parameter")
        << pb({"Procedure A(Next, b)", "EndProcedure"}) << "line 1: keyword Next used as a name";
    QTest::newRow("procedure in a procedure") << pb({"Procedure A()", "Procedure B()", "EndProcedure", "EndProcedure"})
                                              << "line 2: Procedure inside a Procedure opened on line 1";
    QTest::newRow("bad Data line") << pb({"DataSection", "  Data.l $,1", "EndDataSection"})
                                   << "line 2: Syntax error: $ without hexadecimal digits";
    QTest::newRow("string not closed") << pb({"a$ = \"abc"})
                                       << "line 1: Syntax error: string without its closing quote";
    QTest::newRow("keywords in strings and comments")
        << pb({"a$ = \"EndIf\" ; EndProcedure", "b$ = \"If Next Wend\"", "c = 'W' ; Wend"}) << QString();
    QTest::newRow("statement separators")
        << pb({"Repeat : a = a + 1 : Until a > 3", "While a : a - 1 : Wend"}) << QString();
    QTest::newRow("Repeat ForEver") << pb({"Repeat", "  Break", "ForEver"}) << QString();
    QTest::newRow("every block kind") << pb({"Structure S",
                                             "  StructureUnion",
                                             "    a.l",
                                             "  EndStructureUnion",
                                             "EndStructure",
                                             "Enumeration 1",
                                             "  #A",
                                             "EndEnumeration",
                                             "ImportC \"x.lib\"",
                                             "  f.l(a.l)",
                                             "EndImport",
                                             "Macro M(x)",
                                             "  x + 1",
                                             "EndMacro",
                                             "Select a",
                                             "  Case 1, 2",
                                             "  Default",
                                             "EndSelect",
                                             "ForEach l()",
                                             "Next",
                                             "DataSection",
                                             "  L:",
                                             "  Data.l 1, $FF",
                                             "EndDataSection"})
                                      << QString();
}

void TemplateCheckTest::checkerFindsFaults()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, expected);
    const PureBasicCheck check(source);
    if (expected.isEmpty()) {
        QVERIFY2(check.isClean(), qPrintable(check.problems().join(u'\n')));
        return;
    }
    bool found = false;
    for (const QString& p : check.problems())
        found = found || p.contains(expected);
    QVERIFY2(found,
             qPrintable(QStringLiteral("expected \"%1\", got:\n%2").arg(expected, check.problems().join(u'\n'))));
}

void TemplateCheckTest::queriesSkipStringsAndComments_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("identifier");
    QTest::addColumn<bool>("call");

    QTest::newRow("call") << "x = UnpackMemory(a, b)"
                          << "UnpackMemory" << true << true;
    QTest::newRow("call, other case") << "x = unpackmemory (a, b)"
                                      << "UnpackMemory" << true << true;
    QTest::newRow("longer name") << "x = _UnpackMemory(a, b)"
                                 << "UnpackMemory" << false << false;
    QTest::newRow("comment") << "x = 1 ; UnpackMemory(a, b)"
                             << "UnpackMemory" << false << false;
    QTest::newRow("string") << "a$ = \"uncompress(x)\""
                            << "uncompress" << false << false;
    QTest::newRow("declaration with type") << "uncompress.l(*d, *l.LONG, *s, n.l)"
                                           << "uncompress" << true << true;
    QTest::newRow("named, not called") << "CompilerIf Defined(uncompress, #PB_Procedure)"
                                       << "uncompress" << true << false;
    QTest::newRow("structure field") << "*p\\CatchModule = 1"
                                     << "CatchModule" << false << false;
    QTest::newRow("constant") << "x = #CatchModule"
                              << "CatchModule" << false << false;
    QTest::newRow("after a separator") << "a = 1 : CatchMusic(0, *m, 5)"
                                       << "CatchMusic" << true << true;
}

void TemplateCheckTest::queriesSkipStringsAndComments()
{
    QFETCH(QString, line);
    QFETCH(QString, name);
    QFETCH(bool, identifier);
    QFETCH(bool, call);
    const PureBasicCheck check(pb({line}));
    QCOMPARE(check.hasIdentifier(name), identifier);
    QCOMPARE(check.hasCall(name), call);
}

void TemplateCheckTest::sourcesAreClean_data()
{
    QTest::addColumn<QString>("path");
    for (const char* path : {"resources/Vorkel_Include.pbi", "resources/Vorkel_Include_None.pbi",
                             "resources/Vorkel_Include_jCalg1.pbi", "resources/Vorkel_Include_Zip.pbi",
                             "include/Zember_Include.pbi", "examples/UseInclude.pb", "examples/UseResource.pb"})
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TemplateCheckTest::sourcesAreClean()
{
    QFETCH(QString, path);
    const QByteArray source = readSource(path);
    QVERIFY2(!source.isEmpty(), qPrintable(path));
    const PureBasicCheck check(source);
    QVERIFY2(check.isClean(), qPrintable(check.problems().join(u'\n')));
    QVERIFY(source.endsWith("\r\n"));
    QVERIFY(!source.endsWith("\r\n\r\n")); // one line end, no trailing empty lines
}

void TemplateCheckTest::templateDeclaresItemsInOrder_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("jcalg1");
    QTest::addColumn<bool>("zip");
    QTest::newRow("all packers") << "Vorkel_Include.pbi"
                                 << "all packers" << true << true;
    QTest::newRow("none") << "Vorkel_Include_None.pbi"
                          << "no packer" << false << false;
    QTest::newRow("jCalg1") << "Vorkel_Include_jCalg1.pbi"
                            << "jCalg1" << true << false;
    QTest::newRow("zip") << "Vorkel_Include_Zip.pbi"
                         << "zip" << false << true;
}

void TemplateCheckTest::templateDeclaresItemsInOrder()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(bool, jcalg1);
    QFETCH(bool, zip);
    const QByteArray source = readSource(QStringLiteral("resources/") + file);
    QVERIFY(!source.isEmpty());
    const PureBasicCheck check(source);
    QVERIFY2(check.isClean(), qPrintable(check.problems().join(u'\n')));

    // The folded comment block that names the variant comes first and holds nothing else.
    const QList<QByteArray> lines = source.mid(3).split('\n');
    QVERIFY(lines.size() > 2);
    QVERIFY(lines[0].startsWith(";{ "));
    QVERIFY2(lines[0].contains(title.toUtf8()), lines[0].constData());
    QCOMPARE(lines[1], QByteArray(";}\r"));

    // 1. the zlib import, guarded: zlib.lib on Windows, the system's zlib elsewhere (as PureBasic's IDE)
    int last = 0;
    if (zip) {
        const int guard = check.findStatement("CompilerIf Defined ( Zember_Zlib , #PB_Constant ) = #False");
        const int windows = check.findStatement("ImportC \"zlib.lib\"");
        const int elsewhere = check.findStatement("ImportC \"-lz\"");
        QVERIFY(guard > 0);
        QVERIFY(windows > guard);
        QVERIFY(elsewhere > windows);
        int wide = 0;
        for (const auto& s : check.statements()) {
            const QString text = joined(s.tokens);
            if (!text.startsWith(u"uncompress .l ("))
                continue;
            if (text == u"uncompress .l ( *dest , *destlen .INTEGER , *source , sourcelen .i )") {
                ++wide;
                QVERIFY(insideCondition(s, "#PB_Compiler_OS = #PB_OS_Windows", 1)); // not on Windows
            } else {
                QCOMPARE(text, u"uncompress .l ( *dest , *destlen .LONG , *source , sourcelen .l )"_qs);
            }
        }
        QCOMPARE(wide, 1);
        last = check.findStatement("EndImport", elsewhere);
        QVERIFY(last > 0);
    } else {
        QVERIFY(!check.hasIdentifier("uncompress"));
        QCOMPARE(check.findStatement("ImportC"), 0);
        QCOMPARE(check.findStatement("Import"), 0);
    }

    // 2. the packer enumeration
    const int enumeration = check.findStatement("Enumeration");
    QVERIFY(enumeration > last);
    const int none = check.findStatement("#Zember_Packer_None", enumeration);
    const int jc = check.findStatement("#Zember_Packer_jCalg1", enumeration);
    const int zp = check.findStatement("#Zember_Packer_zip", enumeration);
    QVERIFY(none == enumeration + 1 && jc == none + 1 && zp == jc + 1);
    QCOMPARE(check.findStatement("EndEnumeration", enumeration), zp + 1);

    // 3. the header structure, 23 bytes, declared only once
    const int structure = check.findStatement("Structure ZemberPack");
    QVERIFY(structure > zp);
    QCOMPARE(check.findStatement("CompilerIf Defined ( ZemberPack , #PB_Structure ) = #False", zp), structure - 1);
    QCOMPARE(check.findStatement("Size .q", structure), structure + 1);
    QCOMPARE(check.findStatement("CRC .q", structure), structure + 2);
    QCOMPARE(check.findStatement("Packer .b", structure), structure + 3);
    QCOMPARE(check.findStatement("Magic .b [ 6 ]", structure), structure + 4);
    QCOMPARE(check.findStatement("EndStructure", structure), structure + 5);
    last = structure + 5;

    // 4. the unpacker with the jCalg1 decoder it needs, all under one guard; none without packers.
    // PureBasic's own jCalg1 unpackers are used on no version.
    for (const char* name : {"UnpackMemory", "UncompressMemory", "UseJcalg1Packer"})
        QVERIFY2(!check.hasIdentifier(name), name);
    const QStringList decoder = {"_Zember_JcBits", "_Zember_JcGamma", "_Zember_Jcalg1Unpack"};
    QStringList expected;
    if (jcalg1 || zip) {
        const int guard =
            check.findStatement("CompilerIf Defined ( Zember_UnpackMemory , #PB_Constant ) = #False", last);
        const int procedure = check.procedureLine("_UnpackMemory");
        QVERIFY(guard > last && procedure > guard);
        if (jcalg1) {
            const int reader = check.findStatement("Structure ZemberJcReader", guard);
            QVERIFY(reader > guard && reader < procedure);
            for (const QString& name : decoder) {
                QVERIFY2(check.procedureLine(name) > guard && check.procedureLine(name) < procedure, qPrintable(name));
                expected << name;
            }
        } else {
            QCOMPARE(check.findStatement("#Zember_UnpackMemory = 1", guard), guard + 1);
            QCOMPARE(procedure, guard + 2);
        }
        QVERIFY2(joined(check.procedureSignature("_UnpackMemory")).endsWith(u", Packer = #Zember_Packer_jCalg1 )"),
                 qPrintable(joined(check.procedureSignature("_UnpackMemory"))));
        QCOMPARE(check.findStatement("Case #Zember_Packer_jCalg1", procedure) > 0, jcalg1);
        QCOMPARE(check.findStatement("Case #Zember_Packer_zip", procedure) > 0, zip);
        QCOMPARE(check.hasCall("uncompress"), zip);
        QCOMPARE(check.hasCall("_Zember_Jcalg1Unpack"), jcalg1);
        last = check.findStatement("EndProcedure", procedure);
        QCOMPARE(check.findStatement("CompilerEndIf", last), last + 1);
        expected << QStringLiteral("_UnpackMemory");
    } else {
        for (const char* name : {"_UnpackMemory", "uncompress", "_Zember_Jcalg1Unpack", "ZemberJcReader"})
            QVERIFY2(!check.hasIdentifier(name), name);
    }
    // Every variant checks the CRC, also of a block of packer none.
    QVERIFY(check.hasCall("CRC32Fingerprint"));
    QVERIFY(check.hasCall("UseCRC32Fingerprint"));

    // 5. the start-up statements that read the size table, outside every procedure
    const int restore = check.findStatement("Restore Vorkel_CatchInfo");
    QVERIFY(restore > last);
    const int globals = check.findStatement("Global Vorkel_Count .l , Vorkel_Index .l", last);
    QVERIFY(globals > last && globals < restore);
    const int readCount = check.findStatement("Read .l Vorkel_Count", restore);
    const int dim = check.findStatement("Global Dim VorkelArray .l ( Vorkel_Count )", restore);
    const int loop = check.findStatement("For Vorkel_Index = 0 To Vorkel_Count - 1", restore);
    const int readEntry = check.findStatement("Read .l VorkelArray ( Vorkel_Index )", restore);
    QVERIFY(readCount > restore && dim > readCount && loop > dim && readEntry > loop);
    QCOMPARE(check.findStatement("Next", readEntry), readEntry + 2);
    for (const auto& s : check.statements()) {
        if (s.line == globals || s.line == restore || s.line == dim || s.line == loop || s.line == readEntry + 2)
            QCOMPARE(s.depth, 0);
    }
    // In a DLL none of that runs: the procedures read the table into the globals before using them.
    for (const char* name : {"Vorkel_Get", "Vorkel_GetFileName", "Vorkel_GetResNumber"}) {
        const int begin = check.procedureLine(name);
        const int count = check.findStatement("Vorkel_ReadSizeTable ( )", begin);
        QVERIFY2(count > begin && count < check.findStatement("EndProcedure", begin), name);
        for (const auto& s : check.statements()) {
            if (s.line > begin && s.line < count)
                QVERIFY2(!s.tokens.contains(u"Vorkel_Count"_qs), name);
        }
    }
    // ... which dimensions the global array itself when the start-up statements have not run.
    const int reader = check.procedureLine("Vorkel_ReadSizeTable");
    const int redim = check.findStatement("Dim VorkelArray .l ( Vorkel_Count )", reader);
    QVERIFY(reader > readEntry && redim > reader && redim < check.findStatement("EndProcedure", reader));

    // 6. the eight procedures, in order, each defined once, after everything else
    expected << QStringLiteral("Vorkel_ReadSizeTable") << prefixed(QStringLiteral("Vorkel"));
    QCOMPARE(check.procedures(), expected);
    int previous = readEntry;
    for (const QString& name : expected.mid(expected.size() - 8)) {
        QCOMPARE(check.procedureDefinitions(name), 1);
        QVERIFY2(check.procedureLine(name) > previous, qPrintable(name));
        previous = check.procedureLine(name);
    }
    QCOMPARE(joined(check.procedureSignature("Vorkel_Get")), u"Procedure Vorkel_Get ( ResNumber )"_qs);
    QCOMPARE(joined(check.procedureSignature("Vorkel_GetFileName")),
             u"Procedure .s Vorkel_GetFileName ( ResNumber )"_qs);
    QCOMPARE(joined(check.procedureSignature("Vorkel_GetResNumber")),
             u"Procedure Vorkel_GetResNumber ( FileName$ , Start = 1 )"_qs);
    QCOMPARE(joined(check.procedureSignature("Vorkel_Save")), u"Procedure Vorkel_Save ( FileName$ , ResNumber )"_qs);
    QCOMPARE(joined(check.procedureSignature("Vorkel_CatchImage")),
             u"Procedure Vorkel_CatchImage ( Image , ResNumber , Flag = 0 )"_qs);
    QCOMPARE(joined(check.procedureSignature("Vorkel_CatchSprite")),
             u"Procedure Vorkel_CatchSprite ( Sprite , ResNumber , Modus = 0 )"_qs);

    // The data is copied from the label the writers emit, and the catalog is read through Vorkel_Get.
    const QStringList references = check.labelReferences();
    QCOMPARE(QSet<QString>(references.begin(), references.end()),
             (QSet<QString>{"Vorkel_CatchInfo", "Vorkel_CatchStart"}));
    QCOMPARE(check.callsOf("Vorkel_Get").size(), 7);
}

void TemplateCheckTest::templateWithGeneratedDataIsComplete_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file :
         {"Vorkel_Include.pbi", "Vorkel_Include_None.pbi", "Vorkel_Include_jCalg1.pbi", "Vorkel_Include_Zip.pbi"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

void TemplateCheckTest::templateWithGeneratedDataIsComplete()
{
    QFETCH(QString, file);
    const QByteArray templateBytes = readSource(QStringLiteral("resources/") + file);
    QVERIFY(!templateBytes.isEmpty());
    // Without its data section a template uses labels it does not define...
    QCOMPARE(PureBasicCheck(templateBytes).undefinedLabels().size(), 2);
    // ...and with the lines the writers add, the whole include is complete.
    const QByteArray include = templateBytes + pb(generatedTail()).mid(3);
    const PureBasicCheck check(include);
    QVERIFY2(check.isClean(), qPrintable(check.problems().join(u'\n')));
    QVERIFY2(check.undefinedLabels().isEmpty(), qPrintable(check.undefinedLabels().join(u' ')));
    QVERIFY(check.labels().contains(u"MyData2_End"_qs));
    QVERIFY(check.findStatement("#HXL_ABC_BIN") > check.procedureLine("Vorkel_CatchModule"));
}

void TemplateCheckTest::saveFetchesBeforeCreating_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("prefix");
    for (const char* file :
         {"Vorkel_Include.pbi", "Vorkel_Include_None.pbi", "Vorkel_Include_jCalg1.pbi", "Vorkel_Include_Zip.pbi"})
        QTest::newRow(file) << QStringLiteral("resources/") + QString::fromLatin1(file) << QStringLiteral("Vorkel");
    QTest::newRow("Zember_Include.pbi") << QStringLiteral("include/Zember_Include.pbi") << QStringLiteral("Zember");
}

void TemplateCheckTest::saveFetchesBeforeCreating()
{
    QFETCH(QString, path);
    QFETCH(QString, prefix);
    const PureBasicCheck check(readSource(path));
    const int begin = check.procedureLine(prefix + QStringLiteral("_Save"));
    const int end = check.findStatement("EndProcedure", begin);
    QVERIFY(begin > 0 && end > begin);
    const auto firstCall = [&](const QString& name) {
        for (const auto& s : check.callsOf(name)) {
            if (s.line > begin && s.line < end)
                return s.line;
        }
        return 0;
    };
    // Nothing is created (and an existing file is not replaced) until the data is at hand; a file
    // that did not receive every byte is deleted again.
    const int get = firstCall(prefix + QStringLiteral("_Get"));
    const int create = firstCall(QStringLiteral("CreateFile"));
    const int close = firstCall(QStringLiteral("CloseFile"));
    const int size = firstCall(QStringLiteral("FileSize"));
    const int remove = firstCall(QStringLiteral("DeleteFile"));
    QVERIFY(get > begin);
    QVERIFY(create > get);
    QVERIFY(close > create);
    QVERIFY(size > close);
    QVERIFY(remove > size);
}

void TemplateCheckTest::companionReadsResources()
{
    const PureBasicCheck check(readSource(QStringLiteral("include/Zember_Include.pbi")));
    QVERIFY2(check.isClean(), qPrintable(check.problems().join(u'\n')));
    QCOMPARE(check.procedures(),
             (QStringList{"_Zember_JcBits", "_Zember_JcGamma", "_Zember_Jcalg1Unpack", "_UnpackMemory"} +
              prefixed(QStringLiteral("Zember"))));
    // Anywhere but on Windows the include stops the compiler with a message, before anything else.
    const auto& first = check.statements();
    QVERIFY(first.size() > 2);
    QCOMPARE(joined(first[0].tokens), u"CompilerIf #PB_Compiler_OS <> #PB_OS_Windows"_qs);
    QCOMPARE(first[1].tokens.value(0), u"CompilerError"_qs);
    QVERIFY(first[1].tokens.value(1).contains(u"Windows"));
    QCOMPARE(joined(first[2].tokens), u"CompilerEndIf"_qs);
    for (const QString& name : prefixed(QStringLiteral("Zember"))) {
        QCOMPARE(check.procedureDefinitions(name), 1);
        QVERIFY2(joined(check.procedureSignature(name)).endsWith(u", hModule = 0 )"), qPrintable(name));
    }
    QCOMPARE(joined(check.procedureSignature("Zember_GetResNumber")),
             u"Procedure Zember_GetResNumber ( FileName$ , Start = 1 , hModule = 0 )"_qs);
    QCOMPARE(joined(check.procedureSignature("Zember_CatchImage")),
             u"Procedure Zember_CatchImage ( Image , ResNumber , Flag = 0 , hModule = 0 )"_qs);
    // Resources are found by type name and number through the Windows API, in the program by default.
    for (const char* call : {"GetModuleHandle_", "FindResource_", "SizeofResource_", "LoadResource_", "LockResource_",
                             "_UnpackMemory", "uncompress"})
        QVERIFY2(check.hasCall(call), call);
    const auto find = check.callsOf("FindResource_");
    QCOMPARE(find.size(), 1);
    QVERIFY(find.first().tokens.contains(u"\"VORKEL\""_qs));
    QVERIFY(find.first().tokens.contains(u"\"#\""_qs));
    QVERIFY(check.findStatement("ImportC \"zlib.lib\"") > 0);
    // Everything reads through Zember_Get, which never touches the include formats' data section.
    QVERIFY(check.labelReferences().isEmpty());
    QCOMPARE(check.callsOf("Zember_Get").size(), 7);
}

void TemplateCheckTest::examplesUseEveryProcedure()
{
    const PureBasicCheck include(readSource(QStringLiteral("examples/UseInclude.pb")));
    QVERIFY2(include.isClean(), qPrintable(include.problems().join(u'\n')));
    QVERIFY(include.findStatement("XIncludeFile \"../build/demo/demo_hexdata.pbi\"") > 0);
    for (const QString& name : prefixed(QStringLiteral("Vorkel")))
        QVERIFY2(include.hasCall(name), qPrintable(name));
    QCOMPARE(include.procedures(), QStringList{"TextOf"});

    const PureBasicCheck resource(readSource(QStringLiteral("examples/UseResource.pb")));
    QVERIFY2(resource.isClean(), qPrintable(resource.problems().join(u'\n')));
    const int import = resource.findStatement("Import \"../build/demo/demo.res\"");
    QVERIFY(import > 0);
    QCOMPARE(resource.findStatement("EndImport", import), import + 1);
    const int included = resource.findStatement("XIncludeFile \"../include/Zember_Include.pbi\"");
    QVERIFY(included > import);
    QVERIFY(QFile::exists(QStringLiteral(HEXALOOM_SOURCE_DIR "/examples/../include/Zember_Include.pbi")));
    for (const QString& name : prefixed(QStringLiteral("Zember")))
        QVERIFY2(resource.hasCall(name), qPrintable(name));
}

void TemplateCheckTest::filesMatchTheirGenerator()
{
    // The templates, the companion include and the examples are written by scripts/make-templates;
    // a hand edit of one of them, or a regenerated file left uncommitted, shows up here.
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QProcess process;
    process.start(python, {QStringLiteral(HEXALOOM_SOURCE_DIR "/scripts/make-templates"), QStringLiteral("--check")});
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAllStandardOutput().constData());
}

QTEST_GUILESS_MAIN(TemplateCheckTest)
#include "TemplateCheckTest.moc"
