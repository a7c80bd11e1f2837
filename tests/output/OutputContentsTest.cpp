// The product's reader of outputs against the tests' own strict reader, for every format and packer, and
// against outputs damaged the ways files get damaged: what must be refused is refused, what is bad is named.
#include "OutputContents.h"
#include "AppSettings.h"
#include "Crc32.h"
#include "CreateOutput.h"
#include "Document.h"
#include "OutputReader.h"
#include "ScriptedPlatform.h"
#include "TestFiles.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;
using namespace hexaloom::test;

namespace {

struct Source
{
    QString name;
    QByteArray bytes; // empty: an empty file
};

QList<Source> Sources()
{
    QByteArray noise(3000, '\0');
    QRandomGenerator random(7);
    for (char& c : noise)
        c = static_cast<char>(random.bounded(256));
    return {{"text.txt", QByteArray("hexaloom packs files, ").repeated(300)},
            {"noise.bin", noise},
            {"empty.dat", QByteArray()},
            {QString::fromUtf8("Grüße.txt"), QByteArray("grüße ").repeated(20)}};
}

// Writes the sources into `dir` (but those named "gone...") and creates `output` in `format` with `packer` for
// every row.
QString Create(const QTemporaryDir& dir, int format, const QString& packer, const QList<Source>& sources = Sources())
{
    AppSettings settings;
    Document document(settings);
    document.setOutputFormat(format);
    for (const Source& source : sources) {
        const QString path = dir.filePath("in/" + source.name);
        if (!source.name.startsWith("gone"))
            WriteBytes(path, source.bytes);
        const int row = document.model().AddFileRow(path, PackerNone, QStringLiteral("1"));
        document.model().SetCellText(FileListModel::PackerColumn, row, packer);
    }
    ScriptedPlatform platform;
    return CreateOutput(document, platform, dir.filePath(format == OutputResource ? "out.res" : "out.pbi")).path;
}

QByteArray Flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

} // namespace

class OutputContentsTest : public QObject
{
    Q_OBJECT

private slots:
    void listsAndReadsEveryFile_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("packer");
        for (const auto& [name, format] : QList<QPair<QByteArray, int>>{
                 {"hexdata", OutputHexdata}, {"binpack", OutputBinpack}, {"resource", OutputResource}}) {
            for (const char* packer : {"none", "jCalg1", "zip"})
                QTest::newRow(name + ", " + packer) << format << QString(packer);
        }
    }
    void listsAndReadsEveryFile()
    {
        QFETCH(int, format);
        QFETCH(QString, packer);
        QTemporaryDir dir;
        const QList<Source> sources = Sources() << Source{"gone.dat", {}};
        const QString path = Create(dir, format, packer, sources);
        const OutputContents contents = ReadOutput(path);
        QVERIFY2(contents.error.isEmpty(), qPrintable(contents.error));
        const OutputListing listing = ListOutput(contents);
        QVERIFY2(listing.catalog.problem.isEmpty(), qPrintable(listing.catalog.problem));
        QCOMPARE(int(listing.files.size()), sources.size());
        // The constants are the ones the include declares.
        if (format != OutputResource) {
            const IncludeImage image = ReadInclude(path);
            for (std::size_t k = 0; k < listing.files.size(); ++k)
                QCOMPARE(listing.files[k].constant, image.constants.value(qsizetype(k)));
        }
        for (int k = 1; k <= sources.size(); ++k) {
            const OutputFile& file = listing.files[std::size_t(k - 1)];
            const Source& source = sources[k - 1];
            QCOMPARE(file.number, k);
            QCOMPARE(file.name, source.name);
            // An empty file is an entry of no bytes; a file that could not be read has no data.
            QCOMPARE(HoldsNoData(contents, k), source.name == "gone.dat");
            if (source.name == "gone.dat")
                continue;
            QVERIFY(file.present);
            QVERIFY(UnpackEntry(contents, contents.files[std::size_t(k - 1)]));
            const Bytes bytes(source.bytes.begin(), source.bytes.end());
            QCOMPARE(file.info.original, std::int64_t(bytes.size()));
            QCOMPARE(file.info.crc, bytes.empty() ? 0u : Crc32(bytes));
            const bool packed = file.info.block;
            QCOMPARE(file.info.packer, packed ? PackerKindFromText(packer) : int(PackerNone));
            // Text packs with either packer; noise only grows, so jCalg1 stores it raw.
            QCOMPARE(packed, packer == "zip" ? !bytes.empty() : packer == "jCalg1" && source.name.endsWith(".txt"));
            if (file.present)
                QCOMPARE(ReadPackedBlock(contents.Stored(contents.files[std::size_t(k - 1)])), std::optional(bytes));
        }
    }

    // Each damage is caught: as an output that cannot be read (error), a bad catalog, or a bad block.
    void catchesDamage_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("caught"); // "error: <text>", "catalog: <text>" or "block <k>"
        QTest::newRow("hexdata, digit of a packed block") << int(OutputHexdata) << "flip block"
                                                          << "block 1";
        QTest::newRow("hexdata, no hex value") << int(OutputHexdata) << "bad digit"
                                               << "error: no hexadecimal long";
        QTest::newRow("hexdata, data line gone") << int(OutputHexdata) << "drop line"
                                                 << "error: the size table";
        QTest::newRow("hexdata, constant gone") << int(OutputHexdata) << "drop constant"
                                                << "catalog: 3 constants";
        QTest::newRow("hexdata, constant without its #") << int(OutputHexdata) << "bare constant"
                                                         << "error: where a constant belongs";
        QTest::newRow("hexdata, no marker") << int(OutputHexdata) << "no marker"
                                            << "error: no Hexaloom include";
        QTest::newRow("hexdata, size table cut") << int(OutputHexdata) << "cut end"
                                                 << "error: a block length";
        // Values too wide for their width, whose low digits are the right ones: refused, not cut.
        QTest::newRow("hexdata, byte of three digits") << int(OutputHexdata) << "wide byte"
                                                       << "error: no hexadecimal byte";
        QTest::newRow("hexdata, long of nine digits") << int(OutputHexdata) << "wide long"
                                                      << "error: no hexadecimal long";
        QTest::newRow("binpack, byte of a packed block") << int(OutputBinpack) << "flip block"
                                                         << "block 1";
        QTest::newRow("binpack, pack file cut") << int(OutputBinpack) << "truncate pack"
                                                << "error: cut short";
        QTest::newRow("binpack, pack file too long") << int(OutputBinpack) << "grow pack"
                                                     << "error: the size table";
        // The size table's limits: ten digits and 2 GiB - 1 are read (then differ from the pack file), one more is not.
        QTest::newRow("binpack, block of ten digits") << int(OutputBinpack) << "size 1000000000"
                                                      << "error: the size table 1000";
        QTest::newRow("binpack, block of 2 GiB - 1") << int(OutputBinpack) << "size 2147483647"
                                                     << "error: the size table 2147";
        QTest::newRow("binpack, block of 2 GiB") << int(OutputBinpack) << "size 2147483648"
                                                 << "error: a block length";
        QTest::newRow("binpack, block of eleven digits") << int(OutputBinpack) << "size 00000000001"
                                                         << "error: a block length";
        QTest::newRow("binpack, pack file gone") << int(OutputBinpack) << "remove pack"
                                                 << "error: cannot be read";
        QTest::newRow("binpack, catalog count") << int(OutputBinpack) << "catalog count"
                                                << "catalog: counts 5";
        QTest::newRow("binpack, catalog count negative") << int(OutputBinpack) << "catalog count -4"
                                                         << "catalog: does not begin with the number";
        QTest::newRow("resource, wrong first entry") << int(OutputResource) << "first entry"
                                                     << "error: no 32-bit resource file";
        QTest::newRow("resource, header size") << int(OutputResource) << "header size"
                                               << "error: header size";
        QTest::newRow("resource, last header size not a multiple of 4") << int(OutputResource) << "last header"
                                                                        << "error: header size of 34";
        QTest::newRow("resource, header size under 32") << int(OutputResource) << "short header"
                                                        << "error: header size of 28";
        QTest::newRow("resource, header past the end") << int(OutputResource) << "long header"
                                                       << "error: header size of 41";
        QTest::newRow("resource, number twice") << int(OutputResource) << "number twice"
                                                << "error: resource 2 is there twice";
        QTest::newRow("resource, cut") << int(OutputResource) << "cut end"
                                       << "error: the file ends";
        QTest::newRow("resource, byte of a packed block") << int(OutputResource) << "flip block"
                                                          << "block 1";
        QTest::newRow("resource, catalog without zero") << int(OutputResource) << "catalog zero"
                                                        << "catalog: zero byte";
    }
    void catchesDamage()
    {
        QFETCH(int, format);
        QFETCH(QString, damage);
        QFETCH(QString, caught);
        QTemporaryDir dir;
        const QString path = Create(dir, format, "zip");
        const QString packPath = dir.filePath("out.binpack");
        const QString target = format == OutputBinpack && damage.contains("block") ? packPath : path;
        QByteArray bytes = ReadBytes(target);
        // The first packed block's payload: seven longs into the data lines, or 30 bytes after its start.
        const qsizetype firstBlock = format == OutputHexdata
                                         ? bytes.indexOf("Data.l", bytes.indexOf("out1_Start:")) + 7 + 6 * 10 + 3
                                         : bytes.indexOf("VORKEL") - 17 + 30;
        const qsizetype catalog = bytes.indexOf("4,text.txt");
        const qsizetype line = bytes.indexOf("  Data.l", bytes.indexOf("out1_Start:"));
        if (damage == "flip block" && format == OutputHexdata)
            bytes[firstBlock] = bytes[firstBlock] == '0' ? '1' : '0';
        else if (damage == "flip block")
            bytes = Flipped(bytes, firstBlock);
        else if (damage == "bad digit")
            bytes[firstBlock] = 'G';
        else if (damage == "wide byte")
            bytes.insert(bytes.indexOf("Data.b $", bytes.indexOf("out1_Start:")) + 8, '1');
        else if (damage == "wide long")
            bytes.insert(bytes.indexOf("Data.l $", bytes.indexOf("out1_Start:")) + 8, '1');
        else if (damage.startsWith("size ")) {
            const qsizetype at =
                bytes.indexOf("Data.l ", bytes.indexOf("Data.l ", bytes.indexOf("Vorkel_CatchInfo:")) + 1);
            bytes.replace(at + 7, bytes.indexOf("\r\n", at) - at - 7, damage.mid(5).toLatin1());
        } else if (damage == "last header")
            bytes[bytes.lastIndexOf(QByteArray("V\0O\0R\0K\0E\0L\0", 12)) - 4] = 34;
        else if (damage.endsWith(" header")) // the last entry's header size: 28, or 4096 more than it is
            bytes[bytes.lastIndexOf(QByteArray("V\0O\0R\0K\0E\0L\0", 12)) - (damage == "short header" ? 4 : 3)] =
                damage == "short header" ? 28 : 0x10;
        else if (damage == "number twice")
            bytes[bytes.indexOf(QByteArray("V\0O\0R\0K\0E\0L\0\0\0\xFF\xFF\x03", 17)) + 16] = 2;
        else if (damage == "drop line")
            bytes.remove(line, bytes.indexOf("\r\n", line) + 2 - line);
        else if (damage == "drop constant")
            bytes.replace("  #HXL_NOISE_BIN\r\n", "");
        else if (damage == "bare constant")
            bytes.replace("  #HXL_NOISE_BIN\r\n", "  HXL_NOISE_BIN\r\n");
        else if (damage == "no marker")
            bytes.replace(";{ Hexaloom - HexData", ";{ Something else");
        else if (damage == "cut end" && format == OutputHexdata)
            bytes.truncate(bytes.indexOf("Vorkel_CatchInfo:") + 40);
        else if (damage == "cut end")
            bytes.chop(8);
        else if (damage == "truncate pack")
            QVERIFY(QFile::resize(packPath, QFileInfo(packPath).size() - 1));
        else if (damage == "grow pack")
            QVERIFY(WriteBytes(packPath, ReadBytes(packPath) + 'x'));
        else if (damage == "remove pack")
            QVERIFY(QFile::remove(packPath));
        else if (damage.startsWith("catalog count"))
            WriteBytes(packPath, ReadBytes(packPath).replace("4,text.txt",
                                                             damage == "catalog count" ? "5,text.txt" : "-4,ext.txt"));
        else if (damage == "first entry")
            bytes = Flipped(bytes, 4);
        else if (damage == "header size")
            bytes[32 + 4] = 45;
        else if (damage == "catalog zero")
            bytes[catalog + QByteArray("4,text.txt,noise.bin,empty.dat,Grüße.txt").size()] = 'x';
        if (!damage.contains("pack") && !damage.startsWith("catalog count"))
            QVERIFY(WriteBytes(target, bytes));

        const OutputContents contents = ReadOutput(path);
        if (caught.startsWith("error: ")) {
            QVERIFY2(contents.error.contains(caught.mid(7)), qPrintable(contents.error));
            return;
        }
        QVERIFY2(contents.error.isEmpty(), qPrintable(contents.error));
        const CatalogText catalogText = ReadCatalog(contents);
        if (caught.startsWith("catalog: ")) {
            QVERIFY2(catalogText.problem.contains(caught.mid(9)), qPrintable(catalogText.problem));
            return;
        }
        QVERIFY2(catalogText.problem.isEmpty(), qPrintable(catalogText.problem));
        QStringList bad;
        for (std::size_t k = 0; k < contents.files.size(); ++k) {
            if (contents.files[k].present() && !ReadPackedBlock(contents.Stored(contents.files[k])))
                bad.append(QStringLiteral("block %1").arg(k + 1));
        }
        QCOMPARE(bad, QStringList{caught});
    }

    // A large include is read in pieces on every core; a bad value far in still gets its own line number.
    void namesTheLineOfABadValueInALargeInclude()
    {
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        QByteArray big(3 << 20, '\0');
        QRandomGenerator random(3);
        for (char& c : big)
            c = static_cast<char>(random.bounded(256));
        QVERIFY(WriteBytes(dir.filePath("big.bin"), big));
        document.model().AddFileRow(dir.filePath("big.bin"), PackerNone, QString());
        ScriptedPlatform platform;
        const QString path = CreateOutput(document, platform, dir.filePath("out.pbi")).path;
        QByteArray text = ReadBytes(path);
        const OutputContents sound = ReadOutput(path);
        QVERIFY2(sound.error.isEmpty(), qPrintable(sound.error));
        QCOMPARE(UnpackStored(sound.Stored(sound.files.at(0))), std::optional(Bytes(big.begin(), big.end())));
        const qsizetype bad = text.lastIndexOf("Data.l $") + 9;
        text[bad] = 'G';
        QVERIFY(WriteBytes(path, text));
        const QString error = ReadOutput(path).error;
        QVERIFY2(error.startsWith(QStringLiteral("line %1: ").arg(text.left(bad).count('\n') + 1)), qPrintable(error));
    }

    void refusesNamesThatLeaveTheFolder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "logo.png" << true;
        QTest::newRow("dots inside a word are a name") << "a.b.c" << true;
        QTest::newRow("blank and umlaut") << QString::fromUtf8("my grüße.txt") << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot") << "." << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("climbs") << "../x" << false;
        QTest::newRow("two dots in a name lead nowhere") << "x..y" << true;
        QTest::newRow("only dots") << "..." << false;
        QTest::newRow("absolute") << "/etc/passwd" << false;
        QTest::newRow("subfolder") << "sub/x" << false;
        QTest::newRow("backslash") << "..\\x" << false;
        QTest::newRow("backslash alone") << "sub\\x" << false;
        QTest::newRow("delete") << "a\x7F" << false;
        QTest::newRow("last control character") << "a\x1F" << false;
        QTest::newRow("drive") << "C:x" << false;
        QTest::newRow("line break") << "a\nb" << false;
    }
    void refusesNamesThatLeaveTheFolder()
    {
        QFETCH(QString, name);
        QTEST(IsSafeFileName(name), "safe");
    }
};

QTEST_GUILESS_MAIN(OutputContentsTest)
#include "OutputContentsTest.moc"
