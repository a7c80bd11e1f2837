// The Help, About and update windows as the main window's commands open them.
#include "InfoWindows.h"
#include "AboutWindow.h"
#include "AppSettings.h"
#include "HelpWindow.h"
#include "HttpTestServer.h"
#include "LanguageTable.h"
#include "ProgramInfo.h"
#include "ScriptedPlatform.h"
#include "SignedUpdate.h"
#include "TestFiles.h"
#include "UpdateWindow.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

using namespace hexaloom;

namespace {
template <typename T> T* Find(QWidget* window, const char* name)
{
    T* child = window ? window->findChild<T*>(QLatin1String(name)) : nullptr;
    if (!child)
        qWarning("no %s", name);
    return child;
}

QString Text(QWidget* window, const char* field)
{
    QLineEdit* edit = Find<QLineEdit>(window, field);
    return edit ? edit->text() : QString();
}
} // namespace

class InfoWindowsTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void aboutShowsTheFilledPage();
    void aboutClosesOn_data();
    void aboutClosesOn();
    void aboutReopensAndFollowsTheLanguage();
    void helpShowsTheLanguagePageOrTheBuiltInOne_data();
    void helpShowsTheLanguagePageOrTheBuiltInOne();
    void helpKeepsItsNormalGeometry();
    void closingTheMainWindowEndsTheProgramWithHelpOpen();
    void updateCheckOutcomes_data();
    void updateCheckOutcomes();
    void downloadFromTheWindow();
    void windowClosedDuringDownload();

private:
    // Serves an information file naming `version` and a download whose fingerprint is `fingerprint`
    // (the right one when empty), then runs the check.
    void checkFor(const QString& version, const QString& infoUrl = QStringLiteral("http://hexaloom.org/news"),
                  const QString& fingerprint = QString());

    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<HttpTestServer> m_server;
    ScriptedPlatform m_platform;
    AppSettings m_settings;
    LanguageTable m_language;
    InfoWindows* m_windows = nullptr;
    QByteArray m_file;
};

void InfoWindowsTest::init()
{
    m_program = std::make_unique<QTemporaryDir>();
    m_main = std::make_unique<QWidget>();
    m_main->resize(640, 480);
    m_main->show();
    m_server = std::make_unique<HttpTestServer>();
    QVERIFY(m_server->listen());
    m_platform.clear();
    m_settings = AppSettings();
    m_settings.updateurl = m_server->url("/u_versions/hexaloom.dat");
    m_language.LoadLanguage(QString());
    QPixmap logo(100, 20);
    logo.fill(Qt::darkBlue);
    m_windows = new InfoWindows(m_main.get(), m_platform, m_settings, m_language, m_program->path(), logo, QPixmap(),
                                std::span(&TestUpdateKey().publicKey, 1));
    m_windows->updates().setDownloadFolder(m_program->path());
    m_file = QByteArray(200000, 'h');
}

void InfoWindowsTest::cleanup()
{
    m_main.reset(); // takes the windows and the Help window with it
    m_server.reset();
    m_program.reset();
}

void InfoWindowsTest::checkFor(const QString& version, const QString& infoUrl, const QString& fingerprint)
{
    UpdateInfo info;
    info.Name = QStringLiteral("Hexaloom");
    info.Version = version;
    info.DownloadUrl = m_server->url("/files/Hexaloom-2.0.zip");
    info.FileSize = m_file.size();
    info.ReleaseDate = 1262357100;
    info.Fingerprint = fingerprint.isEmpty()
                           ? QString::fromLatin1(QCryptographicHash::hash(m_file, QCryptographicHash::Md5).toHex())
                           : fingerprint;
    info.FileName = QStringLiteral("Hexaloom-2.0.zip");
    info.InfoUrl = infoUrl;
    info.InfoText = "{\\rtf1 {\\b What is new}\\par Faster \\'fc\\par}";
    info.ReservedText[kSha256Field] = Sha256Hex(m_file);
    m_server->serve("/u_versions/hexaloom.dat", SignedInfo(info));
    QSignalSpy checked(&m_windows->updates(), &UpdateService::checkFinished);
    m_windows->checkForUpdate();
    QVERIFY(checked.wait(20000));
}

void InfoWindowsTest::aboutShowsTheFilledPage()
{
    m_windows->showAbout();
    AboutWindow* about = m_windows->aboutWindow();
    QVERIFY(about && about->isVisible());
    QCOMPARE(about->windowTitle(), QStringLiteral("About Hexaloom"));
    QCOMPARE(about->size(), QSize(400, 300));
    QCOMPARE(about->parentWidget(), m_main.get());
    QVERIFY(!about->isModal());
    QCOMPARE(Find<QLabel>(about, "logo")->pixmap().size(), QSize(377, 57));

    QTextBrowser* page = Find<QTextBrowser>(about, "aboutPage");
    const QString text = page->toPlainText();
    QVERIFY2(text.contains("Hexaloom") && text.contains(QLatin1String(kAppVersion)) && text.contains("2009"), qPrintable(text));
    QVERIFY(!text.contains("##"));
    // A link goes to the system browser; the page stays.
    emit page->anchorClicked(QUrl(QStringLiteral("https://hexaloom.org/")));
    QCOMPARE(page->toPlainText(), text);

    QPushButton* donate = Find<QPushButton>(about, "donateButton");
    QCOMPARE(donate->toolTip(), QStringLiteral("Feel free To donate to say thanks."));
    QTest::mouseClick(donate, Qt::LeftButton);
    QCOMPARE(m_platform.calls(), (QStringList{"OpenUrl(\"https://hexaloom.org/\")",
                                              "OpenUrl(\"" + QLatin1String(kProjectWebPage) + "\")"}));
    QVERIFY(Find<QPushButton>(about, "okButton")->isDefault());
}

void InfoWindowsTest::aboutClosesOn_data()
{
    QTest::addColumn<int>("key"); // 0: the Ok button
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Ok") << 0;
}

void InfoWindowsTest::aboutClosesOn()
{
    QFETCH(int, key);
    m_windows->showAbout();
    QPointer<AboutWindow> about = m_windows->aboutWindow();
    QVERIFY(QTest::qWaitForWindowActive(about));
    if (key)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    else
        QTest::mouseClick(Find<QPushButton>(about, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(!about);
    QVERIFY(m_main->isVisible());
}

void InfoWindowsTest::aboutReopensAndFollowsTheLanguage()
{
    m_windows->showAbout();
    QPointer<AboutWindow> first = m_windows->aboutWindow();
    m_language.LoadLanguage(QStringLiteral(HEXALOOM_SOURCE_DIR "/translations/Deutsch.lng"));
    m_windows->showAbout();
    QTRY_VERIFY(!first);
    QVERIFY(m_windows->aboutWindow());
    QCOMPARE(m_windows->aboutWindow()->windowTitle(), QString::fromUtf8("Über Hexaloom"));
}

void InfoWindowsTest::helpShowsTheLanguagePageOrTheBuiltInOne_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QByteArray>("page"); // written as lang/<language>.html unless null
    QTest::addColumn<bool>("ownPage");
    QTest::newRow("English") << "" << QByteArray() << false;
    QTest::newRow("language with a page")
        << "Testisch" << QByteArray("<html><body><p>Hilfe!</p></body></html>") << true;
    QTest::newRow("empty page") << "Testisch" << QByteArray("") << false;
    QTest::newRow("no page") << "Testisch" << QByteArray() << false;
}

void InfoWindowsTest::helpShowsTheLanguagePageOrTheBuiltInOne()
{
    QFETCH(QString, language);
    QFETCH(QByteArray, page);
    QFETCH(bool, ownPage);
    m_settings.language = language;
    if (!page.isNull())
        QVERIFY(WriteBytes(m_program->filePath("lang/" + language + ".html"), page));
    m_windows->showHelp();
    HelpWindow* help = m_windows->helpWindow();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->windowTitle(), QStringLiteral("Hexaloom - Help"));
    QVERIFY(!help->parentWidget());
    const QString text = Find<QTextBrowser>(help, "helpPage")->toPlainText();
    QCOMPARE(text.contains("Hilfe!"), ownPage);
    QCOMPARE(text.contains("/CREATESILENT="), !ownPage);
    QCOMPARE(m_windows->helpPagePath().isEmpty(), !ownPage);

    // Links do nothing; F1 again loads the page anew; Escape closes the window.
    emit Find<QTextBrowser>(help, "helpPage")->anchorClicked(QUrl(QStringLiteral("https://hexaloom.org/")));
    QVERIFY(m_platform.calls().isEmpty());
    QPointer<HelpWindow> first = help;
    m_windows->showHelp();
    QTRY_VERIFY(!first);
    QPointer<HelpWindow> second = m_windows->helpWindow();
    QVERIFY(QTest::qWaitForWindowActive(second));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!second);
}

void InfoWindowsTest::helpKeepsItsNormalGeometry()
{
    m_settings.frmHelp_w = 500;
    m_settings.frmHelp_h = 350;
    m_windows->showHelp();
    HelpWindow* help = m_windows->helpWindow();
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QCOMPARE(help->size(), QSize(500, 350));
    help->resize(620, 410);
    QTRY_COMPARE(m_settings.frmHelp_w, 620);
    QCOMPARE(m_settings.frmHelp_h, 410);
    help->move(30, 40);
    QTRY_COMPARE(m_settings.frmHelp_x, 30);
    QCOMPARE(m_settings.frmHelp_y, 40);
    // A maximised window leaves the normal geometry alone.
    help->showMaximized();
    QTRY_VERIFY(help->isMaximized());
    QCOMPARE(m_settings.frmHelp_w, 620);
    help->close();
    m_windows->showHelp();
    QCOMPARE(m_windows->helpWindow()->size(), QSize(620, 410));
    QCOMPARE(m_windows->helpWindow()->pos(), QPoint(30, 40));
}

void InfoWindowsTest::closingTheMainWindowEndsTheProgramWithHelpOpen()
{
    // The program's event loop ends when the main window closes, even with Help still open.
    m_windows->showHelp();
    QVERIFY(QTest::qWaitForWindowExposed(m_windows->helpWindow()));
    QTimer::singleShot(0, m_main.get(), &QWidget::close);
    QTimer stillRunning; // ends the loop if the main window's close does not, and goes with this test
    stillRunning.setSingleShot(true);
    connect(&stillRunning, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    stillRunning.start(10000);
    QCOMPARE(QApplication::exec(), 0);
}

void InfoWindowsTest::updateCheckOutcomes_data()
{
    // The outcomes without a window (bad files, HTTP errors) are UpdateService's own tests.
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("infoUrl");
    QTest::addColumn<bool>("window");
    QTest::addColumn<bool>("infoButton");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("newer, http info page") << "2.0"
                                           << "http://hexaloom.org/news" << true << true << QStringList();
    QTest::newRow("newer, HTTP info page") << "1.6.7"
                                           << "HTTP://HEXALOOM.ORG/" << true << true << QStringList();
    QTest::newRow("newer, https info page") << "1.7"
                                            << "https://hexaloom.org/" << true << false << QStringList();
    QTest::newRow("same version") << "1.6.6"
                                  << "" << false << false
                                  << QStringList{"Message(\"Updatecheck\", \"No Update available\", None)"};
}

void InfoWindowsTest::updateCheckOutcomes()
{
    QFETCH(QString, version);
    QFETCH(QString, infoUrl);
    QFETCH(bool, window);
    QFETCH(bool, infoButton);
    checkFor(version, infoUrl);
    QTEST(m_platform.calls(), "calls");
    UpdateWindow* update = m_windows->updateWindow();
    QCOMPARE(update != nullptr, window);
    if (!update)
        return;
    QVERIFY(update->isVisible());
    QCOMPARE(update->windowTitle(), QStringLiteral("New update found!"));
    QCOMPARE(update->size(), QSize(300, 350));
    QCOMPARE(Text(update, "nameField"), QStringLiteral("Hexaloom"));
    QCOMPARE(Text(update, "versionField"), version);
    QCOMPARE(Text(update, "releaseDateField"), QStringLiteral("01.01.2010 14:45"));
    QCOMPARE(Text(update, "fileSizeField"), QStringLiteral("195.31 KByte"));
    QCOMPARE(Find<QTextBrowser>(update, "infoText")->toPlainText(), QString::fromUtf8("What is new\nFaster ü"));
    QCOMPARE(update->findChild<QPushButton*>("infoButton") != nullptr, infoButton);
    if (infoButton) {
        QTest::mouseClick(update->findChild<QPushButton*>("infoButton"), Qt::LeftButton);
        QCOMPARE(m_platform.calls(), QStringList{"OpenUrl(" + Quoted(infoUrl) + ")"});
    }
    QTest::mouseClick(Find<QPushButton>(update, "closeButton"), Qt::LeftButton);
    QTRY_VERIFY(!m_windows->updateWindow());
}

void InfoWindowsTest::downloadFromTheWindow()
{
    m_server->serve("/files/Hexaloom-2.0.zip", m_file);
    checkFor(QStringLiteral("2.0"));
    UpdateWindow* update = m_windows->updateWindow();
    QVERIFY(update);
    QPushButton* download = Find<QPushButton>(update, "downloadButton");
    QVERIFY(download->isDefault());
    QSignalSpy finished(&m_windows->updates(), &UpdateService::downloadFinished);
    QTest::mouseClick(download, Qt::LeftButton);
    QVERIFY(!download->isEnabled());
    QVERIFY(finished.wait(20000));
    QVERIFY(download->isEnabled());
    QCOMPARE(Find<QProgressBar>(update, "progressBar")->value(), 100);
    const QString path = m_windows->updates().downloadedPath();
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("Hexaloom-2.0.zip"));
    QCOMPARE(m_platform.calls(), QStringList{"OpenUrl(" + Quoted(QUrl::fromLocalFile(path).toString()) + ")"});
    QCOMPARE(ReadBytes(path), m_file);
}

void InfoWindowsTest::windowClosedDuringDownload()
{
    m_server->holdMidway("/files/Hexaloom-2.0.zip", m_file, 70000);
    checkFor(QStringLiteral("2.0"), QString(), QStringLiteral("00000000000000000000000000000000"));
    QPointer<UpdateWindow> update = m_windows->updateWindow();
    QTest::mouseClick(Find<QPushButton>(update, "downloadButton"), Qt::LeftButton);
    QTRY_VERIFY(m_server->holding());
    update->close();
    QTRY_VERIFY(!update);

    // A new window while the download runs cannot start a second one into the same file.
    checkFor(QStringLiteral("2.0"), QString(), QStringLiteral("00000000000000000000000000000000"));
    QVERIFY(!Find<QPushButton>(m_windows->updateWindow(), "downloadButton")->isEnabled());
    m_windows->updateWindow()->close();

    QSignalSpy finished(&m_windows->updates(), &UpdateService::downloadFinished);
    m_server->release();
    QVERIFY(finished.wait(20000));
    QCOMPARE(m_platform.calls(), QStringList{"Message(\"Updatecheck\", \"File seems to be corrupted!\", None)"});
}

QTEST_MAIN(InfoWindowsTest)
#include "InfoWindowsTest.moc"
