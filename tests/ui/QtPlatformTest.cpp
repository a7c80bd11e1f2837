// The requester patterns of the seam as Qt name filters, and requesters that never read the files they list.
#include "QtPlatform.h"
#include "ScreenFit.h"
#include "TestFiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

using namespace hexaloom;

class QtPlatformTest : public QObject
{
    Q_OBJECT
private slots:
    void nameFilters_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("filters");
        QTest::newRow("one pair") << "*.res|*.res" << QStringList{"*.res (*.res)"};
        QTest::newRow("project, suffix without dot") << "*.hxlm|*hxlm" << QStringList{"*.hxlm (*hxlm)"};
        QTest::newRow("several patterns, two pairs")
            << "PureBasic Files (*.pb, *.pbi)|*.pb;*.pbi|All Files (*.*)|*.*"
            << QStringList{"PureBasic Files (*.pb, *.pbi) (*.pb *.pbi)", "All Files (*.*) (*)"};
        QTest::newRow("spaces and empty patterns") << "Text| *.txt ;;*.text" << QStringList{"Text (*.txt *.text)"};
        QTest::newRow("*.* is every file, with or without a dot") << "*.*|*.*" << QStringList{"*.* (*)"};
        QTest::newRow("a shown text without pattern is left out")
            << "Text|*.txt|dangling" << QStringList{"Text (*.txt)"};
        QTest::newRow("empty") << "" << QStringList();
    }
    void nameFilters()
    {
        QFETCH(QString, pattern);
        QTEST(NameFilters(pattern), "filters");
    }

    // A window frame comes back wholly on an available screen area.
    void startFolder_data()
    {
        QTest::addColumn<QString>("folder"); // below the test folder; "" for none
        QTest::addColumn<QString>("start");  // below the test folder; "~" for home
        QTest::newRow("there") << "docs/"
                               << "docs";
        QTest::newRow("never made: the nearest above") << "docs/Documents/"
                                                       << "docs";
        QTest::newRow("none: home") << ""
                                    << "~";
    }
    void startFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, start);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("docs"));
        QCOMPARE(StartFolder(folder.isEmpty() ? folder : dir.filePath(folder)),
                 start == "~" ? QDir::homePath() : dir.filePath(start));
    }

    // A long list of names in a warning stays in a scrollable area: the box and its buttons fit the screen.
    void longWarningFitsTheScreen()
    {
        QStringList lines{QStringLiteral("Files of the same name ...")};
        for (int i = 0; i < 40; ++i)
            lines << QStringLiteral("  logo%1.png: ").arg(i) + QString(120, QLatin1Char('x')) +
                         QStringLiteral("/logo.png");
        QtPlatform platform;
        QRect box;
        bool buttonShown = false;
        QTimer::singleShot(0, this, [&] {
            auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!shown)
                return;
            box = shown->frameGeometry();
            for (QAbstractButton* button : shown->buttons()) {
                if (button->text() == QStringLiteral("Create anyway")) {
                    buttonShown = button->isVisible() &&
                                  shown->rect().contains(QRect(button->mapTo(shown, QPoint()), button->size()));
                    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
                }
            }
        });
        QVERIFY(platform.WarnProceed(QStringLiteral("Hexaloom"), lines.join('\n'), QStringLiteral("Create anyway")));
        QVERIFY2(QGuiApplication::primaryScreen()->availableGeometry().height() >= box.height(),
                 qPrintable(QString::number(box.height())));
        QVERIFY(buttonShown);
    }

    // The requesters' dates and sizes follow the program's language, not the system's.
    void requesterListInTheLanguage()
    {
        QTemporaryDir dir;
        WriteBytes(dir.filePath("a.bin"), QByteArray(3000, 'a'));
        QFileSystemModel files;
        QSignalSpy loaded(&files, &QFileSystemModel::directoryLoaded);
        const QModelIndex folder = files.setRootPath(dir.path());
        QVERIFY(loaded.wait());
        LocalisedFileList list;
        list.setSourceModel(&files);
        QTRY_COMPARE(files.rowCount(folder), 1);
        const QModelIndex row = files.index(0, 0, folder);
        QLocale::setDefault(QLocale(QLocale::German));
        const QString date = list.index(0, 3, list.mapFromSource(folder)).data().toString();
        const QString size = list.index(0, 1, list.mapFromSource(folder)).data().toString();
        QLocale::setDefault(QLocale::c());
        QCOMPARE(date, QLocale(QLocale::German).toString(files.lastModified(row), QLocale::ShortFormat));
        QCOMPARE(size, QStringLiteral("2,93 KiB"));
    }

    void fitOnScreens_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("fitted");
        const QRect second(1920, 0, 1280, 1024);
        QTest::newRow("inside stays") << QRect(100, 100, 600, 400) << QRect(100, 100, 600, 400);
        QTest::newRow("low: title bar back on the screen") << QRect(100, 1000, 600, 400) << QRect(100, 640, 600, 400);
        QTest::newRow("above the top") << QRect(100, -50, 600, 400) << QRect(100, 0, 600, 400);
        QTest::newRow("right edge") << QRect(3000, 100, 600, 400) << QRect(2600, 100, 600, 400);
        QTest::newRow("larger than the screen") << QRect(-10, 5, 2500, 1200) << QRect(0, 0, 1920, 1040);
        QTest::newRow("on the second screen") << QRect(2000, 900, 600, 400) << QRect(2000, 624, 600, 400);
        QTest::newRow("mostly on the second") << QRect(1800, 50, 600, 400) << QRect(1920, 50, 600, 400);
        QTest::newRow("on no screen: the first") << QRect(5000, 3000, 600, 400) << QRect(1320, 640, 600, 400);
    }
    void fitOnScreens()
    {
        QFETCH(QRect, frame);
        const QList<QRect> areas{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
        QTEST(FitOnScreens(frame, areas), "fitted");
    }

    // A typed name that Qt's requester would read as a list of quoted names comes back as typed; a name
    // without extension gets the chosen type's first one, and a typed extension stands.
    void saveRequesterTypedNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        const QString includes = QStringLiteral("PureBasic Files|*.pbi;*.pb|All Files|*.*");
        QTest::newRow("quotes") << "q\"t"
                                << "*.*|*.*"
                                << "q\"t";
        QTest::newRow("no extension, include") << "hd" << includes << "hd.pbi";
        QTest::newRow("typed .pbi") << "bp.pbi" << includes << "bp.pbi";
        QTest::newRow("typed .pb") << "bp.pb" << includes << "bp.pb";
        QTest::newRow("no extension, resource") << "data"
                                                << "Resource Files|*.res"
                                                << "data.res";
        // The texts Create shows name their patterns, separated by commas.
        const QString shown = QStringLiteral("PureBasic Files (*.pbi, *.pb)|*.pbi;*.pb|All Files (*.*)|*.*");
        QTest::newRow("no extension, patterns shown") << "hd" << shown << "hd.pbi";
        QTest::newRow("typed .pbi, patterns shown") << "bp.pbi" << shown << "bp.pbi";
        QTest::newRow("resource, pattern shown") << "data"
                                                 << "Resource Files (*.res)|*.res"
                                                 << "data.res";
    }
    void saveRequesterTypedNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, pattern);
        QTemporaryDir dir;
        QtPlatform platform;
        QTimer::singleShot(0, this, [typed] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* name = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
            if (!name)
                return dialog ? dialog->reject() : void();
            name->setText(typed);
            QMetaObject::invokeMethod(dialog, &QDialog::accept);
        });
        QFETCH(QString, name);
        QCOMPARE(platform.SaveFileRequester(QString(), dir.path() + QLatin1Char('/'), pattern, 0), dir.filePath(name));
    }

    // A requester lists a folder without opening its files: guessing a type from the content blocks for
    // good on files such as /proc/kmsg, and the window with it.
    void requestersOpenNoListedFile_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("open files") << false;
        QTest::newRow("save") << true;
    }
    void requestersOpenNoListedFile()
    {
        QFETCH(bool, save);
        QTemporaryDir dir;
        // Without an extension only the content could tell the type.
        QVERIFY(WriteBytes(dir.filePath("script"), "#!/bin/sh\necho woven\n"));
        QVERIFY(WriteBytes(dir.filePath("page.html"), "<html></html>"));
        const int watch = inotify_init1(IN_NONBLOCK);
        QVERIFY(watch >= 0 && inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(), IN_OPEN) >= 0);

        QtPlatform platform;
        QString listedType;
        QTimer poll;
        int polls = 0;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
            if (!model)
                return;
            // The type column is filled once the folder's entries were looked at.
            listedType = model->index(dir.filePath("script"), 2).data().toString();
            if (!listedType.isEmpty() || ++polls > 500)
                dialog->reject();
        });
        poll.start(10);
        const QString folder = dir.path() + QLatin1Char('/');
        if (save)
            platform.SaveFileRequester(QString(), folder, QStringLiteral("*.*|*.*"), 0);
        else
            platform.OpenFilesRequester(QString(), folder, QStringLiteral("*.*|*.*"), 0);
        QVERIFY(!listedType.isEmpty());

        QStringList opened;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len > 0 && !(event->mask & IN_ISDIR))
                    opened << QString::fromLocal8Bit(event->name);
                p += sizeof(inotify_event) + event->len;
            }
        }
        close(watch);
        QCOMPARE(opened, QStringList());
    }
};

QTEST_MAIN(QtPlatformTest)
#include "QtPlatformTest.moc"
