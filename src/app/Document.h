#pragma once
// The document: the list of files (one model, the grid is a view over it), the output format and the
// current project. Holds no widget, so the command-line road builds it without a display.
#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace hexaloom {

struct AppSettings;

// One row of the list. The row's number is its position (from 1); it is not stored.
struct DataEntry
{
    QString path;   // full path of the source file, exactly as added
    QString packer; // "none", "jCalg1", "zip" (any other text reads as kind 0)
    QString size;   // decimal byte count, "---" while a packed size is still to be computed
};

// Output formats, in the order of the format chooser.
enum OutputFormat : int { OutputResource = 0, OutputHexdata = 1, OutputBinpack = 2 };

// The text after the last "\" or "/".
QString FileNamePart(const QString& path);
// Everything up to and including the last "\" or "/" (empty when there is none).
QString FolderPart(const QString& path);
// "none" 0, "jCalg1" 1, "zip" 2; any other text 0.
int PackerKindFromText(const QString& text);
// 0..2 give "none", "jCalg1", "zip"; any other kind an empty text.
QString PackerText(int kind);
// The window title naming a project: "Hexaloom - " and the file name less its last five characters.
QString ProjectTitle(const QString& projectFile);

class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Visible columns; the full path is the hidden column -1 (also available as PathRole).
    enum Column : int { NumberColumn = 0, PackerColumn = 1, SizeColumn = 2, FileColumn = 3, ColumnCount = 4 };
    static constexpr int PathColumn = -1;
    enum Role : int { PathRole = Qt::UserRole + 1 };

    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    // Removes rows by moving the contents below them up and dropping the last rows (see Document.cpp).
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    // Appends a row. An empty size text becomes the file's current size in bytes; packer 0..2 becomes
    // "none"/"jCalg1"/"zip", any other value an empty packer text. Returns the new row's index and
    // emits rowAdded(path) for the status bar.
    int AddFileRow(const QString& path, int packer, const QString& sizeText);
    // Cell text by (column, row): -1 path, 0 number, 1 packer, 2 size, 3 file name. Empty when out of range.
    QString CellText(int column, int row) const;
    // Sets the path (-1), packer (1) or size (2) text of a row; the number and file name follow from them.
    bool SetCellText(int column, int row, const QString& text);
    // Exchanges two rows' contents; the numbers stay with the positions.
    bool SwapRows(int a, int b);
    void Clear();

    const QList<DataEntry>& entries() const { return m_entries; }
    const DataEntry& entry(int row) const { return m_entries.at(row); }

signals:
    void rowAdded(const QString& path);

private:
    QList<DataEntry> m_entries;
    QString m_headers[ColumnCount];
};

class Document : public QObject
{
    Q_OBJECT
public:
    // The project's folder and file name persist with the settings, so they are kept there.
    explicit Document(AppSettings& settings, QObject* parent = nullptr);

    FileListModel& model() { return m_model; }
    const FileListModel& model() const { return m_model; }

    int outputFormat() const { return m_outputFormat; }
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
    FileListModel m_model;
    int m_outputFormat = OutputResource;
    QString m_windowTitle = QStringLiteral("Hexaloom");
};

} // namespace hexaloom
