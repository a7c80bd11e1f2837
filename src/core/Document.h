#pragma once
// The document: the list of files (one model, the grid is a view over it), the output format and the
// current project. Holds no widget, so the command-line road builds it without a display.
#include "FileListModel.h"
#include "Version.h"

#include <QObject>
#include <QString>

namespace hexaloom {

struct AppSettings;
class LanguageTable;

// The window title naming a project: "Hexaloom - " and the file name less its last five characters.
QString ProjectTitle(const QString& projectFile);

class Document : public QObject
{
    Q_OBJECT
public:
    // The project's folder and file name persist with the settings, so they are kept there.
    explicit Document(AppSettings& settings, QObject* parent = nullptr);

    FileListModel& model() { return m_model; }
    const FileListModel& model() const { return m_model; }

    int outputFormat() const { return m_outputFormat; }
    // Values outside 0..2 set the resource format (ValidOutputFormat).
    void setOutputFormat(int format);

    AppSettings& settings() { return m_settings; }
    const AppSettings& settings() const { return m_settings; }

    QString projectDir() const;
    QString projectFile() const;
    // Sets the project folder and file name from a full path.
    void setProjectPath(const QString& path);
    // "Hexaloom" while no project is named, else "Hexaloom - " and the project's name less its extension
    // (ProjectTitle); set by the project reader and writer.
    QString windowTitle() const;
    void setWindowTitle(const QString& title);

    // Where the settings are kept and which program a second copy runs; set once at start-up.
    QString settingsFilePath() const { return m_settingsFilePath; }
    void setSettingsFilePath(const QString& path) { m_settingsFilePath = path; }
    QString programPath() const { return m_programPath; }
    void setProgramPath(const QString& path) { m_programPath = path; }
    // The texts of the messages about the document (projects, Create); the built-in English without one.
    const LanguageTable* language() const { return m_language; }
    void setLanguage(const LanguageTable* language) { m_language = language; }
    // Writes the settings (with the current output format as `lastoutput`) to settingsFilePath().
    // Emits aboutToSaveSettings first so the window can store its state in the record.
    bool saveSettings();

signals:
    void outputFormatChanged(int format);
    void windowTitleChanged(const QString& title);
    void aboutToSaveSettings();
    // A project was read into the list: the view makes the first row's packer cell current.
    void projectLoaded(const QString& path);

private:
    AppSettings& m_settings;
    QString m_settingsFilePath;
    QString m_programPath;
    const LanguageTable* m_language = nullptr;
    FileListModel m_model;
    int m_outputFormat = OutputResource;
    QString m_windowTitle = QLatin1String(kAppName);
};

} // namespace hexaloom
