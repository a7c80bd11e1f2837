// The data part of every output (enumeration, data lines, size table, catalog, pack file, .res) stays the
// bytes the program wrote before the access code around it was reworked: tests/data/golden/data-parts.txt
// holds their digests as written then. The lists here hit none of the mended faults (no two files give
// the same constant, no raw file looks like a packed block), so nothing in them may change.
//
// HEXALOOM_GOLDEN_OUT=<file> also writes the digests computed here to that file.
#include "AppSettings.h"
#include "CreateOutput.h"
#include "Document.h"
#include "OutputReader.h"
#include "ScriptedPlatform.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;
using namespace hexaloom::test;

namespace {

// The same bytes on every machine and Qt version: a plain linear congruential generator.
QByteArray Generated(int size, quint32 seed, bool text)
{
    static const char words[] = "the loom weaves every file into one include, ";
    QByteArray bytes(size, '\0');
    quint32 state = seed;
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] =
            text ? words[(i + static_cast<int>(state >> 28)) % (sizeof words - 1)] : static_cast<char>(state >> 24);
    }
    return bytes;
}

struct Row
{
    QString name;
    QString packer;
};

// The generated files, by name.
QByteArray GeneratedFile(const QString& name)
{
    if (name == QLatin1String("text.txt"))
        return Generated(6000, 1, true);
    if (name == QLatin1String("noise.bin"))
        return Generated(2000, 2, false);
    if (name == QLatin1String("one.bin"))
        return QByteArray("\xC3", 1);
    if (name == QLatin1String("stripes.raw")) {
        QByteArray stripes;
        for (int i = 0; i < 8000; ++i)
            stripes += static_cast<char>((i / 3) % 7 * 30);
        return stripes;
    }
    if (name == QString::fromUtf8("Grüße 2.dat"))
        return Generated(500, 3, true);
    return {}; // empty.bin
}

QList<Row> List(const QString& which)
{
    if (which == QLatin1String("demo"))
        return {{"hexaloom.ico", "zip"}, {"weave.bmp", "jCalg1"}, {"chime.wav", "zip"}, {"readme.txt", "none"}};
    if (which == QLatin1String("empty"))
        return {};
    const QStringList names = {"text.txt", "noise.bin", "one.bin", "stripes.raw", QString::fromUtf8("Grüße 2.dat"),
                               "empty.bin"};
    const QStringList packers =
        which == QLatin1String("mixed") ? QStringList{"none", "jCalg1", "zip", "Zip"} : QStringList{which};
    QList<Row> rows;
    for (int i = 0; i < names.size(); ++i)
        rows.append({names[i], packers[i % packers.size()]});
    return rows;
}

QString Digest(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The generated part of an include without the pack-file reference (which names a file, not data).
QByteArray IncludeDataPart(const QByteArray& include, bool binpack)
{
    const qsizetype marker =
        include.lastIndexOf(binpack ? "\r\n;{ Hexaloom - BinPack\r\n" : "\r\n;{ Hexaloom - HexData\r\n");
    if (marker < 0)
        return {};
    QByteArray part = include.mid(marker);
    if (binpack) {
        const qsizetype start = part.indexOf("\r\n  Vorkel_CatchStart:\r\n");
        const qsizetype end = part.indexOf("\r\n  Vorkel_CatchInfo:\r\n");
        if (start < 0 || end < start)
            return {};
        part.remove(start + 24, end - start - 24 + 2);
    }
    return part;
}

QMap<QString, QString> Golden()
{
    QMap<QString, QString> golden;
    const QByteArray text = ReadBytes(QStringLiteral(HEXALOOM_TEST_DATA "/golden/data-parts.txt"));
    for (const QByteArray& line : text.split('\n')) {
        // "<list> <format> <part> <size> <sha256>"
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 5 && !line.startsWith('#'))
            golden.insert(QString::fromUtf8(fields.mid(0, 3).join(' ')),
                          QString::fromLatin1(fields[3] + ' ' + fields[4]));
    }
    return golden;
}

} // namespace

class DataPartTest : public QObject
{
    Q_OBJECT

private slots:
    void dataPartIsUnchanged_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("format");
        for (const char* list : {"demo", "empty", "none", "jCalg1", "zip", "mixed"}) {
            for (const auto& [name, format] :
                 {std::pair{"hexdata", int(OutputHexdata)}, std::pair{"binpack", int(OutputBinpack)},
                  std::pair{"resource", int(OutputResource)}})
                QTest::newRow(QByteArray(list).append(' ').append(name)) << QString(list) << format;
        }
    }
    void dataPartIsUnchanged()
    {
        QFETCH(QString, list);
        QFETCH(int, format);
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        for (const Row& row : List(list)) {
            QString path = QStringLiteral(HEXALOOM_SOURCE_DIR "/examples/demo/files/") + row.name;
            if (list != QLatin1String("demo")) {
                path = dir.filePath(QStringLiteral("in/") + row.name);
                QVERIFY(WriteBytes(path, GeneratedFile(row.name)));
            }
            const int added = document.model().AddFileRow(path, PackerNone, QString());
            document.model().SetCellText(FileListModel::PackerColumn, added, row.packer);
        }
        ScriptedPlatform platform;
        const QString output = dir.filePath(format == OutputResource ? "out.res" : "out.pbi");
        QCOMPARE(int(CreateOutput(document, platform, output).status), int(CreateStatus::Written));

        QMap<QString, QByteArray> parts;
        const QString key =
            QStringLiteral("%1 %2 ").arg(list, QString::fromLatin1(QTest::currentDataTag()).section(u' ', -1));
        if (format == OutputResource) {
            parts.insert(key + QStringLiteral("res"), ReadBytes(output));
        } else {
            const QByteArray include = IncludeDataPart(ReadBytes(output), format == OutputBinpack);
            QVERIFY(!include.isEmpty());
            parts.insert(key + QStringLiteral("include"), include);
            if (format == OutputBinpack)
                parts.insert(key + QStringLiteral("pack"), ReadBytes(dir.filePath("out.binpack")));
        }

        const QMap<QString, QString> golden = Golden();
        const QString out = qEnvironmentVariable("HEXALOOM_GOLDEN_OUT");
        QStringList got;
        for (auto it = parts.begin(); it != parts.end(); ++it)
            got.append(QStringLiteral("%1 %2 %3").arg(it.key()).arg(it.value().size()).arg(Digest(it.value())));
        if (!out.isEmpty()) {
            QFile file(out);
            QVERIFY(file.open(QIODevice::Append));
            file.write((got.join(u'\n') + u'\n').toUtf8());
        }
        for (const QString& line : got) {
            const QString key = line.section(u' ', 0, 2);
            QVERIFY2(golden.contains(key), qPrintable(QStringLiteral("no golden digest for ") + key));
            QCOMPARE(line.section(u' ', 3), golden.value(key));
        }
    }
};

QTEST_GUILESS_MAIN(DataPartTest)
#include "DataPartTest.moc"
