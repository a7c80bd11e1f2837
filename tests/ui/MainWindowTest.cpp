// The main window driven as a user drives it: actions, row buttons, the packer drop-down, the title
// click, drops and the folder walk, over real files, with the scripted seam answering every dialog.
#include "MainWindow.h"
#include "AboutWindow.h"
#include "AppSettings.h"
#include "Artwork.h"
#include "Document.h"
#include "EditableGrid.h"
#include "FileAdder.h"
#include "HelpWindow.h"
#include "HttpTestServer.h"
#include "Interactive.h"
#include "OwnResourceStore.h"
#include "PackedBlock.h"
#include "Paths.h"
#include "ProjectFile.h"
#include "ScriptedPlatform.h"
#include "SignedUpdate.h"
#include "Startup.h"
#include "TestFiles.h"
#include "UpdateInfo.h"
#include "UpdateWindow.h"
#include "WaitWindow.h"

#include <QAbstractItemModelTester>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace hexaloom;

namespace {

const QStringList kRowActions{"actionSave",     "actionSaveAs",    "actionCreate", "actionMoveUp",
                              "actionMoveDown", "actionCalculate", "actionDelete"};

QByteArray Text(int size, int seed)
{
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += QByteArray::number(seed) + " weaves the files of a PureBasic program into one; ";
    bytes.truncate(size);
    return bytes;
}

QString WithoutAmpersands(QString text)
{
    return text.remove('&');
}

// The Datasize of a packed row: the block's payload, or the file's length when it stays raw.
QString PackedSize(const QString& path, int kind, int level = kPackLevelDefault)
{
    const QByteArray bytes = ReadBytes(path);
    const Bytes block = PackBlock(Bytes(bytes.begin(), bytes.end()), kind, level);
    return QString::number(HasBlockMagic(block) ? block.size() - kBlockHeaderSize : block.size());
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<StartupState> m_state;
    std::unique_ptr<ScriptedPlatform> m_platform;
    std::unique_ptr<Document> m_document;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    Artwork m_art;

    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString file(const QString& name, const QByteArray& bytes) const
    {
        WriteBytes(path(name), bytes);
        return QDir::toNativeSeparators(path(name));
    }
    FileListModel& model() { return m_document->model(); }
    EditableGrid* grid() { return m_window->findChild<EditableGrid*>("fileGrid"); }
    QAction* action(const QString& name) { return m_window->findChild<QAction*>(name); }

    // Opens a window over a program folder with the given languages, settings kept beside it.
    void open(const QStringList& languages = {})
    {
        m_window.reset();
        m_document.reset();
        m_state = std::make_unique<StartupState>();
        m_state->updateKeys = {TestUpdateKey().publicKey};
        QDir().mkpath(path("program"));
        for (const QString& language : languages)
            WriteBytes(path("program/lang/" + language + ".lng"),
                       ReadBytes(QStringLiteral(HEXALOOM_SOURCE_DIR "/translations/") + language + ".lng"));
        PrepareStartup(*m_state, path("program/hexaloom"), {"/PORTABLE"});
        m_document = std::make_unique<Document>(m_state->settings);
        m_document->setSettingsFilePath(m_state->settingsPath);
        m_document->setProgramPath(m_state->programPath);
        m_tester = std::make_unique<QAbstractItemModelTester>(&model(),
                                                              QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_window = std::make_unique<MainWindow>(*m_state, *m_document, *m_platform, m_art);
        m_window->showFromSettings();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void trigger(const QString& name)
    {
        QAction* a = action(name);
        QVERIFY2(a && a->isEnabled(), qPrintable(name));
        a->trigger();
    }
    // Adds files through Add Files, as the requester would hand them over.
    void addFiles(const QStringList& paths)
    {
        m_platform->Answer(paths.join('\n'));
        trigger("actionAddFiles");
    }
    QStringList column(int c)
    {
        QStringList texts;
        for (int row = 0; row < model().rowCount(); ++row)
            texts << model().CellText(c, row);
        return texts;
    }
    QStringList enabledRowActions()
    {
        QStringList names;
        for (const QString& name : kRowActions)
            if (action(name)->isEnabled())
                names << name;
        return names;
    }
    void choosePacker(int row, const QString& packer)
    {
        const QModelIndex index = grid()->model()->index(row, FileListModel::PackerColumn);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(index).center());
        // Closed editors linger until the event loop deletes them; the open one is shown.
        QComboBox* editor = nullptr;
        for (QComboBox* combo : grid()->findChildren<QComboBox*>("choiceEditor"))
            editor = combo->isVisible() ? combo : editor;
        QVERIFY(editor);
        editor->setCurrentIndex(editor->findText(packer));
    }
    void setCalcSize(bool on)
    {
        auto* box = m_window->findChild<QCheckBox*>("chkCalc");
        if (box->isChecked() != on)
            box->click();
        QTRY_VERIFY(!m_window->isBusy());
    }
    // While work runs: the window disabled, the wait window frameless over its middle with the wait text.
    void expectWaitWindow()
    {
        auto* wait = m_window->findChild<WaitWindow*>();
        QVERIFY(wait && wait->isVisible() && wait->isEnabled() && !m_window->isEnabled());
        QVERIFY(wait->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(wait->findChild<QLabel*>("txtWait")->text(), QStringLiteral("Please wait ..."));
        QVERIFY((wait->frameGeometry().center() - m_window->frameGeometry().center()).manhattanLength() < 4);
    }
    void drop(const QStringList& paths)
    {
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        QMimeData mime;
        mime.setUrls(urls);
        // A drop follows the drag's entering, as on the desktop.
        const QPoint at = grid()->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid()->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent event(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid()->viewport(), &event);
    }

private slots:
    void initTestCase()
    {
        m_art = LoadArtwork(OwnResourceStore());
        for (int image = 0; image < ImageCount; ++image)
            QVERIFY2(!m_art.images[std::size_t(image)].isNull(), qPrintable(QString::number(image)));
        QCOMPARE(m_art.images[ImageLogo].size(), QSize(377, 57));
        QCOMPARE(m_art.images[ImageNew].size(), QSize(16, 16));
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_platform = std::make_unique<ScriptedPlatform>();
        open();
    }
    void cleanup()
    {
        m_window.reset();
        m_tester.reset();
        m_document.reset();
    }

    void enabledStates_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("packer"); // chosen for the current row with calcsize off
        QTest::addColumn<QStringList>("enabled");
        const QStringList always{"actionSave", "actionSaveAs", "actionCreate"};
        QTest::newRow("empty list") << 0 << -1 << "" << QStringList();
        QTest::newRow("one row") << 1 << 0 << "" << always + QStringList{"actionDelete"};
        QTest::newRow("first of three") << 3 << 0 << "" << always + QStringList{"actionMoveDown", "actionDelete"};
        QTest::newRow("middle of three") << 3 << 1 << ""
                                         << always + QStringList{"actionMoveUp", "actionMoveDown", "actionDelete"};
        QTest::newRow("last of three") << 3 << 2 << "" << always + QStringList{"actionMoveUp", "actionDelete"};
        QTest::newRow("size to compute") << 1 << 0 << "zip" << always + QStringList{"actionCalculate", "actionDelete"};
    }
    void enabledStates()
    {
        QFETCH(int, rows);
        QFETCH(int, current);
        QFETCH(QString, packer);
        QStringList files;
        for (int i = 0; i < rows; ++i)
            files << file(QString("f%1.txt").arg(i), Text(100 + i, i));
        if (rows > 0)
            addFiles(files);
        grid()->setCurrentCell(FileListModel::PackerColumn, current);
        if (!packer.isEmpty())
            choosePacker(current, packer);
        QTEST(enabledRowActions(), "enabled");
        QCOMPARE(m_window->findChild<QToolButton*>("btnCreate")->isEnabled(), rows > 0);
    }

    // Row buttons on a, b, c with different packers and sizes: numbers stay, everything else moves.
    void rowCommands_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("currentAfter");
        QTest::newRow("delete the second") << 1 << "btnDelete" << QStringList{"a.txt", "c.txt"} << 1;
        QTest::newRow("delete the last") << 2 << "btnDelete" << QStringList{"a.txt", "b.txt"} << 1;
        QTest::newRow("delete the first") << 0 << "btnDelete" << QStringList{"b.txt", "c.txt"} << 0;
        QTest::newRow("move the last up") << 2 << "btnUp" << QStringList{"a.txt", "c.txt", "b.txt"} << 1;
        QTest::newRow("move the first down") << 0 << "btnDown" << QStringList{"b.txt", "a.txt", "c.txt"} << 1;
    }
    void rowCommands()
    {
        QFETCH(int, current);
        QFETCH(QString, button);
        const QStringList names{"a.txt", "b.txt", "c.txt"};
        QStringList paths;
        for (int i = 0; i < names.size(); ++i)
            paths << file(names[i], Text(10 * (i + 1), i));
        addFiles(paths);
        choosePacker(1, "jCalg1");
        choosePacker(2, "zip");
        QMap<QString, QStringList> before; // file name -> packer, size, path
        for (int row = 0; row < 3; ++row)
            before[model().CellText(FileListModel::FileColumn, row)] = {
                model().CellText(1, row), model().CellText(2, row), model().CellText(-1, row)};
        grid()->setCurrentCell(FileListModel::PackerColumn, current);
        QTest::mouseClick(m_window->findChild<QToolButton*>(button), Qt::LeftButton);

        QTEST(column(FileListModel::FileColumn), "files");
        QFETCH(QStringList, files);
        QStringList numbers;
        for (int row = 0; row < files.size(); ++row) {
            numbers << QString::number(row + 1);
            QCOMPARE((QStringList{model().CellText(1, row), model().CellText(2, row), model().CellText(-1, row)}),
                     before[files[row]]);
        }
        QCOMPARE(column(FileListModel::NumberColumn), numbers);
        QTEST(grid()->currentRow(), "currentAfter");
        QCOMPARE(m_window->findChild<QLabel*>("statusPath")->text(), model().CellText(-1, grid()->currentRow()));
    }

    void packerChange_data()
    {
        QTest::addColumn<QString>("packer");
        QTest::addColumn<bool>("calcsize");
        QTest::addColumn<bool>("computed"); // else "---", computed by the calculate button
        QTest::newRow("zip, calcsize off") << "zip" << false << false;
        QTest::newRow("zip, calcsize on") << "zip" << true << true;
        QTest::newRow("jCalg1, calcsize on") << "jCalg1" << true << true;
        QTest::newRow("jCalg1, calcsize off") << "jCalg1" << false << false;
    }
    void packerChange()
    {
        QFETCH(QString, packer);
        QFETCH(bool, calcsize);
        QFETCH(bool, computed);
        const QString source = file("text.txt", Text(40000, 7));
        addFiles({source});
        setCalcSize(calcsize);
        choosePacker(0, packer);
        QTRY_VERIFY(!m_window->isBusy());
        const QString expected = PackedSize(source, PackerKindFromText(packer));
        QVERIFY(expected.toInt() < 40000);
        if (!computed) {
            QCOMPARE(model().CellText(FileListModel::SizeColumn, 0), QStringLiteral("---"));
            QTest::mouseClick(m_window->findChild<QToolButton*>("btnCalc"), Qt::LeftButton);
            QTRY_VERIFY(!m_window->isBusy());
        }
        QCOMPARE(model().CellText(FileListModel::SizeColumn, 0), expected);
        QVERIFY(!action("actionCalculate")->isEnabled());
        // Back to none: the file's own size at once.
        choosePacker(0, "none");
        QCOMPARE(model().CellText(FileListModel::SizeColumn, 0), QStringLiteral("40000"));
    }

    // A click on the Packformat title gives every row the current row's packer; rows that had it keep
    // their size text, even "---" with calcsize on.
    void titleClick_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<bool>("calcsize");
        QTest::addColumn<QStringList>("sizes"); // "packed" for a computed size
        QTest::newRow("jCalg1, calcsize off") << 1 << false << QStringList{"---", "1234", "---", "---"};
        QTest::newRow("jCalg1, calcsize on") << 1 << true << QStringList{"packed", "1234", "packed", "---"};
        QTest::newRow("none") << 0 << false << QStringList{"3000", "3001", "3002", "3003"};
    }
    void titleClick()
    {
        QFETCH(int, current);
        QFETCH(bool, calcsize);
        const QStringList packers{"none", "jCalg1", "zip", "jCalg1"};
        const QStringList sizeTexts{"3000", "1234", "---", "---"};
        FileListModel listed;
        QStringList paths;
        for (int i = 0; i < 4; ++i) {
            paths << file(QString("f%1.txt").arg(i), Text(3000 + i, i));
            listed.AddFileRow(paths[i], PackerKindFromText(packers[i]), sizeTexts[i]);
        }
        setCalcSize(calcsize);
        m_platform->Answer(file("p.hxlm", EncodeProject(listed, OutputHexdata)));
        trigger("actionOpen");
        QCOMPARE(column(FileListModel::SizeColumn), sizeTexts);
        grid()->setCurrentCell(FileListModel::PackerColumn, current);
        QHeaderView* header = grid()->horizontalHeader();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(FileListModel::PackerColumn) + 5, header->height() / 2));
        QTRY_VERIFY(!m_window->isBusy());
        QCOMPARE(grid()->currentRow(), current);
        QCOMPARE(column(FileListModel::PackerColumn), QStringList(4, packers[current]));
        QFETCH(QStringList, sizes);
        for (int row = 0; row < 4; ++row) {
            if (sizes[row] == "packed")
                sizes[row] = PackedSize(paths[row], PackerJcalg1);
        }
        QCOMPARE(column(FileListModel::SizeColumn), sizes);
    }

    void bigFileQuestion_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("added");
        QTest::newRow("at the limit") << qint64(50000000) << "" << false << true;
        QTest::newRow("one byte over, yes") << qint64(50000001) << "yes" << true << true;
        QTest::newRow("one byte over, no") << qint64(50000001) << "no" << true << false;
    }
    void bigFileQuestion()
    {
        QFETCH(qint64, size);
        QFETCH(QString, answer);
        QFile big(path("big.bin"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(size)); // sparse
        big.close();
        m_platform->Answer(QDir::toNativeSeparators(big.fileName()));
        if (!answer.isEmpty())
            m_platform->Answer(answer);
        trigger("actionAddFiles");
        QFETCH(bool, asked);
        QCOMPARE(m_platform->questionTexts(),
                 asked ? QStringList{"The file big.bin is very big!\nShould it be added anyway?"} : QStringList());
        QFETCH(bool, added);
        QCOMPARE(column(FileListModel::SizeColumn), added ? QStringList{QString::number(size)} : QStringList());
    }

    void dropFiles_data()
    {
        QTest::addColumn<QStringList>("dropped"); // relative to the test folder
        QTest::addColumn<QStringList>("files");   // the list afterwards
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("note"); // what the add said, %1 the test folder
        QTest::newRow("a project") << QStringList{"p.hxlm"} << QStringList{"one.txt", "two.txt"} << "Hexaloom - p"
                                   << "";
        QTest::newRow("a folder: its own files only")
            << QStringList{"folder"} << QStringList{"x.txt"} << "Hexaloom" << "";
        QTest::newRow("an empty file is a file")
            << QStringList{"empty.bin", "one.txt"} << QStringList{"empty.bin", "one.txt"} << "Hexaloom" << "";
        // A file in the list already is not added twice; one note names all such files of the add.
        QTest::newRow("a project among files")
            << QStringList{"p.hxlm", "two.txt", "one.txt", "two.txt"} << QStringList{"one.txt", "two.txt"}
            << "Hexaloom - p"
            << "3 of these files are in the list already and were not added again:\n%1/two.txt\n%1/one.txt\n"
               "%1/two.txt";
        // What cannot be added is named, never dropped without a word.
        QTest::newRow("a FIFO, a name the system cannot spell, a missing file")
            << QStringList{"odd", "gone.txt"} << QStringList{"x.txt"} << "Hexaloom"
            << "3 entries could not be added and were left out:\n%1/odd/fifo: no regular file\n%1/odd/\\xe9t\\xe9.txt: "
               "its name is not valid in the system's encoding\n%1/gone.txt: not found";
    }
    void dropFiles()
    {
        const QString one = file("one.txt", Text(11, 1));
        const QString two = file("two.txt", Text(22, 2));
        file("empty.bin", {});
        file("folder/x.txt", Text(33, 3));
        file("folder/sub/y.txt", Text(44, 4));
        file("odd/x.txt", Text(55, 5));
        QVERIFY(::mkfifo(QFile::encodeName(path("odd/fifo")).constData(), 0600) == 0);
        const QByteArray badName = QFile::encodeName(path("odd/")) + "\xE9t\xE9.txt";
        const int handle = ::open(badName.constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(handle >= 0);
        ::close(handle);
        // QTemporaryDir cannot remove a name it cannot spell.
        const auto removeBad = qScopeGuard([&badName] { ::unlink(badName.constData()); });
        FileListModel listed;
        listed.AddFileRow(one, 0, QString());
        listed.AddFileRow(two, 2, QStringLiteral("---"));
        file("p.hxlm", EncodeProject(listed, OutputBinpack));
        QFETCH(QStringList, dropped);
        for (QString& p : dropped)
            p = path(p);
        drop(dropped);
        QTEST(column(FileListModel::FileColumn), "files");
        QTEST(m_window->windowTitle().remove("[*]"), "title");
        QFETCH(QString, note);
        QCOMPARE(m_platform->messageTexts(), note.isEmpty() ? QStringList() : QStringList{note.arg(m_dir->path())});
        QCOMPARE(grid()->currentRow(), model().rowCount() - 1);
        QCOMPARE(m_window->findChild<QLabel*>("statusPath")->text(), model().CellText(-1, model().rowCount() - 1));
    }

    // The program's own reason is in the user's language, as the message around it.
    void leftOutInTheChosenLanguage()
    {
        open({"Deutsch"});
        trigger("actionLanguage0");
        file("odd/x.txt", Text(55, 5));
        QVERIFY(::mkfifo(QFile::encodeName(path("odd/fifo")).constData(), 0600) == 0);
        drop({path("odd"), path("gone.txt")});
        const QStringList told = m_platform->messageTexts();
        QCOMPARE(told.size(), 1);
        const QString reasons = path("odd/fifo") + QString::fromUtf8(": keine gewöhnliche Datei\n") + path("gone.txt") +
                                ": nicht gefunden";
        QVERIFY2(told[0].endsWith(reasons), qPrintable(told[0]));
    }

    void droppedProjectOpensASecondCopyWhenTheListHasRows()
    {
        const QString one = file("one.txt", Text(11, 1));
        addFiles({one});
        FileListModel listed;
        listed.AddFileRow(one, 0, QString());
        file("p.hxlm", EncodeProject(listed, OutputHexdata));
        drop({path("p.hxlm")});
        QCOMPARE(m_platform->callsOf("StartProgram"),
                 QStringList{QString("StartProgram(%1, [\"/IGNOREPOS\", %2])")
                                 .arg(Quoted(m_state->programPath), Quoted(path("p.hxlm")))});
        QCOMPARE(model().rowCount(), 1);
    }

    // Add Directory walks the tree on a worker; Escape stops it and keeps the rows so far, and the next
    // walk runs to its end.
    void addDirectoryStopsOnEscape()
    {
        QStringList all;
        for (int i = 0; i < 60; ++i)
            all << file(QString("tree/d%1/s%2/f%3.txt").arg(i % 3).arg(i % 2).arg(i), Text(5 + i, i));
        const QString folder = WithSeparator(path("tree"));
        m_platform->PressEscapeAfter(25);
        m_platform->Answer(folder);
        trigger("actionAddDir");
        QTRY_VERIFY(!m_window->isBusy());
        const QStringList stopped = column(FileListModel::PathColumn);
        QVERIFY(stopped.size() > 0 && stopped.size() < 25);
        QCOMPARE(m_platform->callsOf("PathRequester"),
                 QStringList{QString("PathRequester(\"Add Directory (recursive) ...\", %1) -> %2")
                                 .arg(Quoted(m_state->settings.lastdir), Quoted(folder))});

        m_platform->PressEscapeAfter(-1);
        m_platform->Answer(folder);
        trigger("actionAddDir");
        QTRY_VERIFY(!m_window->isBusy());
        // The files of the stopped walk are not added again: the second walk adds the rest, and says so.
        const QStringList paths = column(FileListModel::PathColumn);
        QCOMPARE(paths.mid(0, stopped.size()), stopped);
        QStringList walked = paths;
        walked.sort();
        all.sort();
        QCOMPARE(walked, all);
        QCOMPARE(m_platform->messageTexts().size(), 1);
        QVERIFY(m_platform->messageTexts()[0].startsWith(QString::number(stopped.size()) + " of these files"));
        QCOMPARE(grid()->currentRow(), paths.size() - 1);
    }

    void languageSwitch()
    {
        file("program/lang/Deutsch.ico", ReadBytes(QStringLiteral(HEXALOOM_SOURCE_DIR "/resources/Book.ico")));
        file("program/lang/Zulu.lng", "[Grid]\r\nFile = iFayela:\r\n");
        open({"Deutsch"});
        QCOMPARE(m_state->languageNames, (QStringList{"Deutsch", "Zulu"}));
        auto* onTop = m_window->findChild<QCheckBox*>("chkOnTop");
        auto* icon = m_window->findChild<QLabel*>("statusLanguage");
        QCOMPARE(onTop->text(), QStringLiteral("Always on top"));
        addFiles({file("a.txt", Text(12345, 1))});
        m_platform->Answer(path("out.pbi"));
        trigger("actionCreate");
        QTRY_VERIFY(!m_window->isBusy());
        auto* status = m_window->findChild<QLabel*>("statusPath");
        QVERIFY2(status->text().contains(" written: 1 files, "), qPrintable(status->text()));
        const QModelIndex size = grid()->model()->index(0, FileListModel::SizeColumn);
        QCOMPARE(size.data().toString(), QStringLiteral("12,345"));
        trigger("actionLanguage0");
        // The status bar, the sizes and the numbers follow the language.
        QVERIFY2(status->text().contains(" geschrieben: 1 Dateien, "), qPrintable(status->text()));
        QCOMPARE(size.data().toString(), QStringLiteral("12.345"));
        QCOMPARE(model().CellText(FileListModel::SizeColumn, 0), QStringLiteral("12345"));
        QCOMPARE(m_state->settings.language, QStringLiteral("Deutsch"));
        QCOMPARE(onTop->text(), QStringLiteral("Immer im Vordergrund"));
        QCOMPARE(model().headerData(FileListModel::SizeColumn, Qt::Horizontal).toString(),
                 QStringLiteral("Datengröße:"));
        QCOMPARE(action("actionSave")->toolTip(), QStringLiteral("Speichern"));
        QVERIFY(action("actionLanguage0")->isChecked() && !action("actionLanguage1")->isChecked());
        QVERIFY(!icon->pixmap().isNull());
        // Qt's own requesters and buttons speak it too.
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
        // A language that lacks a text shows the English one, not the last language's.
        trigger("actionLanguage1");
        QCOMPARE(onTop->text(), QStringLiteral("Always on top"));
        QCOMPARE(model().headerData(FileListModel::FileColumn, Qt::Horizontal).toString(), QStringLiteral("iFayela:"));
        QVERIFY(!action("actionLanguage0")->isChecked() && action("actionLanguage1")->isChecked());
        QVERIFY(icon->pixmap().isNull());
        QCOMPARE(icon->text(), QStringLiteral("Zulu"));
        // The built-in English comes first in the menu, as one exclusive group with the files.
        trigger("actionLanguage0");
        auto* menu = m_window->findChild<QMenu*>("menuLang");
        QCOMPARE(menu->actions().value(0), action("actionLanguageEnglish"));
        QVERIFY(action("actionLanguageEnglish")->actionGroup()->isExclusive());
        trigger("actionLanguageEnglish");
        QCOMPARE(m_state->settings.language, QString());
        QCOMPARE(onTop->text(), QStringLiteral("Always on top"));
        QCOMPARE(model().headerData(FileListModel::FileColumn, Qt::Horizontal).toString(), QStringLiteral("Filename:"));
        QStringList checked;
        for (QAction* a : m_window->findChild<QMenu*>("menuLang")->actions())
            if (a->isChecked())
                checked << a->objectName();
        QCOMPARE(checked, QStringList{"actionLanguageEnglish"});
        QCOMPARE(icon->text(), QStringLiteral("English"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    }

    // A language chosen in the Language menu, by its letters or the mouse, with a list loaded: the menu
    // whose event chose it stays the same object, now in the new language.
    void languageSwitchThroughTheMenu_data()
    {
        QTest::addColumn<bool>("keyboard");
        QTest::newRow("Alt letters") << true;
        QTest::newRow("mouse") << false;
    }
    void languageSwitchThroughTheMenu()
    {
        QFETCH(bool, keyboard);
        open({"Deutsch", "Français"});
        addFiles({file("a.txt", Text(100, 1))});
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QMenuBar* bar = m_window->menuBar();
        const QPointer<QMenu> menu = m_window->findChild<QMenu*>("menuLang");
        auto letter = [](const QString& text) { return Qt::Key(text.at(text.indexOf('&') + 1).toUpper().unicode()); };
        const QList<QPair<QString, QString>> steps{
            {"actionLanguage0", "Sprache"}, {"actionLanguage1", "Langue"}, {"actionLanguageEnglish", "Language"}};
        for (const auto& [name, title] : steps) {
            QAction* item = action(name);
            if (keyboard)
                QTest::keyClick(m_window.get(), letter(menu->title()), Qt::AltModifier);
            else
                QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
            QTRY_COMPARE(QApplication::activePopupWidget(), menu.data());
            if (keyboard)
                QTest::keyClick(menu.data(), letter(item->text()));
            else
                QTest::mouseClick(menu.data(), Qt::LeftButton, {}, menu->actionGeometry(item).center());
            QTRY_VERIFY(!QApplication::activePopupWidget());
            QVERIFY2(menu && menu == m_window->findChild<QMenu*>("menuLang"), qPrintable(name));
            QCOMPARE(WithoutAmpersands(menu->title()), title);
            QVERIFY(item->isChecked());
        }
        QCOMPARE(model().rowCount(), 1);
    }

    // F1, About and Updatecheck open their windows, in the window's language.
    void helpAboutAndUpdatecheck()
    {
        open({"Deutsch"});
        file("program/lang/Deutsch.html", "<p>Hilfe auf Deutsch</p>");
        trigger("actionLanguage0");
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::keyClick(m_window.get(), Qt::Key_F1);
        HelpWindow* help = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* found = qobject_cast<HelpWindow*>(window); found && found->isVisible())
                help = found;
        QVERIFY(help);
        QVERIFY(help->findChild<QTextBrowser*>("helpPage")->toPlainText().contains("Hilfe auf Deutsch"));
        QVERIFY(!(help->windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(!help->windowIcon().isNull());
        QCOMPARE(help->windowTitle(), QStringLiteral("Hexaloom - Hilfe"));
        // Above a main window that stays on top.
        m_window->findChild<QCheckBox*>("chkOnTop")->click();
        QTest::keyClick(m_window.get(), Qt::Key_F1);
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* found = qobject_cast<HelpWindow*>(window); found && found->isVisible())
                help = found;
        QVERIFY(help->windowFlags() & Qt::WindowStaysOnTopHint);

        trigger("actionAbout");
        auto* about = m_window->findChild<AboutWindow*>();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowTitle(), QString::fromUtf8("Über Hexaloom"));
        QVERIFY(!about->findChild<QLabel*>("logo")->pixmap().isNull());
        QVERIFY(!about->findChild<QPushButton*>("donateButton")->icon().isNull());

        HttpTestServer server;
        QVERIFY(server.listen());
        UpdateInfo info;
        info.Name = QStringLiteral("Hexaloom");
        info.Version = QStringLiteral("2.0");
        server.serve("/u", SignedInfo(info));
        m_state->settings.updateurl = server.url("/u");
        trigger("actionUpdatecheck");
        QTRY_VERIFY(m_window->findChild<UpdateWindow*>());
        QCOMPARE(m_window->findChild<UpdateWindow*>()->windowTitle(), QStringLiteral("Neues Update gefunden!"));
    }

    // An update check that gets no answer says so, and why.
    void updatecheckWithoutAnswerSaysSo_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("HTTP 404") << true;
        QTest::newRow("nobody listening") << false;
    }
    void updatecheckWithoutAnswerSaysSo()
    {
        QFETCH(bool, listening);
        HttpTestServer server;
        QVERIFY(server.listen());
        server.serveStatus("/u", 404);
        m_state->settings.updateurl = listening ? server.url("/u") : QStringLiteral("http://127.0.0.1:1/u");
        trigger("actionUpdatecheck");
        QTRY_COMPARE(m_platform->messageTexts().size(), 1);
        const QString text = m_platform->messageTexts()[0];
        QVERIFY2(text.startsWith("The update server could not be reached (" + m_state->settings.updateurl + "):\n") &&
                     text.size() > text.indexOf('\n') + 5,
                 qPrintable(text));
        QVERIFY(!m_window->findChild<UpdateWindow*>());
    }

    // New saves the settings and starts a second copy; Save writes a named project without asking.
    void newAndSave()
    {
        addFiles({file("a.txt", Text(10, 1))});
        trigger("actionNew");
        QCOMPARE(m_platform->callsOf("StartProgram"),
                 QStringList{QString("StartProgram(%1, [\"/IGNOREPOS\"])").arg(Quoted(m_state->programPath))});
        QVERIFY(QFileInfo(m_state->settingsPath).size() > 0);
        m_platform->Answer(path("named"));
        trigger("actionSave");
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Hexaloom - named[*]"));
        QVERIFY(!m_window->isWindowModified());
        QVERIFY(QFile::remove(path("named.hxlm")));
        m_platform->clear();
        trigger("actionSave");
        QVERIFY(m_platform->callsOf("SaveFileRequester").isEmpty());
        QVERIFY(QFileInfo::exists(path("named.hxlm")));
    }

    // Files of one name: Create asks whether to go on.
    void nameClashAsksBeforeCreate_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("written");
        QTest::newRow("create anyway") << "yes" << true;
        QTest::newRow("cancel") << "no" << false;
    }
    void nameClashAsksBeforeCreate()
    {
        QFETCH(QString, answer);
        addFiles({file("a/logo.png", Text(10, 1)), file("b/logo.png", Text(20, 2))});
        m_window->findChild<QComboBox*>("cmbOutput")->setCurrentIndex(OutputHexdata);
        m_platform->Answer(path("out.pbi"));
        m_platform->Answer(answer);
        trigger("actionCreate");
        QTRY_VERIFY(!m_window->isBusy());
        QCOMPARE(m_platform->callsOf("WarnProceed").size(), 1);
        QVERIFY(m_platform->callsOf("WarnProceed")[0].contains("\"Create anyway\") -> "));
        QVERIFY2(m_platform->messageTexts().isEmpty(), qPrintable(m_platform->calls().join("\n")));
        QTEST(QFileInfo::exists(path("out.pbi")), "written");
    }

    // A project whose files moved away tells of them in one message, not one per file.
    void missingFilesOfAProjectInOneMessage()
    {
        FileListModel listed;
        listed.AddFileRow(file("here.txt", Text(10, 1)), 0, QString());
        for (int i = 0; i < 300; ++i)
            listed.AddFileRow(path(QString("moved/f%1.bin").arg(i)), 0, QString());
        m_platform->Answer(file("p.hxlm", EncodeProject(listed, OutputHexdata)));
        trigger("actionOpen");
        QCOMPARE(model().rowCount(), 1);
        const QStringList messages = m_platform->messageTexts();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].startsWith("300 of the project's files were not found"));
        QCOMPARE(messages[0].count("moved/f"), 300);
    }

    // A Save As that fails names the path and the reason, and the project keeps its name for Save.
    void failedSaveKeepsTheProjectName_data()
    {
        QTest::addColumn<bool>("named");
        QTest::newRow("unnamed list") << false;
        QTest::newRow("named project") << true;
    }
    void failedSaveKeepsTheProjectName()
    {
        QFETCH(bool, named);
        addFiles({file("a.txt", Text(10, 1))});
        if (named) {
            m_platform->Answer(path("first"));
            trigger("actionSaveAs");
        }
        const QString title = m_window->windowTitle();
        m_platform->clear();
        m_platform->Answer(path("gone/p.hxlm"));
        trigger("actionSaveAs");
        QCOMPARE(m_platform->messageTexts().size(), 1);
        QVERIFY2(m_platform->messageTexts()[0].startsWith("The project could not be saved as " + path("gone/p.hxlm")),
                 qPrintable(m_platform->messageTexts()[0]));
        QCOMPARE(m_window->windowTitle(), title);
        m_platform->clear();
        m_platform->Answer(path("second"));
        trigger("actionSave");
        QCOMPARE(m_platform->callsOf("SaveFileRequester").size(), named ? 0 : 1);
        QVERIFY(QFileInfo::exists(path(named ? "first.hxlm" : "second.hxlm")));
    }

    // Stopping long work: the rows not yet measured keep "---", a stopped Create writes nothing, and
    // closing the window stops the work first.
    void stopLongWork_data()
    {
        QTest::addColumn<QString>("work");
        QTest::addColumn<QString>("how");
        QTest::newRow("sizes, Cancel") << "sizes"
                                       << "cancel";
        QTest::newRow("sizes, Escape") << "sizes"
                                       << "escape";
        QTest::newRow("Create, Cancel") << "create"
                                        << "cancel";
        QTest::newRow("sizes, window closed") << "sizes"
                                              << "close";
    }
    void stopLongWork()
    {
        QFETCH(QString, work);
        QFETCH(QString, how);
        // Files that take jCalg1 a while each, so the work is stopped long before it ends.
        QStringList paths;
        QByteArray noise(1500000, '\0');
        quint32 state = 1;
        for (char& c : noise) {
            state = state * 1664525u + 1013904223u;
            c = char('a' + (state >> 24) % 26);
        }
        for (int i = 0; i < 12; ++i)
            paths << file(QString("n%1.txt").arg(i), noise.mid(i) + noise.left(i));
        addFiles(paths);
        grid()->setCurrentCell(FileListModel::PackerColumn, 0);
        choosePacker(0, "jCalg1");
        QHeaderView* header = grid()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        QCOMPARE(column(FileListModel::SizeColumn), QStringList(12, "---"));
        const QString output = path("out.pbi");
        if (work == "sizes") {
            m_window->findChild<QCheckBox*>("chkCalc")->click();
        } else {
            m_platform->Answer(output);
            trigger("actionCreate");
        }
        expectWaitWindow();
        auto* wait = m_window->findChild<WaitWindow*>();
        if (how == "cancel")
            QTest::mouseClick(wait->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(m_window.get(), Qt::Key_Escape); // the keyboard stays with the main window
        else {
            m_platform->Answer("discard");
            m_window->close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isBusy(), 20000);
        QCOMPARE(m_window->isVisible(), how != "close");
        QVERIFY(m_platform->messageTexts().isEmpty());
        if (work == "create") {
            QVERIFY(!QFileInfo::exists(output));
            return;
        }
        const QStringList sizes = column(FileListModel::SizeColumn);
        QVERIFY2(sizes.count("---") >= 6, qPrintable(sizes.join(' ')));
        for (int row = 0; row < sizes.size(); ++row) {
            if (sizes[row] != "---")
                QCOMPARE(sizes[row], PackedSize(paths[row], PackerJcalg1));
        }
    }

    // The keyboard reaches the commands: standard shortcuts, Delete in the list.
    void shortcuts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("keys");
        QTest::newRow("New") << "actionNew"
                             << "Ctrl+N";
        QTest::newRow("Open") << "actionOpen"
                              << "Ctrl+O";
        QTest::newRow("Save") << "actionSave"
                              << "Ctrl+S";
        QTest::newRow("Save As") << "actionSaveAs"
                                 << "Ctrl+Shift+S";
        QTest::newRow("Quit") << "actionQuit"
                              << "Ctrl+Q";
        QTest::newRow("Delete") << "actionDelete"
                                << "Del";
        QTest::newRow("Add Files") << "actionAddFiles"
                                   << "Ctrl+I";
        QTest::newRow("Add Directory") << "actionAddDir"
                                       << "Ctrl+D";
        QTest::newRow("Create") << "actionCreate"
                                << "Ctrl+B";
        QTest::newRow("Smallest packer") << "actionSmallestPacker"
                                         << "Ctrl+Shift+P";
    }
    void shortcuts()
    {
        QFETCH(QString, name);
        QFETCH(QString, keys);
        addFiles({file("a.txt", Text(10, 1)), file("b.txt", Text(20, 2))});
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        // Adding leaves the keyboard in the list.
        QCOMPARE(QApplication::focusWidget(), grid());
        if (name == "actionQuit")
            m_platform->Answer("discard");
        QSignalSpy triggered(action(name), &QAction::triggered);
        QTest::keySequence(QApplication::focusWidget(), QKeySequence(keys));
        QCOMPARE(triggered.count(), 1);
        if (name == "actionDelete")
            QCOMPARE(column(FileListModel::FileColumn), QStringList{"a.txt"});
        QTRY_VERIFY(!m_window->isBusy());
        // Every command but the row buttons' is in the File menu too.
        QVERIFY(name == "actionDelete" || m_window->findChild<QMenu*>("menuFile")->actions().contains(action(name)));
    }

    // Tab leaves the list forward to the output format and Create.
    void tabLeavesTheList()
    {
        addFiles({file("a.txt", Text(10, 1)), file("b.txt", Text(20, 2))});
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QCOMPARE(QApplication::focusWidget(), grid());
        QTest::keyClick(grid(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_window->findChild<QComboBox*>("cmbOutput"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_window->findChild<QToolButton*>("btnCreate"));
    }

    // Every menu and every item in it has an Alt letter of its own; Create names itself beside its icon.
    void altLetters_data()
    {
        QTest::addColumn<int>("language"); // -1 English
        QTest::newRow("English") << -1;
        QTest::newRow("Deutsch") << 0;
        QTest::newRow("Français") << 1;
    }
    void altLetters()
    {
        QFETCH(int, language);
        open({"Deutsch", "Français"});
        trigger(language < 0 ? QStringLiteral("actionLanguageEnglish") : QString("actionLanguage%1").arg(language));
        auto letters = [](const QList<QAction*>& actions) {
            QStringList found;
            for (const QAction* a : actions) {
                if (a->isSeparator())
                    continue;
                const QString text = a->text();
                const qsizetype amp = text.indexOf('&');
                found << (amp >= 0 && amp + 1 < text.size() ? text.mid(amp + 1, 1).toLower() : "none:" + text);
            }
            return found;
        };
        QList<QList<QAction*>> groups{m_window->menuBar()->actions()};
        for (QAction* title : m_window->menuBar()->actions())
            groups << title->menu()->actions();
        for (const QList<QAction*>& group : groups) {
            const QStringList found = letters(group);
            QVERIFY2(found.filter("none:").isEmpty(), qPrintable(found.join(' ')));
            QCOMPARE(QSet<QString>(found.begin(), found.end()).size(), found.size());
        }
        auto* create = m_window->findChild<QToolButton*>("btnCreate");
        QCOMPARE(create->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        QCOMPARE(create->text(), action("actionCreate")->iconText());
    }

    // Quit and the close box ask before a changed list goes: save, discard or cancel.
    void quitAsksBeforeUnsavedRowsGo_data()
    {
        QTest::addColumn<QString>("before"); // what was done to the list
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");
        QTest::newRow("empty list") << "" << QStringList() << false << true << false;
        QTest::newRow("added, cancel") << "add" << QStringList{"cancel"} << true << false << false;
        QTest::newRow("added, discard") << "add" << QStringList{"discard"} << true << true << false;
        QTest::newRow("added, save") << "add" << QStringList{"save", "q.hxlm"} << true << true << true;
        QTest::newRow("added, save, requester cancelled") << "add" << QStringList{"save", ""} << true << false << false;
        QTest::newRow("added and saved") << "add save" << QStringList() << false << true << true;
        QTest::newRow("opened") << "open" << QStringList() << false << true << false;
        QTest::newRow("opened, packer changed") << "open zip" << QStringList{"discard"} << true << true << false;
        QTest::newRow("opened, close box") << "open zip close" << QStringList{"cancel"} << true << false << false;
    }
    void quitAsksBeforeUnsavedRowsGo()
    {
        QFETCH(QString, before);
        QFETCH(QStringList, answers);
        const QString a = file("a.txt", Text(100, 1));
        if (before.startsWith("add"))
            addFiles({a});
        if (before.contains("save")) {
            m_platform->Answer(path("q.hxlm"));
            trigger("actionSaveAs");
            QVERIFY(QFile::remove(path("q.hxlm")));
        }
        if (before.startsWith("open")) {
            FileListModel listed;
            listed.AddFileRow(a, 0, QString());
            m_platform->Answer(file("p.hxlm", EncodeProject(listed, OutputHexdata)));
            trigger("actionOpen");
            QCOMPARE(model().rowCount(), 1);
        }
        if (before.contains("zip"))
            choosePacker(0, "zip");
        m_platform->clear();
        for (const QString& answer : answers)
            m_platform->Answer(answer == "q.hxlm" ? path(answer) : answer);
        // The title marks the unsaved list exactly when closing asks.
        QFETCH(bool, asked);
        QCOMPARE(m_window->isWindowModified(), asked);
        if (before.contains("close"))
            m_window->close();
        else
            trigger("actionQuit");
        QCOMPARE(m_platform->callsOf("AskSaveChanges").size(), asked ? 1 : 0);
        QTEST(!m_window->isVisible(), "closed");
        QFETCH(bool, saved);
        QCOMPARE(QFileInfo::exists(path("q.hxlm")), saved && !before.contains("save"));
        QCOMPARE(m_platform->answersLeft(), 0);
    }

    // The interactive road saves what the window changed when it closes.
    void settingsWrittenAtExit()
    {
        open({"Deutsch"});
        m_window.reset();
        m_document.reset();
        StartupState& state = *m_state;
        QTimer::singleShot(0, this, [] {
            MainWindow* window = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                window = window ? window : qobject_cast<MainWindow*>(w);
            QVERIFY(window && QTest::qWaitForWindowExposed(window));
            window->resize(700, 420);
            window->move(40, 30);
            window->findChild<QCheckBox*>("chkOnTop")->click();
            window->findChild<QCheckBox*>("chkCalc")->click();
            window->findChild<QComboBox*>("cmbOutput")->setCurrentIndex(OutputBinpack);
            window->findChild<QAction*>("actionLanguage0")->trigger();
            window->findChild<QAction*>("actionQuit")->trigger();
        });
        ScriptedPlatform platform;
        QCOMPARE(RunMainWindow(state, &platform), 0);

        AppSettings saved;
        saved.portable = true;
        LoadSettings(saved, state.settingsPath);
        QCOMPARE(saved.frmMain_w, 700);
        QCOMPARE(saved.frmMain_h, 420);
        QCOMPARE(saved.frmMain_x, 40);
        QCOMPARE(saved.frmMain_y, 30);
        QCOMPARE(saved.frmMain_s, 0);
        QCOMPARE(int(saved.ontop), 1);
        QCOMPARE(int(saved.calcsize), 1);
        QCOMPARE(int(saved.lastoutput), int(OutputBinpack));
        QCOMPARE(saved.language, QStringLiteral("Deutsch"));
    }

    // Smallest packer per file, on the worker: none where packing does not pay, and the output the same
    // as the build road's with --packer smallest.
    void smallestPackerMatchesTheBuildRoad_data()
    {
        QTest::addColumn<bool>("harder"); // "Pack harder (slower)" checked
        QTest::newRow("level 9") << false;
        QTest::newRow("packing harder") << true;
    }
    void smallestPackerMatchesTheBuildRoad()
    {
        QFETCH(bool, harder);
        const int level = harder ? kPackLevelMax : kPackLevelDefault;
        // Random bytes do not pack; a short text barely does; a long one packs well; a mixed file may
        // go either way. Zip packs the 331 bytes of random and zeros to less, but not with its block header.
        const QStringList paths{file("random.bin", Pattern(5000, 1, false)), file("tiny.txt", "abcabcabc"),
                                file("edge.bin", Pattern(300, 5, false) + QByteArray(31, '\0')),
                                file("long.txt", Pattern(60000, 2, true)),
                                file("mixed.bin", Pattern(3000, 3, true) + Pattern(3000, 4, false))};
        addFiles(paths);
        m_window->findChild<QComboBox*>("cmbOutput")->setCurrentIndex(OutputHexdata);
        if (harder)
            trigger("actionPackHarder");
        trigger("actionSmallestPacker");
        QVERIFY(m_window->isBusy());
        QTRY_VERIFY(!m_window->isBusy());
        const QStringList packers = column(FileListModel::PackerColumn);
        QCOMPARE(packers.mid(0, 3), (QStringList{"none", "none", "none"}));
        QVERIFY(packers[3] != "none");
        for (int row = 0; row < paths.size(); ++row) {
            QCOMPARE(model().CellText(FileListModel::SizeColumn, row),
                     packers[row] == "none" ? QString::number(QFileInfo(paths[row]).size())
                                            : PackedSize(paths[row], PackerKindFromText(packers[row]), level));
        }
        const QString fromWindow = path("window/out.pbi");
        QDir().mkpath(path("window"));
        m_platform->Answer(fromWindow);
        trigger("actionCreate");
        QTRY_VERIFY(!m_window->isBusy());
        QVERIFY(m_platform->messageTexts().isEmpty());

        QDir().mkpath(path("road"));
        QProcess road;
        road.setWorkingDirectory(path("road"));
        road.start(QStringLiteral(HEXALOOM_EXECUTABLE),
                   QStringList{"--create", "out.pbi", "--format", "hexdata", "--packer", "smallest", "--level",
                               harder ? "max" : "9"} +
                       paths);
        QVERIFY(road.waitForFinished(60000));
        QCOMPARE(road.exitCode(), 0);
        QCOMPARE(ReadBytes(path("road/out.pbi")), ReadBytes(fromWindow));
    }

    // Create from the window writes the bytes the command line writes for the same project.
    void createMatchesTheSilentRoad_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("harder"); // "Pack harder (slower)" checked
        QTest::newRow("resource") << int(OutputResource) << false;
        QTest::newRow("hexdata") << int(OutputHexdata) << false;
        QTest::newRow("binpack") << int(OutputBinpack) << false;
        QTest::newRow("hexdata, packing harder") << int(OutputHexdata) << true;
    }
    void createMatchesTheSilentRoad()
    {
        QFETCH(int, format);
        QFETCH(bool, harder);
        addFiles({file("a.txt", Text(70000, 1)), file("b.bin", Text(300, 2)), file("c.txt", Text(9000, 3))});
        if (harder) { // text the max level packs smaller than level 9 (the lines above pack to runs)
            QByteArray words;
            QRandomGenerator random(3);
            for (int i = 0; i < 20000; ++i)
                words += QByteArray::number(random.bounded(900)) + (i % 7 ? " " : "\n");
            addFiles({file("d.txt", words)});
        }
        if (harder) {
            // The check is shown in the status bar, and the sizes follow the level: those shown are taken again.
            setCalcSize(true);
            choosePacker(3, "jCalg1");
            QTRY_VERIFY(!m_window->isBusy());
            trigger("actionPackHarder");
            QVERIFY(m_window->findChild<QLabel*>("statusLevel")->isVisibleTo(m_window.get()));
            QTRY_VERIFY(!m_window->isBusy());
        }
        choosePacker(0, "jCalg1");
        QTRY_VERIFY(!m_window->isBusy());
        choosePacker(2, "zip");
        if (harder) {
            QTRY_VERIFY(!m_window->isBusy());
            const int level = kPackLevelMax;
            QCOMPARE(model().CellText(FileListModel::SizeColumn, 0), PackedSize(path("a.txt"), PackerJcalg1, level));
            QCOMPARE(model().CellText(FileListModel::SizeColumn, 2), PackedSize(path("c.txt"), PackerZip, level));
            QCOMPARE(model().CellText(FileListModel::SizeColumn, 3), PackedSize(path("d.txt"), PackerJcalg1, level));
            QVERIFY(PackedSize(path("d.txt"), PackerJcalg1, level).toInt() <
                    PackedSize(path("d.txt"), PackerJcalg1).toInt());
        }
        m_window->findChild<QComboBox*>("cmbOutput")->setCurrentIndex(format);
        m_platform->Answer(path("p.hxlm"));
        trigger("actionSaveAs");

        const QString output = path(format == OutputResource ? "out.res" : "out.pbi");
        const QString pack = path("out.binpack");
        m_platform->Answer(output);
        trigger("actionCreate");
        QVERIFY(m_window->isBusy());
        expectWaitWindow();
        QTRY_VERIFY(!m_window->isBusy());
        QVERIFY(m_window->isEnabled() && !m_window->findChild<WaitWindow*>()->isVisible());
        QVERIFY(m_platform->messageTexts().isEmpty());
        const QByteArray fromWindow = ReadBytes(output);
        // The status bar tells what was written.
        QCOMPARE(m_window->findChild<QLabel*>("statusPath")->text(),
                 QString("%1 written: %2 files, %3 bytes")
                     .arg(output)
                     .arg(model().rowCount())
                     .arg(QLocale().toString(fromWindow.size() + ReadBytes(pack).size())));
        const QByteArray packFromWindow = ReadBytes(pack);
        QVERIFY(!fromWindow.isEmpty());
        QCOMPARE(packFromWindow.isEmpty(), format != OutputBinpack);
        QVERIFY(QFile::remove(output));
        QFile::remove(pack);

        QProcess silent;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        silent.setProcessEnvironment(env);
        if (harder) // the silent road packs as the settings say
            QVERIFY(WriteBytes(path("config/Brannock/Hexaloom/Hexaloom.prefs"), "[Settings]\r\npackmax = 1\r\n"));
        silent.start(QStringLiteral(HEXALOOM_EXECUTABLE), {"/CREATESILENT=" + output, path("p.hxlm")});
        QVERIFY(silent.waitForFinished(60000));
        QCOMPARE(silent.exitCode(), 0);
        QCOMPARE(ReadBytes(output), fromWindow);
        QCOMPARE(ReadBytes(pack), packFromWindow);
        if (harder) { // and not at level 9 as without the setting
            QVERIFY(QFile::remove(path("config/Brannock/Hexaloom/Hexaloom.prefs")));
            silent.start(QStringLiteral(HEXALOOM_EXECUTABLE), {"/CREATESILENT=" + output, path("p.hxlm")});
            QVERIFY(silent.waitForFinished(60000));
            QVERIFY(ReadBytes(output).size() > fromWindow.size());
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
