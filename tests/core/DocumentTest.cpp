#include "Document.h"
#include "AppSettings.h"
#include "Paths.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace hexaloom;

class DocumentTest : public QObject
{
    Q_OBJECT
private slots:
    void pathParts_data();
    void pathParts();
    void folderWithSeparator();
    void packerTexts_data();
    void packerTexts();
    void addFileRowFillsCells_data();
    void addFileRowFillsCells();
    void modelPassesTesterThroughEdits();
    void numbersFollowPositions();
    void projectPathAndTitle_data();
    void projectPathAndTitle();
    void outputFormatIsOneOfThree_data();
    void outputFormatIsOneOfThree();
};

void DocumentTest::pathParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::newRow("backslashes") << R"(C:\p\demo.hxlm)"
                                 << R"(C:\p\)"
                                 << "demo.hxlm";
    QTest::newRow("slashes") << "/home/u/demo.hxlm"
                             << "/home/u/"
                             << "demo.hxlm";
    QTest::newRow("mixed, last wins") << R"(C:\a/b\c.wav)"
                                      << R"(C:\a/b\)"
                                      << "c.wav";
#ifndef _WIN32
    QTest::newRow("a backslash in a name of this system") << R"(/home/u/back\slash.txt)"
                                                           << "/home/u/" << R"(back\slash.txt)";
#endif
    QTest::newRow("no folder") << "demo.hxlm"
                               << ""
                               << "demo.hxlm";
    QTest::newRow("folder only") << "/tmp/"
                                 << "/tmp/"
                                 << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
}

void DocumentTest::pathParts()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(FolderPart(path), folder);
    QFETCH(QString, file);
    QCOMPARE(FileNamePart(path), file);
}

void DocumentTest::folderWithSeparator()
{
    // An empty folder means "none": it must not turn into the root.
    QCOMPARE(WithSeparator(QString()), QString());
    const QString expected = QDir::toNativeSeparators(QStringLiteral("/tmp/x/"));
    QCOMPARE(WithSeparator(QStringLiteral("/tmp/x")), expected);
    QCOMPARE(WithSeparator(QStringLiteral("/tmp/x/")), expected);
}

void DocumentTest::packerTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::newRow("none") << "none" << 0;
    QTest::newRow("jCalg1") << "jCalg1" << 1;
    QTest::newRow("zip") << "zip" << 2;
    QTest::newRow("letter case counts") << "ZIP" << 0;
    QTest::newRow("dashes") << "---" << 0;
    QTest::newRow("empty") << "" << 0;
}

void DocumentTest::packerTexts()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QCOMPARE(PackerKindFromText(text), kind);
    if (kind != 0 || text == QLatin1String("none"))
        QCOMPARE(PackerText(kind), text);
}

void DocumentTest::addFileRowFillsCells_data()
{
    QTest::addColumn<int>("packer");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<QString>("packerCell");
    QTest::addColumn<QString>("sizeCell");
    QTest::newRow("size from the file") << 0 << ""
                                        << "none"
                                        << "11";
    QTest::newRow("size text kept") << 1 << "1234"
                                    << "jCalg1"
                                    << "1234";
    QTest::newRow("dashes kept") << 2 << "---"
                                 << "zip"
                                 << "---";
    QTest::newRow("unknown packer leaves the cell empty") << 3 << ""
                                                          << ""
                                                          << "11";
    QTest::newRow("negative packer") << -1 << "5"
                                     << ""
                                     << "5";
}

void DocumentTest::addFileRowFillsCells()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("eleven.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("hello world");
    file.close();

    FileListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy added(&model, &FileListModel::rowAdded);
    QFETCH(int, packer);
    QFETCH(QString, sizeText);
    QCOMPARE(model.AddFileRow(path, packer, sizeText), 0);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.CellText(FileListModel::PathColumn, 0), path);
    QCOMPARE(model.CellText(FileListModel::NumberColumn, 0), QStringLiteral("1"));
    QFETCH(QString, packerCell);
    QCOMPARE(model.CellText(FileListModel::PackerColumn, 0), packerCell);
    QFETCH(QString, sizeCell);
    QCOMPARE(model.CellText(FileListModel::SizeColumn, 0), sizeCell);
    QCOMPARE(model.CellText(FileListModel::FileColumn, 0), QStringLiteral("eleven.bin"));
    QCOMPARE(model.data(model.index(0, 0), FileListModel::PathRole).toString(), path);
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0).at(0).toString(), path);
}

void DocumentTest::modelPassesTesterThroughEdits()
{
    FileListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int i = 0; i < 6; ++i)
        model.AddFileRow(QStringLiteral("/x/file%1.bin").arg(i), i % 3, QStringLiteral("%1").arg(i * 10));
    QVERIFY(model.setHeaderData(FileListModel::SizeColumn, Qt::Horizontal, QStringLiteral("Datasize:")));
    QCOMPARE(model.headerData(FileListModel::SizeColumn, Qt::Horizontal).toString(), QStringLiteral("Datasize:"));
    QVERIFY(model.setData(model.index(2, FileListModel::PackerColumn), QStringLiteral("zip")));
    QVERIFY(!model.setData(model.index(2, FileListModel::NumberColumn), QStringLiteral("9")));
    QVERIFY(!model.setData(model.index(2, FileListModel::FileColumn), QStringLiteral("x")));
    QVERIFY(model.flags(model.index(0, FileListModel::PackerColumn)) & Qt::ItemIsEditable);
    QVERIFY(!(model.flags(model.index(0, FileListModel::SizeColumn)) & Qt::ItemIsEditable));
    QVERIFY(model.SwapRows(0, 5));
    QVERIFY(!model.SwapRows(0, 6));
    QVERIFY(model.removeRows(1, 2));
    QCOMPARE(model.CellText(FileListModel::FileColumn, 1), QStringLiteral("file3.bin")); // the rows below move up
    QVERIFY(!model.removeRows(3, 2));
    QVERIFY(model.removeRows(3, 1)); // the last row
    QVERIFY(model.SetCellText(FileListModel::PathColumn, 0, QStringLiteral(R"(C:\new\name.wav)")));
    QCOMPARE(model.CellText(FileListModel::FileColumn, 0), QStringLiteral("name.wav"));
    QVERIFY(!model.SetCellText(FileListModel::NumberColumn, 0, QStringLiteral("7")));
    QCOMPARE(model.CellText(FileListModel::SizeColumn, 7), QString());
    QCOMPARE(model.CellText(7, 0), QString());
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
}

void DocumentTest::numbersFollowPositions()
{
    FileListModel model;
    for (int i = 0; i < 4; ++i)
        model.AddFileRow(QStringLiteral("/x/f%1").arg(i), 0, QStringLiteral("1"));
    QSignalSpy changed(&model, &FileListModel::dataChanged);
    QVERIFY(model.SwapRows(0, 3));
    QCOMPARE(model.CellText(FileListModel::PathColumn, 0), QStringLiteral("/x/f3"));
    QCOMPARE(model.CellText(FileListModel::NumberColumn, 0), QStringLiteral("1"));
    QVERIFY(model.removeRows(1, 1));
    QStringList numbers;
    QStringList files;
    for (int r = 0; r < model.rowCount(); ++r) {
        numbers << model.CellText(FileListModel::NumberColumn, r);
        files << model.CellText(FileListModel::FileColumn, r);
    }
    QCOMPARE(numbers, (QStringList{"1", "2", "3"}));
    QCOMPARE(files, (QStringList{"f3", "f2", "f0"}));
    // The row header counts the same way.
    QCOMPARE(model.headerData(0, Qt::Vertical).toString(), QStringLiteral("1"));
    QCOMPARE(model.headerData(2, Qt::Vertical).toString(), QStringLiteral("3"));
    QVERIFY(!model.headerData(3, Qt::Vertical).isValid());
    // The removal renumbers the rows below it, which a view must hear about.
    QVERIFY(changed.count() >= 3);
}

void DocumentTest::projectPathAndTitle_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::newRow("windows path") << R"(C:\p\demo.hxlm)"
                                  << R"(C:\p\)"
                                  << "demo.hxlm"
                                  << "Hexaloom - demo";
    QTest::newRow("upper-case extension") << "/p/Demo.HXLM"
                                          << "/p/"
                                          << "Demo.HXLM"
                                          << "Hexaloom - Demo";
    QTest::newRow("short name") << "/p/x.hx"
                                << "/p/"
                                << "x.hx"
                                << "Hexaloom - ";
}

void DocumentTest::projectPathAndTitle()
{
    AppSettings settings;
    Document document(settings);
    QCOMPARE(document.windowTitle(), QStringLiteral("Hexaloom"));
    QFETCH(QString, path);
    document.setProjectPath(path);
    QFETCH(QString, dir);
    QCOMPARE(settings.projectdir, dir);
    QFETCH(QString, file);
    QCOMPARE(document.projectFile(), file);
    QSignalSpy titled(&document, &Document::windowTitleChanged);
    document.setWindowTitle(ProjectTitle(document.projectFile()));
    QFETCH(QString, title);
    QCOMPARE(document.windowTitle(), title);
    QCOMPARE(titled.count(), 1);
}

// A value no chooser entry stands for would be saved into a project the reader then refuses.
void DocumentTest::outputFormatIsOneOfThree_data()
{
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("format");
    QTest::newRow("hexdata") << 1 << 1;
    QTest::newRow("binpack") << 2 << 2;
    QTest::newRow("3") << 3 << 0;
    QTest::newRow("-1") << -1 << 0;
}

void DocumentTest::outputFormatIsOneOfThree()
{
    AppSettings settings;
    Document document(settings);
    document.setOutputFormat(OutputHexdata);
    QFETCH(int, given);
    document.setOutputFormat(given);
    QTEST(document.outputFormat(), "format");
}

QTEST_GUILESS_MAIN(DocumentTest)
#include "DocumentTest.moc"
