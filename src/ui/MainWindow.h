#pragma once
// The main window: menu bar, toolbar with the two option boxes, the file grid with its row buttons,
// the output-format chooser with Create, and the status bar. Every command is one action; long work
// (Create, size calculations, folder walks) runs on BackgroundJobs inside the busy bracket.
#include "CreateOutput.h"

#include <QMainWindow>
#include <QPointer>
#include <QTranslator>

#include <atomic>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QToolBar;

namespace hexaloom {

struct Artwork;
struct StartupState;
class BackgroundJobs;
class Document;
class EditableGrid;
class FileAdder;
class FileGridModel;
class InfoWindows;
class Platform;
class WaitWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window works on `document` and asks through `platform`; `state` holds the settings, the
    // language and the language names.
    MainWindow(StartupState& state, Document& document, Platform& platform, const Artwork& art,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Applies the stored size, position, state and always-on-top, which shows the window.
    void showFromSettings();
    // True while long work runs behind the wait window.
    bool isBusy() const { return m_busy; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Both only note the normal-state geometry for the settings.
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void newProject();
    void openProject();
    void saveProject();
    void saveProjectAs();
    void quit();
    void addFiles();
    void addDirectory();
    void createOutput();
    void moveRowUp();
    void moveRowDown();
    void calculateCurrentRow();
    void chooseSmallestPackers();
    void deleteRow();
    void showHelp();
    void showAbout();
    void checkForUpdates();
    void calcSizeToggled(bool on);
    void packHarderToggled(bool on);
    void onTopToggled(bool on);
    void packerChosen(int row, int column);
    void titleClicked(int column);
    void currentRowChanged(int row);
    void dropFiles(const QStringList& paths);
    void projectLoaded();

private:
    void createActions();
    // The menus are built once; applyLanguage gives them their texts.
    void createMenus();
    void createToolBar();
    void createCentralWidget();
    void createStatusBar();
    // Sets every language-dependent text, the menus' included, and shows the language's icon.
    void applyLanguage();
    // -1 is the built-in English, 0.. the language files.
    void chooseLanguage(int index);
    int currentLanguageIndex() const;
    QString languageName(int index) const;
    QIcon languageIcon(int index) const;
    // Sets every command's enabled state from the list, its current row and the busy bracket.
    void updateActions();
    void showCurrentPath();
    // The status bar's text; a path or a note replaces the line about the last output written.
    void showStatus(const QString& text);
    // That line, in the language of the moment.
    void showWritten();
    // The named project's path, or empty when the list has no name yet.
    QString currentProjectPath() const;
    // Saves the list as a project (empty: asks for the name); true when it was saved.
    bool saveTo(const QString& path);
    void storeGeometry();
    // Notes whether the list has changes that are not saved; the title marks them.
    void setChanged(bool changed);
    // Makes the last row's packer cell current after files were added and brings the window forward.
    void finishAdd();

    // The busy bracket around work on a worker; `stop` tells the worker to end early.
    void beginBusy(const std::shared_ptr<std::atomic_bool>& stop);
    void endBusy();
    // Tells the running work to stop at its next step; what it has done so far stays.
    void stopWork();
    // A close asked for while work ran happens once the work has told its result.
    void closeIfAsked();
    void calculateSizes(const QList<int>& rows);
    void createFinished();
    void walkFinished();
    void walkDrained();

    StartupState& m_state;
    Document& m_document;
    Platform& m_platform;
    const Artwork& m_art;

    QAction* m_actNew = nullptr;
    QAction* m_actOpen = nullptr;
    QAction* m_actSave = nullptr;
    QAction* m_actSaveAs = nullptr;
    QAction* m_actQuit = nullptr;
    QAction* m_actAddFiles = nullptr;
    QAction* m_actAddDir = nullptr;
    QAction* m_actHelp = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actUpdate = nullptr;
    QAction* m_actMoveUp = nullptr;
    QAction* m_actMoveDown = nullptr;
    QAction* m_actCalculate = nullptr;
    QAction* m_actDelete = nullptr;
    QAction* m_actCreate = nullptr;
    QAction* m_actSmallest = nullptr;
    QAction* m_actPackHarder = nullptr;
    QMenu* m_menuFile = nullptr;
    QMenu* m_menuLanguage = nullptr;
    QMenu* m_menuHelp = nullptr;
    QList<QAction*> m_languageActions; // the built-in English first, then the language files
    QTranslator m_qtTranslator;        // Qt's own texts in the chosen language

    QToolBar* m_toolBar = nullptr;
    QCheckBox* m_chkCalc = nullptr;
    QCheckBox* m_chkOnTop = nullptr;
    EditableGrid* m_grid = nullptr;
    FileGridModel* m_gridModel = nullptr;
    QLabel* m_lblOutput = nullptr;
    QComboBox* m_cmbOutput = nullptr;
    QLabel* m_statusPath = nullptr;
    QLabel* m_statusLanguage = nullptr;
    QLabel* m_statusLevel = nullptr; // the check's text while packing harder
    WaitWindow* m_wait = nullptr;
    FileAdder* m_adder = nullptr;
    InfoWindows* m_infoWindows = nullptr; // Help, About and the update check

    bool m_busy = false;
    bool m_changed = false; // the list changed since it was opened or saved
    bool m_closeWhenIdle = false;
    bool m_walkEnded = false;
    std::shared_ptr<std::atomic_bool> m_stop;
    QPointer<QWidget> m_focusBeforeBusy;
    struct WrittenOutput
    {
        QString path;
        int files = 0;
        qint64 bytes = 0;
    };
    std::optional<WrittenOutput> m_written; // shown in the status bar until a path replaces it
    BackgroundJobs* m_jobs = nullptr; // owned
    CreatePlan m_createPlan;          // what the running Create writes
};

} // namespace hexaloom
