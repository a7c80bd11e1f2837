// Pictures of the main window over the demo project, in English and in every shipped language, of the
// wait window over it, and of the About, Help and update windows, for the manual in docs/:
//   hexaloom_screenshots <output folder>
// The same style, font and size every time, so the pictures change only when the windows do.
#include "AboutWindow.h"
#include "AppSettings.h"
#include "Artwork.h"
#include "Document.h"
#include "EditableGrid.h"
#include "HelpWindow.h"
#include "MainWindow.h"
#include "OwnResourceStore.h"
#include "ProjectFile.h"
#include "QtPlatform.h"
#include "Startup.h"
#include "UpdateService.h"
#include "UpdateWindow.h"
#include "WaitWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace hexaloom;

namespace {

const QString kSource = QStringLiteral(HEXALOOM_SOURCE_DIR);
// The demo's files are copied here, so the status bar shows the same path on every machine.
const QString kDemo = QStringLiteral("/tmp/hexaloom-demo");

bool CopyFolder(const QString& from, const QString& to, const QStringList& patterns)
{
    QDir().mkpath(to);
    for (const QFileInfo& file : QDir(from).entryInfoList(patterns, QDir::Files)) {
        QFile::remove(to + QLatin1Char('/') + file.fileName());
        if (!QFile::copy(file.filePath(), to + QLatin1Char('/') + file.fileName()))
            return false;
    }
    return true;
}

// The demo project with its files' paths made whole.
bool LoadDemo(Document& document)
{
    QFile file(kSource + QStringLiteral("/examples/demo/demo.hxlm"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const ProjectParseResult parsed = ParseProject(file.readAll());
    if (parsed.status != ProjectParse::Ok)
        return false;
    document.setOutputFormat(parsed.content.format);
    for (const ProjectRecord& record : parsed.content.records)
        document.model().AddFileRow(kDemo + QLatin1Char('/') + record.path, record.packer, record.size);
    document.setProjectPath(kDemo + QStringLiteral("/demo.hxlm"));
    document.setWindowTitle(ProjectTitle(document.projectFile()));
    return true;
}

// What the update window shows for a newer version.
UpdateInfo DemoUpdate()
{
    UpdateInfo info;
    info.Name = QStringLiteral("Hexaloom");
    info.Version = QStringLiteral("1.7.0");
    info.FileSize = 2576384;
    info.ReleaseDate = 1262357100;
    info.InfoUrl = QStringLiteral("http://hexaloom.org/news");
    info.InfoText = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 {\\b Hexaloom 1.7.0}\\par\\par New:\\par"
                    " - a \\ul French\\ulnone  translation\\par - help pages in \\i German\\i0  and \\i French\\i0\\par"
                    " - the update check uses https\\par}";
    return info;
}

bool Save(const QImage& image, const QString& path)
{
    const bool saved = image.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("Liberation Sans"), 9));
    if (argc < 2) {
        std::fprintf(stderr, "usage: hexaloom_screenshots <output folder>\n");
        return 2;
    }
    // Start-up makes the program's folder the current one: the output folder is taken first.
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    QTemporaryDir program;
    if (!CopyFolder(kSource + QStringLiteral("/translations"), program.filePath(QStringLiteral("lang")), {"*"}) ||
        !CopyFolder(kSource + QStringLiteral("/examples/demo/files"), kDemo + QStringLiteral("/files"), {"*"})) {
        std::fprintf(stderr, "screenshots: cannot copy the demo or the languages\n");
        return 1;
    }
    const Artwork art = LoadArtwork(OwnResourceStore());
    bool ok = true;
    StartupState probe;
    PrepareStartup(probe, program.filePath(QStringLiteral("hexaloom")), {QStringLiteral("/PORTABLE")});
    const QStringList languages = QStringList{QString()} + probe.languageNames;
    for (const QString& language : languages) {
        StartupState state;
        PrepareStartup(state, program.filePath(QStringLiteral("hexaloom")), {QStringLiteral("/PORTABLE")});
        state.settings.language = language;
        state.language.LoadLanguage(LanguageFilePath(state.programDir, language));
        Document document(state.settings);
        if (!LoadDemo(document)) {
            std::fprintf(stderr, "screenshots: cannot read the demo project\n");
            return 1;
        }
        QtPlatform dialogs;
        MainWindow window(state, document, dialogs, art);
        window.resize(640, 480);
        window.show();
        window.findChild<EditableGrid*>(QStringLiteral("fileGrid"))->setCurrentCell(1, 1);
        QCoreApplication::processEvents();
        const QString suffix = language.isEmpty() ? QString() : QLatin1Char('-') + language.left(2).toLower();
        ok =
            Save(window.grab().toImage(), out + QStringLiteral("/main-window") + suffix + QStringLiteral(".png")) && ok;
        // The question when a changed list would go with the window: drawn, then answered Cancel.
        document.model().SetCellText(FileListModel::PackerColumn, 0, QStringLiteral("zip"));
        QTimer::singleShot(0, &window, [&ok, &out, &suffix] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) {
                ok = false;
                return;
            }
            ok = Save(box->grab().toImage(),
                      out + QStringLiteral("/unsaved-question") + suffix + QStringLiteral(".png")) &&
                 ok;
            QMetaObject::invokeMethod(box, "reject");
        });
        window.close();
        if (!language.isEmpty())
            continue;
        // The wait window over the main window, as long work shows it.
        WaitWindow wait(&window);
        wait.setText(state.language.LanguageText(QStringLiteral("Messages"), QStringLiteral("WaitWindow")));
        wait.setProgressRange(0, 4);
        wait.setProgressValue(3);
        window.setEnabled(false);
        wait.setEnabled(true);
        wait.show();
        QCoreApplication::processEvents();
        QImage shot = window.grab().toImage();
        QPainter painter(&shot);
        painter.drawImage(wait.geometry().topLeft() - window.geometry().topLeft(), wait.grab().toImage());
        painter.end();
        ok = Save(shot, out + QStringLiteral("/wait-window.png")) && ok;
        wait.hide();
        window.setEnabled(true);

        // About, Help and what an update check that finds a newer version shows.
        AboutWindow about(&window, dialogs, state.language, art.images[ImageLogo], art.images[ImageDonate]);
        about.show();
        HelpWindow help(state.settings, QString());
        help.resize(800, 580);
        help.show();
        UpdateService updates(dialogs, state.language);
        UpdateWindow update(&window, updates, dialogs, state.language, DemoUpdate());
        update.show();
        QCoreApplication::processEvents();
        ok = Save(about.grab().toImage(), out + QStringLiteral("/about-window.png")) && ok;
        ok = Save(help.grab().toImage(), out + QStringLiteral("/help-window.png")) && ok;
        ok = Save(update.grab().toImage(), out + QStringLiteral("/update-window.png")) && ok;
    }
    return ok ? 0 : 1;
}
