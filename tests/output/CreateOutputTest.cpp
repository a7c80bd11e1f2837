// Create end to end: every output read back the way the user's program reads it, for every format and
// packer mix, with empty and unreadable files; the questions asked; failures that must leave old files.
#include "CreateOutput.h"
#include "AppSettings.h"
#include "Document.h"
#include "IncludeWriter.h"
#include "LanguageTable.h"
#include "OutputNames.h"
#include "OutputReader.h"
#include "PureBasicCheck.h"
#include "ResourceWriter.h"
#include "ScriptedPlatform.h"
#include "TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace hexaloom;
using namespace hexaloom::test;

namespace {

struct SourceFile
{
    QString name;
    QByteArray bytes; // what the file holds
    bool readable = true;
    bool folder = false; // a folder stands at its name
};

// Lays the files out in `dir` and lists them in a document with the given packer texts.
void Fill(Document& document, const QTemporaryDir& dir, const QList<SourceFile>& files, const QStringList& packers)
{
    for (int i = 0; i < files.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("src%1/").arg(i) + files[i].name);
        if (files[i].folder)
            QDir().mkpath(path);
        else if (files[i].readable)
            QVERIFY(WriteBytes(path, files[i].bytes));
        else
            QDir().mkpath(QFileInfo(path).absolutePath());
        const int row = document.model().AddFileRow(path, PackerNone, QStringLiteral("1"));
        document.model().SetCellText(FileListModel::PackerColumn, row, packers.value(i % packers.size()));
    }
}

QList<SourceFile> FileSet(const QString& which)
{
    if (which == QLatin1String("empty list"))
        return {};
    if (which == QLatin1String("one byte"))
        return {{"one.bin", QByteArray("x")}};
    if (which == QLatin1String("mixed"))
        return {{"text.txt", Pattern(5000, 1, true)},
                {"noise.bin", Pattern(3001, 2, false)},
                {"Same Name.dat", Pattern(40, 3, true)},
                {"Same Name.dat", Pattern(41, 4, false)},
                {QString::fromUtf8("Grüße 1.txt"), Pattern(70000, 5, true)}};
    if (which == QLatin1String("look like blocks")) {
        // A packed block and a block header alone, and a first name that puts "VORKEL" at bytes 17 to 22
        // of the catalog: stored raw, each would be taken for a block.
        const Bytes block = PackBlock(ToBytes(Pattern(3000, 8, true)), PackerZip);
        const QByteArray packed(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()));
        return {
            {"123456789012345VORKEL.bin", packed}, {"header.bin", packed.left(23)}, {"c.txt", Pattern(99, 9, true)}};
    }
    if (which == QLatin1String("empty and unreadable"))
        return {{"a.txt", Pattern(300, 6, true)},
                {"empty.bin", QByteArray()},
                {"gone.bin", QByteArray(), false},
                {"folder.bin", QByteArray(), false, true},
                {"z.txt", Pattern(999, 7, true)}};
    return {};
}

} // namespace

class CreateOutputTest : public QObject
{
    Q_OBJECT

private slots:
    // Each file comes back byte for byte, by number and through the catalog, in every format.
    void readsBackEveryFile_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("files");
        QTest::addColumn<QStringList>("packers");
        const QList<QPair<const char*, int>> formats = {
            {"hexdata", OutputHexdata}, {"binpack", OutputBinpack}, {"resource", OutputResource}};
        const QList<QPair<const char*, QStringList>> mixes = {{"none", {"none"}},
                                                              {"zip", {"zip"}},
                                                              {"jCalg1", {"jCalg1"}},
                                                              {"all three", {"none", "jCalg1", "zip"}},
                                                              {"unknown texts inherit", {"zip", "?", "jCalg1", ""}}};
        for (const auto& [formatName, format] : formats) {
            for (const char* files : {"empty list", "one byte", "mixed", "look like blocks", "empty and unreadable"}) {
                for (const auto& [mixName, packers] : mixes)
                    QTest::newRow(QByteArray(formatName).append(", ").append(files).append(", ").append(mixName))
                        << format << QString(files) << packers;
            }
        }
    }
    void readsBackEveryFile()
    {
        QFETCH(int, format);
        QFETCH(QString, files);
        QFETCH(QStringList, packers);
        const QList<SourceFile> sources = FileSet(files);
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        Fill(document, dir, sources, packers);
        ScriptedPlatform platform;
        const QString path = dir.filePath(format == OutputResource ? "out.res" : "out.pbi");
        const CreateResult result = CreateOutput(document, platform, path);

        QStringList unreadable;
        for (int i = 0; i < sources.size(); ++i) {
            if (!sources[i].readable)
                unreadable.append(document.model().CellText(FileListModel::PathColumn, i));
        }
        QCOMPARE(result.missing, unreadable);
        QCOMPARE(int(result.status), int(unreadable.isEmpty() ? CreateStatus::Written : CreateStatus::MissingFiles));
        const int clashes = files == QLatin1String("mixed") ? 1 : 0; // "Same Name.dat" twice: one warning
        QCOMPARE(platform.callsOf("WarnProceed").size(), clashes);
        QCOMPARE(platform.messageTexts().size(), unreadable.isEmpty() ? 0 : 1);
        for (const QString& missing : unreadable)
            QVERIFY(platform.messageTexts().constLast().contains(missing));

        QStringList names{QString::number(sources.size())};
        for (const SourceFile& file : sources)
            names.append(file.name);
        const std::vector<int> kinds = RowPackerKinds([&] {
            QStringList texts;
            for (int i = 0; i < sources.size(); ++i)
                texts.append(packers.value(i % packers.size()));
            return texts;
        }());

        if (format == OutputResource) {
            const ResourceImage image = ReadResourceFile(path);
            QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
            const std::optional<Bytes> catalog = image.Get(0);
            QVERIFY(catalog && catalog->back() == 0);
            QCOMPARE(CatalogFields(*catalog), names);
            QList<int> numbers{1};
            for (int i = 0; i < sources.size(); ++i) {
                if (sources[i].readable)
                    numbers.append(i + 2);
            }
            // The catalog first, then the rows in order (an empty file as an entry of no bytes); gaps for no data.
            QCOMPARE(image.order, numbers);
            for (int i = 0; i < sources.size(); ++i) {
                const std::optional<Bytes> got = image.Get(i + 1);
                if (sources[i].bytes.isEmpty()) {
                    QVERIFY(!got);
                    continue;
                }
                QVERIFY2(got.has_value(), qPrintable(sources[i].name));
                QCOMPARE(*got, ToBytes(sources[i].bytes));
                if (kinds[std::size_t(i)] == PackerNone && !HasBlockMagic(ToBytes(sources[i].bytes)))
                    QCOMPARE(image.resources[i + 2], ToBytes(sources[i].bytes)); // raw, no header
            }
            return;
        }

        const IncludeImage image = ReadInclude(path);
        QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
        QCOMPARE(image.count(), int(sources.size()) + 1);

        // The whole include is sound PureBasic as far as can be told without a compiler, and brings
        // exactly the unpackers its packers need.
        const Bytes whole = ReadAll(path);
        const PureBasicCheck check(QByteArray(reinterpret_cast<const char*>(whole.data()), qsizetype(whole.size())));
        QVERIFY2(check.isClean(), qPrintable(check.problems().join(QLatin1Char('\n'))));
        QStringList used;
        for (int i = 0; i < sources.size(); ++i)
            used.append(packers.value(i % packers.size()));
        const bool zip = used.contains("zip");
        const bool jcalg1 = used.contains("jCalg1");
        QCOMPARE(check.hasIdentifier("uncompress"), zip);
        QCOMPARE(check.hasCall("_Zember_Jcalg1Unpack"), jcalg1);
        QCOMPARE(check.procedureDefinitions("_UnpackMemory"), (zip || jcalg1) ? 1 : 0);
        QCOMPARE(check.procedureDefinitions("Vorkel_Get"), 1);
        QCOMPARE(image.constants, ConstantNames(names.mid(1)));
        QCOMPARE(QSet<QString>(image.constants.begin(), image.constants.end()).size(), image.constants.size());
        QCOMPARE(CatalogFields(*image.Get(image.count())), names);
        QCOMPARE(image.Get(image.count())->back(), std::uint8_t(0));
        for (int i = 0; i < sources.size(); ++i) {
            QCOMPARE(image.FileName(i + 1), sources[i].name);
            const std::optional<Bytes> got = image.Get(i + 1);
            if (sources[i].bytes.isEmpty()) {
                // Keeps the numbering of later blocks: no bytes for an empty file, a header claiming none for
                // one that could not be read.
                QCOMPARE(image.sizes[std::size_t(i)], sources[i].readable ? 0 : int(kBlockHeaderSize));
                QVERIFY(!got);
                continue;
            }
            QVERIFY2(got.has_value(), qPrintable(sources[i].name));
            QCOMPARE(*got, ToBytes(sources[i].bytes));
        }
        QVERIFY(!image.Get(0));
        QVERIFY(!image.Get(image.count() + 1));
        if (format == OutputHexdata) {
            QStringList labels;
            for (int k = 1; k <= image.count(); ++k)
                labels << QStringLiteral("out%1_Start:").arg(k) << QStringLiteral("out%1_End:").arg(k);
            QCOMPARE(image.labels, labels);
            QVERIFY(!QFile::exists(dir.filePath("out.binpack")));
        } else {
            QCOMPARE(image.includeBinary, QStringLiteral("out.binpack"));
            QVERIFY(image.labels.isEmpty());
        }
    }

    // Raw files are streamed in pieces; the pieces must join without a seam in every format.
    void streamsLargeRawFiles_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("size");
        const int piece = 40 << 16;
        for (const auto& [name, format] : QList<QPair<QByteArray, int>>{
                 {"hexdata", OutputHexdata}, {"binpack", OutputBinpack}, {"resource", OutputResource}}) {
            QTest::newRow(name + ", one piece exactly") << format << piece;
            QTest::newRow(name + ", two pieces and a rest") << format << 2 * piece + 7;
        }
    }
    void streamsLargeRawFiles()
    {
        QFETCH(int, format);
        QFETCH(int, size);
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        const QByteArray bytes = Pattern(size, size, false);
        Fill(document, dir, {{"big.bin", bytes}, {"small.txt", Pattern(33, 1, true)}}, {"none"});
        ScriptedPlatform platform;
        const QString path = dir.filePath(format == OutputResource ? "o.res" : "o.pbi");
        QCOMPARE(int(CreateOutput(document, platform, path).status), int(CreateStatus::Written));
        if (format == OutputResource) {
            const ResourceImage image = ReadResourceFile(path);
            QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
            QCOMPARE(*image.Get(1), ToBytes(bytes));
            QCOMPARE(*image.Get(2), ToBytes(Pattern(33, 1, true)));
        } else {
            const IncludeImage image = ReadInclude(path);
            QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
            QCOMPARE(*image.Get(1), ToBytes(bytes));
            QCOMPARE(*image.Get(2), ToBytes(Pattern(33, 1, true)));
        }
    }

    // Packing on every core writes exactly what one core writes.
    void manyWorkersWriteWhatOneWrites_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("hexdata") << int(OutputHexdata);
        QTest::newRow("binpack") << int(OutputBinpack);
        QTest::newRow("resource") << int(OutputResource);
    }
    void manyWorkersWriteWhatOneWrites()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        QList<SourceFile> files;
        for (int i = 0; i < 60; ++i)
            files.append(
                {QStringLiteral("f%1.bin").arg(i), Pattern(1000 + 997 * (i % 13), i, i % 3 != 0), i % 17 != 5});
        Fill(document, dir, files, {"zip", "jCalg1", "none", "zip"});
        ScriptedPlatform platform;
        // Same file names in separate folders: the labels carry the name.
        const QString name = format == OutputResource ? "/out.res" : "/out.pbi";
        for (int threads : {1, 2, 8}) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("t%1").arg(threads)));
            CreateOptions options;
            options.threads = threads;
            const CreateResult result =
                CreateOutput(document, platform, dir.filePath(QStringLiteral("t%1").arg(threads) + name), options);
            QCOMPARE(int(result.status), int(CreateStatus::MissingFiles));
        }
        const Bytes one = ReadAll(dir.filePath("t1" + name));
        QVERIFY(one.size() > 1000);
        for (const QString other : {"t2", "t8"}) {
            QCOMPARE(ReadAll(dir.filePath(other + name)), one);
            if (format == OutputBinpack)
                QCOMPARE(ReadAll(dir.filePath(other + "/out.binpack")), ReadAll(dir.filePath("t1/out.binpack")));
        }
    }

    void asksForThePathAndBeforeOverwriting_data()
    {
        QTest::addColumn<QString>("chosen");      // the requester's answer, empty cancels
        QTest::addColumn<QByteArray>("existing"); // what the chosen file holds before; null: no file
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("written");
        QTest::newRow("cancel") << "" << QByteArray() << true << false << false;
        QTest::newRow("new file") << "new.pbi" << QByteArray() << true << false << true;
        QTest::newRow("empty file replaced unasked") << "e.pbi" << QByteArray("") << false << false << true;
        QTest::newRow("declined") << "old.pbi" << QByteArray("old") << false << true << false;
        QTest::newRow("accepted") << "old.pbi" << QByteArray("old") << true << true << true;
        // The folder is remembered only where an output was written.
        QTest::newRow("no such folder") << "gone/new.pbi" << QByteArray() << true << false << false;
    }
    void asksForThePathAndBeforeOverwriting()
    {
        QFETCH(QString, chosen);
        QFETCH(QByteArray, existing);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = chosen.isEmpty() ? QString() : dir.filePath(chosen);
        if (!existing.isNull())
            QVERIFY(WriteBytes(path, existing));
        AppSettings settings;
        settings.lastdir = QStringLiteral("/start/here/");
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        ScriptedPlatform platform;
        platform.Answer(path);
        platform.Answer(answer ? QStringLiteral("yes") : QStringLiteral("no"));
        const CreateResult result = CreateOutput(document, platform, QString());
        QCOMPARE(platform.callsOf("SaveFileRequester"),
                 QStringList{"SaveFileRequester(\"\", \"/start/here/\", \"PureBasic Files (*.pbi, *.pb)|*.pbi;*.pb|"
                             "All Files (*.*)|*.*\", 0) -> " +
                             Quoted(path)});
        QCOMPARE(platform.questionTexts(), asked ? QStringList{"File already exists. Overwrite?"} : QStringList{});
        QCOMPARE(settings.lastdir, written ? dir.path() + "/" : QStringLiteral("/start/here/"));
        QCOMPARE(result.status == CreateStatus::Written, written);
        if (!path.isEmpty())
            QCOMPARE(ReadInclude(path).error.isEmpty(), written);
        if (!existing.isEmpty() && !written)
            QCOMPARE(ReadAll(path), ToBytes(existing));
    }

    // A name typed without extension is asked about as the file it becomes.
    void asksAboutTheFileWithItsExtension()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("old.pbi"), QByteArray("old")));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        ScriptedPlatform platform;
        platform.Answer(dir.filePath("old"));
        platform.Answer(QStringLiteral("no"));
        QCOMPARE(int(CreateOutput(document, platform, QString()).status), int(CreateStatus::Cancelled));
        QCOMPARE(platform.questionTexts(), QStringList{"File already exists. Overwrite?"});
        QCOMPARE(ReadAll(dir.filePath("old.pbi")), ToBytes("old"));
    }

    void asksInTheUsersLanguage()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("old.pbi"), QByteArray("old")));
        LanguageTable language;
        language.LoadLanguageBytes("[Messages]\r\nOverWrite=Datei ersetzen?\r\n");
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputHexdata);
        ScriptedPlatform platform;
        platform.Answer(dir.filePath("old.pbi"));
        platform.Answer(QStringLiteral("no"));
        CreateOptions options;
        options.language = &language;
        QCOMPARE(int(CreateOutput(document, platform, QString(), options).status), int(CreateStatus::Cancelled));
        QCOMPARE(platform.questionTexts(), QStringList{"Datei ersetzen?"});
    }

    void resourceRequesterOffersResFiles()
    {
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputResource);
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, QString()).status), int(CreateStatus::Cancelled));
        QCOMPARE(platform.callsOf("SaveFileRequester"),
                 QStringList{"SaveFileRequester(\"\", \"\", \"Resource Files (*.res)|*.res\", 0) -> \"\""});
    }

    void givenPathReplacesWithoutAsking()
    {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.filePath("o.res"), QByteArray("old contents")));
        AppSettings settings;
        settings.lastdir = QStringLiteral("/kept/");
        Document document(settings);
        document.setOutputFormat(OutputResource);
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("o.res")).status), int(CreateStatus::Written));
        QVERIFY(platform.calls().isEmpty());
        QCOMPARE(settings.lastdir, QStringLiteral("/kept/"));
        QCOMPARE(ReadAll(dir.filePath("o.res")).size(), std::size_t(80));
    }

    // The temporary file of an atomic save must fit the system's name limit whatever the target's name.
    void replacesOutputsWithLongNames_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("length"); // of the output's file name
        QTest::addColumn<bool>("written");
        QTest::newRow("hexdata, 249") << int(OutputHexdata) << 249 << true;
        QTest::newRow("hexdata, 255") << int(OutputHexdata) << 255 << true;
        QTest::newRow("resource, 255") << int(OutputResource) << 255 << true;
        QTest::newRow("binpack, pack file 255") << int(OutputBinpack) << 251 << true;
        // A name the system cannot hold fails with the system's own words.
        QTest::newRow("hexdata, 256") << int(OutputHexdata) << 256 << false;
    }
    void replacesOutputsWithLongNames()
    {
        QFETCH(int, format);
        QFETCH(int, length);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString extension = format == OutputResource ? ".res" : ".pbi";
        const QString path = dir.filePath(QString(length - 4, QLatin1Char('n')) + extension);
        if (written)
            QVERIFY(WriteBytes(path, "old"));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        Fill(document, dir, {{"a.txt", Pattern(500, 1, true)}}, {"zip"});
        ScriptedPlatform platform;
        const CreateResult result = CreateOutput(document, platform, path);
        if (!written) {
            QCOMPARE(int(result.status), int(CreateStatus::Failed));
#ifndef Q_OS_WIN // the system's own words
            QVERIFY2(result.error.contains("File name too long"), qPrintable(result.error));
#endif
            return;
        }
        QVERIFY2(result.status == CreateStatus::Written, qPrintable(result.error));
        if (format == OutputResource)
            QCOMPARE(*ReadResourceFile(path).Get(1), ToBytes(Pattern(500, 1, true)));
        else
            QCOMPARE(*ReadInclude(path).Get(1), ToBytes(Pattern(500, 1, true)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), format == OutputBinpack ? 2 : 1);
    }

    // A failed Create says so once and leaves what was there before.
    void failureLeavesOldFilesIntact_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("blocker"); // made a folder so that writing must fail
        QTest::newRow("include path is a folder") << int(OutputHexdata) << "out.pbi";
        QTest::newRow("resource path is a folder") << int(OutputResource) << "out.res";
        QTest::newRow("pack file path is a folder") << int(OutputBinpack) << "out.binpack";
        QTest::newRow("read-only folder") << int(OutputBinpack) << "";
    }
    void failureLeavesOldFilesIntact()
    {
        QFETCH(int, format);
        QFETCH(QString, blocker);
        QTemporaryDir dir;
        const QString path = dir.filePath(format == OutputResource ? "out.res" : "out.pbi");
        const QByteArray old = "the old output";
        for (const QString& file : {path, dir.filePath("out.binpack")}) {
            if (QFileInfo(file).fileName() == blocker)
                continue;
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        if (!blocker.isEmpty()) {
            QVERIFY(QDir(dir.path()).mkdir(blocker));
        } else {
#ifdef Q_OS_UNIX
            if (geteuid() == 0)
                QSKIP("permissions do not bind root");
#else
            QSKIP("folder permissions are POSIX here");
#endif
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        }
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        Fill(document, dir, {{"a.txt", Pattern(5000, 1, true)}}, {"zip"});
        ScriptedPlatform platform;
        const CreateResult result = CreateOutput(document, platform, path);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(int(result.status), int(CreateStatus::Failed));
        QCOMPARE(platform.messageTexts().size(), 1);
        for (const QString& file : {path, dir.filePath("out.binpack")}) {
            if (QFileInfo(file).fileName() != blocker)
                QCOMPARE(ReadAll(file), ToBytes(old));
        }
        QVERIFY(QFileInfo(dir.filePath(blocker)).isDir());
    }

    // Stopping through the progress callback, at any row and even after the last one, writes nothing.
    void stoppedCreateLeavesOldFiles_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("stopAt"); // the `done` count whose call answers false
        for (int format : {int(OutputResource), int(OutputHexdata), int(OutputBinpack)}) {
            for (int stopAt : {0, 2, 5})
                QTest::addRow("format %d, stop at %d", format, stopAt) << format << stopAt;
        }
    }
    void stoppedCreateLeavesOldFiles()
    {
        QFETCH(int, format);
        QFETCH(int, stopAt);
        QTemporaryDir dir;
        const QString path = dir.filePath(format == OutputResource ? "out.res" : "out.pbi");
        const QByteArray old = "the old output";
        QVERIFY(WriteBytes(path, old) && WriteBytes(dir.filePath("out.binpack"), old));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(format);
        Fill(document, dir, FileSet("mixed"), {"zip", "none", "jCalg1"});
        CreateOptions options;
        QList<int> seen;
        options.progress = [&](int done, int total) {
            seen.append(done);
            return total == 5 && done != stopAt;
        };
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, path, options).status), int(CreateStatus::Cancelled));
        QCOMPARE(seen.last(), stopAt);
        QCOMPARE(ReadBytes(path), old);
        QCOMPARE(ReadBytes(dir.filePath("out.binpack")), old);
        // Only the warning about the two "Same Name.dat", given before writing began.
        QCOMPARE(platform.messageTexts().size(), 0);
        QCOMPARE(platform.questionTexts().size(), 1);
        QVERIFY(platform.questionTexts().first().contains("same name"));
    }

    // When the include cannot take its place after the pack file took its own, the old pack file is put
    // back (or, where there was none, the new one removed): the pair stays together.
    void packFileGoesBackWhenItsIncludeCannotFollow_data()
    {
        QTest::addColumn<bool>("oldPack");
        QTest::newRow("old pack file") << true;
        QTest::newRow("no old pack file") << false;
    }
    void packFileGoesBackWhenItsIncludeCannotFollow()
    {
        QFETCH(bool, oldPack);
        QTemporaryDir dir;
        const QString path = dir.filePath("out.pbi");
        QVERIFY(WriteBytes(path, "old include"));
        QVERIFY(!oldPack || WriteBytes(dir.filePath("out.binpack"), "old pack"));
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputBinpack);
        Fill(document, dir, {{"a.txt", Pattern(500, 1, true)}}, {"none"});
        CreateOptions options;
        // While the output is written, something takes the include's name that no file can replace.
        options.templates = [&](int index) {
            QFile::remove(path);
            QDir().mkpath(path + "/inside");
            return OwnTemplates()(index);
        };
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, path, options).status), int(CreateStatus::Failed));
        QCOMPARE(platform.messageTexts().size(), 1);
        const QString message = platform.messageTexts().at(0);
        QVERIFY2(message.startsWith("The output could not be written; the old files were left as they were.\n" + path +
                                    ": "),
                 qPrintable(message));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 oldPack ? QStringList{"out.binpack"} : QStringList());
        QVERIFY(!oldPack || ReadBytes(dir.filePath("out.binpack")) == "old pack");
    }

    // Out of memory, a row whose packing buffer cannot be had is stored raw and one that cannot even be
    // read is left out and named; Create ends normally, on the caller's thread as on the workers.
    void survivesMemoryRunningOut_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<QString>("packer"); // of the row that fits only unpacked
        QTest::newRow("caller's thread, zip") << 1 << "zip";
        QTest::newRow("workers, jCalg1") << 2 << "jCalg1";
    }
    void survivesMemoryRunningOut()
    {
#ifdef HEXALOOM_CREATE_UNDER_LIMIT
        QFETCH(int, threads);
        QFETCH(QString, packer);
        constexpr qint64 kMiB = qint64(1) << 20;
        QTemporaryDir dir;
        // Sparse files: they take no disk space and read as zeros.
        const QString fits = dir.filePath("fits.bin");
        const QString tooBig = dir.filePath("toobig.bin");
        for (const auto& [path, size] : {std::pair{fits, 100 * kMiB}, std::pair { tooBig, 300 * kMiB }}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        }
        const QByteArray small = Pattern(5000, 1, true);
        QVERIFY(WriteBytes(dir.filePath("small.txt"), small));
        // 160 MiB more than at the start: a 100 MiB file is read, not packed as well.
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("MALLOC_ARENA_MAX", "1"); // no per-thread heaps reserving address space
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(HEXALOOM_CREATE_UNDER_LIMIT),
                      {"160", QString::number(threads), dir.filePath("out.pbi"), packer + "=" + fits,
                       "jCalg1=" + tooBig, "zip=" + dir.filePath("small.txt")});
        QVERIFY(process.waitForFinished(120000));
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(errors));
        QCOMPARE(process.exitCode(), int(CreateStatus::MissingFiles));
        QVERIFY2(errors.contains(tooBig + " (not enough memory)"), qPrintable(errors));
        QVERIFY(!errors.contains(fits));

        const IncludeImage image = ReadInclude(dir.filePath("out.pbi"));
        QVERIFY2(image.error.isEmpty(), qPrintable(image.error));
        QCOMPARE(image.count(), 4);
        QCOMPARE(image.sizes[0], 100 * kMiB);            // raw: a block of zeros would be far smaller
        QCOMPARE(image.sizes[1], int(kBlockHeaderSize)); // no data, unlike an empty file
        QVERIFY(*image.Get(1) == Bytes(100 * kMiB, 0));
        QCOMPARE(*image.Get(3), ToBytes(small));
#else
        QSKIP("needs Linux's /proc and address-space limit");
#endif
    }

    void refusesTooManyRowsForAResourceFile()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("a"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a");
        f.close();
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputResource);
        for (int i = 0; i < kMaxResourceRows; ++i)
            document.model().AddFileRow(dir.filePath("a"), PackerNone, QStringLiteral("1"));
        ScriptedPlatform platform;
        // The largest list that fits is written...
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("fits.res")).status), int(CreateStatus::Written));
        const ResourceImage image = ReadResourceFile(dir.filePath("fits.res"));
        QCOMPARE(image.order.size(), kMaxResourceRows + 1);
        QCOMPARE(image.order.last(), 65535);
        // ...one row more is refused with a message and writes nothing.
        document.model().AddFileRow(dir.filePath("a"), PackerNone, QStringLiteral("1"));
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("over.res")).status), int(CreateStatus::Refused));
        QCOMPARE(platform.messageTexts().size(), 1);
        QVERIFY(platform.messageTexts()[0].contains("at most 65534 files"));
        QVERIFY(!QFile::exists(dir.filePath("over.res")));
    }

    void refusesAnIncludeNamedLikeItsPackFile()
    {
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputBinpack);
        Fill(document, dir, {{"a.txt", Pattern(50, 1, true)}}, {"none"});
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("x.BinPack")).status), int(CreateStatus::Refused));
        QCOMPARE(platform.messageTexts().size(), 1);
        QVERIFY(!QFile::exists(dir.filePath("x.BinPack")) && !QFile::exists(dir.filePath("x.binpack")));
        // Any other extension is fine, and so is the name in another format.
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("x.bin")).status), int(CreateStatus::Written));
        document.setOutputFormat(OutputHexdata);
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("y.binpack")).status), int(CreateStatus::Written));
    }

    // The catalog separates names with ",": such names are refused in one message listing them all.
    void refusesCommasInNames()
    {
        QTemporaryDir dir;
        AppSettings settings;
        Document document(settings);
        document.setOutputFormat(OutputResource);
        Fill(document, dir, {{"a,b.txt", "x"}, {"c.txt", "y"}, {"d,.txt", "z"}}, {"none", "none", "none"});
        ScriptedPlatform platform;
        QCOMPARE(int(CreateOutput(document, platform, dir.filePath("o.res")).status), int(CreateStatus::Refused));
        QCOMPARE(platform.messageTexts().size(), 1);
        const QString message = platform.messageTexts().first();
        QVERIFY2(message.contains(dir.filePath("src0/a,b.txt") + "\n" + dir.filePath("src2/d,.txt")),
                 qPrintable(message));
        QVERIFY(!QFile::exists(dir.filePath("o.res")));
    }

    // A file of exactly 2 GiB - 1 bytes passes Create's checks and every writer's (Create is stopped as it
    // begins to write: 2 GiB of output would show no more), one byte more is refused.
    void refusesAFileOverTheBlockLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("2 GiB - 1") << (qint64(1) << 31) - 1 << true;
        QTest::newRow("2 GiB") << (qint64(1) << 31) << false;
    }
    void refusesAFileOverTheBlockLimit()
    {
        QFETCH(qint64, size);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        QFile big(dir.filePath("big.bin"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        if (!big.resize(size)) // sparse: no disk space is taken
            QSKIP("the file system cannot hold a sparse 2 GiB file");
        big.close();
        for (int format : {int(OutputHexdata), int(OutputBinpack), int(OutputResource)}) {
            AppSettings settings;
            Document document(settings);
            document.setOutputFormat(format);
            document.model().AddFileRow(dir.filePath("big.bin"), PackerNone, QStringLiteral("1"));
            ScriptedPlatform platform;
            const QString path = dir.filePath(format == OutputResource ? "o.res" : "o.pbi");
            CreateOptions options;
            options.progress = [](int, int) { return false; };
            QCOMPARE(int(CreateOutput(document, platform, path, options).status),
                     int(accepted ? CreateStatus::Cancelled : CreateStatus::Refused));
            QCOMPARE(platform.messageTexts().size(), accepted ? 0 : 1);
            if (!accepted)
                QCOMPARE(platform.messageTexts()[0],
                         dir.filePath("big.bin") + " is larger than 2 GiB - 1 bytes; nothing was written.");
            QVERIFY(!QFile::exists(path));
        }
        // The writers hold the same limit for a block (and a binpack include for its whole pack file).
        ResourceWriter resource;
        QVERIFY(resource.Open(dir.filePath("w.res")));
        QCOMPARE(resource.BeginBlock(2, size), accepted);
        QCOMPARE(resource.errorString().contains("resource 2 is larger than 2 GiB - 1 bytes"), !accepted);
        resource.Cancel();
        for (const IncludeFormat format : {IncludeFormat::Hexdata, IncludeFormat::Binpack}) {
            IncludeWriter include(format, OwnTemplates());
            QVERIFY(include.Open(dir.filePath("w.pbi"), false, false, {"a", "b"}));
            QCOMPARE(include.BeginBlock(1, size), accepted);
            QCOMPARE(include.errorString().contains("block 1 is larger than 2 GiB - 1 bytes"), !accepted);
            include.Cancel();
        }
        IncludeWriter pair(IncludeFormat::Binpack, OwnTemplates());
        const std::uint8_t one = 1;
        QVERIFY(pair.Open(dir.filePath("w.pbi"), false, false, {"a", "b"}) && pair.WriteBlock({&one, 1}, 1));
        QCOMPARE(pair.BeginBlock(2, size - 1), accepted);
        QCOMPARE(pair.errorString().contains("would exceed 2 GiB - 1 bytes"), !accepted);
        pair.Cancel();
    }
};

QTEST_GUILESS_MAIN(CreateOutputTest)
#include "CreateOutputTest.moc"
