#include "MainWindow.h"

#include "AppSettings.h"
#include "Artwork.h"
#include "BackgroundJobs.h"
#include "Document.h"
#include "EditableGrid.h"
#include "FileAdder.h"
#include "FileGridModel.h"
#include "InfoWindows.h"
#include "LanguageTable.h"
#include "OutputNames.h"
#include "PackedBlock.h"
#include "Platform.h"
#include "ProjectCommands.h"
#include "ScreenFit.h"
#include "Startup.h"
#include "Version.h"
#include "WaitWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace hexaloom {

namespace {

constexpr std::int32_t kMaximised = 16777216;
// Command numbers 8..58 are the languages: at most 51 are offered.
constexpr int kMaxLanguages = 51;

QString WithoutAmpersands(QString text)
{
    return text.remove(QLatin1Char('&'));
}

// The text's Alt letter, lower case; none when the text has no "&" before a letter.
QChar AltLetter(const QString& text)
{
    for (qsizetype i = text.indexOf(QLatin1Char('&')); i >= 0 && i + 1 < text.size();
         i = text.indexOf(QLatin1Char('&'), i + 2)) {
        if (text.at(i + 1) != QLatin1Char('&'))
            return text.at(i + 1).toLower();
    }
    return {};
}

// Gives each text without an Alt letter the first of its letters that no other text uses yet; a
// language file's own choices stay.
QStringList WithAltLetters(QStringList texts)
{
    QString used;
    for (const QString& text : texts) {
        if (const QChar letter = AltLetter(text); !letter.isNull())
            used += letter;
    }
    for (QString& text : texts) {
        if (!AltLetter(text).isNull())
            continue;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i).isLetter() && !used.contains(text.at(i).toLower())) {
                used += text.at(i).toLower();
                text.insert(i, QLatin1Char('&'));
                break;
            }
        }
    }
    return texts;
}

// Every item of the menu gets an Alt letter of its own within it.
void GiveAltLetters(QMenu* menu)
{
    QList<QAction*> actions = menu->actions();
    actions.removeIf([](const QAction* action) { return action->isSeparator(); });
    QStringList texts;
    for (const QAction* action : actions)
        texts << action->text();
    texts = WithAltLetters(texts);
    for (qsizetype i = 0; i < actions.size(); ++i)
        actions[i]->setText(texts[i]);
}

} // namespace

MainWindow::MainWindow(StartupState& state, Document& document, Platform& platform, const Artwork& art, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_document(document), m_platform(platform), m_art(art)
{
    setObjectName(QStringLiteral("frmMain"));
    // "[*]" shows as "*" while the list has unsaved changes.
    setWindowTitle(m_document.windowTitle() + QStringLiteral("[*]"));
    setWindowIcon(m_art.icon(ImageRun));
    setMinimumSize(520, 300);
    m_document.setLanguage(&m_state.language);
    m_adder = new FileAdder(m_document, m_platform, m_state.language, this);
    m_wait = new WaitWindow(this);
    m_jobs = new BackgroundJobs(this);
    m_infoWindows = new InfoWindows(this, m_platform, m_state.settings, m_state.language, m_state.programDir,
                                    m_art.images[ImageLogo], m_art.images[ImageDonate], m_state.updateKeys);

    createActions();
    createMenus();
    createToolBar();
    createCentralWidget();
    createStatusBar();

    FileListModel& model = m_document.model();
    connect(&model, &FileListModel::rowAdded, this, &MainWindow::showStatus);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &MainWindow::updateActions);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::updateActions);
    connect(&model, &QAbstractItemModel::modelReset, this, &MainWindow::updateActions);
    connect(&model, &QAbstractItemModel::dataChanged, this, &MainWindow::updateActions);
    connect(&m_document, &Document::windowTitleChanged, this,
            [this](const QString& title) { setWindowTitle(title + QStringLiteral("[*]")); });
    connect(&m_document, &Document::projectLoaded, this, &MainWindow::projectLoaded);
    // Any change to what a project holds is unsaved until the list is saved or opened anew.
    auto changed = [this] { setChanged(true); };
    connect(&model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(&model, &QAbstractItemModel::rowsMoved, this, changed);
    connect(&model, &QAbstractItemModel::dataChanged, this, changed);
    connect(&model, &QAbstractItemModel::modelReset, this, changed);
    connect(&m_document, &Document::outputFormatChanged, this, changed);
    connect(&m_document, &Document::aboutToSaveSettings, this,
            [this] { m_state.settings.frmMain_s = isMaximized() ? kMaximised : 0; });

    connect(m_wait, &WaitWindow::cancelRequested, this, &MainWindow::stopWork);
    connect(m_jobs, &BackgroundJobs::progressRangeChanged, m_wait, &WaitWindow::setProgressRange);
    connect(m_jobs, &BackgroundJobs::progressValueChanged, m_wait, &WaitWindow::setProgressValue);
    connect(m_jobs, &BackgroundJobs::smallestReady, this, [this](int row, int packer, qint64 size) {
        FileListModel& model = m_document.model();
        if (row >= model.rowCount())
            return;
        model.SetCellText(FileListModel::PackerColumn, row, PackerText(packer));
        model.SetCellText(FileListModel::SizeColumn, row, QString::number(size));
    });
    connect(m_jobs, &BackgroundJobs::sizeReady, this, [this](int row, qint64 size) {
        m_document.model().SetCellText(FileListModel::SizeColumn, row, QString::number(size));
    });
    connect(m_jobs, &BackgroundJobs::rowsFinished, this, [this] {
        endBusy();
        closeIfAsked();
    });
    connect(m_jobs, &BackgroundJobs::createFinished, this, &MainWindow::createFinished);
    connect(m_jobs, &BackgroundJobs::walkEntries, m_adder, &FileAdder::TakeWalkEntries);
    connect(m_jobs, &BackgroundJobs::walkFinished, this, &MainWindow::walkFinished);
    connect(m_adder, &FileAdder::drained, this, &MainWindow::walkDrained);

    applyLanguage();
    updateActions();
}

MainWindow::~MainWindow()
{
    // The workers only read their own copies; let them end before the window's records go.
    delete m_jobs;
}

void MainWindow::createActions()
{
    auto make = [this](const char* name, int image, void (MainWindow::*slot)()) {
        auto* action = new QAction(m_art.icon(image), QString(), this);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_actNew = make("actionNew", ImageNew, &MainWindow::newProject);
    m_actOpen = make("actionOpen", ImageOpen, &MainWindow::openProject);
    m_actSave = make("actionSave", ImageSave, &MainWindow::saveProject);
    m_actSaveAs = make("actionSaveAs", ImageSaveAs, &MainWindow::saveProjectAs);
    m_actQuit = make("actionQuit", ImageExitDoor, &MainWindow::quit);
    m_actAddFiles = make("actionAddFiles", ImageFileNew, &MainWindow::addFiles);
    m_actAddDir = make("actionAddDir", ImageDirNew, &MainWindow::addDirectory);
    m_actHelp = make("actionHelp", ImageBook, &MainWindow::showHelp);
    m_actAbout = make("actionAbout", ImageInformation, &MainWindow::showAbout);
    m_actUpdate = make("actionUpdatecheck", ImageReload, &MainWindow::checkForUpdates);
    m_actMoveUp = make("actionMoveUp", ImageGoUp, &MainWindow::moveRowUp);
    m_actMoveDown = make("actionMoveDown", ImageGoDown, &MainWindow::moveRowDown);
    m_actCalculate = make("actionCalculate", ImageRefresh, &MainWindow::calculateCurrentRow);
    m_actDelete = make("actionDelete", ImageDelete, &MainWindow::deleteRow);
    m_actCreate = make("actionCreate", ImageRun, &MainWindow::createOutput);
    m_actSmallest = make("actionSmallestPacker", ImageRefresh, &MainWindow::chooseSmallestPackers);
    m_actPackHarder = new QAction(this);
    m_actPackHarder->setObjectName(QStringLiteral("actionPackHarder"));
    m_actPackHarder->setCheckable(true);
    m_actPackHarder->setChecked(m_state.settings.packmax != 0);
    connect(m_actPackHarder, &QAction::toggled, this, &MainWindow::packHarderToggled);
    m_actHelp->setShortcut(Qt::Key_F1);
    m_actNew->setShortcut(QKeySequence::New);
    m_actOpen->setShortcut(QKeySequence::Open);
    m_actSave->setShortcut(QKeySequence::Save);
    // Desktops without a binding of their own for these (Windows, a bare X server) get the common one.
    auto standard = [](QKeySequence::StandardKey key, const QKeySequence& common) {
        const QList<QKeySequence> bindings = QKeySequence::keyBindings(key);
        return bindings.isEmpty() ? QList<QKeySequence>{common} : bindings;
    };
    m_actSaveAs->setShortcuts(standard(QKeySequence::SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)));
    m_actQuit->setShortcuts(standard(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    m_actDelete->setShortcut(QKeySequence::Delete);
    // The commands of the toolbar and the bottom strip have keys of their own too.
    m_actAddFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    m_actAddDir->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    m_actCreate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    m_actSmallest->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    // The shortcuts live with the window, whatever the menus show.
    addActions({m_actHelp, m_actNew, m_actOpen, m_actSave, m_actSaveAs, m_actQuit, m_actDelete, m_actAddFiles,
                m_actAddDir, m_actCreate, m_actSmallest});
}

void MainWindow::createMenus()
{
    m_menuFile = menuBar()->addMenu(QString());
    m_menuFile->setObjectName(QStringLiteral("menuFile"));
    m_menuFile->addActions({m_actNew, m_actOpen});
    m_menuFile->addSeparator();
    m_menuFile->addActions({m_actAddFiles, m_actAddDir});
    m_menuFile->addSeparator();
    m_menuFile->addActions({m_actSave, m_actSaveAs});
    m_menuFile->addSeparator();
    m_menuFile->addActions({m_actPackHarder, m_actSmallest, m_actCreate});
    m_menuFile->addSeparator();
    m_menuFile->addAction(m_actQuit);
    m_menuLanguage = menuBar()->addMenu(QString());
    m_menuLanguage->setObjectName(QStringLiteral("menuLang"));
    // The built-in English first, then the language files, one exclusive group; applyLanguage checks one.
    const QStringList& names = m_state.languageNames;
    auto* group = new QActionGroup(m_menuLanguage);
    group->setExclusive(true);
    for (int i = -1; i < names.size() && i < kMaxLanguages; ++i) {
        QAction* action = m_menuLanguage->addAction(languageIcon(i), languageName(i));
        action->setObjectName(i < 0 ? QStringLiteral("actionLanguageEnglish")
                                    : QStringLiteral("actionLanguage%1").arg(i));
        action->setCheckable(true);
        // A checked item with an icon shows only a faint frame round the icon; without it, the mark
        // of the chosen language is plain. The status bar shows the language's icon.
        action->setIconVisibleInMenu(false);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, i] { chooseLanguage(i); });
        m_languageActions.append(action);
    }
    m_menuHelp = menuBar()->addMenu(QString());
    m_menuHelp->setObjectName(QStringLiteral("menuHelp"));
    m_menuHelp->addActions({m_actHelp, m_actAbout});
    m_menuHelp->addSeparator();
    m_menuHelp->addAction(m_actUpdate);
}

void MainWindow::createToolBar()
{
    m_toolBar = addToolBar(QString());
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolBar->addAction(m_actNew);
    m_toolBar->addAction(m_actOpen);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actSave);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actAddFiles);
    m_toolBar->addAction(m_actAddDir);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actSmallest);

    // The two option boxes sit at the toolbar's right end.
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);
    m_chkCalc = new QCheckBox;
    m_chkCalc->setObjectName(QStringLiteral("chkCalc"));
    m_chkCalc->setChecked(m_state.settings.calcsize != 0);
    m_chkOnTop = new QCheckBox;
    m_chkOnTop->setObjectName(QStringLiteral("chkOnTop"));
    m_chkOnTop->setChecked(m_state.settings.ontop != 0);
    m_toolBar->addWidget(m_chkCalc);
    auto* gap = new QWidget;
    gap->setFixedWidth(10);
    m_toolBar->addWidget(gap);
    m_toolBar->addWidget(m_chkOnTop);
    auto* end = new QWidget;
    end->setFixedWidth(10);
    m_toolBar->addWidget(end);
    connect(m_chkCalc, &QCheckBox::toggled, this, &MainWindow::calcSizeToggled);
    connect(m_chkOnTop, &QCheckBox::toggled, this, &MainWindow::onTopToggled);
}

void MainWindow::createCentralWidget()
{
    auto* central = new QWidget;
    auto* layout = new QGridLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_grid = new EditableGrid;
    m_grid->setObjectName(QStringLiteral("fileGrid"));
    m_gridModel = new FileGridModel(m_art, this);
    m_gridModel->setSourceModel(&m_document.model());
    m_grid->setModel(m_gridModel);
    m_grid->setFont(m_art.fonts[FontNormal]);
    m_grid->setRowHeight(20);
    m_grid->setTitleHeight(24);
    m_grid->setColumnWidth(FileListModel::NumberColumn, 50);
    m_grid->setColumnWidth(FileListModel::PackerColumn, 80);
    m_grid->setColumnWidth(FileListModel::SizeColumn, 100);
    m_grid->setChoiceColumn(FileListModel::PackerColumn, PackerTexts());
    connect(m_grid, &EditableGrid::currentRowChanged, this, &MainWindow::currentRowChanged);
    connect(m_grid, &EditableGrid::cellChosen, this, &MainWindow::packerChosen);
    connect(m_grid, &EditableGrid::titleClicked, this, &MainWindow::titleClicked);
    connect(m_grid, &EditableGrid::filesDropped, this, &MainWindow::dropFiles);
    layout->addWidget(m_grid, 0, 0);

    // The row buttons, centred on the grid's height: up and down together, then calculate and delete.
    auto* column = new QWidget;
    column->setObjectName(QStringLiteral("rowButtons"));
    column->setFixedWidth(30);
    auto* buttons = new QVBoxLayout(column);
    buttons->setContentsMargins(3, 0, 3, 0);
    buttons->setSpacing(0);
    auto button = [](QAction* action, const char* name) {
        auto* b = new QToolButton;
        b->setObjectName(QString::fromLatin1(name));
        b->setDefaultAction(action);
        b->setAutoRaise(false);
        b->setIconSize(QSize(16, 16));
        b->setFixedSize(24, 24);
        return b;
    };
    buttons->addStretch(1);
    buttons->addWidget(button(m_actMoveUp, "btnUp"));
    buttons->addSpacing(1);
    buttons->addWidget(button(m_actMoveDown, "btnDown"));
    buttons->addSpacing(31);
    buttons->addWidget(button(m_actCalculate, "btnCalc"));
    buttons->addSpacing(11);
    buttons->addWidget(button(m_actDelete, "btnDelete"));
    buttons->addStretch(1);
    layout->addWidget(column, 0, 1);

    // The bottom strip: label, output-format chooser, Create.
    auto* strip = new QWidget;
    strip->setObjectName(QStringLiteral("bottomStrip"));
    strip->setFixedHeight(30);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(10);
    m_lblOutput = new QLabel;
    m_lblOutput->setObjectName(QStringLiteral("lblOutput"));
    m_lblOutput->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lblOutput->setMinimumWidth(180);
    m_cmbOutput = new QComboBox;
    m_cmbOutput->setObjectName(QStringLiteral("cmbOutput"));
    m_cmbOutput->setMinimumWidth(160);
    m_cmbOutput->addItems({QStringLiteral("resource (*.res)"), QStringLiteral("hexdata (*.pb, *.pbi)"),
                           QStringLiteral("binpack (*.pb, *.pbi)")});
    m_cmbOutput->setCurrentIndex(m_document.outputFormat());
    m_lblOutput->setBuddy(m_cmbOutput);
    connect(m_cmbOutput, &QComboBox::currentIndexChanged, &m_document, &Document::setOutputFormat);
    connect(&m_document, &Document::outputFormatChanged, m_cmbOutput, [this](int format) {
        const QSignalBlocker blocker(m_cmbOutput);
        m_cmbOutput->setCurrentIndex(format);
    });
    row->addWidget(m_lblOutput);
    row->addWidget(m_cmbOutput);
    // Create names itself beside its icon: it is the window's main command.
    auto* create = new QToolButton;
    create->setObjectName(QStringLiteral("btnCreate"));
    create->setDefaultAction(m_actCreate);
    create->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    create->setIconSize(QSize(16, 16));
    create->setFixedHeight(24);
    row->addWidget(create);
    row->addStretch(1);
    layout->addWidget(strip, 1, 0, 1, 2);

    // Tab leaves the list for the output format and Create; the arrow keys move between the cells.
    m_grid->setTabKeyNavigation(false);
    setTabOrder(m_grid, m_cmbOutput);
    setTabOrder(m_cmbOutput, create);
    setCentralWidget(central);
}

void MainWindow::createStatusBar()
{
    m_statusPath = new QLabel;
    m_statusPath->setObjectName(QStringLiteral("statusPath"));
    m_statusPath->setAlignment(Qt::AlignCenter);
    // A long path must not widen the window.
    m_statusPath->setMinimumWidth(1);
    m_statusPath->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_statusLanguage = new QLabel;
    m_statusLanguage->setObjectName(QStringLiteral("statusLanguage"));
    m_statusLanguage->setFixedWidth(50);
    m_statusLanguage->setAlignment(Qt::AlignCenter);
    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    statusBar()->addWidget(m_statusPath, 1);
    m_statusLevel = new QLabel;
    m_statusLevel->setObjectName(QStringLiteral("statusLevel"));
    m_statusLevel->setVisible(m_state.settings.packmax != 0);
    statusBar()->addPermanentWidget(m_statusLevel);
    statusBar()->addPermanentWidget(m_statusLanguage);
}

void MainWindow::applyLanguage()
{
    const LanguageTable& language = m_state.language;
    auto text = [&language](const char* group, const char* key) {
        return language.LanguageText(QString::fromLatin1(group), QString::fromLatin1(key));
    };
    auto setAction = [](QAction* action, const QString& label, const QString& tip) {
        action->setText(label);
        action->setToolTip(tip);
    };
    setAction(m_actNew, text("MenuItem", "New"), WithoutAmpersands(text("MenuItem", "New")));
    setAction(m_actOpen, text("MenuItem", "Open"), WithoutAmpersands(text("MenuItem", "Open")));
    setAction(m_actSave, text("MenuItem", "Save"), WithoutAmpersands(text("MenuItem", "Save")));
    setAction(m_actSaveAs, text("MenuItem", "SaveAs"), WithoutAmpersands(text("MenuItem", "SaveAs")));
    setAction(m_actQuit, text("MenuItem", "Quit"), WithoutAmpersands(text("MenuItem", "Quit")));
    setAction(m_actAddFiles, text("MenuItem", "AddFiles"), text("MenuItem", "AddFiles"));
    setAction(m_actAddDir, text("MenuItem", "AddDir"), text("MenuItem", "AddDir"));
    setAction(m_actHelp, text("MenuTitle", "Help"), WithoutAmpersands(text("MenuTitle", "Help")));
    setAction(m_actAbout, text("MenuItem", "About"), WithoutAmpersands(text("MenuItem", "About")));
    setAction(m_actUpdate, text("MenuItem", "Updatecheck"), WithoutAmpersands(text("MenuItem", "Updatecheck")));
    setAction(m_actMoveUp, text("Buttons", "btnUp"), text("Buttons", "btnUp"));
    setAction(m_actMoveDown, text("Buttons", "btnDown"), text("Buttons", "btnDown"));
    setAction(m_actCalculate, text("Buttons", "chkCalc"), text("Buttons", "chkCalc"));
    setAction(m_actDelete, text("Buttons", "btnDelete"), text("Buttons", "btnDelete"));
    setAction(m_actCreate, text("Buttons", "btnCreate"), text("Buttons", "btnCreate"));
    setAction(m_actSmallest, MessageText(&language, "SmallestPacker"), MessageText(&language, "SmallestPacker"));
    setAction(m_actPackHarder, MessageText(&language, "PackHarder"), MessageText(&language, "PackHarder"));
    m_statusLevel->setText(WithoutAmpersands(MessageText(&language, "PackHarder")));

    // The menus are retranslated where they stand: a language is chosen from inside one of them, whose
    // key or mouse event is still running when this returns.
    const QStringList titles =
        WithAltLetters({text("MenuTitle", "File"), text("MenuTitle", "Lang"), text("MenuTitle", "Help")});
    m_menuFile->setTitle(titles[0]);
    m_menuLanguage->setTitle(titles[1]);
    m_menuHelp->setTitle(titles[2]);
    const int current = currentLanguageIndex();
    for (qsizetype i = 0; i < m_languageActions.size(); ++i)
        m_languageActions[i]->setChecked(int(i) - 1 == current);
    for (QMenu* menu : {m_menuFile, m_menuLanguage, m_menuHelp})
        GiveAltLetters(menu);

    m_chkCalc->setText(text("Buttons", "chkCalc"));
    m_chkOnTop->setText(text("Buttons", "chkOnTop"));
    m_lblOutput->setText(text("Buttons", "lblOutput"));
    m_wait->setText(text("Messages", "WaitWindow"));
    FileListModel& model = m_document.model();
    model.setHeaderData(FileListModel::NumberColumn, Qt::Horizontal, text("Grid", "Number"));
    model.setHeaderData(FileListModel::PackerColumn, Qt::Horizontal, text("Grid", "Packer"));
    model.setHeaderData(FileListModel::SizeColumn, Qt::Horizontal, text("Grid", "Size"));
    model.setHeaderData(FileListModel::FileColumn, Qt::Horizontal, text("Grid", "File"));

    // Qt's own requesters and buttons (Open, Save As, Cancel, Yes/No) speak the language too: from
    // translations/ beside the program where it carries them (Windows), else from Qt's own place.
    QCoreApplication::removeTranslator(&m_qtTranslator);
    const QString qtLanguage = MessageText(&language, "QtLanguage");
    const QString qtTexts = QStringLiteral("qtbase_") + qtLanguage;
    if (qtLanguage != QLatin1String("en") &&
        (m_qtTranslator.load(qtTexts, QCoreApplication::applicationDirPath() + QStringLiteral("/translations")) ||
         m_qtTranslator.load(qtTexts, QLibraryInfo::path(QLibraryInfo::TranslationsPath))))
        QCoreApplication::installTranslator(&m_qtTranslator);
    // Numbers (the sizes' thousands separators) follow the language too.
    QLocale::setDefault(QLocale(qtLanguage));
    m_grid->viewport()->update();
    showWritten();
    // A column is at least as wide as its title in this language ("Compression :" in French).
    const QFontMetrics titleFont(m_grid->horizontalHeader()->font());
    const int columnWidths[] = {50, 80, 100};
    for (int column : {FileListModel::NumberColumn, FileListModel::PackerColumn, FileListModel::SizeColumn}) {
        const QString title = model.headerData(column, Qt::Horizontal).toString();
        m_grid->setColumnWidth(column, std::max(columnWidths[column], titleFont.horizontalAdvance(title) + 16));
    }

    // The status bar names the language: its icon, or its name where it has none.
    const QIcon icon = languageIcon(current);
    if (!icon.isNull())
        m_statusLanguage->setPixmap(icon.pixmap(16, 16));
    else
        m_statusLanguage->setText(languageName(current));
    m_statusLanguage->setToolTip(languageName(current));
    updateActions();
}

int MainWindow::currentLanguageIndex() const
{
    // A language whose file has gone shows the built-in English.
    return m_state.settings.language.isEmpty() ? -1 : int(m_state.languageNames.indexOf(m_state.settings.language));
}

QString MainWindow::languageName(int index) const
{
    // Each language is named in its own words.
    return index < 0 ? QStringLiteral("English") : m_state.languageNames.value(index);
}

QIcon MainWindow::languageIcon(int index) const
{
    if (index < 0)
        return {};
    const QString path = LanguageFilePath(m_state.programDir, languageName(index)).chopped(4) + QStringLiteral(".ico");
    return QFileInfo(path).size() > 0 ? QIcon(path) : QIcon();
}

void MainWindow::chooseLanguage(int index)
{
    if (index >= m_state.languageNames.size())
        return;
    m_state.settings.language = index < 0 ? QString() : m_state.languageNames[index];
    m_state.language.LoadLanguage(LanguageFilePath(m_state.programDir, m_state.settings.language));
    applyLanguage();
}

void MainWindow::updateActions()
{
    const FileListModel& model = m_document.model();
    const int n = model.rowCount();
    const int row = m_grid->currentRow();
    const bool idle = !m_busy;
    const bool current = row >= 0 && row < n;
    for (QAction* action :
         {m_actNew, m_actOpen, m_actQuit, m_actAddFiles, m_actAddDir, m_actHelp, m_actAbout, m_actUpdate})
        action->setEnabled(idle);
    for (QAction* action : m_languageActions)
        action->setEnabled(idle);
    m_actSave->setEnabled(idle && n > 0);
    m_actSaveAs->setEnabled(idle && n > 0);
    m_actCreate->setEnabled(idle && n > 0);
    m_actSmallest->setEnabled(idle && n > 0);
    m_actMoveUp->setEnabled(idle && current && row >= 1);
    m_actMoveDown->setEnabled(idle && current && row + 1 < n);
    m_actDelete->setEnabled(idle && current);
    m_actCalculate->setEnabled(idle && current &&
                               model.CellText(FileListModel::SizeColumn, row) == kSizePending);
}

void MainWindow::showStatus(const QString& text)
{
    m_written.reset();
    m_statusPath->setText(text);
}

void MainWindow::showWritten()
{
    if (!m_written)
        return;
    m_statusPath->setText(MessageText(&m_state.language, "CreateDone")
                              .arg(QDir::toNativeSeparators(m_written->path))
                              .arg(m_written->files)
                              .arg(QLocale().toString(m_written->bytes)));
}

void MainWindow::showCurrentPath()
{
    showStatus(m_document.model().CellText(FileListModel::PathColumn, m_grid->currentRow()));
}

void MainWindow::showFromSettings()
{
    // Wholly on a screen that is there now, whatever another copy or another display stored.
    const AppSettings& s = m_state.settings;
    const bool placed = s.frmMain_x != kUnsetPosition && s.frmMain_y != kUnsetPosition;
    const QRect fitted =
        FitStoredGeometry(QRect(placed ? s.frmMain_x : 0, placed ? s.frmMain_y : 0, s.frmMain_w, s.frmMain_h));
    resize(fitted.size());
    if (placed)
        move(fitted.topLeft());
    setWindowFlag(Qt::WindowStaysOnTopHint, s.ontop != 0);
    if (s.frmMain_s == kMaximised)
        showMaximized();
    else
        show();
}

void MainWindow::storeGeometry()
{
    if (!isVisible() || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    AppSettings& s = m_state.settings;
    s.frmMain_x = x();
    s.frmMain_y = y();
    s.frmMain_w = width();
    s.frmMain_h = height();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    storeGeometry();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    storeGeometry();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Work on a worker is stopped first; the window closes when it has ended.
    if (m_busy) {
        m_closeWhenIdle = true;
        stopWork();
        event->ignore();
        return;
    }
    if (isWindowModified()) {
        const SaveAnswer answer =
            m_platform.AskSaveChanges(QLatin1String(kAppName), MessageText(&m_state.language, "SaveChanges"));
        if (answer == SaveAnswer::Cancel || (answer == SaveAnswer::Save && !saveTo(currentProjectPath()))) {
            m_closeWhenIdle = false;
            event->ignore();
            return;
        }
    }
    event->accept();
}

void MainWindow::setChanged(bool changed)
{
    m_changed = changed;
    // An empty list has nothing to lose.
    setWindowModified(m_changed && m_document.model().rowCount() > 0);
}

QString MainWindow::currentProjectPath() const
{
    const bool named = !m_document.projectDir().isEmpty() && !m_document.projectFile().isEmpty();
    return named ? m_document.projectDir() + m_document.projectFile() : QString();
}

bool MainWindow::saveTo(const QString& path)
{
    if (SaveProject(m_document, m_platform, path) != SaveProjectResult::Saved)
        return false;
    setChanged(false);
    return true;
}

void MainWindow::newProject()
{
    m_document.saveSettings();
    m_platform.StartProgram(m_document.programPath(), {QStringLiteral("/IGNOREPOS")});
}

void MainWindow::openProject()
{
    OpenProject(m_document, m_platform, QString());
}

void MainWindow::saveProject()
{
    saveTo(currentProjectPath());
}

void MainWindow::saveProjectAs()
{
    saveTo(QString());
}

void MainWindow::quit()
{
    close();
}

void MainWindow::projectLoaded()
{
    setChanged(false);
    m_grid->setCurrentCell(FileListModel::PackerColumn, 0);
    showCurrentPath();
}

void MainWindow::showHelp()
{
    m_infoWindows->showHelp();
}

void MainWindow::showAbout()
{
    m_infoWindows->showAbout();
}

void MainWindow::checkForUpdates()
{
    m_infoWindows->checkForUpdate();
}

void MainWindow::currentRowChanged(int row)
{
    m_gridModel->setCurrentRow(row);
    showCurrentPath();
    updateActions();
}

void MainWindow::moveRowUp()
{
    const int row = m_grid->currentRow();
    if (row < 1 || !m_document.model().SwapRows(row - 1, row))
        return;
    m_grid->setCurrentCell(FileListModel::NumberColumn, row - 1);
    showCurrentPath();
}

void MainWindow::moveRowDown()
{
    const int row = m_grid->currentRow();
    if (row < 0 || !m_document.model().SwapRows(row, row + 1))
        return;
    m_grid->setCurrentCell(FileListModel::NumberColumn, row + 1);
    showCurrentPath();
}

void MainWindow::deleteRow()
{
    FileListModel& model = m_document.model();
    const int row = m_grid->currentRow();
    if (row < 0 || !model.removeRows(row, 1))
        return;
    m_grid->setCurrentCell(FileListModel::NumberColumn, row < model.rowCount() ? row : row - 1);
    showCurrentPath();
    updateActions();
}

void MainWindow::calculateCurrentRow()
{
    const int row = m_grid->currentRow();
    if (row >= 0)
        calculateSizes({row});
}

void MainWindow::chooseSmallestPackers()
{
    if (m_busy || m_document.model().rowCount() == 0)
        return;
    const FileListModel& model = m_document.model();
    QList<RowWork> rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.append({row, model.CellText(FileListModel::PathColumn, row), PackerNone});
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_jobs->ChooseSmallest(std::move(rows), PackLevel(m_state.settings), stop);
    beginBusy(stop);
}

void MainWindow::packerChosen(int row, int column)
{
    if (column != FileListModel::PackerColumn)
        return;
    FileListModel& model = m_document.model();
    model.SetCellText(FileListModel::SizeColumn, row, QString(kSizePending));
    if (model.CellText(FileListModel::PackerColumn, row) == PackerText(PackerNone))
        model.SetCellText(FileListModel::SizeColumn, row, FileSizeText(model.CellText(FileListModel::PathColumn, row)));
    else if (m_state.settings.calcsize)
        calculateSizes({row});
}

void MainWindow::titleClicked(int column)
{
    FileListModel& model = m_document.model();
    const int current = m_grid->currentRow();
    if (column != FileListModel::PackerColumn || model.rowCount() == 0 || current < 0)
        return;
    const QString packer = model.CellText(FileListModel::PackerColumn, current);
    const bool none = packer == PackerText(PackerNone);
    QList<int> changed;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.CellText(FileListModel::PackerColumn, row) == packer)
            continue;
        model.SetCellText(FileListModel::PackerColumn, row, packer);
        model.SetCellText(FileListModel::SizeColumn, row,
                          none ? FileSizeText(model.CellText(FileListModel::PathColumn, row)) : QString(kSizePending));
        changed.append(row);
    }
    if (!none && m_state.settings.calcsize)
        calculateSizes(changed);
}

void MainWindow::calcSizeToggled(bool on)
{
    m_state.settings.calcsize = on ? 1 : 0;
    if (!on)
        return;
    const FileListModel& model = m_document.model();
    QList<int> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.CellText(FileListModel::SizeColumn, row) == kSizePending)
            rows.append(row);
    }
    calculateSizes(rows);
}

void MainWindow::packHarderToggled(bool on)
{
    m_state.settings.packmax = on ? 1 : 0;
    m_statusLevel->setVisible(on);
    // The sizes shown are what Create writes: the packed rows' sizes change with the level.
    FileListModel& model = m_document.model();
    QList<int> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.CellText(FileListModel::PackerColumn, row) == PackerText(PackerNone))
            continue;
        model.SetCellText(FileListModel::SizeColumn, row, QString(kSizePending));
        rows.append(row);
    }
    if (m_state.settings.calcsize)
        calculateSizes(rows);
}

void MainWindow::onTopToggled(bool on)
{
    m_state.settings.ontop = on ? 1 : 0;
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    // Changing a window's flags hides it.
    if (shown)
        show();
}

void MainWindow::beginBusy(const std::shared_ptr<std::atomic_bool>& stop)
{
    m_stop = stop;
    m_busy = true;
    // Disabling the window takes the keyboard from its widget; it goes back there afterwards.
    m_focusBeforeBusy = QApplication::focusWidget();
    m_wait->setProgressRange(0, 0);
    setEnabled(false);
    // A window of its own stays usable while its owner is disabled.
    m_wait->setEnabled(true);
    m_wait->show();
    updateActions();
}

void MainWindow::endBusy()
{
    // Enabled before the wait window goes, so the window can take the keyboard (and show tooltips) again.
    setEnabled(true);
    m_wait->hide();
    // Back to the widget that had the keyboard; an editor closed meanwhile leaves it to the list.
    QWidget* back = m_focusBeforeBusy;
    if (!back || back->window() != this || !back->isVisible())
        back = m_grid;
    back->setFocus();
    m_focusBeforeBusy.clear();
    m_busy = false;
    m_stop.reset();
    updateActions();
}

void MainWindow::stopWork()
{
    if (m_stop)
        *m_stop = true;
    m_adder->StopWalk();
}

void MainWindow::closeIfAsked()
{
    if (m_closeWhenIdle)
        close();
}

void MainWindow::calculateSizes(const QList<int>& rows)
{
    if (rows.isEmpty() || m_busy)
        return;
    const FileListModel& model = m_document.model();
    QList<RowWork> work;
    for (int row : rows)
        work.append({row, model.CellText(FileListModel::PathColumn, row),
                     PackerKindFromText(model.CellText(FileListModel::PackerColumn, row))});
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_jobs->CalculateSizes(std::move(work), PackLevel(m_state.settings), stop);
    beginBusy(stop);
}

void MainWindow::createOutput()
{
    if (m_busy)
        return;
    CreateOptions options;
    options.language = &m_state.language;
    const std::optional<CreatePlan> plan = PlanCreate(m_document, m_platform, QString(), options);
    if (!plan)
        return;
    m_createPlan = *plan;
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_jobs->Create(*plan, m_state.language, PackLevel(m_state.settings), stop);
    beginBusy(stop);
}

void MainWindow::createFinished()
{
    endBusy();
    if (const std::optional<CreateResult> told = m_jobs->createResult()) {
        const CreateResult& result = *told;
        RememberOutputFolder(m_document, m_createPlan, result);
        // The status bar tells what was written: the output, its rows and its bytes (with the pack file).
        if (result.status == CreateStatus::Written || result.status == CreateStatus::MissingFiles) {
            qint64 bytes = QFileInfo(result.path).size();
            if (m_createPlan.format == OutputBinpack)
                bytes += QFileInfo(PackFilePath(result.path)).size();
            m_written = WrittenOutput{result.path, int(m_createPlan.paths.size() - result.missing.size()), bytes};
            showWritten();
        } else {
            // A line about an earlier output would pass for this one's.
            showCurrentPath();
        }
        CreateOptions options;
        options.language = &m_state.language;
        ReportCreate(result, m_platform, options);
    }
    closeIfAsked();
}

void MainWindow::addFiles()
{
    const QStringList files =
        m_platform.OpenFilesRequester(QString(), m_state.settings.lastdir, QStringLiteral("*.*|*.*"), 0);
    for (const QString& file : files)
        m_adder->AddWithSizeCheck(file, QFileInfo(file).size());
    finishAdd();
}

void MainWindow::addDirectory()
{
    if (m_busy)
        return;
    const QString folder = m_platform.PathRequester(
        m_state.language.LanguageText(QStringLiteral("MenuItem"), QStringLiteral("AddDir")), m_state.settings.lastdir);
    if (folder.isEmpty()) {
        finishAdd();
        return;
    }
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_adder->BeginWalk(stop);
    m_walkEnded = false;
    m_jobs->WalkFolder(folder, stop);
    beginBusy(stop);
}

void MainWindow::walkFinished()
{
    m_walkEnded = true;
    // Entries still being added (a question is open) finish first.
    if (!m_adder->busy())
        walkDrained();
}

void MainWindow::walkDrained()
{
    if (!m_walkEnded)
        return;
    m_walkEnded = false;
    endBusy();
    finishAdd();
    closeIfAsked();
}

void MainWindow::dropFiles(const QStringList& paths)
{
    if (m_busy)
        return;
    m_adder->DropFiles(paths);
    finishAdd();
}

void MainWindow::finishAdd()
{
    m_adder->TellNotAdded();
    const int n = m_document.model().rowCount();
    if (n > 0) {
        m_grid->setCurrentCell(FileListModel::PackerColumn, n - 1);
        showStatus(m_document.model().CellText(FileListModel::PathColumn, n - 1));
    }
    raise();
    activateWindow();
    // The keyboard goes on in the list, where the new rows are.
    m_grid->setFocus();
    updateActions();
}

} // namespace hexaloom
